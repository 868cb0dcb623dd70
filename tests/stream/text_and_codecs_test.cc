// The text buffer, the string helpers and the console (text_buffer.tsv),
// then the codecs (codecs.tsv).
#include "stream/codecs.h"
#include "stream/text_buffer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/memory.h"
#include "case_file.h"
#include "platform/emulator.h"
#include "platform/types.h"
#include "stream/char_stream.h"
#include "stream/console.h"

namespace {

int g_allowed = 0;

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

INSTANTIATE_TEST_SUITE_P(Table, StringHelperCase, Cases("text_buffer.tsv"), LineName);

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
    mz::SetAllocationGate([](std::size_t) { return g_allowed-- > 0; });
    EXPECT_EQ(mz::TextBuffer_create(16), nullptr) << allowed;
  }
  mz::SetAllocationGate(nullptr);
  mz::TextBuffer_free(buffer);
}

TEST(ConsoleTest, ConsolePrintfGivesTheLengthOfTheLineThatFits) {
  EXPECT_EQ(mz::ConsolePrintf("%s %d\n", "EXIT", 50), 8);
  EXPECT_EQ(mz::ConsolePrintf("%s", std::string(5000, 'x').c_str()), 4095);
}

constexpr char kCanary = '\x5A';

// Runs `convert` into an output of `size` bytes followed by a canary, checks
// the terminator after the produced bytes and the canary, and returns them.
// `unit` is 2 for UCS-2 output (size and result in units).
template <typename Convert>
std::string Into(int32_t size, Convert convert, int32_t unit = 1) {
  std::vector<char> out(unit * (size + 1), kCanary);
  const int32_t n = convert(out.data(), size);
  EXPECT_GE(n, 0);
  EXPECT_LT(n, size > 0 ? size : 1);
  if (size > 0) {
    EXPECT_EQ(std::string(out.data() + unit * n, unit), std::string(unit, '\0'));
  }
  EXPECT_EQ(std::string(out.data() + unit * size, unit), std::string(unit, kCanary));
  return std::string(out.data(), n < 0 ? 0 : unit * n);
}

// The codec named by the row's first field over its input; the kinds that
// report a result beside their output check it here.
std::string Convert(const CaseRow& row) {
  const std::string& kind = row[0];
  std::string in = row[1];
  const int32_t size = row.Int(2);
  const int32_t units = row.Has(4) ? row.Int(4) : static_cast<int32_t>(in.size() / 2);
  if (kind == "quad") {
    char out[4] = {kCanary, kCanary, kCanary, kCanary};
    EXPECT_EQ(mz::Base64DecodeQuad(in.c_str(), out), row.Int(4));
    EXPECT_EQ(out[3], kCanary);
    return std::string(out, 3);
  }
  if (kind == "b64text") {
    std::vector<char> out(in.size() + 1, kCanary);
    int32_t length = size, inPlace = size;
    const int32_t n = mz::Base64DecodeText(in.data(), &length, out.data());
    EXPECT_EQ(length, row.Int(4));
    const int32_t m = mz::Base64DecodeText(in.data(), &inPlace, in.data());  // the same
    EXPECT_EQ(in.substr(0, m), std::string(out.data(), n));
    return std::string(out.data(), n);
  }
  if (kind == "in-place") {
    EXPECT_EQ(mz::Utf8ToLocal(in.data(), in.data(), size), row.Int(4));
    return in.c_str();
  }
  if (kind == "b64bounded") {
    std::vector<char> out(size + 1, kCanary);
    const int32_t n =
        mz::Base64DecodeBounded(in.data(), static_cast<int32_t>(in.size()), out.data(), size);
    EXPECT_EQ(out[size - 1], kCanary) << "the last byte stays free";
    return std::string(out.data(), n);
  }
  // A block of exactly the text's size, so that a read past the terminator
  // leaves it; each converter with the size of its output unit.
  std::vector<char> text(in.begin(), in.end());
  text.push_back('\0');
  const char* t = text.data();
  using Fn = std::function<int32_t(char*, int32_t)>;
  const std::map<std::string, std::pair<Fn, int32_t>> converters = {
      {"utf7", {[&](char* o, int32_t c) { return mz::Utf7ToUtf8(t, o, c); }, 1}},
      {"local-to-utf8", {[&](char* o, int32_t c) { return mz::LocalToUtf8(t, o, c); }, 1}},
      {"utf8-to-local", {[&](char* o, int32_t c) { return mz::Utf8ToLocal(t, o, c); }, 1}},
      {"to-ucs2", {[&](char* o, int32_t c) { return mz::Utf8ToUcs2Be(t, o, c); }, 2}},
      {"local-to-wide", {[&](char* o, int32_t c) { return mz::LocalToWide(t, o, c); }, 2}},
      {"from-ucs2", {[&](char* o, int32_t c) { return mz::Ucs2BeToUtf8(t, units, o, c); }, 1}},
      {"wide-to-local", {[&](char* o, int32_t c) { return mz::WideToLocal(t, units, o, c); }, 1}}};
  const auto& [convert, unit] = converters.at(kind);  // throws for an unknown kind
  return Into(size, convert, unit);
}

// Each row of codecs.tsv: the output bytes, and for quad, b64text and
// in-place the result they report.
class CodecCase : public ::testing::TestWithParam<CaseRow> {};

TEST_P(CodecCase, GivesTheExpectedBytes) {
  EXPECT_EQ(Convert(GetParam()), GetParam()[3]);
}

INSTANTIATE_TEST_SUITE_P(Table, CodecCase, Cases("codecs.tsv"), LineName);

TEST(CodecsTest, FailedPlatformConversionsOrNoMemoryLeaveEmptyTextButCopyAscii) {
  char out[16], wide[32];
  const char e[] = "\x00\xE9";
  for (bool platformFails : {true, false}) {
    SCOPED_TRACE(platformFails ? "platform fails" : "no memory");
    if (platformFails) {
      emulator::InjectFault("MultiByteToWideChar", 1, ERROR_NOT_ENOUGH_MEMORY, true);
      emulator::InjectFault("WideCharToMultiByte", 1, ERROR_NOT_ENOUGH_MEMORY, true);
      EXPECT_EQ(mz::LocalToWide("\xE9", wide, 16), mz::kCodecConversionFailed);
      EXPECT_EQ(std::string(wide, 2), std::string(2, '\0'));
      EXPECT_EQ(mz::WideToLocal(e, 1, out, sizeof out), mz::kCodecConversionFailed);
      EXPECT_EQ(out[0], '\0');
    } else {
      emulator::ClearFaults();
      mz::SetAllocationGate([](std::size_t) { return false; });
      // UTF-7 stops at the first run that needs its scratch buffer.
      EXPECT_EQ(mz::Utf7ToUtf8("a+-b+Jjo-b", out, sizeof out), 3);
      EXPECT_STREQ(out, "a+b");
    }
    std::memset(out, kCanary, sizeof out);
    EXPECT_EQ(mz::LocalToUtf8("caf\xE9", out, sizeof out), 0);
    EXPECT_EQ(out[0], '\0');
    std::memset(out, kCanary, sizeof out);
    EXPECT_EQ(mz::Utf8ToLocal("caf\xC3\xA9", out, sizeof out), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(mz::LocalToUtf8("ascii", out, sizeof out), 5);
    EXPECT_EQ(mz::Utf8ToLocal("ascii", out, sizeof out), 5);
    EXPECT_STREQ(out, "ascii");
  }
  mz::SetAllocationGate(nullptr);
}

// Without room for the output (a capacity of 0 is in codecs.tsv) or without
// an input or output, nothing is written.
TEST(CodecsTest, NoOutputRoomOrNoBufferMeansNothingWritten) {
  char out[2] = {kCanary, kCanary};
  EXPECT_EQ(mz::LocalToUtf8("\xE9", out, -1), 0);
  EXPECT_EQ(out[0], kCanary);
  EXPECT_EQ(mz::Utf8ToUcs2Be("abc", nullptr, 4), 0);
  EXPECT_EQ(mz::LocalToUtf8(nullptr, out, 2), 0);
  EXPECT_EQ(out[0], '\0');
}

}  // namespace
