// AbsFileMem: a CharStream over a block of memory that somebody else owns.
//
// The readers wrap a NUL-terminated value text in one so that the tokenizer
// and the component splitter take it apart exactly as they read a file. The
// stream reads up to its length and writes up to its capacity; it never
// allocates, grows or releases the caller's memory.
//
// Where it differs from the other streams:
//   PutChar   kStreamNoRoom when the position has reached the capacity;
//             otherwise stores the low byte and returns the argument as
//             given.
//   Read      a count below 1, or nothing left, reads as 0.
//   Write     cut short at the capacity, never refused, so a full stream
//             takes 0 bytes; a negative count, or a position already past
//             the capacity, gives kStreamNoRoom.
//   Seek      kStreamInvalidArgument for an origin other than 0..2;
//             kStreamIoError for a target outside 0..length, and the
//             position stays.
//   Printf    kStreamNoScratch when made without a scratch buffer,
//             kStreamScratchLost when its allocation failed. A formatted
//             text that does not fit the scratch buffer (its size minus the
//             terminator) stops the process: a line on standard output and
//             exit status 50.
//   Flush     0; nothing is buffered.
#pragma once

#include <cstdint>

#include "stream/char_stream.h"

namespace mz {

// A stream over `data`: reads stop at `length`, writes at `capacity`; the
// position starts at 0. `scratchSize` sizes the Printf scratch buffer: below
// 0 means 256 bytes, 0 none, above 0 that many bytes. Null when the stream
// cannot be allocated. When only the scratch buffer cannot be had the stream
// is still made and its Printf gives kStreamScratchLost. A null `data` is
// taken as an empty block (capacity and length 0). `data` must outlive the
// stream; the Close slot releases the stream and its scratch buffer only.
// Every reader in this library passes a text's length as both `capacity` and
// `length` and `scratchSize` 0.
CharStream* AbsFileMem_create(void* data, int32_t capacity, int32_t length, int32_t scratchSize);

}  // namespace mz
