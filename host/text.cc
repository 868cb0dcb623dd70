#include "text.h"

#include <array>
#include <cstdint>

namespace mzhost {
namespace {

// Code points of Windows-1252 bytes 0x80-0x9F. The five bytes the code page
// leaves unassigned stand for the control characters of their own value, as
// on the phone.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the sequence at the start of `text`; returns its length (0 when
// invalid) and stores the code point in *cp.
std::size_t Decode(std::string_view text, char32_t* cp) {
  if (text.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(text[0]);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;  // allowed range of the second byte
  unsigned char high = 0xBF;
  char32_t value = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    value = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;   // overlong
    if (b0 == 0xED) high = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    value = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;   // overlong
    if (b0 == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const auto b1 = static_cast<unsigned char>(text[1]);
  if (b1 < low || b1 > high) return 0;
  value = (value << 6) | (b1 & 0x3F);
  for (std::size_t i = 2; i < length; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (!IsContinuation(b)) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  *cp = value;
  return length;
}

void AppendUtf8(std::string* out, char32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The code page's byte for `cp`, or -1.
int AnsiByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (std::size_t i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == cp) return static_cast<int>(0x80 + i);
  }
  return -1;
}

// Bytes an invalid sequence spans as the user sees it: its first byte and the
// continuation bytes right after it.
std::size_t InvalidSpan(std::string_view text) {
  std::size_t n = 1;
  if (IsContinuation(static_cast<unsigned char>(text[0]))) return n;
  while (n < text.size() && n < 4 && IsContinuation(static_cast<unsigned char>(text[n]))) ++n;
  return n;
}

// One terminal cell of FitColumn: `shown` is what to print for `used` input
// bytes.
struct Cell {
  std::string_view shown;
  std::size_t used = 0;
};

Cell NextCell(std::string_view text) {
  char32_t cp = 0;
  const std::size_t length = Decode(text, &cp);
  if (length == 0) return {"?", 1};
  if (cp == '\r' && text.size() > 1 && text[1] == '\n') return {" ", 2};
  if (cp == '\r' || cp == '\n' || cp == '\t') return {" ", 1};
  // Other control characters would move the cursor or start an escape.
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return {"?", length};
  return {text.substr(0, length), length};
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text) {
  char32_t cp = 0;
  return Decode(text, &cp);
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string* utf16) {
  utf16->clear();
  while (!utf8.empty()) {
    char32_t cp = 0;
    const std::size_t length = Decode(utf8, &cp);
    if (length == 0) return false;
    if (cp >= 0x10000) {
      utf16->push_back(static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10)));
      utf16->push_back(static_cast<char16_t>(0xDC00 | ((cp - 0x10000) & 0x3FF)));
    } else {
      utf16->push_back(static_cast<char16_t>(cp));
    }
    utf8.remove_prefix(length);
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    const bool high = cp >= 0xD800 && cp < 0xDC00;
    if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = kReplacement;
    }
    AppendUtf8(&out, cp);
  }
  return out;
}

bool Utf8ToAnsi(std::string_view utf8, std::string* ansi, std::string* bad) {
  ansi->clear();
  ansi->reserve(utf8.size());
  while (!utf8.empty()) {
    char32_t cp = 0;
    const std::size_t length = Decode(utf8, &cp);
    if (length == 0) {
      if (bad != nullptr) bad->assign(utf8.substr(0, InvalidSpan(utf8)));
      return false;
    }
    const int byte = AnsiByte(cp);
    if (byte < 0) {
      if (bad != nullptr) bad->assign(utf8.substr(0, length));
      return false;
    }
    ansi->push_back(static_cast<char>(byte));
    utf8.remove_prefix(length);
  }
  return true;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char c : ansi) {
    const auto byte = static_cast<unsigned char>(c);
    AppendUtf8(&out, byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : byte);
  }
  return out;
}

void AppendJsonString(std::string* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    if (byte >= 0x80) length = Utf8SequenceLength(text);
    if (length > 1) {
      out->append(text.substr(0, length));
      text.remove_prefix(length);
      continue;
    }
    text.remove_prefix(1);
    switch (byte) {
      case '"':
        out->append("\\\"");
        continue;
      case '\\':
        out->append("\\\\");
        continue;
      case '\b':
        out->append("\\b");
        continue;
      case '\f':
        out->append("\\f");
        continue;
      case '\n':
        out->append("\\n");
        continue;
      case '\r':
        out->append("\\r");
        continue;
      case '\t':
        out->append("\\t");
        continue;
      default:
        break;
    }
    if (byte >= 0x20 && byte < 0x7F) {
      out->push_back(static_cast<char>(byte));
    } else {
      // Controls, DEL and stray bytes; a stray byte keeps its value as code point.
      out->append("\\u00");
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 0x0F]);
    }
  }
  out->push_back('"');
}

std::string FitColumn(std::string_view text, std::size_t columns) {
  // Count cells only as far as needed to know whether the text fits.
  std::size_t cells = 0;
  for (std::string_view rest = text; !rest.empty() && cells <= columns; ++cells) {
    rest.remove_prefix(NextCell(rest).used);
  }
  const bool fits = cells <= columns;
  const std::size_t dots = fits ? 0 : (columns < 3 ? columns : 3);
  const std::size_t keep = columns - dots;

  std::string out;
  out.reserve(columns + 16);
  std::size_t shown = 0;
  for (; shown < keep && !text.empty(); ++shown) {
    const Cell cell = NextCell(text);
    out.append(cell.shown);
    text.remove_prefix(cell.used);
  }
  out.append(dots, '.');
  out.append(keep - shown, ' ');
  return out;
}

}  // namespace mzhost
