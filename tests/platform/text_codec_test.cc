// The shared text encodings against iconv, a second implementation, over
// every byte of Windows-1252 and every Unicode scalar value. Invalid input,
// which iconv only refuses, is the code-page calls' table
// (data/platform/text.tsv).
#include "platform/text_codec.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

// `in` converted by iconv, or nullopt when iconv refuses any of it.
std::optional<std::string> Iconv(const char* to, const char* from, std::string in) {
  const iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv ") + from);
  std::string out(in.size() * 4, '\0');
  char* source = in.data();
  char* target = out.data();
  std::size_t source_left = in.size(), target_left = out.size();
  const bool done = iconv(cd, &source, &source_left, &target, &target_left) != std::size_t(-1);
  iconv_close(cd);
  if (!done) return std::nullopt;
  out.resize(out.size() - target_left);
  return out;
}

TEST(TextCodecTest, EveryScalarValueAsIconvEncodesIt) {
  std::string utf32;
  for (char32_t c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    for (int i = 0; i < 4; ++i) utf32.push_back(static_cast<char>(c >> (8 * i)));
  }
  const auto utf8 = Iconv("UTF-8", "UTF-32LE", utf32);
  const auto utf16le = Iconv("UTF-16LE", "UTF-32LE", utf32);
  ASSERT_TRUE(utf8 && utf16le);
  std::u16string utf16(utf16le->size() / 2, u'\0');
  std::memcpy(utf16.data(), utf16le->data(), utf16le->size());
  // Compared whole: a mismatch would print megabytes.
  EXPECT_TRUE(textcodec::ToUtf16(*utf8) == utf16);
  EXPECT_TRUE(textcodec::ToUtf8(utf16) == *utf8);
}

// A byte iconv leaves unassigned stands for the control character of its
// own value, as on the phone; a character no byte stands for has none.
TEST(TextCodecTest, Windows1252AsIconvMapsIt) {
  std::map<char32_t, int> byte_of;
  for (int byte = 0; byte < 256; ++byte) {
    const auto utf32 = Iconv("UTF-32LE", "CP1252", std::string(1, static_cast<char>(byte)));
    char32_t c = static_cast<char32_t>(byte);
    if (utf32) std::memcpy(&c, utf32->data(), sizeof c);  // the host is little-endian
    EXPECT_EQ(textcodec::FromWindows1252(static_cast<unsigned char>(byte)), c) << byte;
    byte_of[c] = byte;
  }
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    const auto found = byte_of.find(c);
    ASSERT_EQ(textcodec::ToWindows1252(c), found == byte_of.end() ? -1 : found->second)
        << static_cast<std::uint32_t>(c);
  }
}

}  // namespace
