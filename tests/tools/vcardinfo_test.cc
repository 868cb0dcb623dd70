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
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{VCARDINFO}, 2},
      {{VCARDINFO, "a", "b"}, 2},
      {{VCARDINFO, ""}, 2},
      {{VCARDINFO, READER_DATA_DIR "/missing.vcf"}, 1},
      {{VCARDINFO, READER_DATA_DIR}, 1},
  };
  for (const auto& [argv, status] : cases) {
    const ProgramRun run = RunProgram(argv);
    EXPECT_EQ(run.status, status) << testing::PrintToString(argv);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.ends_with("\n") && run.err.find('\n') == run.err.size() - 1) << run.err;
  }
}

}  // namespace
