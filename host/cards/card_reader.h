// One vCard of any version (2.1, 3.0, 4.0) as a list of decoded properties:
// lines unfolded, quoted-printable soft breaks joined, parameters read,
// values turned into UTF-8 and freed of their backslash escapes.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace mzhost {

struct CardProperty {
  std::size_t line = 0;         // 1-based line of the card where the property starts
  std::string group;            // "item1" of item1.TEL, else empty
  std::string name;             // upper-cased, without its group
  std::set<std::string> types;  // TYPE values and bare 2.1 words, upper-cased; PREF=n adds PREF
  std::string valueType;        // the VALUE parameter, upper-cased
  // The value cut at each unescaped ';', every part unescaped (\\ \; \, \n
  // \N; any other backslash stays), and the whole value unescaped uncut.
  std::vector<std::string> parts;
  std::string text;
  std::string problem;      // why the value could not be read (a binary value, no colon)
  std::string charsetNote;  // how the bytes were read when that was a guess
};

// The properties of `card` in order, without BEGIN, END and VERSION. Lines
// may end in CR LF, LF or a lone CR; a line that starts with a space or a tab
// continues the one before, less that one blank. In a quoted-printable value
// a line ending in "=" continues on the next line, less one leading blank
// (the library's own form puts a tab there). A card nested inside (an AGENT's)
// is skipped whole. Charsets: the CHARSET parameter through iconv; without
// one, UTF-8 when the bytes are valid UTF-8, else Windows-1252.
std::vector<CardProperty> ReadCard(std::string_view card);

// `bytes` as UTF-8 from `charset` (empty: none named); *note receives how
// they were read when that was a guess, else stays empty.
std::string TextToUtf8(std::string_view bytes, std::string_view charset, std::string* note);

// A file that starts with a UTF-16 byte order mark, as UTF-8; any other as
// it is.
std::string FileAsUtf8(std::string file);

}  // namespace mzhost
