// The host's text helpers: strict UTF-8, the phone's code page both ways,
// JSON strings and fixed-width table columns.
#include "text.h"

#include "table.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

// The encodings themselves are the platform's (platform/text_codec.h, tested
// on their own); here the host's use of them: every byte of the code page
// there and back, and invalid UTF-8 refused.
TEST(AnsiTest, EveryByteComesBack) {
  std::string bytes;
  for (unsigned byte = 0; byte < 256; ++byte) bytes.push_back(static_cast<char>(byte));
  std::string back;
  EXPECT_TRUE(mzhost::Utf8ToAnsi(mzhost::AnsiToUtf8(bytes), &back));
  EXPECT_EQ(back, bytes);
  std::u16string utf16;
  EXPECT_FALSE(mzhost::Utf8ToUtf16("ab\xff", &utf16));
}

// The helpers' cases that no sweep of valid text reaches, in data/text.tsv;
// and whatever the text, FitColumn gives valid UTF-8 of exactly `columns`
// code points with no control characters.
TEST(TextTableTest, EachHelperGivesWhatItsRowsSay) {
  for (const TableRow& row : ReadTable(TEST_DATA_DIR "/text.tsv")) {
    SCOPED_TRACE(testing::PrintToString(row));
    const std::string& helper = row.at(0);
    const std::string& text = row.at(1);
    for (std::size_t columns = 0; columns <= 16; ++columns) {
      const std::string fitted = mzhost::FitColumn(text, columns);
      std::size_t count = 0;
      for (std::string_view rest = fitted; !rest.empty(); ++count) {
        const std::size_t length = mzhost::Utf8SequenceLength(rest);
        ASSERT_NE(length, 0u) << columns;
        ASSERT_FALSE(length == 1 && (rest[0] < 0x20 || rest[0] == 0x7f)) << columns;
        rest.remove_prefix(length);
      }
      EXPECT_EQ(count, columns);
    }
    if (helper == "length") {
      EXPECT_EQ(mzhost::Utf8SequenceLength(text), std::stoul(row.at(2)));
    } else if (helper == "ansi") {
      std::string ansi;
      std::string bad;
      EXPECT_FALSE(mzhost::Utf8ToAnsi(text, &ansi, &bad));
      EXPECT_EQ(bad, row.at(2));
      EXPECT_FALSE(mzhost::Utf8ToAnsi(text, &ansi));  // without a place for the culprit
    } else if (helper == "json") {
      std::string out = "[";
      mzhost::AppendJsonString(&out, text);
      EXPECT_EQ(out, "[" + row.at(2));
    } else {
      ASSERT_EQ(helper, "fit");
      EXPECT_EQ(mzhost::FitColumn(text, std::stoul(row.at(2))), row.at(3));
    }
  }
}

}  // namespace
