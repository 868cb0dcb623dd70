// mzhost as a user runs it: a separate process loading libmz.so, on a fresh
// temporary device per test, checked through its output and through what the
// emulated phone then holds.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mzhost_fixture.h"
#include "table.h"

namespace {

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

// The rows of a command table (data/mzhost.tsv, data/phonectl.tsv; the
// format is in mzhost.tsv's header) run in order on the test's device: each
// command's exit status and what it prints, and what the phone then shows.
class CommandTableTest : public MzhostTest, public testing::WithParamInterface<const char*> {};

TEST_P(CommandTableTest, EachCommandExitsAndPrintsAsItsRowSays) {
  namespace fs = std::filesystem;
  // A folder that is no device, one the device's lock cannot be made in, and
  // a sound whose copy into \Windows cannot be made: a folder has its name.
  fs::create_directories(File("notadevice"));
  Write(File("notadevice/notes.txt"), "mine");
  fs::create_directories(File("locked"));
  fs::permissions(File("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  const std::string ringtones = emulator::HostPath("\\My Documents\\My Ringtones");
  fs::copy_file(ringtones + "/Chime.wav", ringtones + "/Blocked.wav");
  fs::create_directories(emulator::HostPath("\\Windows") + "/Blocked.wav");
  for (TableRow row : ReadTable(std::string(TEST_DATA_DIR "/") + GetParam())) {
    for (std::string& field : row) {
      for (const auto& [name, value] :
           {std::pair{"{dir}", dir()}, {"{data}", TEST_DATA_DIR}, {"{examples}", EXAMPLES_DIR}}) {
        for (auto at = field.find(name); at != std::string::npos; at = field.find(name, at)) {
          field.replace(at, std::strlen(name), value);
        }
      }
    }
    SCOPED_TRACE(testing::PrintToString(row));
    if (geteuid() == 0 && row.at(2) == "Permission denied") continue;  // root may write anywhere
    std::vector<std::string> env;
    std::istringstream words(row.at(3));
    for (std::string word; words >> word;) env.push_back(word);
    std::vector<std::string> argv = {env.back() == "mzhost" ? MZHOST : PHONECTL, "--device", dir()};
    env.pop_back();
    argv.insert(argv.end(), row.begin() + 4, row.end());
    const ProgramRun run = RunProgram(argv, env);
    EXPECT_EQ(run.status, std::stoi(row.at(0))) << run.err;
    const std::string& out = row.at(1);
    if (out.starts_with("@")) {
      EXPECT_EQ(run.out, FileContents(TEST_DATA_DIR "/" + out.substr(1)));
    } else if (out.empty()) {
      EXPECT_EQ(run.out, "");
    } else {
      EXPECT_NE(run.out.find(out), std::string::npos) << run.out;
    }
    if (row.at(2).empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      ExpectOneLine(run.err, row.at(2));
    }
  }
  EXPECT_FALSE(fs::exists(File("notadevice/device.lock")));  // nothing added to a non-device
  EXPECT_TRUE(fs::is_character_file("/dev/null"));           // written, not replaced
}

INSTANTIATE_TEST_SUITE_P(Tables, CommandTableTest,
                         testing::Values("mzhost.tsv", "mzhost-files.tsv", "phonectl.tsv"));

// `export -o` writes what the name leads to: a file is replaced whole and
// keeps its mode, a link stays a link, a FIFO is written in place, and no
// temporary file is left (a device and a folder are in data/mzhost.tsv).
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
  std::string piped;
  std::thread reader([&] { piped = FileContents(File("pipe")); });
  for (const char* target : {"private.vcf", "link.vcf", "pipe"}) {
    EXPECT_EQ(Mzhost({"contacts", "export", "-o", File(target)}).status, 0) << target;
  }
  reader.join();
  EXPECT_EQ(FileContents(File("private.vcf")), text);
  EXPECT_EQ(fs::status(File("private.vcf")).permissions(), fs::perms(0600));
  EXPECT_EQ(FileContents(File("sub/real.vcf")), text);
  EXPECT_TRUE(fs::is_symlink(File("link.vcf")));
  EXPECT_EQ(piped, text);
  EXPECT_TRUE(fs::is_fifo(File("pipe")));
  EXPECT_EQ(fs::directory_iterator(File("sub"))->path().filename(), "real.vcf");
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
  const std::size_t stored = emulator::ContactOids().size();
  ASSERT_GT(stored, 0u) << run.err;
  ASSERT_LT(stored, static_cast<std::size_t>(kCards));
  EXPECT_EQ(run.out, "imported " + std::to_string(stored) + " of 3000 cards before the failure\n");
  ExpectOneLine(run.err, File("many.vcf") + ":" + std::to_string(5 * stored + 1) + ": card " +
                             std::to_string(stored + 1) +
                             " was not stored: File too large; the import "
                             "stopped there\n");

  // An export longer than the limit, which leaves room for what opening the
  // device writes into an emptied log.
  ASSERT_EQ(Mzhost({"contacts", "import", File("many.vcf")}).status, 0);
  ASSERT_EQ(Sql(File("device.db"), "PRAGMA wal_checkpoint(TRUNCATE)"), "0");
  Write(File("b.vcf"), "old contacts\n");
  run = limited(128 * 1024, {"contacts", "export", "-o", File("b.vcf")});
  EXPECT_EQ(run.status, 1);
  ExpectOneLine(run.err, "cannot write " + File("b.vcf") + ": File too large\n");
  EXPECT_EQ(FileContents(File("b.vcf")), "old contacts\n");
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
