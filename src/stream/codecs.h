// Conversions between the library's UTF-8 text and the forms vCard values
// travel in: base64, big-endian UCS-2, UTF-7 and the default character set
// (Windows-1252) of values that declare none.
//
// Common rules:
// - byte texts are zero-terminated unless a length is passed, and nothing
//   past the terminator or the length is read; a null text counts as empty;
// - UCS-2 is a byte array of 16-bit units, high byte first in memory;
//   surrogate pairs are never combined;
// - every routine that produces text writes a terminator (a zero byte, or a
//   zero unit for UCS-2) after it and returns the length without it; an
//   output with capacity below 1 (or a null output) receives nothing and
//   gives 0;
// - no routine fails: bad input becomes "?" or nothing, and a full output
//   ends the conversion at a character or group boundary. Only the hooks
//   WideToLocal and LocalToWide report failures, as negative results;
// - the routines with a scratch buffer (Utf7ToUtf8, Utf8ToLocal,
//   LocalToUtf8) take it from mz::Allocate; when that fails the output ends
//   where conversion had got to (the empty text for the two local ones).
#pragma once

#include <cstdint>

#include "base/result.h"

namespace mz {

// Decodes the four characters at `group` into three bytes at `out`: 3, 2 or
// 1 by the number of "=" (which count as padding wherever they stand), or 0
// for a group with a character outside the alphabet or more than two "=";
// then nothing is written. Otherwise all three bytes are written.
int32_t Base64DecodeQuad(const char* group, char* out);

// Decodes `*length` bytes of `in`, CR and LF skipped, four collected bytes at
// a time; invalid groups add nothing. `*length` is reduced by the 0..3
// collected bytes of an unfinished last group. `out` may be `in` (decoding in
// place); otherwise it needs 3 bytes per 4 input bytes. Returns the bytes
// produced; writes no terminator.
int32_t Base64DecodeText(const char* in, int32_t* length, char* out);

// Decodes `length` bytes of `in` (CR and LF skipped) into at most
// `capacity` - 1 bytes of `out`, decoding a group only while 3 more bytes
// still stay below the capacity. A last group of 1..3 characters is padded
// with "=" (so a single character decodes to nothing). Returns the bytes
// produced; writes no terminator.
int32_t Base64DecodeBounded(const char* in, int32_t length, char* out, int32_t capacity);

// UTF-8 text to at most `capacity` - 1 units of UCS-2 at `out`
// (2 * capacity bytes). Characters beyond U+FFFF, stray continuation bytes
// (with everything up to the next lead byte) and a sequence cut short by the
// end of the text each become one "?". Continuation bytes are not checked.
// Returns the units produced.
int32_t Utf8ToUcs2Be(const char* text, char* out, int32_t capacity);

// `count` UCS-2 units of `in` (a negative count: up to the first zero unit)
// to UTF-8 in at most `capacity` - 1 bytes; stops before a unit whose bytes
// do not fit. With a count, zero units become zero bytes. Returns the bytes
// produced.
int32_t Ucs2BeToUtf8(const char* in, int32_t count, char* out, int32_t capacity);

// UTF-7 text to UTF-8 in at most `capacity` - 1 bytes. "+-" is "+"; "+"
// starts a base64 run of UCS-2 that ends only at the next "-" (a "+" with no
// later "-" ends the text there). Returns the bytes produced.
int32_t Utf7ToUtf8(const char* text, char* out, int32_t capacity);

// UTF-8 text to the default character set in at most `capacity` - 1 bytes.
// ASCII text is copied (when `out` is `text`, its length is returned and
// nothing is touched); `out` may be `text` in every case. Returns the bytes
// of the converted text.
int32_t Utf8ToLocal(const char* text, char* out, int32_t capacity);

// Text in the default character set to UTF-8 in at most `capacity` - 1
// bytes; ASCII text is copied. Returns the bytes produced.
int32_t LocalToUtf8(const char* text, char* out, int32_t capacity);

// `count` UCS-2 units to the default character set in at most `capacity` - 1
// bytes; a character it lacks becomes "?". Returns the bytes produced, or
// kCodecConversionFailed (with what was converted before, terminated).
int32_t WideToLocal(const char* in, int32_t count, char* out, int32_t capacity);

// Text in the default character set to at most `capacity` - 1 UCS-2 units
// (2 * capacity bytes). Returns the units produced, or
// kCodecConversionFailed (with what was converted before, terminated).
int32_t LocalToWide(const char* text, char* out, int32_t capacity);

}  // namespace mz
