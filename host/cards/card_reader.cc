#include "cards/card_reader.h"

#include <iconv.h>

#include <cerrno>

#include "text.h"
#include "vcf.h"

namespace mzhost {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// `text` cut at each `separator` outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == separator && !quoted) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

std::string_view Unquoted(std::string_view text) {
  text = Trim(text);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

// Through iconv; false when the charset is unknown or the bytes are not
// text of it.
bool Convert(std::string_view bytes, const std::string& charset, std::string* out, bool* known) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  *known = cd != reinterpret_cast<iconv_t>(-1);
  if (!*known) return false;
  std::string in(bytes);
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  out->assign(in.size() * 4 + 16, '\0');
  char* outPtr = out->data();
  std::size_t outLeft = out->size();
  const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
                  iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  out->resize(out->size() - outLeft);
  return ok;
}

// Undoes \\ \; \, \n \N; with `cut`, a new part starts at each unescaped ';'.
std::vector<std::string> Unescape(std::string_view value, bool cut) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const char next = i + 1 < value.size() ? value[i + 1] : '\0';
    if (c == '\\' && (next == '\\' || next == ';' || next == ',')) {
      parts.back().push_back(next);
      ++i;
    } else if (c == '\\' && (next == 'n' || next == 'N')) {
      parts.back().push_back('\n');
      ++i;
    } else if (c == ';' && cut) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  return parts;
}

// BEGIN:VCARD (+1), END:VCARD (-1) or neither (0), in any case and with
// blanks around the colon.
int Delimiter(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || Upper(Trim(line.substr(colon + 1))) != "VCARD") return 0;
  const std::string name = Upper(Trim(line.substr(0, colon)));
  return name == "BEGIN" ? 1 : name == "END" ? -1 : 0;
}

// A line of Base64 data that some writers leave unindented.
bool IsBase64Line(std::string_view line) {
  if (Trim(line).empty()) return false;
  for (char c : line) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '/' || c == '=' || IsBlank(c);
    if (!ok) return false;
  }
  return true;
}

// The first colon outside double quotes, or npos.
std::size_t HeadEnd(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ':' && !quoted) return i;
  }
  return std::string_view::npos;
}

void AddTypes(std::string_view list, CardProperty* property) {
  for (std::string_view type : SplitOutsideQuotes(Unquoted(list), ',')) {
    if (!Trim(type).empty()) property->types.insert(Upper(Unquoted(type)));
  }
}

// No charset, or UTF-8: a backslash byte is always a backslash.
bool IsUtf8(std::string_view charset) {
  const std::string name = Upper(Unquoted(charset));
  return name.empty() || name == "UTF-8" || name == "UTF8";
}

// What the parameters say about reading the value.
struct Head {
  std::string encoding;  // upper-cased
  std::string charset;
};

Head ReadHead(std::string_view head, CardProperty* property) {
  Head result;
  const std::vector<std::string_view> pieces = SplitOutsideQuotes(head, ';');
  std::string name = Upper(Trim(pieces[0]));
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) {
    property->group = std::string(Trim(pieces[0])).substr(0, dot);
    name.erase(0, dot + 1);
  }
  property->name = name;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const std::size_t eq = pieces[i].find('=');
    const std::string key =
        eq == std::string_view::npos ? "" : Upper(Trim(pieces[i].substr(0, eq)));
    const std::string_view value =
        eq == std::string_view::npos ? pieces[i] : pieces[i].substr(eq + 1);
    if (key.empty()) {
      // A bare 2.1 word: an encoding, a charset or value type the library
      // knows by itself, else a type (or a list of them).
      const std::string word = Upper(Unquoted(value));
      if (word == "QUOTED-PRINTABLE" || word == "BASE64" || word == "8BIT" || word == "7BIT") {
        result.encoding = word;
      } else if (word == "UTF-8" || word == "UTF-7" || word == "UCS2") {
        result.charset = word;
      } else if (word == "INLINE" || word == "URL" || word == "CID" || word == "CONTENT-ID") {
        property->valueType = word;
      } else {
        AddTypes(value, property);
      }
    } else if (key == "TYPE") {
      AddTypes(value, property);
    } else if (key == "ENCODING") {
      result.encoding = Upper(Unquoted(value));
    } else if (key == "CHARSET") {
      result.charset = std::string(Unquoted(value));
    } else if (key == "VALUE") {
      property->valueType = Upper(Unquoted(value));
    } else if (key == "PREF") {
      property->types.insert("PREF");
    }
  }
  return result;
}

// Cuts `card` into physical lines.
std::vector<std::string_view> Lines(std::string_view card) {
  if (card.starts_with("\xEF\xBB\xBF")) card.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!card.empty()) {
    const std::size_t end = card.find_first_of("\r\n");
    lines.push_back(card.substr(0, end));
    if (end == std::string_view::npos) break;
    card.remove_prefix(end + (card.substr(end, 2) == "\r\n" ? 2 : 1));
  }
  return lines;
}

}  // namespace

std::string TextToUtf8(std::string_view bytes, std::string_view charset, std::string* note) {
  std::string name = Upper(Unquoted(charset));
  if (name == "UCS2" || name == "UCS-2") name = "UCS-2BE";  // the library's UCS2 is big-endian
  std::string why;
  if (!IsUtf8(name)) {
    std::string out;
    bool known = false;
    if (Convert(bytes, name, &out, &known)) return out;
    const std::string given(Unquoted(charset));
    why = known ? "not valid " + given + " text" : "unknown charset " + given;
  }
  if (IsValidUtf8(bytes)) {
    if (!why.empty()) *note = why + ": read as UTF-8";
    return std::string(bytes);
  }
  if (why.empty()) why = name.empty() ? "no charset and not UTF-8" : "not valid UTF-8";
  *note = why + ": read as Windows-1252";
  return AnsiToUtf8(bytes);
}

std::string FileAsUtf8(std::string file) {
  const char* charset = file.starts_with("\xFF\xFE")   ? "UTF-16LE"
                        : file.starts_with("\xFE\xFF") ? "UTF-16BE"
                                                       : nullptr;
  std::string out;
  bool known = false;
  if (charset != nullptr && Convert(std::string_view(file).substr(2), charset, &out, &known)) {
    return out;
  }
  return file;
}

std::vector<CardProperty> ReadCard(std::string_view card) {
  const std::vector<std::string_view> lines = Lines(card);
  std::vector<CardProperty> properties;
  int depth = 0;
  for (std::size_t i = 0; i < lines.size();) {
    CardProperty property;
    property.line = i + 1;
    std::string logical(lines[i++]);
    if (Trim(logical).empty()) continue;
    std::size_t colon = HeadEnd(logical);
    Head head;
    if (colon != std::string::npos)
      head = ReadHead(std::string_view(logical).substr(0, colon), &property);
    for (; i < lines.size(); ++i) {
      // Empty lines before a folded one are stray line ends (CR CR LF).
      std::size_t after = i;
      while (after + 1 < lines.size() && lines[after].empty()) ++after;
      if (after > i && !lines[after].empty() && IsBlank(lines[after].front())) i = after;
      const std::string_view next = lines[i];
      const bool folded = !next.empty() && IsBlank(next.front());
      if (colon != std::string::npos && head.encoding == "QUOTED-PRINTABLE" &&
          logical.back() == '=' && Delimiter(next) == 0) {
        logical.pop_back();
        logical.append(folded ? next.substr(1) : next);
      } else if (folded) {
        logical.append(next.substr(1));
      } else if (colon != std::string::npos && logical.back() == '\\' && IsUtf8(head.charset) &&
                 !logical.ends_with("\\\\") && Delimiter(next) == 0) {
        // Some 2.1 writers end a line inside a value with a backslash.
        logical += "n";
        logical.append(next);
      } else if (colon != std::string::npos &&
                 (head.encoding == "BASE64" || head.encoding == "B") && IsBase64Line(next)) {
        logical.append(next);
      } else {
        break;
      }
      if (colon == std::string::npos && (colon = HeadEnd(logical)) != std::string::npos) {
        head = ReadHead(std::string_view(logical).substr(0, colon), &property);
      }
    }
    const int delimiter = Delimiter(logical);
    depth += delimiter;
    if (delimiter < 0 && depth <= 0) break;     // the card's own END
    if (delimiter != 0 || depth > 1) continue;  // its BEGIN, or a card inside it
    if (colon == std::string::npos) {
      property.name = Upper(Trim(logical.substr(0, logical.find(';'))));
      property.problem = "has no colon, so no value";
      properties.push_back(std::move(property));
      continue;
    }
    if (property.name == "VERSION") continue;
    const std::string_view raw = std::string_view(logical).substr(colon + 1);
    if (head.encoding == "BASE64" || head.encoding == "B") {
      property.problem = "a binary (Base64) value";
      properties.push_back(std::move(property));
      continue;
    }
    std::string bytes =
        head.encoding == "QUOTED-PRINTABLE" ? DecodeQuotedPrintable(raw) : std::string(raw);
    std::string text = TextToUtf8(bytes, head.charset, &property.charsetNote);
    std::erase(text, '\0');
    property.parts = Unescape(text, true);
    property.text = Unescape(text, false)[0];
    properties.push_back(std::move(property));
  }
  return properties;
}

}  // namespace mzhost
