// Code-page conversion: UTF-8 and Windows-1252 to and from UTF-16.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "platform/emulator.h"
#include "platform/text.h"

namespace {

// The error a call left when it returned 0; 0 when it succeeded.
template <class Call>
DWORD ErrorOf(Call call) {
  SetLastError(0);
  return call() == 0 ? GetLastError() : 0;
}

// Asks the size, then converts into exactly that much room. A failed size query leaves its error
// for GetLastError.
std::u16string Widen(UINT page, std::string_view bytes, DWORD flags = 0) {
  SetLastError(0);
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
  SetLastError(0);
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

TEST(CodePageTest, Utf8AndUtf16ConvertBothWaysEvenWhenStrict) {
  struct Case {
    std::string_view utf8;
    std::u16string_view utf16;
  } cases[] = {
      {"Hello, world", u"Hello, world"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE4\xB8\xAD", u"\u4E2D"},
      {"a\xF0\x9F\x98\x80z", u"a\xD83D\xDE00z"},
      {std::string_view("a\0b", 3), std::u16string_view(u"a\0b", 3)},  // explicit length
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.utf8)));
    EXPECT_EQ(Widen(CP_UTF8, c.utf8), c.utf16);
    EXPECT_EQ(Widen(CP_UTF8, c.utf8, MB_ERR_INVALID_CHARS), c.utf16);
    EXPECT_EQ(Narrow(CP_UTF8, c.utf16), c.utf8);
    EXPECT_EQ(Narrow(CP_UTF8, c.utf16, WC_ERR_INVALID_CHARS), c.utf8);
  }
}

TEST(CodePageTest, InvalidInputBecomesOneReplacementPerMaximalSubpartOrFailsWhenStrict) {
  struct Case {
    std::string_view bytes;
    std::u16string_view expected;
  } cases[] = {
      {"a\x80z", u"a\uFFFDz"},                  // lone continuation byte
      {"a\xE4\xB8", u"a\uFFFD"},                // sequence cut off at the end
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong "/"
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF0\x9F\x98z", u"\uFFFDz"},            // three of four bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    EXPECT_EQ(Widen(CP_UTF8, c.bytes), c.expected);
    EXPECT_EQ(Widen(CP_UTF8, c.bytes, MB_ERR_INVALID_CHARS), u"");
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
  const std::pair<std::u16string_view, std::string_view> lone[] = {
      {std::u16string_view(u"a\xD800z", 3), "a\xEF\xBF\xBDz"},
      {std::u16string_view(u"\xDE00\xD83D", 2), "\xEF\xBF\xBD\xEF\xBF\xBD"},  // reversed pair
  };
  for (const auto& c : lone) {
    EXPECT_EQ(Narrow(CP_UTF8, c.first), c.second);
    EXPECT_EQ(Narrow(CP_UTF8, c.first, WC_ERR_INVALID_CHARS), "");
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  }
}

TEST(CodePageTest, MinusOneLengthCountsTheTerminatorAndCapacityZeroWritesNothing) {
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

TEST(CodePageTest, OutputThatDoesNotFitFailsAndStaysWithinCapacity) {
  // From `untouched` on, through the guard at the capacity, nothing may be
  // written: a character that fits only in part is not written at all.
  struct Case {
    UINT page;
    std::string_view bytes;    // converted to UTF-16 when not empty,
    std::u16string_view text;  // else this to bytes
    int capacity;
    int untouched;
  } cases[] = {
      {CP_UTF8, "a\xF0\x9F\x98\x80", u"", 2, 1},
      {CP_ACP, "abc", u"", 2, 2},
      {CP_UTF8, "", u"abc", 2, 2},
      {CP_UTF8, "", u"a\u4E2D", 3, 1},
      {CP_UTF8, "", u"a\xD83D\xDE00", 4, 1},
      {CP_ACP, "", u"abc", 2, 2},
  };
  for (const auto& c : cases) {
    char16_t wideOut[5] = {u'#', u'#', u'#', u'#', u'#'};
    char byteOut[5] = {'#', '#', '#', '#', '#'};
    SetLastError(0);
    EXPECT_EQ(c.bytes.empty()
                  ? WideCharToMultiByte(c.page, 0, c.text.data(), static_cast<int>(c.text.size()),
                                        byteOut, c.capacity, nullptr, nullptr)
                  : MultiByteToWideChar(c.page, 0, c.bytes.data(), static_cast<int>(c.bytes.size()),
                                        wideOut, c.capacity),
              0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER) << "case " << &c - cases;
    for (int i = c.untouched; i <= c.capacity; ++i) {
      EXPECT_TRUE(wideOut[i] == u'#' && byteOut[i] == '#') << "case " << &c - cases << " at " << i;
    }
  }
}

// Which character each byte stands for is checked against the host's own
// conversion (tests/host/text_test.cc); here, that every byte decodes, under
// either number of the code page, to a character that leads back to it.
TEST(CodePageTest, EveryWindows1252ByteMapsBothWays) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = Widen(CP_ACP, all, MB_ERR_INVALID_CHARS);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Widen(CP_WINDOWS_1252, all), wide);
  for (UINT page : {CP_ACP, CP_WINDOWS_1252}) {
    BOOL usedDefault = TRUE;
    EXPECT_EQ(Narrow(page, wide, 0, nullptr, &usedDefault), all);
    EXPECT_FALSE(usedDefault);
  }
}

TEST(CodePageTest, CharactersWindows1252LacksBecomeTheDefaultChar) {
  struct Case {
    std::u16string_view text;
    const char* defaultChar;
    std::string_view expected;
  } cases[] = {
      {u"a\u4E2Db", nullptr, "a?b"},
      {u"a\xD83D\xDE00z", nullptr, "a?z"},  // a pair is one character
      {u"\u0080\u009F", nullptr, "??"},     // control codes bytes 80 and 9F do not carry
      {u"\u4E2D", "*x", "*"},
  };
  for (const auto& c : cases) {
    BOOL usedDefault = FALSE;
    EXPECT_EQ(Narrow(CP_ACP, c.text, 0, c.defaultChar, &usedDefault), c.expected);
    EXPECT_TRUE(usedDefault) << c.expected;
  }
}

// Room for the calls below that convert "a".
char16_t wide[4];
char bytes[4];

TEST(CodePageTest, BadArgumentsFailWithInvalidParameter) {
  int (*const calls[])() = {
      [] { return MultiByteToWideChar(437, 0, "a", 1, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, nullptr, 1, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4); },
      [] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, nullptr, 4); },
      [] { return WideCharToMultiByte(437, 0, u"a", 1, bytes, 4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_ACP, 0, u"a", 1, bytes, -4, nullptr, nullptr); },
      [] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, "?", nullptr); },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_EQ(ErrorOf(calls[i]), ERROR_INVALID_PARAMETER) << "case " << i;
  }
}

TEST(CodePageTest, InjectedFaultFailsOnlyTheChosenCall) {
  struct Case {
    const char* point;
    int (*call)();
  } cases[] = {
      {"MultiByteToWideChar", [] { return MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, 4); }},
      {"WideCharToMultiByte",
       [] { return WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, nullptr, nullptr); }},
  };
  for (const auto& c : cases) {
    emulator::InjectFault(c.point, 2, 1234);
    EXPECT_EQ(c.call(), 1) << c.point;
    EXPECT_EQ(ErrorOf(c.call), 1234u) << c.point;
    EXPECT_EQ(c.call(), 1) << c.point;
  }
  emulator::ClearFaults();
}

}  // namespace
