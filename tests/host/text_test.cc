// The host's text helpers: strict UTF-8, the phone's code page both ways,
// JSON strings and fixed-width table columns.
#include "text.h"

#include "platform/text.h"
#include "table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

// The host converts the phone's code page on its own (mzhost links no
// platform); the platform's conversion is what the phone does. The two agree
// on every byte, and on every character: its byte, or that it has none.
std::optional<std::string> HostByte(const std::string& utf8) {
  std::string ansi;
  std::string bad;
  if (mzhost::Utf8ToAnsi(utf8, &ansi, &bad)) return ansi;
  EXPECT_EQ(bad, utf8);
  return std::nullopt;
}

std::optional<std::string> PlatformByte(std::u16string_view text) {
  char out[4];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out,
                                    sizeof out, nullptr, &usedDefault);
  EXPECT_EQ(n, 1);
  if (usedDefault) return std::nullopt;
  return std::string(out, n);
}

std::string PlatformUtf8(std::u16string_view text) {
  char out[8];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out,
                                    sizeof out, nullptr, nullptr);
  return std::string(out, n);
}

TEST(AnsiTest, AgreesWithThePlatformOnEveryByteAndCharacter) {
  std::string bytes;
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char ansi = static_cast<char>(byte);
    char16_t wide = 0;
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, &ansi, 1, &wide, 1), 1);
    EXPECT_EQ(mzhost::AnsiToUtf8({&ansi, 1}), PlatformUtf8({&wide, 1})) << byte;
    bytes.push_back(ansi);
  }
  EXPECT_EQ(HostByte(mzhost::AnsiToUtf8(bytes)), bytes);
  // Every character of the BMP but the surrogates, and a sweep of the planes
  // above it: UTF-16 both ways, and the character's byte.
  for (char32_t cp = 0; cp <= 0x10FFFF; cp += cp < 0x10000 ? 1 : 0x1FF) {
    if (cp >= 0xD800 && cp < 0xE000) continue;
    std::u16string wide;
    if (cp < 0x10000) {
      wide.push_back(static_cast<char16_t>(cp));
    } else {
      wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    SCOPED_TRACE(static_cast<uint32_t>(cp));
    const std::string utf8 = PlatformUtf8(wide);
    std::u16string back;
    ASSERT_TRUE(mzhost::Utf8ToUtf16(utf8, &back));
    ASSERT_EQ(back, wide);
    ASSERT_EQ(mzhost::Utf16ToUtf8(wide), utf8);
    ASSERT_EQ(HostByte(utf8), PlatformByte(wide));
  }
}

// Valid text is compared with the platform above; here what is not valid.
TEST(Utf16Test, RefusesInvalidUtf8AndReplacesUnpairedSurrogates) {
  std::u16string utf16;
  EXPECT_FALSE(mzhost::Utf8ToUtf16("ab\xff", &utf16));
  EXPECT_EQ(mzhost::Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b', 0xDC00}),
            "a\xef\xbf\xbd"
            "b\xef\xbf\xbd");
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
