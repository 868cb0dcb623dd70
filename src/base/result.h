// The library's internal result codes, all negative: what its streams,
// codecs and vCard readers return to one another. None reaches the host,
// whose exports answer with the codes of mz/mz.h, a set of their own even
// where a value is the same.
#pragma once

#include <cstdint>

namespace mz {

// Stream slots (stream/char_stream.h says which slot gives which).
inline constexpr int32_t kStreamEnd = -202;             // end of data
inline constexpr int32_t kStreamCannotStepBack = -23;   // UngetChar at the start
inline constexpr int32_t kStreamIoError = -9;           // I/O failure; memory seek outside the data
inline constexpr int32_t kStreamNoRoom = -201;          // memory full or cannot grow
inline constexpr int32_t kStreamInvalidArgument = -81;  // bad origin or count
inline constexpr int32_t kStreamNoScratch = -94;        // no formatting scratch buffer
inline constexpr int32_t kStreamScratchLost = -2;       // scratch allocation had failed

// -1 has two names because it has two meanings, which no function mixes:
// a caller's mistake, and the platform's refusal.
// MemBuf's Seek: an origin other than 0, 1 or 2.
inline constexpr int32_t kStreamBadOrigin = -1;
// WideToLocal and LocalToWide: the platform's conversion failed.
inline constexpr int32_t kCodecConversionFailed = -1;

// PlaceValue: the value is too long, or every slot that could take it is
// used.
inline constexpr int32_t kRecordNoRoom = -51;

// The text is not in the form being read: a content line with no usable name
// (ReadPropertyName and ReadContentLine, which skip the line whole), or a
// text that is not a date or a duration (ParseDateTime, ParseDuration). One
// meaning, so one name: for every caller it is text to pass over.
inline constexpr int32_t kMalformedText = -251;

}  // namespace mz
