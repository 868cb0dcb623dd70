// vcardinfo run as a separate program on files written into a fresh
// temporary folder: its JSON lines, its stop at the end of any data, and
// its errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class VcardinfoTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vcardinfo.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Writes `text` with CR LF line ends to a file in the folder.
  std::string Write(const std::string& name, const std::string& text) {
    std::string crlf;
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << crlf;
    return path;
  }

  // Runs vcardinfo through the shell with `args` (no single quotes).
  Outcome Run(const std::string& args) {
    const std::string out = (dir_ / "run.out").string(), err = (dir_ / "run.err").string();
    const int status = std::system(
        (std::string(VCARDINFO) + " " + args + " >'" + out + "' 2>'" + err + "'").c_str());
    Outcome run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto [text, path] : {std::pair{&run.out, out}, {&run.err, err}}) {
      std::stringstream content;
      content << std::ifstream(path).rdbuf();
      *text = content.str();
    }
    return run;
  }

  std::filesystem::path dir_;
};

constexpr char kTwoCards[] =
    "BEGIN:VCARD\nVERSION:2.1\nN:Doe;John\nTEL;CELL:123\nEND:VCARD\n"
    "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8:M\xc3\xbcller;J\nTEL;WORK;FAX;PREF:9\n"
    "NOTE:say \"hi\" \\ bye\nEND:VCARD\n";

const std::vector<std::string> kTwoCardsJson = {
    R"({"offset":0,"type":1,"kind":"vcard","result":0,"slots":[)"
    R"({"class":1,"index":0,"code":"N","flags":0,"value":"Doe;John"},)"
    R"({"class":1,"index":1,"code":"TPC","flags":0,"value":"123"}]})",
    R"({"offset":63,"type":1,"kind":"vcard","result":0,"slots":[)"
    "{\"class\":1,\"index\":0,\"code\":\"N\",\"flags\":0,\"value\":\"M\xc3\xbcller;J\"},"
    R"({"class":1,"index":1,"code":"TWF","flags":1,"value":"9"},)"
    R"({"class":1,"index":2,"code":"M","flags":0,"value":"say \"hi\" \\ bye"}]})",
};

TEST_F(VcardinfoTest, EachCardOfAFileOrOfStandardInputIsOneLineListingItsSlots) {
  const std::string path = Write("two.vcf", kTwoCards);
  for (const std::string& args : {"'" + path + "'", "- <'" + path + "'"}) {
    const Outcome run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Lines(run.out), kTwoCardsJson);
  }
}

TEST_F(VcardinfoTest, AnEventListsTheCalendarRecord) {
  const Outcome run = Run("'" +
                          Write("event.vcs",
                                "BEGIN:VCALENDAR\nVERSION:1.0\nBEGIN:VEVENT\nSUMMARY:Lunch\n"
                                "DTSTART:20131101T120000\nCATEGORIES:MEETING\nSTATUS:CONFIRMED\n"
                                "PRIORITY:2\nAALARM:20131101T114500Z;PT5M;2;ring.wav\n"
                                "END:VEVENT\nEND:VCALENDAR\n") +
                          "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            R"({"offset":0,"type":3,"kind":"event","result":0,"calendar":{"type":2,)"
            R"("summary":"Lunch","description":"","location":"","start":"20131101T120000",)"
            R"("end":"","due":"","alarmTime":"20131101T114500Z","alarmText":"ring.wav",)"
            R"("priority":2,"category":5,"status":5}})"
            "\n");
}

// Garbage gives lines of type 0 until the data end: the program ends, and
// bytes that are not UTF-8 are escaped, so the output is plain ASCII. Empty
// input prints nothing.
TEST_F(VcardinfoTest, GarbageEndsAndPrintsOnlyEscapedAscii) {
  const std::string path =
      Write("garbage.bin", std::string("\xff\xfe:junk\n\x80\x01;;;\n\0zz\x00\n:\n\"open", 27));
  for (const std::string& args :
       {"'" + path + "'", "- <'" + path + "'", std::string("- </dev/null")}) {
    SCOPED_TRACE(args);
    const Outcome run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.empty(), args.ends_with("null"));
    for (const std::string& line : Lines(run.out)) {
      EXPECT_EQ(line.rfind(R"({"offset":)", 0), 0u) << line;
      EXPECT_NE(line.find(R"("type":0,"kind":"none")"), std::string::npos) << line;
      for (unsigned char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x80) << line;
    }
  }
}

// Each failure is a non-zero exit, no output and one line on stderr.
TEST_F(VcardinfoTest, BadUsageAndUnreadableFilesAreOneErrorLine) {
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"", 2},
      {"a b", 2},
      {"''", 2},
      {"'" + (dir_ / "missing.vcf").string() + "'", 1},
      {"'" + dir_.string() + "'", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome run = Run(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
}

}  // namespace
