// mzhost as a user runs it: a separate process loading libmz.so, on a fresh
// temporary device per test, checked through its output and through what the
// emulated phone then holds.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "mzhost_fixture.h"
#include "table.h"

namespace {

namespace fs = std::filesystem;

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

// The rows of a command table (data/mzhost.tsv, data/phonectl.tsv; the
// format is in mzhost.tsv's header) run in order on the test's device: each
// command's exit status and what it prints, and what the phone then shows.
class CommandTableTest : public MzhostTest, public testing::WithParamInterface<const char*> {};

TEST_P(CommandTableTest, EachCommandExitsAndPrintsAsItsRowSays) {
  // A folder that is no device, one the device's lock cannot be made in, a
  // sound whose copy into \Windows cannot be made (a folder has its name),
  // and a folder for the demo's temporary phone.
  fs::create_directories(File("notadevice"));
  Write(File("notadevice/notes.txt"), "mine");
  fs::create_directories(File("locked"));
  fs::permissions(File("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  const std::string ringtones = emulator::HostPath("\\My Documents\\My Ringtones");
  fs::copy_file(ringtones + "/Chime.wav", ringtones + "/Blocked.wav");
  fs::create_directories(emulator::HostPath("\\Windows") + "/Blocked.wav");
  fs::create_directories(File("tmp"));
  for (TableRow row : ReadTable(std::string(TEST_DATA_DIR "/") + GetParam())) {
    for (std::string& field : row) {
      for (const auto& [name, value] : {std::pair{"{dir}", dir()},
                                        {"{data}", TEST_DATA_DIR},
                                        {"{examples}", EXAMPLES_DIR},
                                        {"{version}", MZ_VERSION}}) {
        for (auto at = field.find(name); at != std::string::npos; at = field.find(name, at)) {
          field.replace(at, std::strlen(name), value);
        }
      }
    }
    SCOPED_TRACE(testing::PrintToString(row));
    if (geteuid() == 0 && row.at(2) == "Permission denied") continue;  // root may write anywhere
    std::vector<std::string> env = {"PHONE_DEVICE_DIR=" + dir()};
    std::istringstream words(row.at(3));
    for (std::string word; words >> word;) env.push_back(word);
    std::vector<std::string> argv = {env.back() == "mzhost" ? MZHOST : PHONECTL};
    env.pop_back();
    argv.insert(argv.end(), row.begin() + 4, row.end());
    const ProgramRun run = RunProgram(argv, env);
    EXPECT_EQ(run.status, std::stoi(row.at(0))) << run.err;
    const std::string& out = row.at(1);
    if (out.starts_with("@")) {
      EXPECT_EQ(run.out, FileContents(TEST_DATA_DIR "/" + out.substr(1)));
    } else {
      EXPECT_TRUE(out.empty() ? run.out.empty() : run.out.find(out) != std::string::npos)
          << run.out;
    }
    if (row.at(2).empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      ExpectOneLine(run.err, row.at(2));
    }
  }
  EXPECT_FALSE(fs::exists(File("notadevice/device.lock")));  // nothing added to a non-device
  EXPECT_TRUE(fs::is_character_file("/dev/null"));           // written, not replaced
  EXPECT_TRUE(fs::is_empty(File("tmp")));                    // the demo removed its phone
}

INSTANTIATE_TEST_SUITE_P(Tables, CommandTableTest,
                         testing::Values("mzhost.tsv", "mzhost-files.tsv", "phonectl.tsv"));

// Under a file-size limit the device's database stops growing: the import
// stops at the first card it cannot store. `export -o` replaces a file whole
// (one that cannot be written is left as it was), keeping its mode, writes a
// link's target and leaves no temporary file beside it (a device, a FIFO and
// a folder as targets are in data/mzhost.tsv and concurrency_test.cc).
TEST_F(MzhostTest, ImportsAndExportsUnderAFileSizeLimitAndExportTargets) {
  Write(File("many.vcf"), NumberedCards("F", 3000));
  auto limited = [&](std::uintmax_t bytes, const std::vector<std::string>& args) {
    std::string command = "ulimit -f " + std::to_string(bytes / 512) + "; exec";
    for (const auto& word : Argv(args)) command += " '" + word + "'";
    return RunProgram({"/bin/sh", "-c", command});
  };
  // The database and its log may grow by about a hundred cards' worth.
  std::uintmax_t limit = 0;
  for (const auto& entry : fs::directory_iterator(dir())) {
    if (entry.is_regular_file()) limit = std::max(limit, entry.file_size() + 64 * 1024);
  }
  ProgramRun run = limited(limit, {"contacts", "import", File("many.vcf")});
  EXPECT_EQ(run.status, 1);
  const std::size_t stored = emulator::ContactOids().size();
  ASSERT_GT(stored, 0u) << run.err;
  ASSERT_LT(stored, 3000u);
  EXPECT_EQ(run.out, "imported " + std::to_string(stored) +
                         " of 3000 cards before the failure; properties: " +
                         std::to_string(2 * stored) + " kept, 0 re-typed, 0 dropped\n");
  ExpectOneLine(run.err, File("many.vcf") + ":" + std::to_string(5 * stored + 1) + ": card " +
                             std::to_string(stored + 1) +
                             " was not stored: File too large; the import stopped there\n");

  // An export longer than the limit, which leaves room for what opening the
  // device writes into an emptied log.
  ASSERT_EQ(Mzhost({"contacts", "import", File("many.vcf")}).status, 0);
  ASSERT_EQ(Sql(File("device.db"), "PRAGMA wal_checkpoint(TRUNCATE)"), "0");
  Write(File("b.vcf"), "old contacts\n");
  fs::permissions(File("b.vcf"), fs::perms(0600));
  run = limited(128 * 1024, {"contacts", "export", "-o", File("b.vcf")});
  EXPECT_EQ(run.status, 1);
  ExpectOneLine(run.err, "cannot write " + File("b.vcf") + ": File too large\n");
  EXPECT_EQ(FileContents(File("b.vcf")), "old contacts\n");

  fs::create_directories(File("sub"));
  fs::create_symlink("sub/real.vcf", File("link.vcf"));
  for (const char* target : {"b.vcf", "link.vcf"}) {
    EXPECT_EQ(Mzhost({"contacts", "export", "-o", File(target)}).status, 0) << target;
  }
  const std::string text = Mzhost({"contacts", "export"}).out;
  EXPECT_EQ(FileContents(File("b.vcf")), text);
  EXPECT_EQ(fs::status(File("b.vcf")).permissions(), fs::perms(0600));
  EXPECT_EQ(FileContents(File("sub/real.vcf")), text);
  EXPECT_TRUE(fs::is_symlink(File("link.vcf")));
  EXPECT_EQ(fs::directory_iterator(File("sub"))->path().filename(), "real.vcf");
}

}  // namespace
