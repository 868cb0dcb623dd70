// The phone's text encodings, one character at a time: UTF-8, UTF-16 and the
// default ANSI code page, Windows-1252. Header-only, so that the host
// programs, which link neither the library nor the platform, read and write
// text exactly as the platform does.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace textcodec {

inline constexpr char32_t kReplacement = 0xFFFD;

// One character read from the front of a text.
struct Decoded {
  char32_t c;          // U+FFFD when not valid
  std::size_t length;  // code units read, at least one
  bool valid;
};

// The character at the start of `text`, which is not empty. An invalid
// sequence reads as its maximal invalid subpart (at least one byte), so that
// decoding always makes progress.
constexpr Decoded DecodeUtf8(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};
  std::size_t extra;
  char32_t c;
  // Bounds of the second byte exclude overlong forms, surrogates and values
  // past U+10FFFF, so that any rejected prefix is a maximal invalid subpart.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {kReplacement, 1, false};
  }
  for (std::size_t i = 1; i <= extra; ++i) {
    if (i >= text.size()) return {kReplacement, i, false};
    const unsigned char b = byte(i);
    if (i == 1 ? (b < low || b > high) : (b & 0xC0) != 0x80) return {kReplacement, i, false};
    c = (c << 6) | (b & 0x3F);
  }
  return {c, extra + 1, true};
}

// The character at the start of `text`, which is not empty; a lone surrogate
// reads as U+FFFD.
constexpr Decoded DecodeUtf16(std::u16string_view text) {
  const char32_t unit = text[0];
  if (unit < 0xD800 || unit > 0xDFFF) return {unit, 1, true};
  if (unit <= 0xDBFF && text.size() > 1 && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
    return {0x10000 + ((unit - 0xD800) << 10) + (text[1] - 0xDC00), 2, true};
  }
  return {kReplacement, 1, false};
}

// Writes the encoding of `c` (a scalar value) and returns its length in
// units: 1 to 4 bytes, 1 or 2 UTF-16 units.
constexpr int EncodeUtf8(char32_t c, char out[4]) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

constexpr int EncodeUtf16(char32_t c, char16_t out[2]) {
  if (c < 0x10000) {
    out[0] = static_cast<char16_t>(c);
    return 1;
  }
  c -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (c >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

inline void AppendUtf8(char32_t c, std::string* out) {
  char bytes[4];
  out->append(bytes, static_cast<std::size_t>(EncodeUtf8(c, bytes)));
}

inline void AppendUtf16(char32_t c, std::u16string* out) {
  char16_t units[2];
  out->append(units, static_cast<std::size_t>(EncodeUtf16(c, units)));
}

// Whole texts; each invalid sequence or lone surrogate becomes U+FFFD.
inline std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const Decoded d = DecodeUtf8(utf8.substr(pos));
    AppendUtf16(d.c, &out);
    pos += d.length;
  }
  return out;
}

inline std::string ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t pos = 0; pos < utf16.size();) {
    const Decoded d = DecodeUtf16(utf16.substr(pos));
    AppendUtf8(d.c, &out);
    pos += d.length;
  }
  return out;
}

namespace windows1252 {

// Code points of bytes 0x80-0x9F; every other byte is its own code point.
// The five bytes the code page leaves unassigned (81 8D 8F 90 9D) stand for
// the control characters of their own value, as on the phone.
inline constexpr char16_t kHighBytes[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

struct Special {
  char16_t code;
  unsigned char byte;
};

constexpr std::size_t CountSpecials() {
  std::size_t n = 0;
  for (std::size_t i = 0; i < 32; ++i) n += kHighBytes[i] != 0x80 + i;
  return n;
}
static_assert(CountSpecials() == 27);

// The bytes 0x80-0x9F that stand for something other than their own code
// point, sorted by code point.
inline constexpr auto kSpecials = [] {
  std::array<Special, CountSpecials()> table{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    if (kHighBytes[i] != 0x80 + i) {
      table[n++] = {kHighBytes[i], static_cast<unsigned char>(0x80 + i)};
    }
  }
  std::sort(table.begin(), table.end(),
            [](const Special& a, const Special& b) { return a.code < b.code; });
  return table;
}();

}  // namespace windows1252

constexpr char16_t FromWindows1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? windows1252::kHighBytes[byte - 0x80] : byte;
}

// The Windows-1252 byte of `c`, or -1 when there is none.
constexpr int ToWindows1252(char32_t c) {
  using windows1252::kHighBytes, windows1252::kSpecials, windows1252::Special;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  if (c < 0xA0) return kHighBytes[c - 0x80] == c ? static_cast<int>(c) : -1;
  auto it = std::lower_bound(kSpecials.begin(), kSpecials.end(), c,
                             [](const Special& s, char32_t code) { return s.code < code; });
  return it != kSpecials.end() && it->code == c ? it->byte : -1;
}

}  // namespace textcodec
