#include "stream/text_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "case_file.h"
#include "frame/memory.h"
#include "stream/char_stream.h"
#include "stream/console.h"

namespace {

int g_allowed = 0;
bool AllowSome(std::size_t) {
  return g_allowed-- > 0;
}

// Each row of text_buffer.tsv: a text buffer's growth, a comparison, a
// bounded copy, a hex pair, an ASCII test or upper-casing, or an error code.
class StringHelperCase : public ::testing::TestWithParam<CaseRow> {};

TEST_P(StringHelperCase, GivesTheExpectedResult) {
  const CaseRow& row = GetParam();
  if (row[0] == "buffer") {
    mz::TextBuffer* buffer = mz::TextBuffer_create(row.Int(1));
    ASSERT_NE(buffer, nullptr);
    for (char c : row[2]) EXPECT_EQ(mz::TextBuffer_appendChar(buffer, c), buffer);
    EXPECT_EQ(mz::TextBuffer_reserve(buffer, row.Int(3)), row.Int(4));
    EXPECT_EQ(buffer->capacity, row.Int(5));
    const std::string text = buffer->data == nullptr ? "(null)" : buffer->data;
    EXPECT_EQ(text, row[6]);
    EXPECT_EQ(buffer->length, buffer->data == nullptr ? 0 : static_cast<int32_t>(text.size()));
    mz::TextBuffer_clear(buffer);
    EXPECT_EQ(buffer->length + buffer->position + (buffer->data ? buffer->data[0] : 0), 0);
    EXPECT_EQ(buffer->capacity, row.Int(5)) << "clearing keeps the room";
    mz::TextBuffer_free(buffer);
  } else if (row[0] == "compare") {
    EXPECT_EQ(mz::CompareNoCase(row[1].c_str(), row[2].c_str()) == 0, row.Int(3) == 1);
  } else if (row[0] == "copy") {
    char destination[64];
    std::memset(destination, '#', sizeof destination);
    const int32_t copied = row.Int(3);
    EXPECT_EQ(mz::CopyBounded(destination, row[1].c_str(), row.Int(2)), copied);
    EXPECT_EQ(std::string(destination), row[1].substr(0, copied));
    EXPECT_EQ(destination[copied + 1], '#') << "wrote past the terminator";
  } else if (row[0] == "hex") {
    char text[4] = {};
    row[1].copy(text, 3);
    unsigned char out = 0x5A;
    EXPECT_EQ(mz::DecodeHexPair(text, &out), row.Int(2));
    EXPECT_EQ(out, row.Int(3));
    EXPECT_EQ(std::string(text), row[4]);
  } else if (row[0] == "ascii") {
    EXPECT_EQ(mz::IsAsciiText(row[1].c_str()), row.Int(2));
  } else if (row[0] == "upper") {
    std::string text = row[1];
    mz::UpperCaseAscii(text.data());
    EXPECT_EQ(text, row[2]);
  } else {
    ASSERT_EQ(row[0], "hard");
    EXPECT_EQ(mz::IsHardError(row.Int(1)), row.Int(2));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StringHelperCase, ::testing::ValuesIn(ReadCases("text_buffer.tsv")),
                         LineName);

TEST(TextBufferTest, AByteThatFindsNoMemoryIsDroppedAndTheTextKept) {
  mz::TextBuffer* buffer = mz::TextBuffer_create(4);
  ASSERT_NE(buffer, nullptr);
  mz::TextBuffer_appendChar(buffer, 'a');
  mz::SetAllocationGate([](std::size_t) { return false; });
  for (char c : std::string("bcd")) mz::TextBuffer_appendChar(buffer, c);
  EXPECT_EQ(mz::TextBuffer_reserve(buffer, 10), mz::kStreamNoRoom);
  EXPECT_EQ(buffer->capacity, 4);
  EXPECT_EQ(buffer->length, 3);
  EXPECT_STREQ(buffer->data, "abc");
  for (int allowed : {0, 1}) {  // the buffer itself, or its data
    g_allowed = allowed;
    mz::SetAllocationGate(&AllowSome);
    EXPECT_EQ(mz::TextBuffer_create(16), nullptr) << allowed;
  }
  mz::SetAllocationGate(nullptr);
  mz::TextBuffer_free(buffer);
}

TEST(ConsoleTest, ConsolePrintfGivesTheLengthOfTheLineThatFits) {
  EXPECT_EQ(mz::ConsolePrintf("%s %d\n", "EXIT", 50), 8);
  EXPECT_EQ(mz::ConsolePrintf("%s", std::string(5000, 'x').c_str()), 4095);
}

}  // namespace
