// CharStream: the byte stream every vCard and vCalendar text passes through.
//
// A stream is a plain structure that carries its own table of operations:
// `self` (the implementation's state block), then the eleven slots below in
// this order, then the implementation's fields. Every operation takes the
// stream and reaches its state through `self`. Positions, counts and results
// are signed 32-bit; bytes are unsigned 8-bit values; no character set is
// implied.
//
// The contract every implementation honours:
//   Close      releases the stream (and what it owns); the stream is gone.
//   PutChar    writes one byte; returns the byte, or a negative code.
//   GetChar    the next byte 0..255, or kStreamEnd (-202) at the end of the
//              data, and again on every later call.
//   UngetChar  steps back one byte, so that the next GetChar returns the
//              byte again; 0, or kStreamCannotStepBack (-23) at the start.
//              Only used right after a GetChar that returned a byte.
//   Read       copies up to count bytes; the number copied, 0 at the end.
//   Write      writes count bytes; the number written, or negative.
//   Printf     formats and writes; the bytes written, or negative.
//   Seek       moves to offset from origin 0 (start), 1 (current) or 2
//              (end); 0, or negative (how a seek outside the data fails is
//              the implementation's).
//   Tell       the current position.
//   Flush      writes out what is buffered; 0, or negative.
//   Size       the total size in bytes; the position does not move.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "base/result.h"

namespace mz {

struct CharStream {
  void* self;
  void (*Close)(CharStream* stream);
  int32_t (*PutChar)(CharStream* stream, int byte);
  int32_t (*GetChar)(CharStream* stream);
  int32_t (*UngetChar)(CharStream* stream);
  int32_t (*Read)(CharStream* stream, void* destination, int32_t count);
  int32_t (*Write)(CharStream* stream, const void* source, int32_t count);
  int32_t (*Printf)(CharStream* stream, const char* format, ...)
      __attribute__((format(printf, 2, 3)));
  int32_t (*Seek)(CharStream* stream, int32_t offset, int32_t origin);
  int32_t (*Tell)(CharStream* stream);
  int32_t (*Flush)(CharStream* stream);
  int32_t (*Size)(CharStream* stream);
};

// 1 for the hard failures -5, -7, -12, -71 and -92, which abort reading;
// 0 for every other value. Stream users pass a hard failure straight back
// and let any other negative result (notably kStreamEnd) end only the
// current token, value or line. No stream of this library produces one.
int IsHardError(int32_t code);

// --- Shared by the two memory streams --------------------------------------

// Moves *position to `offset` from the start (origin 0), the current position
// (1) or the end (2) of `length` bytes of data. 0; `badOrigin` for another
// origin; `outside` when the target lies outside 0..length. Each stream has
// its own codes for the two failures.
int32_t SeekInMemory(int32_t* position, int32_t length, int32_t offset, int32_t origin,
                     int32_t badOrigin, int32_t outside);

// Printf of a memory stream: formats into its scratch buffer and writes the
// text through the stream. A text that does not fit calls `overflow`, the
// stream's fatal stop, which does not return.
int32_t PrintfInMemory(CharStream* stream, char* scratch, int32_t scratchSize, void (*overflow)(),
                       const char* format, va_list arguments);

}  // namespace mz
