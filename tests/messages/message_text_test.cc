#include "messages/message_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "case_file.h"
#include "platform/emulator.h"

namespace mz {
namespace {

constexpr std::uint32_t kAddressBytes = 41;
constexpr unsigned char kCanary = 0xA5;

// --- Entry ids -------------------------------------------------------------

TEST(MessageTextTest, EntryIdIsWrittenAsLowerCaseHexOnlyWhenItFitsWithItsTerminator) {
  BYTE id[32];
  for (int i = 0; i < 32; ++i) id[i] = static_cast<BYTE>(i * 9 + 0xA0);
  const std::string untouched(64, 'x');
  const struct {
    std::uint32_t count;
    std::uint32_t capacity;
    int result;
    std::string output;
  } cases[] = {
      {31, 64, 1, "a0a9b2bbc4cdd6dfe8f1fa030c151e273039424b545d666f78818a939ca5ae"},
      {32, 64, 0, untouched},  // 2 * 32 + 1 = 65 > 64
      {31, 63, 0, untouched},  // the capacity must exceed 2 * count + 1
      {0, 64, 1, untouched},   // nothing to write
      {0, 1, 0, untouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " bytes into " << c.capacity);
    char hex[64];
    std::memset(hex, 'x', sizeof hex);
    EXPECT_EQ(EntryIdToHex(id, c.count, hex, c.capacity), c.result);
    EXPECT_EQ(c.result == 1 && c.count > 0 ? std::string(hex) : std::string(hex, sizeof hex),
              c.output);
  }
  char hex[64];
  EXPECT_EQ(EntryIdToHex(nullptr, 1, hex, sizeof hex), 0);
  EXPECT_EQ(EntryIdToHex(id, 1, nullptr, sizeof hex), 0);
}

TEST(MessageTextTest, HexTextReadsPairsInEitherCase) {
  const struct {
    const char* text;
    std::uint32_t capacity;
    int result;
    std::vector<BYTE> bytes;  // the id read; on rejection what stays
  } cases[] = {
      {"0aFf10", 64, 1, {0x0A, 0xFF, 0x10}},
      {"zz7g", 64, 1, {0x00, 0x07}},  // a pair is its leading digits
      {"", 64, 1, {}},
      {"abc", 64, 0, {}},  // odd length
      {"0102", 1, 0, {}},  // too little room
      {"0102", 2, 1, {0x01, 0x02}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    BYTE out[64];
    std::memset(out, kCanary, sizeof out);
    std::uint32_t length = c.capacity;
    EXPECT_EQ(HexToEntryId(c.text, out, &length), c.result);
    EXPECT_EQ(length, c.result == 1 ? c.bytes.size() : c.capacity);
    EXPECT_EQ(std::vector<BYTE>(out, out + c.bytes.size()), c.bytes);
    EXPECT_EQ(out[c.bytes.size()], kCanary);
  }
  std::uint32_t length = 4;
  BYTE out[4];
  EXPECT_EQ(HexToEntryId(nullptr, out, &length), 0);
  EXPECT_EQ(HexToEntryId("00", nullptr, &length), 0);
  EXPECT_EQ(HexToEntryId("00", out, nullptr), 0);
}

// --- Addresses -------------------------------------------------------------

// Each row of message_text.tsv: a sender normalised to a number, or a time
// written as text.
class MessageTextCase : public testing::TestWithParam<CaseRow> {};

TEST_P(MessageTextCase, IsWrittenAsExpected) {
  const CaseRow& row = GetParam();
  if (row[0] == "address") {
    std::u16string sender;
    for (unsigned char byte : row[1]) sender += static_cast<char16_t>(byte);
    unsigned char out[kAddressBytes + 8] = {};
    std::memcpy(out, row[2].data(), row[2].size());
    std::memset(out + kAddressBytes, kCanary, 8);
    NormalizeAddress(sender.c_str(), reinterpret_cast<char*>(out), kAddressBytes);
    std::string expected = row[3];
    expected.resize(kAddressBytes, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), kAddressBytes), expected);
    EXPECT_EQ(out[kAddressBytes], kCanary);
    return;
  }
  ASSERT_EQ(row[0], "time");
  setenv("TZ", row[1].c_str(), 1);
  const std::uint64_t ticks = std::stoull(row[2]);
  const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  char text[kMessageTimeSize + 1];
  std::memset(text, kCanary, sizeof text);
  EXPECT_EQ(FormatMessageTime(&time, text), 1);
  EXPECT_STREQ(text, row[3].c_str());
  EXPECT_EQ(static_cast<unsigned char>(text[kMessageTimeSize]), kCanary);
}

INSTANTIATE_TEST_SUITE_P(Table, MessageTextCase, testing::ValuesIn(ReadCases("message_text.tsv")),
                         LineName);

// --- Text ------------------------------------------------------------------

TEST(MessageTextTest, TextIsCutAtACharacterBoundaryInUtf8AndAtTheFieldInAnsi) {
  const std::u16string a1020(1020, u'a');
  std::string e511;
  for (int i = 0; i < 511; ++i) e511 += "\xc3\xa9";
  const struct {
    std::u16string text;
    std::string expected;
    std::uint32_t capacity;
  } cases[] = {
      {a1020 + u"\u20ac", std::string(1020, 'a') + "\xe2\x82\xac", 1024},  // exactly 1023 bytes
      {a1020 + u"a\u20ac", std::string(1021, 'a'), 1024},                  // would straddle 1023
      {a1020 + u"\U0001F600", std::string(1020, 'a'), 1024},               // a pair is never split
      {a1020.substr(1) + u"\U0001F600", std::string(1019, 'a') + "\xf0\x9f\x98\x80", 1024},
      {a1020 + u"\xD800", std::string(1020, 'a') + "\xef\xbf\xbd", 1024},  // lone: U+FFFD
      {std::u16string(3000, u'\u00e9'), e511, 1024},
      {u"", "", 1024},
      // ANSI, in a field of 41 bytes; a pair is one character.
      {u"caf\u00e9 \u20ac", "caf\xe9 \x80", kAddressBytes},
      {u"x\U0001F600y\u4e2d", "x?y?", kAddressBytes},
      {std::u16string(45, u'5'), std::string(40, '5'), kAddressBytes},
      {std::u16string(39, u'5') + u"\U0001F600", std::string(39, '5') + "?", kAddressBytes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text.size() << " units into " << c.capacity);
    std::vector<char> out(c.capacity + 8, static_cast<char>(kCanary));
    (c.capacity == kAddressBytes ? CopyAnsi : CopyUtf8)(c.text.c_str(), out.data(), c.capacity);
    EXPECT_EQ(std::string(out.data()), c.expected);
    EXPECT_EQ(static_cast<unsigned char>(out[c.capacity]), kCanary);
  }
}

TEST(MessageTextTest, TextThatCannotBeConvertedIsLeftEmpty) {
  char out[16];
  std::memset(out, 'x', sizeof out);
  CopyUtf8(nullptr, out, sizeof out);
  EXPECT_EQ(out[0], '\0');
  std::memset(out, 'x', sizeof out);
  emulator::InjectFault("WideCharToMultiByte", 1, ERROR_NOT_ENOUGH_MEMORY);
  CopyUtf8(u"hello", out, sizeof out);
  emulator::ClearFaults();
  EXPECT_EQ(out[0], '\0');
  CopyUtf8(u"hello", out, 0);  // no room at all: nothing written
  EXPECT_EQ(out[1], 'x');
}

// --- Times -----------------------------------------------------------------

TEST(MessageTextTest, TimeThatCannotBeConvertedWritesNothing) {
  const FILETIME time{1, 0};
  char text[kMessageTimeSize];
  for (const char* point : {"FileTimeToLocalFileTime", "FileTimeToSystemTime"}) {
    SCOPED_TRACE(point);
    std::memset(text, 'x', sizeof text);
    emulator::InjectFault(point, 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageTime(&time, text), 0);
    EXPECT_EQ(text[0], 'x');
    emulator::ClearFaults();
  }
  EXPECT_EQ(FormatMessageTime(nullptr, text), 0);
  EXPECT_EQ(FormatMessageTime(&time, nullptr), 0);
}

}  // namespace
}  // namespace mz
