// Code-page conversion: UTF-8 and Windows-1252 to and from UTF-16; the table
// cases are in data/platform/text.tsv.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "platform/text.h"
#include "tables.h"

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

// The cases of data/platform/text.tsv.
class CodePageTableTest : public testing::TestWithParam<tables::Row> {};

TEST_P(CodePageTableTest, ConvertsAsTheTableSays) {
  const tables::Row& row = GetParam();
  const std::string& kind = row.at(0);
  if (kind == "utf8") {
    const std::string utf8 = tables::Bytes(row.at(1));
    const std::u16string utf16 = tables::Units(row.at(2));
    EXPECT_EQ(Widen(CP_UTF8, utf8), utf16);
    EXPECT_EQ(Widen(CP_UTF8, utf8, MB_ERR_INVALID_CHARS), utf16);
    EXPECT_EQ(Narrow(CP_UTF8, utf16), utf8);
    EXPECT_EQ(Narrow(CP_UTF8, utf16, WC_ERR_INVALID_CHARS), utf8);
  } else if (kind == "bad-utf8") {
    EXPECT_EQ(Widen(CP_UTF8, tables::Bytes(row.at(1))), tables::Units(row.at(2)));
    EXPECT_EQ(Widen(CP_UTF8, tables::Bytes(row.at(1)), MB_ERR_INVALID_CHARS), u"");
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  } else if (kind == "bad-utf16") {
    EXPECT_EQ(Narrow(CP_UTF8, tables::Units(row.at(1))), tables::Bytes(row.at(2)));
    EXPECT_EQ(Narrow(CP_UTF8, tables::Units(row.at(1)), WC_ERR_INVALID_CHARS), "");
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  } else if (kind == "full") {
    const UINT page = static_cast<UINT>(tables::Number(row.at(1)));
    const bool bytes = row.at(2).rfind("bytes:", 0) == 0;
    const std::string in = tables::Bytes(bytes ? row.at(2).substr(6) : "");
    const std::u16string text = tables::Units(bytes ? "" : row.at(2));
    const int capacity = tables::Number(row.at(3));
    char16_t wideOut[5] = {u'#', u'#', u'#', u'#', u'#'};
    char byteOut[5] = {'#', '#', '#', '#', '#'};
    SetLastError(0);
    EXPECT_EQ(bytes ? MultiByteToWideChar(page, 0, in.data(), static_cast<int>(in.size()), wideOut,
                                          capacity)
                    : WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()),
                                          byteOut, capacity, nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    for (int i = tables::Number(row.at(4)); i <= capacity; ++i) {
      EXPECT_TRUE(wideOut[i] == u'#' && byteOut[i] == '#') << "written at " << i;
    }
  } else {
    ASSERT_EQ(kind, "default");
    BOOL usedDefault = FALSE;
    EXPECT_EQ(Narrow(CP_ACP, tables::Units(row.at(1)), 0,
                     row.at(2) == "-" ? nullptr : row.at(2).c_str(), &usedDefault),
              row.at(3));
    EXPECT_TRUE(usedDefault);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CodePageTableTest, testing::ValuesIn(tables::Read("text.tsv")));

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

}  // namespace
