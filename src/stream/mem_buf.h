// MemBuf: a CharStream over a buffer it owns and grows as bytes are written.
//
// The value decoder copies each property value into one, unfolding it on the
// way, and then decodes the collected bytes in place through MemBuf_data.
//
// Every write keeps room for one byte after the data (length < capacity
// whenever there is a buffer). PutChar stores a zero byte after the byte it
// writes when that byte ends the data, so text appended byte by byte stays
// terminated; Write stores no terminator.
//
// Growth: a write that needs n bytes beyond the capacity replaces the buffer
// with one of the multiple of 16 strictly above n (100 gives 112, 112 gives
// 128); with doubling on, of twice the capacity instead when that is at
// least n. When the larger buffer cannot be had, or the stream is fixed or
// bufferless, the write gives kStreamNoRoom and the data stay as they were.
//
// Where it differs from the other streams:
//   PutChar   returns the argument as given; only its low byte is stored.
//   Read      nothing left reads as 0; a negative count is returned as is.
//   Write     all or nothing: kStreamNoRoom when the room cannot be had,
//             kStreamInvalidArgument for a negative count.
//   Seek      kStreamBadOrigin for an origin other than 0..2;
//             kStreamInvalidArgument for a target outside 0..length, and
//             the position stays.
//   Printf    kStreamNoScratch when made without a scratch buffer,
//             kStreamScratchLost when its allocation failed. A formatted
//             text that does not fit the scratch buffer (its size minus the
//             terminator) stops the process through ExitProgram(50), after a
//             line on standard output.
//   Flush     0; nothing is buffered.
#pragma once

#include <cstdint>

#include "stream/char_stream.h"

namespace mz {

// A new empty stream. With `capacity` >= 1 it owns a growable buffer of that
// many bytes, holding an empty text; with `capacity` < 1 it has no buffer
// and every write gives kStreamNoRoom. `scratchSize` sizes the Printf
// scratch buffer: below 0 means 256 bytes, 0 none, above 0 that many bytes.
// Null, with nothing left allocated, when the stream or its buffer cannot be
// allocated; when only the scratch buffer cannot be had the stream is still
// made and its Printf gives kStreamScratchLost. Doubling starts off. The
// Close slot releases the buffer, the scratch buffer and the stream.
CharStream* MemBuf_create(int32_t capacity, int32_t scratchSize);

// From now on writes that need more room than the capacity give
// kStreamNoRoom. There is no way back.
void MemBuf_fixSize(CharStream* stream);

// Growth doubles the capacity when `mode` is 1 (and twice is enough), else
// goes in steps of 16.
void MemBuf_setDoubling(CharStream* stream, int mode);

// The collected bytes (Size gives how many), which the caller may rewrite in
// place; null for a bufferless stream. Valid until the next write or Close.
char* MemBuf_data(CharStream* stream);

}  // namespace mz
