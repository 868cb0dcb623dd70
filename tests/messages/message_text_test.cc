#include "messages/message_text.h"

#include <gtest/gtest.h>

#include <cstdio>
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

TEST(MessageTextTest, NullIdsOrOutputsAreRefused) {
  BYTE id[4] = {};
  char hex[64];
  std::uint32_t length = 4;
  EXPECT_EQ(EntryIdToHex(nullptr, 1, hex, sizeof hex), 0);
  EXPECT_EQ(EntryIdToHex(id, 1, nullptr, sizeof hex), 0);
  EXPECT_EQ(HexToEntryId(nullptr, id, &length), 0);
  EXPECT_EQ(HexToEntryId("00", nullptr, &length), 0);
  EXPECT_EQ(HexToEntryId("00", id, nullptr), 0);
}

// --- Addresses -------------------------------------------------------------

// Each row of message_text.tsv: a sender normalised to a number, a time
// written as text, or an entry id to hex and back.
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
  if (row[0] == "entryid") {
    BYTE id[32];
    for (int i = 0; i < 32; ++i) id[i] = static_cast<BYTE>(i * 9 + 0xA0);
    char hex[65] = {};
    std::memset(hex, 'x', 64);
    EXPECT_EQ(EntryIdToHex(id, row.Int(1), hex, row.Int(2)), row.Int(3));
    EXPECT_EQ(std::string(hex), row[4] == "-" ? std::string(64, 'x') : row[4]);
    return;
  }
  if (row[0] == "hexid") {
    BYTE out[64];
    std::memset(out, kCanary, sizeof out);
    std::uint32_t length = row.Int(2);
    EXPECT_EQ(HexToEntryId(row[1].c_str(), out, &length), row.Int(3));
    const std::size_t count = row.Has(4) ? row[4].size() / 2 : 0;
    EXPECT_EQ(length, row.Int(3) == 1 ? count : row.Int(2));
    std::string got;
    char pair[3];
    for (std::size_t i = 0; i < count; ++i) got += (std::snprintf(pair, 3, "%02x", out[i]), pair);
    EXPECT_EQ(got, row.Has(4) ? row[4] : "");
    EXPECT_EQ(out[count], kCanary);
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
