#include "core/utf.h"

namespace platform {

namespace {

bool IsContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace

char32_t DecodeUtf8(std::string_view text, std::size_t* pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const std::size_t start = *pos;
  const unsigned char lead = byte(start);
  *pos = start + 1;
  if (lead < 0x80) return lead;

  int extra;
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
    return kReplacement;
  }
  for (int i = 0; i < extra; ++i) {
    std::size_t at = start + 1 + i;
    if (at >= text.size()) return kReplacement;
    unsigned char b = byte(at);
    if (i == 0 ? (b < low || b > high) : !IsContinuation(b)) return kReplacement;
    c = (c << 6) | (b & 0x3F);
    *pos = at + 1;
  }
  return c;
}

char32_t DecodeUtf16(std::u16string_view text, std::size_t* pos) {
  char16_t unit = text[(*pos)++];
  if (unit < 0xD800 || unit > 0xDFFF) return unit;
  if (unit <= 0xDBFF && *pos < text.size()) {
    char16_t next = text[*pos];
    if (next >= 0xDC00 && next <= 0xDFFF) {
      ++*pos;
      return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (next - 0xDC00);
    }
  }
  return kReplacement;
}

int EncodeUtf8(char32_t c, char out[4]) {
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

int EncodeUtf16(char32_t c, char16_t out[2]) {
  if (c < 0x10000) {
    out[0] = static_cast<char16_t>(c);
    return 1;
  }
  c -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (c >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  return 2;
}

void AppendUtf8(char32_t c, std::string* out) {
  char bytes[4];
  out->append(bytes, static_cast<std::size_t>(EncodeUtf8(c, bytes)));
}

void AppendUtf16(char32_t c, std::u16string* out) {
  char16_t units[2];
  out->append(units, static_cast<std::size_t>(EncodeUtf16(c, units)));
}

std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) AppendUtf16(DecodeUtf8(utf8, &pos), &out);
  return out;
}

std::string ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t pos = 0; pos < utf16.size();) AppendUtf8(DecodeUtf16(utf16, &pos), &out);
  return out;
}

}  // namespace platform
