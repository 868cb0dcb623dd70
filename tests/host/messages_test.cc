// mzhost messages export and watch --exec as a user runs them: separate
// processes on a fresh device, with messages phonectl delivers from another
// process.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mzhost_fixture.h"
#include "table.h"

namespace {

namespace fs = std::filesystem;

const std::string kData = TEST_DATA_DIR "/messages/";
// The zone times are read in: 5:30 east of UTC, no daylight saving time.
constexpr char kZone[] = "TZ=XST-5:30";

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (auto at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

// Polls for up to a minute.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 6000 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

class MessagesTest : public MzhostTest {
 protected:
  // Delivers an SMS from another process; its entry id.
  std::string Receive(const std::string& from, const std::string& text,
                      const std::string& folder = "Inbox") {
    const ProgramRun run =
        RunProgram({PHONECTL, "--device", dir(), "receive", from, text, "--folder", folder});
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out.substr(10, 48);  // "delivered <id> to <folder>"
  }
  // A message's local time in kZone as phonectl shows it, with a T for the space.
  std::string Time(const std::string& id) {
    const std::string list = RunProgram({PHONECTL, "--device", dir(), "messages"}, {kZone}).out;
    const std::size_t at = list.find(id + "  ");
    std::string time = at == std::string::npos ? "?" : list.substr(at + id.size() + 2, 19);
    return time.replace(std::min<std::size_t>(time.size(), 10), 1, "T");
  }
};

TEST_F(MessagesTest, ExportsAsTheGoldenFilesSayAndReplacesAFileWhole) {
  std::vector<std::pair<std::string, std::string>> times;
  for (const TableRow& row : ReadTable(kData + "hostile.tsv")) {
    const std::string id = Receive(row.at(0), row.at(1), row.at(2));
    times.emplace_back("{now:" + id + "}", Time(id));
  }
  auto golden = [&](const std::string& name) {
    std::string text = FileContents(kData + name);
    for (const auto& [mark, time] : times) ReplaceAll(&text, mark, time);
    return text;
  };
  Write(File("out.csv"), "old\n");
  fs::create_hard_link(File("out.csv"), File("old.csv"));
  for (TableRow row : ReadTable(kData + "export.tsv")) {
    for (std::string& field : row) ReplaceAll(&field, "{dir}", dir());
    SCOPED_TRACE(testing::PrintToString(row));
    const ProgramRun run = RunProgram(Argv({row.begin() + 4, row.end()}), {row.at(1)});
    EXPECT_EQ(run.status, std::stoi(row.at(0))) << run.err;
    EXPECT_EQ(run.out, row.at(2).starts_with("@") ? golden(row.at(2).substr(1)) : row.at(2));
    if (row.at(3).empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      ExpectOneLine(run.err, row.at(3));
    }
  }
  // A new file took the name: the old one, still linked, is as it was.
  EXPECT_EQ(FileContents(File("out.csv")), golden("all.csv"));
  EXPECT_EQ(FileContents(File("old.csv")), "old\n");
  for (const auto& entry : fs::directory_iterator(dir())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".mzhost-export")) << entry.path();
  }
  EXPECT_FALSE(fs::exists(File("nowhere")));
}

// data/messages/record.sh logs each run; "hold" makes one wait for a go.
TEST_F(MessagesTest, WatchExecRunsAProgramPerMessageInTurnWithItsFields) {
  const std::string log = File("log");
  const std::vector<std::string> args = {"two words", "$(touch " + File("pwned") + ")"};
  RunningProgram watch(
      Argv({"messages", "watch", "--exec", "sh", kData + "record.sh", log, args[0], args[1]}),
      {kZone});
  ASSERT_TRUE(watch.WaitForErr("watching")) << watch.Err();
  std::string expected;
  auto deliver = [&](const std::string& from, const std::string& text) {
    const std::string id = Receive(from, text);
    for (const std::string& field :
         {std::string("inbox"), id, from, Time(id) + "+05:30", text, args[0], args[1]}) {
      expected += field + '\0';
    }
    return id;
  };
  // Two arrive while the first one's program runs, and wait their turn.
  deliver("+15550120", "hold");
  ASSERT_TRUE(Eventually([&] { return fs::exists(log + ".held"); }));
  const std::string failed = deliver("+15550120", "fail");
  // Windows-1252 text, as the new-message callback carries it.
  deliver("\"Ann, E\" <+15550123>",
          "`id` $(id) 'q' \"d\",\r\nCaf\xc3\xa9 \xe2\x82\xac"
          "5");
  Write(log + ".go", "");
  ASSERT_TRUE(Eventually([&] { return FileContents(log) == expected; })) << FileContents(log);
  // Ctrl-C while a program runs: it is waited for, and the watch ends.
  deliver("+15550120", "hold");
  ASSERT_TRUE(Eventually([&] { return fs::exists(log + ".held"); }));
  watch.Signal(SIGINT);
  Write(log + ".go", "");
  const ProgramRun run = watch.Wait();
  EXPECT_EQ(run.status, 130);
  EXPECT_EQ(run.err, "watching for new messages; Ctrl-C stops\nmzhost: sh for message " + failed +
                         " exited with status 3\nmzhost: interrupted\n");
  EXPECT_EQ(FileContents(log), expected);
  EXPECT_FALSE(fs::exists(File("pwned")));
}

TEST_F(MessagesTest, WatchExecReportsAProgramThatCannotStartAndGoesOn) {
  RunningProgram watch(Argv({"messages", "watch", "--count", "2", "--exec", File("missing")}));
  ASSERT_TRUE(watch.WaitForErr("watching")) << watch.Err();
  std::string expected = "watching for new messages; Ctrl-C stops\n";
  for (const char* text : {"one", "two"}) {
    expected += "mzhost: cannot run " + File("missing") + " for message " +
                Receive("+15550120", text) + ": No such file or directory\n";
  }
  const ProgramRun run = watch.Wait();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, expected);
}

}  // namespace
