// vcardinfo run as a separate program: a file and standard input give the
// same lines (what the lines hold is in the golden files, see
// reader_golden_test.cc), and its errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class VcardinfoTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vcardinfo.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

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

TEST_F(VcardinfoTest, AFileAndStandardInputGiveItsGoldenLines) {
  const std::string input = std::string(READER_DATA_DIR) + "/json-utf8-and-quotes";
  std::stringstream json;
  json << std::ifstream(input + ".json").rdbuf();
  for (const std::string& args : {"'" + input + ".vcf'", "- <'" + input + ".vcf'"}) {
    const Outcome run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, json.str());
  }
  const Outcome empty = Run("- </dev/null");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out + empty.err, "");
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
