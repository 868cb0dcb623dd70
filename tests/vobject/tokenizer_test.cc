#include "vobject/tokenizer.h"

#include <gtest/gtest.h>

#include <string>

#include "scripted_stream.h"
#include "stream/mem_buf.h"

namespace {

using namespace std::string_literals;

std::string Describe(int32_t kind, const mz::TextBuffer* buffer) {
  const std::string text(buffer->data, static_cast<size_t>(buffer->length));
  if (kind == mz::TOKEN_WORD) return "word(" + text + ")";
  if (kind == mz::TOKEN_QUOTED) return "quoted(" + text + ")";
  if (kind == mz::TOKEN_CRLF) return text == "\r\n" ? "crlf" : "crlf?" + text;
  if (kind == mz::TOKEN_CR) return text == "\r" ? "cr" : "cr?" + text;
  if (kind >= 0) return "delim(" + text + ")";
  return std::to_string(kind) + (text.empty() ? "" : "(" + text + ")");
}

// Every token through the first negative result, joined by "|".
template <typename Read>
std::string Tokens(Read read) {
  mz::TextBuffer* buffer = mz::TextBuffer_create(8);
  std::string got;
  for (int32_t kind = 0, n = 0; kind >= 0 && n < 20; ++n) {
    kind = read(buffer);
    got += (got.empty() ? "" : "|") + Describe(kind, buffer);
  }
  mz::TextBuffer_free(buffer);
  return got;
}

struct TokenCase {
  const char* what;
  std::string input;
  const char* delimiters;
  const char* skipSet;
  int escapes;
  std::string tokens;
  size_t failAt = kNever;
  int32_t code = 0;
};

const TokenCase kTokenCases[] = {
    {"parameter head", "N;CHARSET=UTF-8:", ";:=", nullptr, 1,
     "word(N)|delim(;)|word(CHARSET)|delim(=)|word(UTF-8)|delim(:)|-202"},
    {"escaped quote in quotes", "\"a\\\"\"", ";", nullptr, 1, "quoted(a\")|-202"},
    {"quotes escape with escapes off", "\"a\\\"b\"", ";", nullptr, 0, "quoted(a\"b)|-202"},
    {"escaped delimiter", "a\\;b;", ";", nullptr, 1, "word(a;b)|delim(;)|-202"},
    {"backslash is text with escapes off", "a\\;b;", ";", nullptr, 0,
     "word(a\\)|delim(;)|word(b)|delim(;)|-202"},
    {"escaped CR in word", "a\\\rb", ";", nullptr, 1, "word(a\rb)|-202"},
    {"trailing backslash dropped", "ab\\", ";", nullptr, 1, "word(ab)|-202"},
    {"CR before a byte", "\rx", ";", nullptr, 1, "cr|word(x)|-202"},
    {"final lone CR", "\r", ";", nullptr, 1, "cr|-202"},
    {"word ends at line end", "ab\r\ncd", ";", nullptr, 1, "word(ab)|crlf|word(cd)|-202"},
    {"quote ends a word", "ab\"cd\"", ";", nullptr, 1, "word(ab)|quoted(cd)|-202"},
    {"unterminated quote", "\"abc", ";", nullptr, 1, "quoted(abc)|-202"},
    {"quotes span lines", "\"a\r\n;b\"", ";", nullptr, 1, "quoted(a\r\n;b)|-202"},
    {"bytes 0 skipped, end a word", "\0\0ab\0cd"s, ";", nullptr, 1, "word(ab)|word(cd)|-202"},
    {"skip set before tokens only", " \tab; c d", ";", " \t", 1,
     "word(ab)|delim(;)|word(c d)|-202"},
    {"only skipped bytes", "  ", ";", " ", 1, "-202"},
    {"null sets", "a;b", nullptr, nullptr, 1, "word(a;b)|-202"},
    {"empty data", "", ";", nullptr, 1, "-202"},
    // Stream failures: hard codes always come back; others end the token.
    {"hard before a token", "ab", ";", nullptr, 1, "-5", 0, -5},
    {"failure while skipping", "  ab", ";", " ", 1, "-9", 2, -9},
    {"hard inside quotes", "\"ab", ";", nullptr, 1, "-7(ab)", 3, -7},
    {"hard after a quoted backslash", "\"a\\", ";", nullptr, 1, "-12(a)", 3, -12},
    {"hard after CR", "\r", ";", nullptr, 1, "-71(\r)", 1, -71},
    {"other failure after CR", "\r", ";", nullptr, 1, "cr|-9", 1, -9},
    {"hard inside a word", "ab", ";", nullptr, 1, "-92(ab)", 2, -92},
    {"other failure inside a word", "ab", ";", nullptr, 1, "word(ab)|-9", 2, -9},
    {"hard after a word backslash", "a\\", ";", nullptr, 1, "-5(a)", 2, -5},
};

class TokenizeTest : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenizeTest, CutsTheExpectedTokens) {
  const TokenCase& c = GetParam();
  ScriptStream s(c.input, c.failAt, c.code);
  EXPECT_EQ(Tokens([&](mz::TextBuffer* b) {
              return mz::ReadToken(s.stream(), b, c.delimiters, c.skipSet, c.escapes);
            }),
            c.tokens);
}

INSTANTIATE_TEST_SUITE_P(Tokenizer, TokenizeTest, testing::ValuesIn(kTokenCases));

TEST(TokenizerTest, SkipBlanksSplitsADurationWithoutEscapesAndNullArgumentsWork) {
  ScriptStream s(" 1DT\\2H");
  EXPECT_EQ(
      Tokens([&](mz::TextBuffer* b) { return mz::ReadTokenSkipBlanks(s.stream(), b, "YMWDTHS"); }),
      "word(1)|delim(D)|delim(T)|word(\\2)|delim(H)|-202");
  ScriptStream t("ab;");
  EXPECT_EQ(mz::ReadToken(t.stream(), nullptr, ";", nullptr, 1), mz::TOKEN_WORD);
  EXPECT_EQ(mz::ReadToken(t.stream(), nullptr, ";", nullptr, 1), ';');
  EXPECT_EQ(mz::ReadToken(nullptr, nullptr, ";", nullptr, 1), mz::kStreamInvalidArgument);
}

struct FoldCase {
  const char* what;
  std::string input;
  int unfold;
  int softBreaks;
  int32_t result;
  std::string output;
  std::string rest;
  size_t failAt = kNever;
  int32_t code = 0;
};

const FoldCase kFoldCases[] = {
    {"fold with a space", "abc\r\n def\r\nNEXT", 1, 0, 6, "abcdef", "NEXT"},
    {"folds with a tab", "a\r\n\tb\r\n c\r\nX", 1, 0, 3, "abc", "X"},
    {"soft break overwrites equals", "ab=\r\ncd\r\nNEXT", 1, 1, 4, "abcd", "NEXT"},
    {"soft breaks off keep equals", "ab=\r\ncd\r\nNEXT", 1, 0, 3, "ab=", "cd\r\nNEXT"},
    {"blank after soft break folds", "ab=\r\n cd\r\nX", 1, 1, 5, "ab=cd", "X"},
    {"soft break chain", "a=\r\n=\r\nb\r\nX", 1, 1, 2, "ab", "X"},
    {"soft break before empty line", "a=\r\n\r\nX", 1, 1, 2, "a=", "\r\nX"},
    {"no unfold ends at first break", "abc\r\n def", 0, 0, 3, "abc", " def"},
    {"lone CR is text", "a\rb\r\nX", 1, 0, 3, "a\rb", "X"},
    {"CR CR LF is text", "a\r\r\nX", 1, 0, 5, "a\r\r\nX", ""},
    {"CR at end not copied", "abc\r", 1, 0, 3, "abc", ""},
    {"value at end of data", "abc\r\n", 1, 0, 3, "abc", ""},
    {"byte 0 is text", "a\0b\r\nX"s, 1, 0, 3, "a\0b"s, "X"},
    {"empty data", "", 1, 1, 0, "", ""},
    {"hard in text", "abc", 1, 1, -5, "ab", "c", 2, -5},
    {"other failure in text", "abc", 1, 1, 2, "ab", "c", 2, -9},
    {"hard after CR", "ab\r", 1, 1, -7, "ab", "", 3, -7},
    {"hard after CR LF", "ab\r\n", 1, 1, -12, "ab", "", 4, -12},
};

class FoldedValueTest : public testing::TestWithParam<FoldCase> {};

TEST_P(FoldedValueTest, CopiesOneUnfoldedValue) {
  const FoldCase& c = GetParam();
  ScriptStream in(c.input, c.failAt, c.code);
  ScriptStream out("");
  EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out.stream(), c.unfold, c.softBreaks), c.result);
  EXPECT_EQ(out.Written(), c.output);
  EXPECT_EQ(in.Rest(), c.rest);
}

INSTANTIATE_TEST_SUITE_P(Tokenizer, FoldedValueTest, testing::ValuesIn(kFoldCases));

TEST(TokenizerTest, FoldedValueCountsOnlyWhatTheOutputTookSinceItStarted) {
  ScriptStream in("cdef\r\nX"), out("");
  out.out = "ab";
  out.outPos = 2;
  out.outLimit = 4;
  EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out.stream(), 1, 0), 2);
  EXPECT_EQ(out.Written(), "abcd");
  EXPECT_EQ(in.Rest(), "X");
}

// The soft-break step back must work on the stream the reader really uses,
// also across the buffer's growth.
TEST(TokenizerTest, SoftBreaksJoinInsideAGrowingMemBuf) {
  ScriptStream in("0123456789abcd=\r\nef=\r\ngh\r\nX");
  mz::CharStream* out = mz::MemBuf_create(16, 0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out, 1, 1), 18);
  EXPECT_EQ(std::string(mz::MemBuf_data(out), static_cast<size_t>(out->Size(out))),
            "0123456789abcdefgh");
  EXPECT_EQ(in.Rest(), "X");
  out->Close(out);
}

struct SkipCase {
  const char* what;
  std::string input;
  int unfold;
  int32_t result;
  std::string rest;
  size_t failAt = kNever;
  int32_t code = 0;
};

const SkipCase kSkipCases[] = {
    {"tab continuation with unfold", "abc\r\n\tmore\r\nX", 1, 0, "X"},
    {"continuation kept without unfold", "abc\r\n\tmore\r\nX", 0, 0, "\tmore\r\nX"},
    {"byte after a CR unexamined", "a\r\r\nb\r\nX", 1, 0, "X"},
    {"empty line stays", "a\r\n\r\nX", 1, 0, "\r\nX"},
    {"end of data", "abc", 1, 0, ""},
    {"line end at end of data", "abc\r\n", 1, 0, ""},
    {"hard in text", "ab", 1, -71, "b", 1, -71},
    {"other failure in text", "ab", 1, 0, "b", 1, -9},
    {"hard after CR", "a\r", 1, -5, "", 2, -5},
    {"hard after CR LF", "a\r\n", 1, -92, "", 3, -92},
};

class SkipLineTest : public testing::TestWithParam<SkipCase> {};

TEST_P(SkipLineTest, ConsumesTheLine) {
  const SkipCase& c = GetParam();
  ScriptStream s(c.input, c.failAt, c.code);
  EXPECT_EQ(mz::SkipLine(s.stream(), c.unfold), c.result);
  EXPECT_EQ(s.Rest(), c.rest);
}

INSTANTIATE_TEST_SUITE_P(Tokenizer, SkipLineTest, testing::ValuesIn(kSkipCases));

}  // namespace
