// mzhost as a user runs it: a separate process loading libmz.so, on a fresh
// temporary device per test, checked through its output and through what the
// emulated phone then holds.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mzhost_fixture.h"

namespace {

// A card of about `bytes` bytes, LF line ends (the host rewrites them).
std::string Card(const std::string& family, std::size_t bytes = 0) {
  std::string note = bytes > 0 ? "NOTE:" + std::string(bytes, 'x') + "\n" : "";
  return "BEGIN:VCARD\nVERSION:2.1\nN:" + family + ";Ann\nTEL;CELL:+1 555 0100\n" + note +
         "END:VCARD\n";
}

TEST_F(MzhostTest, ImportThenExportOfTheShippedExamplesGivesTheExpectedFile) {
  ProgramRun run = Mzhost({"contacts", "import", EXAMPLES_DIR "/contacts.vcf"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "imported 8 of 8 cards\n");
  EXPECT_EQ(emulator::ContactOids().size(), 8u);

  run = Mzhost({"contacts", "export", "-o", File("out.vcf")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Slurp(File("out.vcf")), Slurp(TEST_DATA_DIR "/contacts-exported.vcf"));
  // Without -o the same text goes to stdout.
  EXPECT_EQ(Mzhost({"contacts", "export"}).out, Slurp(File("out.vcf")));
}

TEST_F(MzhostTest, ARefusedOversizedCardIsReportedAndTheOthersAreStored) {
  Write(File("three.vcf"), Card("First") + "\n" + Card("Huge", 1100) + Card("Third"));
  ProgramRun run = Mzhost({"contacts", "import", File("three.vcf")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "imported 2 of 3 cards, 1 refused\n");
  // The big card starts on line 7; its size counts CR LF line ends.
  EXPECT_EQ(run.err,
            "mzhost: " + File("three.vcf") +
                ":7: card 2 is 1178 bytes, over the 1023 the library takes; not imported\n");
  EXPECT_EQ(StoredFamilies(), (std::vector<std::string>{"First", "Third"}));

  run = Mzhost({"--json", "contacts", "import", File("three.vcf")});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_NE(run.out.find("\"refused\":[\n{\"file\":\"" + File("three.vcf") +
                         "\",\"card\":2,\"line\":7,\"reason\":\"is 1178 bytes"),
            std::string::npos)
      << run.out;
}

TEST_F(MzhostTest, WatchPrintsAMessageThatPhonectlDeliversFromAnotherProcess) {
  RunningProgram watch({MZHOST, "--device", dir(), "--json", "messages", "watch", "--count", "1"});
  ASSERT_TRUE(watch.WaitForErr("watching")) << watch.Err();
  ProgramRun sent = RunProgram({PHONECTL, "--device", dir(), "receive", "+15550142",
                                "Gr\xc3\xbc\xc3\x9f"
                                "e"});
  ASSERT_EQ(sent.status, 0) << sent.err;
  const std::string id = sent.out.substr(10, 48);  // "delivered <hex> to Inbox"
  ProgramRun run = watch.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("{\"folder\":0,\"entryId\":\"" + id + "\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"address\":\"+15550142\",\"text\":\"Gr\xc3\xbc\xc3\x9f"
                         "e\"}"),
            std::string::npos)
      << run.out;
}

TEST_F(MzhostTest, CtrlCHangUpOrTerminationEndAWatchCleanly) {
  for (int signal : {SIGINT, SIGHUP, SIGTERM}) {
    RunningProgram watch(Argv({"messages", "watch"}));
    ASSERT_TRUE(watch.WaitForErr("watching")) << watch.Err();
    watch.Signal(signal);
    ProgramRun run = watch.Wait();
    EXPECT_EQ(run.status, 130) << signal;
    EXPECT_EQ(run.err, "watching for new messages; Ctrl-C stops\nmzhost: interrupted\n");
  }
}

// Each failing command prints one line on stderr and exits non-zero; an
// export's refusal is in words, with its code under --json.
TEST_F(MzhostTest, FailuresAreOneClearLineAndANonZeroExit) {
  Write(File("one.vcf"), Card("Solo"));
  std::filesystem::create_directories(File("notadevice"));
  Write(File("notadevice/notes.txt"), "mine");
  // A sound whose copy into \Windows cannot be made: a folder has its name.
  const std::string ringtones = "\\My Documents\\My Ringtones";
  std::filesystem::copy_file(emulator::HostPath(ringtones + "\\Chime.wav"),
                             emulator::HostPath(ringtones) + "/Blocked.wav");
  std::filesystem::create_directories(emulator::HostPath("\\Windows") + "/Blocked.wav");
  std::filesystem::create_directories(File("emptydb"));
  Write(File("emptydb/device.db"), "");
  Write(File("afile"), "mine");
  std::filesystem::create_directories(File("locked"));
  std::filesystem::permissions(
      File("locked"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
    std::vector<std::string> env = {};
  } cases[] = {
      {{"messages", "list", "nowhere"}, 2, "unknown folder 'nowhere'"},
      {{"messages", "count", "5"}, 2, "unknown folder '5'"},
      {{"contacts", "import", File("missing.vcf")}, 1, "cannot read " + File("missing.vcf")},
      {{"contacts", "import", File("one.vcf"), File("missing.vcf")}, 1, "cannot read"},
      {{"contacts", "delete", "abc"}, 2, "'abc' is not a contact id"},
      {{"contacts", "delete", "4294967296"}, 2, "is not a contact id"},
      {{"contacts", "delete", "12"}, 1, "mzhost: no contact with id 12\n"},
      {{"contacts", "update", "12", File("one.vcf")}, 1, "no contact with id 12"},
      {{"contacts", "update", "12", File("missing.vcf")}, 1, "cannot read"},
      {{"contacts", "show", "3"}, 1, "no contact at position 3 (the phone holds 0)"},
      {{"messages", "delete", "inbox", "00ff"}, 1, "no message in 'inbox' has entry id 00ff"},
      {{"messages", "delete", "inbox", "xyz"}, 2, "'xyz' is not an entry id"},
      {{"sms", "send", "+15550100", std::string(210, 'a')}, 1, "at most 209"},
      {{"sms", "send", "+15550100", "\xe2\x98\x83"}, 1, "cannot carry"},
      {{"ringtone", "ringtone", "\\Windows\\none.wav"}, 1, "file not found (0x80070002)"},
      {{"sounds", "thunder"}, 2, "unknown sound event 'thunder'"},
      {{"sms-sound", std::string(128, 'd'), "a.wav"}, 1, "at most 127"},
      {{"sms-sound", ringtones, "None.wav"},
       1,
       "mzhost: no sound file " + ringtones +
           "\\None.wav on the phone; the SMS sound is unchanged\n"},
      {{"sms-sound", ringtones, "Blocked.wav"}, 1, "the phone did not copy " + ringtones},
      {{"messages", "watch", "--count", "0"}, 2, "--count takes a number of messages from 1 up"},
      {{"--wait", "soon", "contacts", "count"}, 2, "'soon' is not a valid number of seconds"},
      {{"dance"}, 2, "unknown command 'dance'"},
      {{}, 2, "no command given"},
      {{"contacts", "count"},
       1,
       "cannot load the library /nowhere/libmz.so",
       {"MZ_LIBRARY=/nowhere/libmz.so"}},
      // The device folder's reason, as the platform gives it.
      {{"--device", File("notadevice"), "contacts", "count"},
       1,
       "would not open: not a device folder (it holds files but no device.db)"},
      {{"--device", File("emptydb"), "contacts", "list"}, 1, "device.db is empty (0 bytes)"},
      {{"--device", File("afile"), "contacts", "export"}, 1, "it is a file, not a folder"},
      {{"--device", File("locked/phone"), "contacts", "count"}, 1, "Permission denied"},
      {{"--json", "contacts", "delete", "12"},
       1,
       "{\"error\":\"no contact with id 12\",\"export\":\"MZ_DeleteContact\",\"code\":-2}\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    // Root may write into a folder whatever its mode.
    if (c.says == "Permission denied" && geteuid() == 0) continue;
    const ProgramRun run = Mzhost(c.args, c.env);
    EXPECT_EQ(run.status, c.status) << run.err;
    ExpectOneErrorLine(run, c.says);
  }
  EXPECT_TRUE(emulator::ContactOids().empty());                           // nothing half-imported
  EXPECT_FALSE(std::filesystem::exists(File("notadevice/device.lock")));  // nothing added
}

// Commands that succeed print what they did, and the phone shows it.
TEST_F(MzhostTest, CommandsDoTheirJobOnThePhone) {
  const std::string firstId = emulator::ListMessages("SMS", "Inbox").at(0).entryId;
  std::string firstHex;
  for (unsigned char b : firstId) {
    static const char kHex[] = "0123456789abcdef";
    firstHex += kHex[b >> 4];
    firstHex += kHex[b & 15];
  }
  Write(File("one.vcf"), Card("Solo"));
  Write(File("new.vcf"), Card("Changed"));
  auto registry = [](const char* key, const char* name) {
    return emulator::ReadRegistryString("HKCU", key, name).value_or("(none)");
  };
  struct Case {
    std::vector<std::string> args;
    std::string prints;
    std::function<void()> check = [] {};
  } cases[] = {
      {{"messages", "count", "inbox"}, "2\n"},
      {{"--json", "messages", "count", "2"}, "{\"folder\":2,\"count\":1}\n"},
      {{"messages", "list", "sent"}, "sent: 1 message\n"},
      {{"--json", "messages", "list", "drafts"}, "\"text\":\"See you tomorrow\"}\n]\n"},
      {{"messages", "delete", "INBOX", firstHex},
       "deleted message " + firstHex + " from 'inbox'\n",
       [] { EXPECT_EQ(emulator::ListMessages("SMS", "Inbox").size(), 1u); }},
      {{"messages", "clear", "3"},
       "deleted all 1 messages in 'drafts'\n",
       [] { EXPECT_TRUE(emulator::ListMessages("SMS", "Drafts").empty()); }},
      {{"sms", "send", "+15550100", "Caf\xc3\xa9?"},
       "sent to +15550100\n",
       [] {
         ASSERT_EQ(emulator::SentMessages().size(), 1u);
         EXPECT_EQ(emulator::SentMessages()[0].text, "Caf\xc3\xa9?");
       }},
      {{"contacts", "import", File("one.vcf")}, "imported 1 of 1 card\n"},
      {{"contacts", "update", "1", File("new.vcf")},
       "updated contact 1\n",
       [] { EXPECT_EQ(emulator::ReadContact(1)->text["LastName"], "Changed"); }},
      {{"--json", "contacts", "list"}, "\"name\":\"Ann Changed\",\"tel\":\"+1 555 0100\""},
      {{"contacts", "delete", "1"},
       "deleted contact 1\n",
       [] { EXPECT_TRUE(emulator::ContactOids().empty()); }},
      {{"sounds", "sms", "system,ringtones"}, "\\Windows\n\\My Documents\\My Ringtones\n"},
      {{"ringtone", "1", "\\Windows\\Ring1.wav"},
       "ringtone2 now plays \\Windows\\Ring1.wav\n",
       [&] {
         EXPECT_EQ(registry("ControlPanel\\Sounds\\RingTone1", "Sound"), "\\Windows\\Ring1.wav");
       }},
      {{"sms-sound", "\\My Documents\\My Ringtones", "Chime.wav"},
       "the SMS sound is now \\Windows\\Chime.wav",
       [&] {
         EXPECT_EQ(registry("ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}",
                            "Wave"),
                   "\\Windows\\Chime.wav");
         EXPECT_FALSE(emulator::HostPath("\\Windows\\Chime.wav").empty());
       }},
      {{"theme", "\\Windows\\Ocean.tsk"},
       "started the theme tool with '\\Windows\\Ocean.tsk'\n",
       [] {
         ASSERT_EQ(emulator::Launches().size(), 1u);
         EXPECT_EQ(emulator::Launches()[0].commandLine, "\\Windows\\Ocean.tsk");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ProgramRun run = Mzhost(c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_NE(run.out.find(c.prints), std::string::npos) << run.out;
    c.check();
  }
}

// `export -o` writes what the name leads to: a file is replaced whole and
// keeps its mode, a link stays a link, a FIFO or device is written in place,
// a folder is refused.
TEST_F(MzhostTest, ExportWritesTheTargetAsUsersExpect) {
  namespace fs = std::filesystem;
  Write(File("in.vcf"), NumberedCards("F", 3));
  ASSERT_EQ(Mzhost({"contacts", "import", File("in.vcf")}).status, 0);
  const std::string text = Mzhost({"contacts", "export"}).out;
  ASSERT_NE(text.find("N:F2;"), std::string::npos) << text;
  Write(File("private.vcf"), "old");
  fs::permissions(File("private.vcf"), fs::perms(0600));
  fs::create_directories(File("sub"));
  fs::create_symlink("sub/real.vcf", File("link.vcf"));
  ASSERT_EQ(mkfifo(File("pipe").c_str(), 0600), 0);
  struct Case {
    std::string target;
    int status;
    std::function<void()> check;
  } cases[] = {
      {File("private.vcf"), 0,
       [&] {
         EXPECT_EQ(Slurp(File("private.vcf")), text);
         EXPECT_EQ(fs::status(File("private.vcf")).permissions(), fs::perms(0600));
       }},
      {File("link.vcf"), 0,
       [&] {
         EXPECT_TRUE(fs::is_symlink(File("link.vcf")));
         EXPECT_EQ(Slurp(File("sub/real.vcf")), text);
       }},
      {"/dev/null", 0, [] { EXPECT_TRUE(fs::is_character_file("/dev/null")); }},
      {File("sub"), 1, [] {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const ProgramRun run = Mzhost({"contacts", "export", "-o", c.target});
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.status != 0) ExpectOneErrorLine(run, "cannot write " + c.target + ": it is a folder");
    c.check();
  }
  std::string piped;
  std::thread reader([&] { piped = Slurp(File("pipe")); });
  EXPECT_EQ(Mzhost({"contacts", "export", "-o", File("pipe")}).status, 0);
  reader.join();
  EXPECT_EQ(piped, text);
  EXPECT_TRUE(fs::is_fifo(File("pipe")));
  EXPECT_EQ(fs::directory_iterator(File("sub"))->path().filename(), "real.vcf");  // no temp left
}

// Under a file-size limit the device's database stops growing: the import
// stops at the first card it cannot store, and an export that cannot be
// written leaves the old file.
TEST_F(MzhostTest, AFileSizeLimitStopsAnImportAndSparesTheExportTarget) {
  constexpr int kCards = 3000;
  Write(File("many.vcf"), NumberedCards("F", kCards));
  auto limited = [&](std::uintmax_t bytes, const std::vector<std::string>& args) {
    std::string command = "ulimit -f " + std::to_string(bytes / 512) + "; exec";
    for (const auto& word : Argv(args)) command += " '" + word + "'";
    return RunProgram({"/bin/sh", "-c", command});
  };
  // The database and its log may grow by about a hundred cards' worth.
  std::uintmax_t limit = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir())) {
    if (entry.is_regular_file()) limit = std::max(limit, entry.file_size() + 64 * 1024);
  }
  ProgramRun run = limited(limit, {"contacts", "import", File("many.vcf")});
  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> families = StoredFamilies();
  ASSERT_FALSE(families.empty()) << run.err;
  ASSERT_LT(families.size(), static_cast<std::size_t>(kCards));
  EXPECT_EQ(run.out,
            "imported " + std::to_string(families.size()) + " of 3000 cards before the failure\n");
  ExpectOneErrorLine({0, "", run.err},
                     File("many.vcf") + ":" + std::to_string(5 * families.size() + 1) + ": card " +
                         std::to_string(families.size() + 1) +
                         " was not stored: File too large; the import stopped there\n");
  for (std::size_t i = 0; i < families.size(); ++i) {
    EXPECT_EQ(emulator::ReadContact(emulator::ContactOids()[i])->text,
              NumberedContact("F" + std::to_string(i), "F"));
  }

  // An export longer than the limit, which leaves room for what opening the
  // device writes into an emptied log.
  ASSERT_EQ(Mzhost({"contacts", "import", File("many.vcf")}).status, 0);
  ASSERT_EQ(Sql(File("device.db"), "PRAGMA wal_checkpoint(TRUNCATE)"), "0");
  Write(File("b.vcf"), "old contacts\n");
  run = limited(128 * 1024, {"contacts", "export", "-o", File("b.vcf")});
  EXPECT_EQ(run.status, 1);
  ExpectOneErrorLine(run, "cannot write " + File("b.vcf") + ": File too large\n");
  EXPECT_EQ(Slurp(File("b.vcf")), "old contacts\n");
}

TEST_F(MzhostTest, DemoRunsEveryStepAndRemovesItsPhone) {
  const std::string tmp = File("tmp");
  std::filesystem::create_directories(tmp);
  const ProgramRun run = RunProgram({MZHOST, "demo"}, {"TMPDIR=" + tmp});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  for (const char* shows :
       {"imported 8 of 8 cards", "updated contact 2", "deleted contact 8",
        "text        Caf\xc3\xa9 at 6?", "sent to +15550199", "\\Windows\\Chime.wav",
        "started  \\Windows\\cusTSK.exe", "== 14. What changed on the phone", "The tour is over"}) {
    EXPECT_NE(run.out.find(shows), std::string::npos) << shows;
  }
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

}  // namespace
