#include "messages/message_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/emulator.h"

namespace mz {
namespace {

constexpr std::uint32_t kAddressBytes = 41;
constexpr unsigned char kCanary = 0xA5;

class MessageTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) saved_zone_ = zone;
    SetZone("UTC0");
  }
  void TearDown() override {
    emulator::ClearFaults();
    if (saved_zone_) {
      setenv("TZ", saved_zone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }

  static void SetZone(const char* zone) { setenv("TZ", zone, 1); }

  static std::string Time(std::uint64_t ticks) {
    FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    char text[kMessageTimeSize + 1];
    std::memset(text, kCanary, sizeof text);
    if (FormatMessageTime(&time, text) != 1) return "(failed)";
    EXPECT_EQ(static_cast<unsigned char>(text[kMessageTimeSize]), kCanary);
    return text;
  }

 private:
  std::optional<std::string> saved_zone_;
};

// --- Entry ids -------------------------------------------------------------

TEST_F(MessageTextTest, EntryIdOf31BytesGives62LowerCaseDigits) {
  BYTE id[31];
  for (int i = 0; i < 31; ++i) id[i] = static_cast<BYTE>(i * 9 + 0xA0);
  char hex[64];
  std::memset(hex, 'x', sizeof hex);
  ASSERT_EQ(EntryIdToHex(id, sizeof id, hex, sizeof hex), 1);
  std::string expected;
  for (BYTE b : id) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", b);
    expected += pair;
  }
  EXPECT_EQ(std::string(hex), expected);
  EXPECT_EQ(std::strlen(hex), 62u);
}

TEST_F(MessageTextTest, EntryIdThatDoesNotFitLeavesTheOutputUntouched) {
  struct Case {
    std::uint32_t count;
    std::uint32_t capacity;
    int result;
  };
  const Case cases[] = {
      {32, 64, 0},  // 2 * 32 + 1 = 65 > 64
      {31, 63, 0},  // the capacity must exceed 2 * count + 1
      {0, 64, 1},   // nothing to write
      {0, 1, 0},
  };
  const BYTE id[32] = {0x12};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " bytes into " << c.capacity);
    char hex[64];
    std::memset(hex, 'x', sizeof hex);
    EXPECT_EQ(EntryIdToHex(id, c.count, hex, c.capacity), c.result);
    EXPECT_EQ(std::string(hex, sizeof hex), std::string(64, 'x'));
  }
  char hex[64];
  EXPECT_EQ(EntryIdToHex(nullptr, 1, hex, sizeof hex), 0);
  EXPECT_EQ(EntryIdToHex(id, 1, nullptr, sizeof hex), 0);
}

TEST_F(MessageTextTest, HexTextReadsPairsInEitherCase) {
  struct Case {
    const char* text;
    std::uint32_t capacity;
    int result;
    std::vector<BYTE> bytes;  // the id read; on rejection what stays
  };
  const Case cases[] = {
      {"0aff10", 64, 1, {0x0A, 0xFF, 0x10}},
      {"0AFf10", 64, 1, {0x0A, 0xFF, 0x10}},
      {"zz7g", 64, 1, {0x00, 0x07}},  // a pair is its leading digits
      {"", 64, 1, {}},
      {"abc", 64, 0, {}},  // odd length
      {"0102", 1, 0, {}},  // too little room
      {"0102", 2, 1, {0x01, 0x02}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BYTE out[64];
    std::memset(out, kCanary, sizeof out);
    std::uint32_t length = c.capacity;
    EXPECT_EQ(HexToEntryId(c.text, out, &length), c.result);
    if (c.result == 0) {
      EXPECT_EQ(length, c.capacity);
      EXPECT_EQ(out[0], kCanary);
      continue;
    }
    ASSERT_EQ(length, c.bytes.size());
    EXPECT_EQ(std::vector<BYTE>(out, out + length), c.bytes);
    EXPECT_EQ(out[length], kCanary);
  }
  std::uint32_t length = 4;
  BYTE out[4];
  EXPECT_EQ(HexToEntryId(nullptr, out, &length), 0);
  EXPECT_EQ(HexToEntryId("00", nullptr, &length), 0);
  EXPECT_EQ(HexToEntryId("00", out, nullptr), 0);
}

// --- Addresses -------------------------------------------------------------

TEST_F(MessageTextTest, AddressesAreNormalisedToANumber) {
  struct Case {
    std::u16string sender;
    std::string before;  // what the output held
    std::string after;
  };
  const std::string digits50(50, '7');
  const Case cases[] = {
      {u"+15550100", "", "+15550100"},
      {u"12345", "", "12345"},
      {u"12 34", "stale", ""},  // the whole output is cleared
      {u"1-2", "", ""},
      {u"1+2", "", ""},  // '+' only first
      {u"+", "", "+"},
      {u"\"Ann Example\" <+15550100>", "", "+15550100"},
      {u"\"Ann\" <a<b>c>", "", "b>c"},  // last '<' and last '>'
      {u"\"Ann\" +15550100", "prior", "prior"},
      {u"\"Ann\" <>", "prior", "prior"},
      {u"\"Ann\" >1<", "prior", "prior"},
      {u"\"<caf\u00e9>", "", "caf\xe9"},  // the default ANSI code page
      {std::u16string(digits50.begin(), digits50.end()), "", std::string(40, '7')},
      {u"\"x\" <" + std::u16string(60, u'9') + u">", "", std::string(40, '9')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "sender of " << c.sender.size() << " units, now " << c.after);
    unsigned char out[kAddressBytes + 8] = {};
    std::memcpy(out, c.before.data(), c.before.size());
    std::memset(out + kAddressBytes, kCanary, 8);
    NormalizeAddress(c.sender.c_str(), reinterpret_cast<char*>(out), kAddressBytes);
    std::string expected = c.after;
    expected.resize(kAddressBytes, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), kAddressBytes), expected);
    EXPECT_EQ(out[kAddressBytes], kCanary);
  }
}

// --- Text ------------------------------------------------------------------

TEST_F(MessageTextTest, Utf8TextIsCutAtACharacterBoundary) {
  struct Case {
    std::u16string text;
    std::string expected;
  };
  const std::u16string a1020(1020, u'a');
  const Case cases[] = {
      {a1020 + u"\u20ac", std::string(1020, 'a') + "\xe2\x82\xac"},  // exactly 1023 bytes
      {a1020 + u"a\u20ac", std::string(1021, 'a')},                  // would straddle 1023
      {a1020 + u"aa\u20ac", std::string(1022, 'a')},
      {a1020 + u"\U0001F600", std::string(1020, 'a')},  // a pair is never split
      {a1020.substr(1) + u"\U0001F600", std::string(1019, 'a') + "\xf0\x9f\x98\x80"},
      {a1020 + u"\xD800", std::string(1020, 'a') + "\xef\xbf\xbd"},  // lone surrogate: U+FFFD
      {std::u16string(3000, u'\u00e9'),
       [] {
         std::string s;
         for (int i = 0; i < 511; ++i) s += "\xc3\xa9";
         return s;
       }()},
      {u"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text.size() << " units");
    std::vector<char> out(1024 + 8, static_cast<char>(kCanary));
    CopyUtf8(c.text.c_str(), out.data(), 1024);
    EXPECT_EQ(std::string(out.data()), c.expected);
    EXPECT_EQ(static_cast<unsigned char>(out[1024]), kCanary);
  }
}

TEST_F(MessageTextTest, AnsiTextIsCutAtTheFieldAndMarksMissingCharacters) {
  struct Case {
    std::u16string text;
    std::string expected;
  };
  const Case cases[] = {
      {u"caf\u00e9 \u20ac", "caf\xe9 \x80"},
      {u"x\U0001F600y\u4e2d", "x?y?"},  // a pair is one character
      {std::u16string(45, u'5'), std::string(40, '5')},
      {std::u16string(39, u'5') + u"\U0001F600", std::string(39, '5') + "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    char out[kAddressBytes + 1];
    std::memset(out, kCanary, sizeof out);
    CopyAnsi(c.text.c_str(), out, kAddressBytes);
    EXPECT_EQ(std::string(out), c.expected);
    EXPECT_EQ(static_cast<unsigned char>(out[kAddressBytes]), kCanary);
  }
}

TEST_F(MessageTextTest, TextThatCannotBeConvertedIsLeftEmpty) {
  char out[16];
  std::memset(out, 'x', sizeof out);
  CopyUtf8(nullptr, out, sizeof out);
  EXPECT_EQ(out[0], '\0');
  std::memset(out, 'x', sizeof out);
  emulator::InjectFault("WideCharToMultiByte", 1, ERROR_NOT_ENOUGH_MEMORY);
  CopyUtf8(u"hello", out, sizeof out);
  EXPECT_EQ(out[0], '\0');
  CopyUtf8(u"hello", out, 0);  // no room at all: nothing written
  EXPECT_EQ(out[1], 'x');
}

// --- Times -----------------------------------------------------------------

constexpr std::uint64_t k20120304_050607 = 129753111670000000;

TEST_F(MessageTextTest, TimeIsWrittenInLocalTime) {
  EXPECT_EQ(Time(k20120304_050607), "2012-03-04 05:06:07");
  SetZone("XST-3");
  EXPECT_EQ(Time(k20120304_050607), "2012-03-04 08:06:07");
  SetZone("YST11");
  EXPECT_EQ(Time(k20120304_050607), "2012-03-03 18:06:07");
}

TEST_F(MessageTextTest, YearOfFiveDigitsStillFitsTheField) {
  EXPECT_EQ(Time(0), "1601-01-01 00:00:00");
  // 1 January 30000: a fifth digit still fits the field.
  EXPECT_EQ(Time(8'961'858'144'000'000'000ull), "30000-01-01 00:00:00");
}

TEST_F(MessageTextTest, TimeThatCannotBeConvertedWritesNothing) {
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
