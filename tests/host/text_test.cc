// The host's text helpers: strict UTF-8, the phone's code page both ways,
// JSON strings and fixed-width table columns.
#include "text.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using mzhost::AnsiToUtf8;
using mzhost::AppendJsonString;
using mzhost::FitColumn;
using mzhost::Utf8SequenceLength;
using mzhost::Utf8ToAnsi;

TEST(Utf8SequenceLengthTest, AcceptsOnlyWellFormedSequences) {
  struct Case {
    std::string text;
    std::size_t length;
  } cases[] = {
      {"", 0},
      {std::string(1, '\0'), 1},
      {"A", 1},
      {"\x7f", 1},
      {"\xc3\xa9rest", 2},
      {"\xc2\x80", 2},
      {"\xc0\x80", 0},  // overlong
      {"\xc1\xbf", 0},  // overlong
      {"\xe0\xa0\x80", 3},
      {"\xe0\x9f\xbf", 0},  // overlong
      {"\xed\x9f\xbf", 3},
      {"\xed\xa0\x80", 0},  // surrogate
      {"\xef\xbf\xbf", 3},
      {"\xf0\x90\x80\x80", 4},
      {"\xf0\x8f\xbf\xbf", 0},  // overlong
      {"\xf4\x8f\xbf\xbf", 4},
      {"\xf4\x90\x80\x80", 0},  // above U+10FFFF
      {"\xf5\x80\x80\x80", 0},
      {"\xff", 0},
      {"\x80", 0},  // lone continuation
      {"\xc3", 0},  // truncated
      {"\xe2\x82", 0},
      {"\xe2\x82"
       "A",
       0},
      {"\xc3\xc3\xa9", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(Utf8SequenceLength(c.text), c.length);
  }
}

// The host converts the phone's code page on its own (mzhost links no
// platform); the platform's conversion is what the phone does. The two agree
// on every byte, and on every character: its byte, or that it has none.
std::optional<std::string> HostByte(const std::string& utf8) {
  std::string ansi;
  std::string bad;
  if (Utf8ToAnsi(utf8, &ansi, &bad)) return ansi;
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
    EXPECT_EQ(AnsiToUtf8({&ansi, 1}), PlatformUtf8({&wide, 1})) << byte;
    bytes.push_back(ansi);
  }
  EXPECT_EQ(HostByte(AnsiToUtf8(bytes)), bytes);
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

TEST(AnsiTest, TextTheCodePageCannotHoldFailsAndNamesTheCulprit) {
  struct Case {
    std::string utf8;
    std::string bad;
  } cases[] = {
      {"a\xe4\xb8\xad"
       "b",
       "\xe4\xb8\xad"},  // U+4E2D
      {"x\xff"
       "y",
       "\xff"},
      {"ab\xe2\x82", "\xe2\x82"},  // truncated at the end
      {"\xe2\x82"
       "A",
       "\xe2\x82"},              // truncated before a letter
      {"\xc0\xaf", "\xc0\xaf"},  // overlong
      {"\xc3\xa9\xe2\x82\xac\xe4\xb8\xad", "\xe4\xb8\xad"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    std::string ansi;
    std::string bad;
    EXPECT_FALSE(Utf8ToAnsi(c.utf8, &ansi, &bad));
    EXPECT_EQ(bad, c.bad);
    EXPECT_FALSE(Utf8ToAnsi(c.utf8, &ansi));  // without a place for the culprit
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

TEST(JsonStringTest, EscapesWhatJsonRequiresAndKeepsValidUtf8) {
  struct Case {
    std::string text;
    std::string json;
  } cases[] = {
      {"", "\"\""},
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\dir", "\"C:\\\\dir\""},
      {"a\nb\r\tc\b\f", "\"a\\nb\\r\\tc\\b\\f\""},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80", "\"Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x98\x80\""},
      {"caf\xe9", "\"caf\\u00e9\""},
      {"\xe2\x82"
       "x",
       "\"\\u00e2\\u0082x\""},
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"</script>", "\"</script>\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::string out = "[";
    AppendJsonString(&out, c.text);
    EXPECT_EQ(out, "[" + c.json);
  }
}

TEST(FitColumnTest, FillsExactlyTheColumns) {
  struct Case {
    std::string text;
    std::size_t columns;
    std::string fitted;
  } cases[] = {
      {"abc", 5, "abc  "},
      {"abcde", 5, "abcde"},
      {"abcdef", 5, "ab..."},
      {"", 3, "   "},
      {"", 0, ""},
      {"abc", 0, ""},
      {"abcd", 3, "..."},
      {"abcd", 1, "."},
      {"ab", 2, "ab"},
      {"a\tb\nc\r\nd\re", 9, "a b c d e"},
      {"Zo\xc3\xab M\xc3\xbcller", 10, "Zo\xc3\xab M\xc3\xbcller"},
      {"Zo\xc3\xab M\xc3\xbcller", 6, "Zo\xc3\xab..."},
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 4, "\xc3\xa9..."},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", 4, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e "},
      {"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80", 4,
       "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"},
      {"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80x", 4,
       "\xf0\x9f\x98\x80..."},
      {"a\xff"
       "b",
       3, "a?b"},
      {"\xe2\x82", 3, "?? "},
      {"\x1b[31mred", 9, "?[31mred "},
      {"x\xc2\x9by", 3, "x?y"},  // C1 control
      {std::string("a\0b", 3), 3, "a?b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " in " + std::to_string(c.columns));
    EXPECT_EQ(FitColumn(c.text, c.columns), c.fitted);
  }
}

// Whatever the text, the result is valid UTF-8 of exactly `columns` code
// points with no control characters.
TEST(FitColumnTest, NeverCutsASequenceAndAlwaysHasTheWidth) {
  const std::vector<std::string> texts = {
      "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
      "\xf0\x9f\x98\x80\xf0\x9f\x98",
      "a\r\n\r\nb\t\x01\x7f\xff\xfe",
      "\xe2\x82\xac\xe2\x82\xe2\x82\xac\x80\x80\xe2\x82\xac",
  };
  for (const auto& text : texts) {
    for (std::size_t columns = 0; columns <= 16; ++columns) {
      SCOPED_TRACE(testing::PrintToString(text) + " in " + std::to_string(columns));
      const std::string fitted = FitColumn(text, columns);
      std::size_t count = 0;
      for (std::string_view rest = fitted; !rest.empty(); ++count) {
        const std::size_t length = Utf8SequenceLength(rest);
        ASSERT_NE(length, 0u);
        ASSERT_FALSE(length == 1 && (rest[0] < 0x20 || rest[0] == 0x7f));
        rest.remove_prefix(length);
      }
      EXPECT_EQ(count, columns);
    }
  }
}

}  // namespace
