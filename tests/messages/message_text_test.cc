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

// UTF-8 bytes as UTF-16 units; the three-byte form of a surrogate gives it
// alone.
std::u16string Units(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? lead : lead & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) c = c << 6 | (bytes[i + k] & 0x3F);
    i += n;
    if (c > 0xFFFF) {  // a pair
      units += static_cast<char16_t>(0xD7C0 + (c >> 10));
      c = 0xDC00 | (c & 0x3FF);
    }
    units += static_cast<char16_t>(c);
  }
  return units;
}

// --- Entry ids -------------------------------------------------------------

// --- Addresses -------------------------------------------------------------

// Each row of message_text.tsv: a sender normalised to a number, text cut
// to a field, a time written as text, or an entry id to hex and back.
class MessageTextCase : public testing::TestWithParam<CaseRow> {};

TEST_P(MessageTextCase, IsWrittenAsExpected) {
  const CaseRow& row = GetParam();
  if (row[0] == "address") {
    const std::u16string sender = Units(row[1]);
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
  if (row[0] == "utf8" || row[0] == "ansi") {
    std::vector<char> out(row.Int(2) + 8, static_cast<char>(kCanary));
    (row[0] == "utf8" ? CopyUtf8 : CopyAnsi)(Units(row[1]).c_str(), out.data(), row.Int(2));
    EXPECT_EQ(std::string(out.data()), row[3]);
    EXPECT_EQ(static_cast<unsigned char>(out[row.Int(2)]), kCanary);
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

// Null ids, texts, times or outputs are refused; text the platform cannot
// convert is left empty, a time it cannot convert writes nothing.
TEST(MessageTextTest, NullArgumentsAndFailedConversionsWriteNothing) {
  BYTE id[4] = {};
  char out[kMessageTimeSize];
  std::uint32_t length = 4;
  EXPECT_EQ(EntryIdToHex(nullptr, 1, out, sizeof out), 0);
  EXPECT_EQ(EntryIdToHex(id, 1, nullptr, sizeof out), 0);
  EXPECT_EQ(HexToEntryId(nullptr, id, &length), 0);
  EXPECT_EQ(HexToEntryId("00", nullptr, &length), 0);
  EXPECT_EQ(HexToEntryId("00", id, nullptr), 0);
  const FILETIME time{1, 0};
  EXPECT_EQ(FormatMessageTime(nullptr, out), 0);
  EXPECT_EQ(FormatMessageTime(&time, nullptr), 0);
  std::memset(out, 'x', sizeof out);
  CopyUtf8(u"hello", out, 0);
  EXPECT_EQ(out[0], 'x') << "no room at all";
  for (const char* point : {"FileTimeToLocalFileTime", "FileTimeToSystemTime"}) {
    emulator::InjectFault(point, 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageTime(&time, out), 0) << point;
    EXPECT_EQ(out[0], 'x') << point;
    emulator::ClearFaults();
  }
  CopyUtf8(nullptr, out, sizeof out);
  EXPECT_EQ(out[0], '\0');
  std::memset(out, 'x', sizeof out);
  emulator::InjectFault("WideCharToMultiByte", 1, ERROR_NOT_ENOUGH_MEMORY);
  CopyUtf8(u"hello", out, sizeof out);
  emulator::ClearFaults();
  EXPECT_EQ(out[0], '\0');
}

}  // namespace
}  // namespace mz
