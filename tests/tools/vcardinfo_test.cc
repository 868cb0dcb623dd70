// vcardinfo run as a separate program: a file and standard input give the
// same lines (what the lines hold is reader_golden_test.cc's), and its errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program.h"

namespace {

TEST(VcardinfoTest, AFileAndStandardInputGiveItsGoldenLines) {
  const std::string input = READER_DATA_DIR "/json-utf8-and-quotes";
  const std::string json = FileContents(input + ".json");
  for (const ProgramRun& run : {RunProgram({VCARDINFO, input + ".vcf"}),
                                RunProgram({VCARDINFO, "-"}, {}, input + ".vcf")}) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, json);
  }
  const ProgramRun empty = RunProgram({VCARDINFO, "-"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out + empty.err, "");
}

// Each failure is a non-zero exit, no output and one line on stderr: bad
// usage 2, an unreadable file 1.
TEST(VcardinfoTest, BadUsageAndUnreadableFilesAreOneErrorLine) {
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{}, 2},
      {{"a", "b"}, 2},
      {{""}, 2},
      {{READER_DATA_DIR "/missing.vcf"}, 1},
      {{READER_DATA_DIR}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> argv = {VCARDINFO};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProgramRun run = RunProgram(argv);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
}

}  // namespace
