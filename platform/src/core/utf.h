// The platform's one UTF-8 codec, shared by code-page conversion, the
// registry, the stores and the emulator's UTF-8 control API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character from `text` at `*pos` and advances `*pos`. An invalid
// sequence yields U+FFFD and advances past its maximal invalid subpart (at
// least one byte), so that decoding always makes progress.
char32_t DecodeUtf8(std::string_view text, std::size_t* pos);

// Decodes one character from UTF-16 at `*pos`; a lone surrogate yields
// U+FFFD.
char32_t DecodeUtf16(std::u16string_view text, std::size_t* pos);

// Writes the encoding of `c` (a scalar value) and returns its length in
// units: 1 to 4 bytes, 1 or 2 UTF-16 units.
int EncodeUtf8(char32_t c, char out[4]);
int EncodeUtf16(char32_t c, char16_t out[2]);

// Appends the encoding of `c` to `out`.
void AppendUtf8(char32_t c, std::string* out);
void AppendUtf16(char32_t c, std::u16string* out);

std::u16string ToUtf16(std::string_view utf8);
// Text in the default ANSI code page (Windows-1252), where every byte
// decodes; defined with the code-page conversions.
std::u16string AnsiToUtf16(std::string_view ansi);
std::string ToUtf8(std::u16string_view utf16);

}  // namespace platform
