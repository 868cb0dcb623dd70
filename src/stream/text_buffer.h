// TextBuffer, the growable zero-terminated buffer that receives one token,
// and the string helpers the reader and writer share.
#pragma once

#include <cstdint>

namespace mz {

// While there is data: length == position < capacity and data[length] == 0.
struct TextBuffer {
  int16_t ownsData;  // 1 when the buffer allocated data and releases it
  char* data;
  int32_t capacity;
  int32_t position;  // where the next appended byte goes
  int32_t length;    // bytes held; equal to position after every append
  int16_t growable;  // 1 while data may be replaced by a larger block
};

// A buffer of `capacity` bytes (text empty); with capacity < 1 a buffer that
// can never hold a byte. Null when memory is exhausted.
TextBuffer* TextBuffer_create(int32_t capacity);
void TextBuffer_free(TextBuffer* buffer);
// Empties the text; nothing without data.
void TextBuffer_clear(TextBuffer* buffer);
// Appends one byte and a terminator, growing when needed; a byte that does
// not fit is dropped silently. Returns the buffer.
TextBuffer* TextBuffer_appendChar(TextBuffer* buffer, int byte);
// Room for n bytes: 0, or kStreamNoRoom when the buffer cannot grow (it then
// stays as it was). Growth goes to the multiple of 16 strictly above n.
int32_t TextBuffer_reserve(TextBuffer* buffer, int32_t n);

// 1 when no byte is above 127 (the empty text included).
int IsAsciiText(const char* text);
// a..z to A..Z in place; every other byte stays.
void UpperCaseAscii(char* text);
// 0 exactly when the texts are equal ignoring ASCII case.
int CompareNoCase(const char* a, const char* b);
// Copies at most size - 1 bytes of `source` and a terminator; returns the
// bytes copied. `size` is at least 1.
int32_t CopyBounded(char* destination, const char* source, int32_t size);
// Decodes the two hex digits after `p` (p[1], p[2]; each a..z is upper-cased
// in place first). 1 and *out set, or 0 with *out untouched at the first
// character that is not a hex digit.
int DecodeHexPair(char* p, unsigned char* out);

}  // namespace mz
