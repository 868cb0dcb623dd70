#include "stream/codecs.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame/memory.h"
#include "platform/emulator.h"
#include "platform/types.h"

namespace {

constexpr char kCanary = '\x5A';

// Big-endian UCS-2 bytes of `units`.
std::string Ucs2(const std::vector<unsigned>& units) {
  std::string bytes;
  for (unsigned u : units) {
    bytes += static_cast<char>(u >> 8);
    bytes += static_cast<char>(u & 0xFF);
  }
  return bytes;
}

// A zero-terminated copy in a block of exactly its size, so that a read past
// the terminator leaves the block.
std::vector<char> Exact(const std::string& text) {
  std::vector<char> block(text.begin(), text.end());
  block.push_back('\0');
  return block;
}

// Runs `convert` into an output of `capacity` bytes followed by a canary,
// checks the terminator at the returned length and the canary, and returns
// the produced bytes.
template <typename Convert>
std::string Into(int32_t capacity, Convert convert) {
  std::vector<char> out(capacity + 1, kCanary);
  const int32_t n = convert(out.data(), capacity);
  EXPECT_GE(n, 0);
  EXPECT_LT(n, capacity > 0 ? capacity : 1);
  if (capacity > 0) {
    EXPECT_EQ(out[n], '\0');
  }
  EXPECT_EQ(out[capacity], kCanary);
  return std::string(out.data(), n < 0 ? 0 : n);
}

bool Refuse(std::size_t) {
  return false;
}

class CodecsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    mz::SetAllocationGate(nullptr);
    emulator::ClearFaults();
  }
};

TEST_F(CodecsTest, QuadCountsPaddingWhereverItStandsAndRejectsForeignCharacters) {
  const std::string untouched(3, kCanary);  // a refused group writes nothing
  const struct {
    const char* group;
    int32_t result;
    std::string bytes;
  } cases[] = {{"TWFu", 3, "Man"},
               {"TWE=", 2, std::string("Ma\0", 3)},
               {"TQ==", 1, std::string("M\0\0", 3)},
               {"T===", 0, untouched},
               {"TW u", 0, untouched},
               {"TW-u", 0, untouched},
               {"T=Fu", 2, std::string("L\x01n", 3)},
               {"+/+/", 3, "\xFB\xFF\xBF"},
               {"AAAA", 3, std::string(3, '\0')}};
  for (const auto& c : cases) {
    char out[4] = {kCanary, kCanary, kCanary, kCanary};
    EXPECT_EQ(mz::Base64DecodeQuad(c.group, out), c.result) << c.group;
    EXPECT_EQ(std::string(out, 3), c.bytes) << c.group;  // all three, padded or not
    EXPECT_EQ(out[3], kCanary);
  }
}

TEST_F(CodecsTest, TextSkipsLineBreaksDropsBadGroupsAndGivesBackAnUnfinishedGroup) {
  const struct {
    std::string in;
    int32_t length;
    std::string bytes;
    int32_t lengthAfter;
  } cases[] = {{"TWFu\r\nTWE=", 10, "ManMa", 10},
               {"TWFuTQ", 6, "Man", 4},
               {"TW\nFu", 5, "Man", 5},
               {"TWFu!!!!TWFu", 12, "ManMan", 12},
               {"TW Fu", 5, "", 4},
               {"TWFuTWFu", 4, "Man", 4},  // nothing past the length
               {"TWFu", -3, "", -3},
               {"\r\n\r\n", 4, "", 4}};
  for (const auto& c : cases) {
    std::vector<char> in(c.in.begin(), c.in.end());
    std::vector<char> out(in.size(), kCanary);
    int32_t length = c.length;
    const int32_t n = mz::Base64DecodeText(in.data(), &length, out.data());
    EXPECT_EQ(std::string(out.data(), n), c.bytes) << c.in;
    EXPECT_EQ(length, c.lengthAfter) << c.in;
    length = c.length;  // the same in place
    const int32_t m = mz::Base64DecodeText(in.data(), &length, in.data());
    EXPECT_EQ(std::string(in.data(), m), c.bytes) << c.in;
  }
}

TEST_F(CodecsTest, BoundedDecodingPadsTheLastGroupAndKeepsThreeBytesBelowTheCapacity) {
  const struct {
    std::string in;
    int32_t capacity;
    std::string bytes;
  } cases[] = {{"T", 16, ""},  // one leftover character pads to "T===": nothing
               {"TW", 16, "M"},         {"TWE", 16, "Ma"},
               {"TW\r\nFu", 16, "Man"}, {"TWFuTWFu", 7, "ManMan"},
               {"TWFuTWFu", 6, "Man"},  {"TWFuTWE", 6, "Man"},
               {"TWFu", 3, ""},         {"", 16, ""}};
  for (const auto& c : cases) {
    std::vector<char> in(c.in.begin(), c.in.end());
    std::vector<char> out(c.capacity + 1, kCanary);
    const int32_t n =
        mz::Base64DecodeBounded(in.data(), static_cast<int32_t>(in.size()), out.data(), c.capacity);
    EXPECT_EQ(std::string(out.data(), n), c.bytes) << c.in << " in " << c.capacity;
    EXPECT_EQ(out[c.capacity - 1], kCanary) << "the last byte stays free";
  }
}

TEST_F(CodecsTest, Utf8BecomesBigEndianUnitsWithQuestionMarksForWhatUcs2CannotHold) {
  const struct {
    std::string in;
    std::vector<unsigned> units;
    int32_t capacity = 0;  // in units; 0 for plenty
  } cases[] = {{"", {}},
               {"Az", {'A', 'z'}},
               {"\xF0\x9F\x98\x80!", {'?', '!'}},
               {"\xF8\x88\x80\x80\x80!", {'?', '!'}},
               {"\x80\x61\x62\x63\xC3\xA9", {'?', 0xE9}},  // "\x80abc"
               {"\xFF\xFE\x61\x62", {'?', '?'}},           // 0xFE is a lead byte of its own
               {"\xC3\x41", {0xC1}},                       // continuation bytes are not checked
               // Cut short by the end of the text: one "?", nothing read beyond.
               {"a\xC3", {'a', '?'}},
               {"a\xE4\xB8", {'a', '?'}},
               {"a\xF0\x9F\x98", {'a', '?'}},
               // One unit stays for the terminator.
               {"a\xC3\xA9\xE4\xB8\xAD", {'a', 0xE9, 0x4E2D}, 4},
               {"a\xC3\xA9\xE4\xB8\xAD", {'a', 0xE9}, 3},
               {"a\xC3\xA9\xE4\xB8\xAD", {}, 1}};
  for (const auto& c : cases) {
    const std::vector<char> in = Exact(c.in);
    const int32_t capacity = c.capacity > 0 ? c.capacity : 16;
    std::vector<char> out(2 * capacity + 2, kCanary);
    const int32_t n = mz::Utf8ToUcs2Be(in.data(), out.data(), capacity);
    EXPECT_EQ(std::string(out.data(), 2 * n), Ucs2(c.units)) << c.in;
    EXPECT_EQ(std::string(out.data() + 2 * n, 2), std::string(2, '\0')) << c.in;
    EXPECT_EQ(std::string(out.data() + 2 * capacity, 2), std::string(2, kCanary)) << c.in;
  }
}

TEST_F(CodecsTest, UnitsBecomeUtf8AndNeverSplitASequenceAtTheCapacity) {
  const std::vector<unsigned> mixed = {0x41, 0xE9, 0x100, 0x7FF, 0x800, 0x4E2D};
  const struct {
    std::vector<unsigned> units;
    int32_t count;
    int32_t capacity;
    std::string bytes;
  } cases[] = {{mixed, 6, 32, "A\xC3\xA9\xC4\x80\xDF\xBF\xE0\xA0\x80\xE4\xB8\xAD"},
               {{0x4E2D}, 1, 3, ""},
               {{0x4E2D}, 1, 4, "\xE4\xB8\xAD"},
               {{0xE9}, 1, 3, "\xC3\xA9"},
               {{'a', 'b', 'c'}, 3, 3, "ab"},
               {{'a', 'b', 'c'}, 2, 8, "ab"},
               {{'a', 0, 'b'}, -1, 8, "a"},
               {{'a', 0, 'b'}, 3, 8, std::string("a\0b", 3)},
               {{0xD83D, 0xDE00}, 2, 8, "\xED\xA0\xBD\xED\xB8\x80"},  // pairs stay apart
               {{}, 0, 8, ""}};
  for (const auto& c : cases) {
    std::string in = Ucs2(c.units);
    if (c.count < 0) in += std::string(2, '\0');
    EXPECT_EQ(Into(c.capacity,
                   [&](char* out, int32_t cap) {
                     return mz::Ucs2BeToUtf8(in.data(), c.count, out, cap);
                   }),
              c.bytes)
        << c.capacity;
  }
}

// UTF-7 runs decode as UCS-2 up to an explicit dash, and a run's output gets
// the room left minus one more byte; local text is the default code page, and UTF-8
// it cannot hold becomes question marks.
TEST_F(CodecsTest, TextConvertsWithinTheCapacity) {
  std::string manyE;
  for (int i = 0; i < 600; ++i) manyE += "\xC3\xA9";
  const struct {
    int32_t (*convert)(const char*, char*, int32_t);
    std::string in;
    int32_t capacity;
    std::string out;
  } cases[] = {
      {mz::Utf7ToUtf8, "Hi Mom -+Jjo--!", 64, "Hi Mom -\xE2\x98\xBA-!"},
      {mz::Utf7ToUtf8, "+-+-", 64, "++"},
      {mz::Utf7ToUtf8, "a+Jjo", 64, "a"},
      {mz::Utf7ToUtf8, "+AGEAYgBj-.", 64, "abc."},
      {mz::Utf7ToUtf8, "+2D3eAA-", 64, "\xED\xA0\xBD\xED\xB8\x80"},
      {mz::Utf7ToUtf8, "+AG!AAGI-x", 64, "bx"},  // the "!" spoils only its own group
      {mz::Utf7ToUtf8, "+AG\r\nEA-", 64, "a"},
      {mz::Utf7ToUtf8, "", 64, ""},
      {mz::Utf7ToUtf8, "abc", 3, "ab"},
      {mz::Utf7ToUtf8, "a+Jjo-b", 5, "ab"},
      {mz::Utf7ToUtf8, "a+Jjo-b", 6,
       "a\xE2\x98\xBA"
       "b"},
      {mz::Utf7ToUtf8, "abc", 1, ""},
      {mz::LocalToUtf8, "plain text", 6, "plain"},
      {mz::LocalToUtf8, "caf\xE9", 64, "caf\xC3\xA9"},
      {mz::LocalToUtf8, "\x80 \x9F", 64, "\xE2\x82\xAC \xC5\xB8"},
      {mz::LocalToUtf8, "\xE9\xE9", 4, "\xC3\xA9"},
      {mz::LocalToUtf8, "\xE9\xE9", 5, "\xC3\xA9\xC3\xA9"},
      {mz::LocalToUtf8, "\x80", 3, ""},
      {mz::LocalToUtf8, std::string(600, '\xE9'), 2000, manyE},  // several platform calls
      {mz::Utf8ToLocal, "plain", 3, "pl"},
      {mz::Utf8ToLocal, "caf\xC3\xA9", 64, "caf\xE9"},
      {mz::Utf8ToLocal, "\xE2\x82\xAC\xC5\xB8", 64, "\x80\x9F"},
      {mz::Utf8ToLocal, "\xE2\x98\xBA.", 64, "?."},
      {mz::Utf8ToLocal, "\xF0\x9F\x98\x80.", 64, "?."},
      {mz::Utf8ToLocal, "\xED\xA0\xBD\xED\xB8\x80", 64, "?"},  // an encoded pair is one character
      {mz::Utf8ToLocal, "x\xC3", 64, "x?"},
      {mz::Utf8ToLocal, "\xC3\xA9\xC3\xA9\xC3\xA9", 3, "\xE9\xE9"},
      {mz::Utf8ToLocal, "\xC3\xA9", 1, ""}};
  for (const auto& c : cases) {
    const std::vector<char> in = Exact(c.in);
    EXPECT_EQ(
        Into(c.capacity, [&](char* out, int32_t cap) { return c.convert(in.data(), out, cap); }),
        c.out)
        << c.in.substr(0, 16) << " in " << c.capacity;
  }
}

TEST_F(CodecsTest, Windows1252UpperControlRangeMapsToItsCharacters) {
  // Bytes 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
  const unsigned expected[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  for (int i = 0; i < 32; ++i) {
    const char text[2] = {static_cast<char>(0x80 + i), '\0'};
    char wide[4];
    ASSERT_EQ(mz::LocalToWide(text, wide, 2), 1) << i;
    const unsigned unit =
        static_cast<unsigned char>(wide[0]) << 8 | static_cast<unsigned char>(wide[1]);
    if (expected[i] != 0) {
      EXPECT_EQ(unit, expected[i]) << std::hex << 0x80 + i;
    }
    // Every byte comes back unchanged through UTF-8.
    char utf8[8];
    ASSERT_GT(mz::LocalToUtf8(text, utf8, sizeof utf8), 0);
    char back[4];
    EXPECT_EQ(mz::Utf8ToLocal(utf8, back, sizeof back), 1);
    EXPECT_EQ(back[0], text[0]) << std::hex << 0x80 + i;
  }
}

TEST_F(CodecsTest, Utf8ToLocalConvertsInPlace) {
  char text[] = "caf\xC3\xA9 \xE2\x82\xAC";
  EXPECT_EQ(mz::Utf8ToLocal(text, text, sizeof text), 6);
  EXPECT_STREQ(text, "caf\xE9 \x80");

  char ascii[] = "left alone";
  EXPECT_EQ(mz::Utf8ToLocal(ascii, ascii, 2), 10);
  EXPECT_STREQ(ascii, "left alone");
}

TEST_F(CodecsTest, WideToLocalCutsAtAUnitAndKeepsPairsTogetherAcrossChunks) {
  auto wideToLocal = [](const std::vector<unsigned>& units, int32_t count, int32_t capacity) {
    const std::string in = Ucs2(units);
    return Into(capacity, [&](char* out, int32_t cap) {
      return mz::WideToLocal(in.data(), count, out, cap);
    });
  };
  std::vector<unsigned> units(255, 'a');
  units.insert(units.end(), {0xD83D, 0xDE00, 'z'});  // the pair straddles the platform-call chunk
  EXPECT_EQ(wideToLocal(units, 258, 512), std::string(255, 'a') + "?z");
  EXPECT_EQ(wideToLocal({0xE9, 0x20AC, 'x'}, 3, 3), "\xE9\x80");
  EXPECT_EQ(wideToLocal({0xE9, 0x20AC, 'x'}, 0, 8), "");
}

TEST_F(CodecsTest, LocalToWideStopsOneUnitBeforeTheCapacity) {
  char out[8];
  std::memset(out, kCanary, sizeof out);
  EXPECT_EQ(mz::LocalToWide("\xE9\x80\x41", out, 3), 2);
  EXPECT_EQ(std::string(out, 6), Ucs2({0xE9, 0x20AC, 0}));
  EXPECT_EQ(out[6], kCanary);
}

TEST_F(CodecsTest, FailedPlatformConversionsOrNoMemoryLeaveEmptyTextButCopyAscii) {
  char out[16], wide[32];
  const std::string e = Ucs2({0xE9});
  for (bool platformFails : {true, false}) {
    SCOPED_TRACE(platformFails ? "platform fails" : "no memory");
    if (platformFails) {
      emulator::InjectFault("MultiByteToWideChar", 1, ERROR_NOT_ENOUGH_MEMORY, true);
      emulator::InjectFault("WideCharToMultiByte", 1, ERROR_NOT_ENOUGH_MEMORY, true);
      EXPECT_EQ(mz::LocalToWide("\xE9", wide, 16), mz::kCodecConversionFailed);
      EXPECT_EQ(std::string(wide, 2), std::string(2, '\0'));
      EXPECT_EQ(mz::WideToLocal(e.data(), 1, out, sizeof out), mz::kCodecConversionFailed);
      EXPECT_EQ(out[0], '\0');
    } else {
      emulator::ClearFaults();
      mz::SetAllocationGate(Refuse);
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
}

TEST_F(CodecsTest, NoOutputRoomMeansNothingWritten) {
  char out[2] = {kCanary, kCanary};
  const std::string e = Ucs2({0xE9});
  EXPECT_EQ(mz::Utf8ToUcs2Be("abc", out, 0), 0);
  EXPECT_EQ(mz::Ucs2BeToUtf8(e.data(), 1, out, 0), 0);
  EXPECT_EQ(mz::Utf7ToUtf8("abc", out, 0), 0);
  EXPECT_EQ(mz::Utf8ToLocal("\xC3\xA9", out, 0), 0);
  EXPECT_EQ(mz::LocalToUtf8("\xE9", out, -1), 0);
  EXPECT_EQ(mz::WideToLocal(e.data(), 1, out, 0), 0);
  EXPECT_EQ(mz::LocalToWide("\xE9", out, 0), 0);
  EXPECT_EQ(out[0], kCanary);
  EXPECT_EQ(mz::Utf8ToUcs2Be("abc", nullptr, 4), 0);
  EXPECT_EQ(mz::LocalToUtf8(nullptr, out, 2), 0);
  EXPECT_EQ(out[0], '\0');
}

}  // namespace
