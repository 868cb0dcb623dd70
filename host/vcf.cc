#include "vcf.h"

#include <utility>

#include "text.h"

namespace mzhost {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Cuts the next line off `*rest`; CR LF, LF and a lone CR each end one line.
std::string_view NextLine(std::string_view* rest) {
  std::size_t end = rest->find_first_of("\r\n");
  if (end == std::string_view::npos) {
    std::string_view line = *rest;
    *rest = {};
    return line;
  }
  std::string_view line = rest->substr(0, end);
  std::size_t skip = 1;
  if ((*rest)[end] == '\r' && end + 1 < rest->size() && (*rest)[end + 1] == '\n') skip = 2;
  rest->remove_prefix(end + skip);
  return line;
}

// The line's delimiter kind: +1 for BEGIN:VCARD, -1 for END:VCARD, else 0.
// Blanks around the line and the colon and letter case do not matter.
int VCardDelimiter(std::string_view line) {
  if (line.substr(0, kBom.size()) == kBom) line.remove_prefix(kBom.size());
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return 0;
  if (!EqualsNoCase(TrimBlanks(line.substr(colon + 1)), "VCARD")) return 0;
  const std::string_view name = TrimBlanks(line.substr(0, colon));
  if (EqualsNoCase(name, "BEGIN")) return 1;
  if (EqualsNoCase(name, "END")) return -1;
  return 0;
}

void AppendLine(std::string* out, std::string_view line) {
  out->append(line);
  out->append("\r\n");
}

// One property line of a card, split but not yet decoded.
struct Property {
  bool quotedPrintable = false;
  bool base64 = false;
  std::string charset;
  std::string value;
};

// Parses the parameters of a property (the text between its name and the
// colon, without the leading ';').
void ReadParameters(std::string_view params, Property* property) {
  while (!params.empty()) {
    std::size_t end = 0;
    bool quoted = false;
    while (end < params.size() && (quoted || params[end] != ';')) {
      if (params[end] == '"') quoted = !quoted;
      ++end;
    }
    std::string_view param = TrimBlanks(params.substr(0, end));
    params.remove_prefix(end < params.size() ? end + 1 : end);

    std::string_view key;
    std::string_view value = param;
    if (const std::size_t eq = param.find('='); eq != std::string_view::npos) {
      key = TrimBlanks(param.substr(0, eq));
      value = TrimBlanks(param.substr(eq + 1));
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (EqualsNoCase(key, "CHARSET")) {
      property->charset = std::string(value);
    } else if (key.empty() || EqualsNoCase(key, "ENCODING")) {
      if (EqualsNoCase(value, "QUOTED-PRINTABLE")) property->quotedPrintable = true;
      if (EqualsNoCase(value, "BASE64") || EqualsNoCase(value, "B")) property->base64 = true;
    }
  }
}

// Finds the colon that ends a property line's head (name and parameters):
// the first one outside double quotes. It resumes where it stopped, so a line
// growing by folds is scanned once.
class HeadScanner {
 public:
  bool Find(std::string_view line) {
    for (; !found_ && scanned_ < line.size(); ++scanned_) {
      if (line[scanned_] == '"') quoted_ = !quoted_;
      if (line[scanned_] == ':' && !quoted_) found_ = true;
    }
    return found_;
  }
  std::size_t colon() const { return scanned_ - 1; }

 private:
  std::size_t scanned_ = 0;
  bool quoted_ = false;
  bool found_ = false;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Upper(c);
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes \; \, \\ and, for a structured value (`split`), cuts it at each
// unescaped ';'.
std::vector<std::string> Unescape(std::string_view value, bool split) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size() &&
        (value[i + 1] == ';' || value[i + 1] == ',' || value[i + 1] == '\\')) {
      parts.back().push_back(value[++i]);
    } else if (c == ';' && split) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// A decoded value: quoted-printable undone and a single-byte charset turned
// into UTF-8.
std::string DecodeValue(const Property& property) {
  std::string value =
      property.quotedPrintable ? DecodeQuotedPrintable(property.value) : property.value;
  if (EqualsNoCase(property.charset, "ISO-8859-1") ||
      EqualsNoCase(property.charset, "WINDOWS-1252") || EqualsNoCase(property.charset, "CP1252")) {
    value = AnsiToUtf8(value);
  }
  return value;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& part : parts) {
    const std::string_view piece = TrimBlanks(part);
    if (piece.empty()) continue;
    if (!out.empty()) out.push_back(' ');
    out.append(piece);
  }
  return out;
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
  if (!text.empty() && text.back() == '=') text.remove_suffix(1);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
        HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<Card> SplitCards(std::string_view file) {
  if (file.substr(0, kBom.size()) == kBom) file.remove_prefix(kBom.size());
  std::vector<Card> cards;
  Card current;
  int depth = 0;  // nesting level inside the current card
  std::size_t lineNumber = 0;
  while (!file.empty()) {
    const std::string_view line = NextLine(&file);
    ++lineNumber;
    if (depth == 0) {
      std::string_view begin = TrimBlanks(line);
      if (VCardDelimiter(begin) != 1) continue;  // text between cards
      // Files joined together may carry a byte order mark of their own.
      if (begin.substr(0, kBom.size()) == kBom) begin.remove_prefix(kBom.size());
      current = Card{};
      current.line = lineNumber;
      current.index = cards.size() + 1;
      AppendLine(&current.text, begin);
      depth = 1;
      continue;
    }
    AppendLine(&current.text, line);
    // A line that starts with a blank continues a folded one.
    if (line.empty() || IsBlank(line.front())) continue;
    depth += VCardDelimiter(line);
    if (depth == 0) cards.push_back(std::move(current));
  }
  if (depth > 0) {
    current.complete = false;
    cards.push_back(std::move(current));
  }
  return cards;
}

CardSummary Summarize(std::string_view card) {
  std::vector<std::string_view> lines;
  for (std::string_view rest = card; !rest.empty();) lines.push_back(NextLine(&rest));

  CardSummary summary;
  std::string fn;
  std::string nameFromN;
  bool haveN = false;
  int depth = 0;
  for (std::size_t i = 0; i < lines.size();) {
    // Gather the logical line: folds, and soft line breaks of a
    // quoted-printable value.
    std::string logical(lines[i++]);
    Property property;
    HeadScanner scanner;
    bool headKnown = false;
    for (;;) {
      if (!headKnown && scanner.Find(logical)) {
        headKnown = true;
        const std::string_view head = std::string_view(logical).substr(0, scanner.colon());
        const std::size_t semicolon = head.find(';');
        if (semicolon != std::string_view::npos) {
          ReadParameters(head.substr(semicolon + 1), &property);
        }
      }
      if (i >= lines.size()) break;
      if (headKnown && property.quotedPrintable && logical.back() == '=') {
        logical.pop_back();
        logical.append(lines[i++]);
      } else if (!lines[i].empty() && IsBlank(lines[i].front())) {
        logical.append(lines[i++].substr(1));
      } else {
        break;
      }
    }
    if (!headKnown) continue;
    const std::string_view head = std::string_view(logical).substr(0, scanner.colon());
    const std::string_view value = std::string_view(logical).substr(scanner.colon() + 1);

    const int delimiter = VCardDelimiter(logical);
    if (delimiter != 0) {
      depth += delimiter;
      if (depth <= 0 && delimiter < 0) break;  // the card ended
      continue;
    }
    if (depth > 1) continue;  // inside an embedded card (an AGENT)

    std::string_view name = TrimBlanks(head.substr(0, head.find(';')));
    if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos) {
      name.remove_prefix(dot + 1);  // group prefix
    }
    if (property.base64) continue;
    property.value = std::string(value);
    if (EqualsNoCase(name, "FN")) {
      if (fn.empty()) fn = Joined(Unescape(DecodeValue(property), false));
    } else if (EqualsNoCase(name, "N")) {
      if (!haveN) {
        const std::vector<std::string> parts = Unescape(DecodeValue(property), true);
        std::vector<std::string> givenFamily;
        if (parts.size() > 1) givenFamily.push_back(parts[1]);
        givenFamily.push_back(parts[0]);
        nameFromN = Joined(givenFamily);
        haveN = !nameFromN.empty();
      }
    } else if (EqualsNoCase(name, "TEL")) {
      if (summary.tel.empty()) summary.tel = Joined(Unescape(DecodeValue(property), false));
    } else if (EqualsNoCase(name, "EMAIL")) {
      if (summary.email.empty()) summary.email = Joined(Unescape(DecodeValue(property), false));
    }
  }
  summary.name = fn.empty() ? nameFromN : fn;
  return summary;
}

}  // namespace mzhost
