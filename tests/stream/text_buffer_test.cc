#include "stream/text_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

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

TEST(StringHelpersTest, CompareNoCaseIsZeroExactlyForTextsEqualIgnoringAsciiCase) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"DeLeGaTeD", "dElEgAtEd", true}, {"", "", true},   {"DELEGATE", "DELEGATED", false},
      {"DELEGATED", "DELEGATE", false}, {"", "A", false}, {"A-B", "A_B", false},
      {"\xc3\xa9", "\xc3\x89", false},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mz::CompareNoCase(c.a, c.b) == 0, c.equal) << c.a << " / " << c.b;
  }
}

TEST(StringHelpersTest, CopyBoundedCutsToOneLessThanTheSizeAndTerminates) {
  const struct {
    std::string source;
    int32_t size;
    int32_t copied;
  } cases[] = {
      {std::string(40, 's'), 32, 31}, {"hello", 32, 5}, {std::string(31, 's'), 32, 31},
      {std::string(32, 's'), 32, 31}, {"hello", 1, 0},  {"", 8, 0},
  };
  for (const auto& c : cases) {
    char destination[64];
    std::memset(destination, '#', sizeof destination);
    EXPECT_EQ(mz::CopyBounded(destination, c.source.c_str(), c.size), c.copied);
    EXPECT_EQ(std::string(destination), c.source.substr(0, c.copied));
    EXPECT_EQ(destination[c.copied + 1], '#') << "wrote past the terminator";
  }
}

TEST(StringHelpersTest, DecodeHexPairUpperCasesEachDigitItExamines) {
  const struct {
    const char* text;
    int result;
    unsigned char out;
    const char* after;
  } cases[] = {
      {"=4a", 1, 0x4A, "=4A"}, {"=09", 1, 0x09, "=09"}, {"=G1", 0, 0x5A, "=G1"},
      {"=1g", 0, 0x5A, "=1G"}, {"=a", 0, 0x5A, "=A"},
  };
  for (const auto& c : cases) {
    char text[4] = {};
    std::strcpy(text, c.text);
    unsigned char out = 0x5A;
    EXPECT_EQ(mz::DecodeHexPair(text, &out), c.result) << c.text;
    EXPECT_EQ(out, c.out) << c.text;
    EXPECT_STREQ(text, c.after);
  }
}

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
