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

class TextBufferTest : public ::testing::Test {
 protected:
  void TearDown() override {
    mz::SetAllocationGate(nullptr);
    mz::TextBuffer_free(buffer_);
  }

  void Append(const std::string& bytes) {
    for (char c : bytes) mz::TextBuffer_appendChar(buffer_, static_cast<unsigned char>(c));
  }
  std::string Text() const { return std::string(buffer_->data, buffer_->length); }

  mz::TextBuffer* buffer_ = nullptr;
};

TEST_F(TextBufferTest, ABufferWithoutCapacityNeverHoldsAByte) {
  buffer_ = mz::TextBuffer_create(0);
  ASSERT_NE(buffer_, nullptr);
  EXPECT_EQ(buffer_->ownsData, 0);
  EXPECT_EQ(buffer_->growable, 0);
  EXPECT_EQ(mz::TextBuffer_appendChar(buffer_, 'a'), buffer_);
  mz::TextBuffer_clear(buffer_);
  EXPECT_EQ(buffer_->data, nullptr);
  EXPECT_EQ(buffer_->capacity, 0);
  EXPECT_EQ(buffer_->length, 0);
  EXPECT_EQ(buffer_->position, 0);
  EXPECT_EQ(mz::TextBuffer_reserve(buffer_, 1), mz::kStreamNoRoom);
}

// Sixteen bytes hold fifteen and a terminator; growth goes to the multiple
// of sixteen strictly above what must be held, not by doubling.
TEST_F(TextBufferTest, GrowsToTheMultipleOfSixteenAboveWhatItMustHoldAndClearKeepsTheRoom) {
  buffer_ = mz::TextBuffer_create(16);
  ASSERT_NE(buffer_, nullptr);
  EXPECT_STREQ(buffer_->data, "");
  Append("0123456789abcde");
  EXPECT_EQ(buffer_->capacity, 16);
  Append("f");
  EXPECT_EQ(buffer_->capacity, 32);
  EXPECT_STREQ(buffer_->data, "0123456789abcdef");
  EXPECT_EQ(buffer_->length, 16);
  EXPECT_EQ(buffer_->position, 16);
  Append(std::string(16, 'z'));
  EXPECT_EQ(buffer_->capacity, 48);
  EXPECT_EQ(Text(), "0123456789abcdef" + std::string(16, 'z'));
  EXPECT_EQ(mz::TextBuffer_reserve(buffer_, 100), 0);
  EXPECT_EQ(buffer_->capacity, 112);
  EXPECT_EQ(mz::TextBuffer_reserve(buffer_, 112), 0);
  EXPECT_EQ(buffer_->capacity, 112);
  EXPECT_EQ(mz::TextBuffer_reserve(buffer_, 113), 0);
  EXPECT_EQ(buffer_->capacity, 128);
  mz::TextBuffer_clear(buffer_);
  EXPECT_STREQ(buffer_->data, "");
  EXPECT_EQ(buffer_->length, 0);
  EXPECT_EQ(buffer_->capacity, 128);
}

TEST_F(TextBufferTest, AByteThatFindsNoMemoryIsDroppedAndTheTextKept) {
  buffer_ = mz::TextBuffer_create(4);
  ASSERT_NE(buffer_, nullptr);
  Append("abc");
  mz::SetAllocationGate([](std::size_t) { return false; });
  Append("d");
  EXPECT_EQ(mz::TextBuffer_reserve(buffer_, 10), mz::kStreamNoRoom);
  EXPECT_EQ(buffer_->capacity, 4);
  EXPECT_EQ(Text(), "abc");
  EXPECT_STREQ(buffer_->data, "abc");
}

TEST_F(TextBufferTest, CreateGivesNullWhenEitherAllocationFails) {
  for (int allowed : {0, 1}) {
    g_allowed = allowed;
    mz::SetAllocationGate(&AllowSome);
    EXPECT_EQ(mz::TextBuffer_create(16), nullptr) << allowed;
  }
}

// Each row of text_buffer.tsv: a comparison, a bounded copy or a hex pair.
class StringHelperCase : public ::testing::TestWithParam<CaseRow> {};

TEST_P(StringHelperCase, GivesTheExpectedResult) {
  const CaseRow& row = GetParam();
  if (row[0] == "compare") {
    EXPECT_EQ(mz::CompareNoCase(row[1].c_str(), row[2].c_str()) == 0, row.Int(3) == 1);
  } else if (row[0] == "copy") {
    char destination[64];
    std::memset(destination, '#', sizeof destination);
    const int32_t copied = row.Int(3);
    EXPECT_EQ(mz::CopyBounded(destination, row[1].c_str(), row.Int(2)), copied);
    EXPECT_EQ(std::string(destination), row[1].substr(0, copied));
    EXPECT_EQ(destination[copied + 1], '#') << "wrote past the terminator";
  } else {
    ASSERT_EQ(row[0], "hex");
    char text[4] = {};
    row[1].copy(text, 3);
    unsigned char out = 0x5A;
    EXPECT_EQ(mz::DecodeHexPair(text, &out), row.Int(2));
    EXPECT_EQ(out, row.Int(3));
    EXPECT_EQ(std::string(text), row[4]);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, StringHelperCase, ::testing::ValuesIn(ReadCases("text_buffer.tsv")),
                         LineName);

TEST(StringHelpersTest, IsAsciiTextRejectsAnyByteAbove127AndUpperCaseAsciiLeavesThem) {
  EXPECT_EQ(mz::IsAsciiText(""), 1);
  EXPECT_EQ(mz::IsAsciiText("N:Doe;John\x7f"), 1);
  EXPECT_EQ(mz::IsAsciiText("\xc3"), 0);
  EXPECT_EQ(mz::IsAsciiText("abc\x80"), 0);
  char text[] = "tel;type=cell:+1 \xc3\xa9{z}";
  mz::UpperCaseAscii(text);
  EXPECT_STREQ(text, "TEL;TYPE=CELL:+1 \xc3\xa9{Z}");
}

TEST(ConsoleTest, ConsolePrintfGivesTheLengthOfTheLineThatFits) {
  EXPECT_EQ(mz::ConsolePrintf("%s %d\n", "EXIT", 50), 8);
  EXPECT_EQ(mz::ConsolePrintf("%s", std::string(5000, 'x').c_str()), 4095);
}

}  // namespace
