// The tokenizer and the property head reader over scripted input.
#include "vobject/tokenizer.h"

#include <gtest/gtest.h>

#include <string>

#include "case_file.h"
#include "scripted_stream.h"
#include "stream/mem_buf.h"
#include "vobject/properties.h"

namespace {

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

// The stream of a row whose input fails at field `at` (position, then code).
ScriptStream Input(const CaseRow& row, std::size_t at) {
  if (!row.Has(at)) return ScriptStream(row[1]);
  return ScriptStream(row[1], static_cast<size_t>(row.Int(at)), row.Int(at + 1));
}

const char* Set(const std::string& field) {
  return field == "(null)" ? nullptr : field.c_str();
}

// Each row of tokenizer.tsv: tokens cut, a value unfolded or a line skipped.
class TokenizerCase : public testing::TestWithParam<CaseRow> {};

TEST_P(TokenizerCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  if (row[0] == "token") {
    ScriptStream s = Input(row, 6);
    EXPECT_EQ(Tokens([&](mz::TextBuffer* b) {
                return mz::ReadToken(s.stream(), b, Set(row[2]), Set(row[3]), row.Int(4));
              }),
              row[5]);
  } else if (row[0] == "fold") {  // into the MemBuf the reader uses, grown past 16 bytes
    ScriptStream in = Input(row, 7);
    mz::CharStream* out = mz::MemBuf_create(16, 0);
    EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out, row.Int(2), row.Int(3)), row.Int(4));
    EXPECT_EQ(std::string(mz::MemBuf_data(out), static_cast<size_t>(out->Tell(out))), row[5]);
    EXPECT_EQ(in.Rest(), row[6]);
    out->Close(out);
  } else {
    ASSERT_EQ(row[0], "skip");
    ScriptStream s = Input(row, 5);
    EXPECT_EQ(mz::SkipLine(s.stream(), row.Int(2)), row.Int(3));
    EXPECT_EQ(s.Rest(), row[4]);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TokenizerCase, testing::ValuesIn(ReadCases("tokenizer.tsv")),
                         LineName);

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

TEST(TokenizerTest, FoldedValueCountsOnlyWhatTheOutputTookSinceItStarted) {
  ScriptStream in("cdef\r\nX");
  mz::CharStream* out = mz::MemBuf_create(5, 0);  // fixed: four bytes and a terminator
  mz::MemBuf_fixSize(out);
  ASSERT_EQ(out->Write(out, "ab", 2), 2);
  EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out, 1, 0), 2);
  EXPECT_EQ(std::string(mz::MemBuf_data(out), static_cast<size_t>(out->Size(out))), "abcd");
  EXPECT_EQ(in.Rest(), "X");
  out->Close(out);
}

// The reader's per-line scratch buffer.
struct Scratch {
  mz::TextBuffer* buffer = mz::TextBuffer_create(64);
  ~Scratch() { mz::TextBuffer_free(buffer); }
};

// Each row of properties.tsv: a property name or a parameter list read.
class PropertyHeadCase : public testing::TestWithParam<CaseRow> {};

TEST_P(PropertyHeadCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  const bool name = row[0] == "name";
  ScriptStream s = Input(row, name ? 7 : 5);
  Scratch scratch;
  if (name) {
    mz::PropertyName property{};
    mz::ValueKind kind = 99;
    EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, scratch.buffer, &kind), row.Int(2));
    EXPECT_EQ(property.id, static_cast<uint32_t>(row.Int(3)));
    EXPECT_EQ(std::string(property.name), row[4]);
    EXPECT_EQ(kind, row.Int(5));
    EXPECT_EQ(s.Rest(), row[6]);
    return;
  }
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadParameters(s.stream(), &list, scratch.buffer), row.Int(2));
  std::string used;
  for (const mz::ParamSlot& slot : list.slots) {
    EXPECT_EQ(slot.text[0], '\0');
    if (slot.group == 0) continue;
    used += (used.empty() ? "" : "|") + std::to_string(slot.group) + "/" +
            std::to_string(slot.value) + "/" + slot.name;
  }
  EXPECT_EQ(used, row[3]);
  EXPECT_EQ(s.Rest(), row[4]);
}

INSTANTIATE_TEST_SUITE_P(Table, PropertyHeadCase, testing::ValuesIn(ReadCases("properties.tsv")),
                         LineName);

// FindParam and HasParam are read through every parameter of the reader
// golden files (tel-types, adr-types, type-stays-once-set).
TEST(PropertiesTest, NullArgumentsAreRefused) {
  ScriptStream s("NOTE:x");
  Scratch scratch;
  mz::PropertyName property{};
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, nullptr, nullptr),
            mz::kStreamInvalidArgument);
  EXPECT_EQ(mz::ReadParameters(nullptr, &list, scratch.buffer), mz::kStreamInvalidArgument);
  EXPECT_EQ(s.Rest(), "NOTE:x");
}

}  // namespace
