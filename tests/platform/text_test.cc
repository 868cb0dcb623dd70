// Code-page conversion: UTF-8 and Windows-1252 to and from UTF-16.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/emulator.h"
#include "platform/text.h"

namespace {

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { emulator::ClearFaults(); }
  void TearDown() override { emulator::ClearFaults(); }
};

// Asks the size, then converts into exactly that much room.
std::u16string Widen(UINT page, std::string_view bytes, DWORD flags = 0) {
  const int size = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(page, flags, bytes.data(), size, nullptr, 0);
  std::u16string out(needed, u'\0');
  if (needed > 0) {
    EXPECT_EQ(MultiByteToWideChar(page, flags, bytes.data(), size, out.data(), needed), needed);
  }
  return out;
}

std::string Narrow(UINT page, std::u16string_view text, DWORD flags = 0,
                   const char* defaultChar = nullptr, BOOL* usedDefault = nullptr) {
  const int size = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(page, flags, text.data(), size, nullptr, 0, defaultChar, usedDefault);
  std::string out(needed, '\0');
  if (needed > 0) {
    EXPECT_EQ(WideCharToMultiByte(page, flags, text.data(), size, out.data(), needed, defaultChar,
                                  usedDefault),
              needed);
  }
  return out;
}

TEST_F(CodePageTest, Utf8AndUtf16ConvertBothWays) {
  struct Case {
    std::string_view utf8;
    std::u16string_view utf16;
  } cases[] = {
      {"Hello, world", u"Hello, world"}, {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE4\xB8\xAD", u"\u4E2D"},       {"a\xF0\x9F\x98\x80z", u"a\xD83D\xDE00z"},
      {"\xEF\xBF\xBD", u"\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.utf8));
    EXPECT_EQ(Widen(CP_UTF8, c.utf8), c.utf16);
    EXPECT_EQ(Widen(CP_UTF8, c.utf8, MB_ERR_INVALID_CHARS), c.utf16);
    EXPECT_EQ(Narrow(CP_UTF8, c.utf16), c.utf8);
    EXPECT_EQ(Narrow(CP_UTF8, c.utf16, WC_ERR_INVALID_CHARS), c.utf8);
  }
}

TEST_F(CodePageTest, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
  struct Case {
    std::string_view bytes;
    std::u16string_view expected;
  } cases[] = {
      {"a\x80z", u"a\uFFFDz"},                  // lone continuation byte
      {"a\xE4\xB8", u"a\uFFFD"},                // sequence cut off at the end
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF5z", u"\uFFFDz"},                    // past U+10FFFF
      {"\xF0\x9F\x98z", u"\uFFFDz"},            // three of four bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    EXPECT_EQ(Widen(CP_UTF8, c.bytes), c.expected);
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes.data(),
                                  static_cast<int>(c.bytes.size()), nullptr, 0),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST_F(CodePageTest, LoneSurrogatesBecomeReplacementInUtf8) {
  struct Case {
    std::u16string_view text;
    std::string_view expected;
  } cases[] = {
      {std::u16string_view(u"a\xD800z", 3), "a\xEF\xBF\xBDz"},
      {std::u16string_view(u"\xDE00", 1), "\xEF\xBF\xBD"},
      {std::u16string_view(u"\xDE00\xD83D", 2), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Narrow(CP_UTF8, c.text), c.expected);
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, c.text.data(),
                                  static_cast<int>(c.text.size()), nullptr, 0, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST_F(CodePageTest, MinusOneLengthCountsTheTerminatorAndCapacityZeroWritesNothing) {
  char16_t wide[8] = {u'#'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\xC3\xA9", -1, wide, 0), 4);
  EXPECT_EQ(wide[0], u'#');
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\xC3\xA9", -1, wide, 8), 4);
  EXPECT_EQ(std::u16string_view(wide, 4), std::u16string_view(u"ab\u00E9", 4));

  char bytes[8] = {'#'};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab\u00E9", -1, bytes, 0, nullptr, nullptr), 4);
  EXPECT_EQ(bytes[0], '#');
  ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab\u00E9", -1, bytes, 8, nullptr, nullptr), 4);
  EXPECT_EQ(std::string_view(bytes, 4), std::string_view("ab\xE9", 4));
}

TEST_F(CodePageTest, ExplicitLengthConvertsEmbeddedZeros) {
  EXPECT_EQ(Widen(CP_UTF8, std::string_view("a\0b", 3)), std::u16string_view(u"a\0b", 3));
  EXPECT_EQ(Narrow(CP_UTF8, std::u16string_view(u"a\0b", 3)), std::string_view("a\0b", 3));
  EXPECT_EQ(Narrow(CP_ACP, std::u16string_view(u"a\0b", 3)), std::string_view("a\0b", 3));
}

TEST_F(CodePageTest, OutputThatDoesNotFitFailsAndStaysWithinCapacity) {
  // From `untouched` on, through the guard at the capacity, nothing may be
  // written: a character that fits only in part is not written at all.
  struct Case {
    UINT page;
    std::string_view bytes;
    int capacity;
    int untouched;
  } toWide[] = {
      {CP_UTF8, "abc", 2, 2},
      {CP_UTF8, "a\xF0\x9F\x98\x80", 2, 1},
      {CP_ACP, "abc", 2, 2},
  };
  for (const auto& c : toWide) {
    SCOPED_TRACE(std::string(c.bytes));
    char16_t out[4] = {u'#', u'#', u'#', u'#'};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(c.page, 0, c.bytes.data(), static_cast<int>(c.bytes.size()), out,
                                  c.capacity),
              0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    for (int i = c.untouched; i <= c.capacity; ++i) EXPECT_EQ(out[i], u'#') << i;
  }

  struct WideCase {
    UINT page;
    std::u16string_view text;
    int capacity;
    int untouched;
  } toBytes[] = {
      {CP_UTF8, u"abc", 2, 2},
      {CP_UTF8, u"a\u4E2D", 3, 1},
      {CP_UTF8, u"a\xD83D\xDE00", 4, 1},
      {CP_ACP, u"abc", 2, 2},
  };
  for (const auto& c : toBytes) {
    char out[5] = {'#', '#', '#', '#', '#'};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(c.page, 0, c.text.data(), static_cast<int>(c.text.size()), out,
                                  c.capacity, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    for (int i = c.untouched; i <= c.capacity; ++i) EXPECT_EQ(out[i], '#') << i;
  }
}

TEST_F(CodePageTest, Windows1252HighBytesMapBothWays) {
  struct Case {
    unsigned char byte;
    char16_t code;
  } cases[] = {
      {0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x8A, 0x0160}, {0x8C, 0x0152},
      {0x8D, 0x008D}, {0x8E, 0x017D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018},
      {0x96, 0x2013}, {0x99, 0x2122}, {0x9D, 0x009D}, {0x9F, 0x0178}, {0xA0, 0x00A0},
      {0xE9, 0x00E9}, {0xFF, 0x00FF},
  };
  for (UINT page : {CP_ACP, CP_WINDOWS_1252}) {
    for (const auto& c : cases) {
      const std::string byte(1, static_cast<char>(c.byte));
      EXPECT_EQ(Widen(page, byte), std::u16string(1, c.code)) << std::hex << int{c.byte};
      BOOL usedDefault = TRUE;
      EXPECT_EQ(Narrow(page, std::u16string(1, c.code), 0, nullptr, &usedDefault), byte);
      EXPECT_FALSE(usedDefault);
    }
  }
  // Every byte decodes, even with the strict flag, and comes back unchanged.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = Widen(CP_ACP, all, MB_ERR_INVALID_CHARS);
  EXPECT_EQ(wide.size(), 256u);
  EXPECT_EQ(Narrow(CP_ACP, wide), all);
}

TEST_F(CodePageTest, CharactersWindows1252LacksBecomeTheDefaultChar) {
  struct Case {
    std::u16string_view text;
    const char* defaultChar;
    std::string_view expected;
    bool defaulted;
  } cases[] = {
      {u"a\u4E2Db", nullptr, "a?b", true},
      {u"a\xD83D\xDE00z", nullptr, "a?z", true},  // a pair is one character
      {u"\xD800", nullptr, "?", true},
      {u"\u0080\u009F", nullptr, "??", true},  // control codes bytes 80 and 9F do not carry
      {u"\u4E2D", "*x", "*", true},
      {u"\u20AC5", "*",
       "\x80"
       "5",
       false},
  };
  for (const auto& c : cases) {
    BOOL usedDefault = c.defaulted ? FALSE : TRUE;
    EXPECT_EQ(Narrow(CP_ACP, c.text, 0, c.defaultChar, &usedDefault), c.expected);
    EXPECT_EQ(usedDefault, c.defaulted ? TRUE : FALSE) << c.expected;
  }
}

TEST_F(CodePageTest, BadArgumentsFailWithInvalidParameter) {
  static char16_t wide[4];
  static char bytes[4];
  static BOOL used;
  int (*const calls[])() = {
      [] { return MultiByteToWideChar(437, 0, "a", 1, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, "a", -2, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, -1); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 4); },
      [] { return WideCharToMultiByte(437, 0, u"a", 1, bytes, 4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_ACP, 0, nullptr, 1, bytes, 4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_ACP, 0, u"a", 0, bytes, 4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_ACP, 0, u"a", -3, bytes, 4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_ACP, 0, u"a", 1, bytes, -4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_ACP, 0, u"a", 1, nullptr, 4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, "?", nullptr); },
      [] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, nullptr, &used); },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    SetLastError(0);
    EXPECT_EQ(calls[i](), 0) << "case " << i;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "case " << i;
  }
}

TEST_F(CodePageTest, InjectedFaultFailsOnlyTheChosenCall) {
  const auto toWide = [] {
    char16_t out[2];
    return MultiByteToWideChar(CP_UTF8, 0, "a", 1, out, 2);
  };
  const auto toBytes = [] {
    char out[2];
    return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 2, nullptr, nullptr);
  };
  struct Case {
    const char* point;
    int (*call)();
  } cases[] = {{"MultiByteToWideChar", +toWide}, {"WideCharToMultiByte", +toBytes}};
  for (const auto& c : cases) {
    emulator::InjectFault(c.point, 2, 1234);
    EXPECT_EQ(c.call(), 1) << c.point;
    SetLastError(0);
    EXPECT_EQ(c.call(), 0) << c.point;
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(c.call(), 1) << c.point;
  }
}

}  // namespace
