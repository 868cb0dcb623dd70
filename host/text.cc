#include "text.h"

#include <locale.h>
#include <wctype.h>
#include <cstdint>
#include <cstdio>

#include "platform/text_codec.h"

namespace mzhost {
namespace {

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the sequence at the start of `text`; returns its length (0 when
// invalid) and stores the code point in *cp.
std::size_t Decode(std::string_view text, char32_t* cp) {
  if (text.empty()) return 0;
  const textcodec::Decoded d = textcodec::DecodeUtf8(text);
  if (!d.valid) return 0;
  *cp = d.c;
  return d.length;
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
    textcodec::AppendUtf16(cp, utf16);
    utf8.remove_prefix(length);
  }
  return true;
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
    const int byte = textcodec::ToWindows1252(cp);
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
  for (char c : ansi)
    textcodec::AppendUtf8(textcodec::FromWindows1252(static_cast<unsigned char>(c)), &out);
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

std::string FoldCase(std::string_view text) {
  // The C library's Unicode tables, whatever the process's own locale.
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  std::string folded;
  folded.reserve(text.size());
  while (!text.empty()) {
    const textcodec::Decoded d = textcodec::DecodeUtf8(text);
    if (d.c < 0x80) {
      folded.push_back(static_cast<char>(d.c >= 'A' && d.c <= 'Z' ? d.c + 32 : d.c));
    } else if (!d.valid || unicode == nullptr) {
      folded.append(text.substr(0, d.length));
    } else {
      textcodec::AppendUtf8(static_cast<char32_t>(towlower_l(static_cast<wint_t>(d.c), unicode)),
                            &folded);
    }
    text.remove_prefix(d.length);
  }
  return folded;
}

std::string TextTag(std::string_view text) {
  uint64_t hash = 14695981039346656037ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

}  // namespace mzhost
