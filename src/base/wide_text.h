// The platform's UTF-16 text made into the byte texts the library hands out:
// always terminated, never past the field, cut only between characters.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace mz {

// A UTF-16 text converted to UTF-8 into `output` (capacity in bytes,
// terminator included) and always terminated; a text that does not fit is
// cut at a character boundary. A missing text, or a conversion the platform
// refuses, leaves an empty text.
void CopyUtf8(const WCHAR* text, char* output, std::uint32_t capacity);

// The same in the default ANSI code page (one byte per character; a
// character the code page lacks becomes '?').
void CopyAnsi(const WCHAR* text, char* output, std::uint32_t capacity);

// A text as UTF-8 in a zero-filled field of `size` bytes, always terminated.
// The whole text goes in one conversion; one too long for the field is cut
// after the last character that fits, never inside one. A failed conversion
// leaves the field empty. Returns whether the field holds text.
bool ConvertText(const WCHAR* text, char* field, int size);

}  // namespace mz
