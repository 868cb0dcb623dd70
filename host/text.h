// Text helpers of the host programs: the phone's default ANSI code page
// (Windows-1252) in and out of UTF-8, JSON strings, and table columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mzhost {

// UTF-8 to Windows-1252. False when the input is not valid UTF-8 or holds a
// character the code page has no byte for; *bad then receives that character
// (or the invalid bytes) as it stood in the input. *ansi is unspecified on
// failure.
bool Utf8ToAnsi(std::string_view utf8, std::string* ansi, std::string* bad = nullptr);

// Windows-1252 to UTF-8; the five bytes the code page leaves unassigned
// (81 8D 8F 90 9D) become the control characters of the same value, and
// those characters encode back to them.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to UTF-16 (the phone's wide text); false when the input is not
// valid UTF-8.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* utf16);

// Bytes in the valid UTF-8 sequence at the start of `text` (1 to 4), or 0 when
// none starts there. Strict: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence.
std::size_t Utf8SequenceLength(std::string_view text);

// `text` in lower case for comparing without regard to case: every letter
// Unicode gives a lower-case form (Latin, Greek, Cyrillic and the rest), one
// character for one; bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view text);

// 16 hex digits that change with `text` (FNV-1a): for ETags and change
// detection, not for secrets.
std::string TextTag(std::string_view text);

// Appends `text` as a JSON string: valid UTF-8 as it is, every byte outside a
// valid sequence as \u00XX, quotes, backslashes and control characters
// escaped.
void AppendJsonString(std::string* out, std::string_view text);

// `text` made to fill exactly `columns` terminal columns: line breaks and tabs
// become spaces, a longer text is cut at a character boundary and ends in
// "...", a shorter one is padded with spaces. Every code point counts as one
// column; invalid bytes count as one each and are shown as "?".
std::string FitColumn(std::string_view text, std::size_t columns);

}  // namespace mzhost
