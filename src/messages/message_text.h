// Text forms of a message's entry id, address and time, shared by the
// listing and the new-message sink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace mz {

// The size of a MessageRecord's time field.
inline constexpr std::size_t kMessageTimeSize = 39;

// Writes `count` bytes as two lower-case hex digits each and a terminator.
// 1 on success; 0, writing nothing, for a missing pointer or when `capacity`
// is not greater than 2 * count + 1. A count of 0 returns 1 and writes
// nothing.
int EntryIdToHex(const BYTE* bytes, std::uint32_t count, char* output, std::uint32_t capacity);

// Reads hex text (two digits per byte, either letter case) into `output`,
// whose capacity is in *length; *length becomes the byte count. 0, leaving
// *length and `output`, for a missing pointer, an odd length or too little
// room. Each pair gives the value of its leading hex digits (up to two), so a
// pair that starts with no digit gives a zero byte.
int HexToEntryId(const char* text, BYTE* output, std::uint32_t* length);

// The other party's number of a received message, in the default ANSI code
// page (only its first 259 characters are looked at): a sender that starts
// with '"' gives the text between its last '<' and last '>', or leaves the
// output as it was when there is no such text; otherwise the digits, with a
// '+' first, or an all-zero output when any other character appears among
// the first capacity - 1. Writes at most capacity - 1 characters and no
// terminator: `output` must be zeroed.
void NormalizeAddress(const WCHAR* address, char* output, std::uint32_t capacity);

// A UTC file time as local "%4d-%02d-%02d %02d:%02d:%02d" into a
// kMessageTimeSize-byte field. 1 on success; 0, writing nothing, for a
// missing pointer or a time the platform cannot convert.
int FormatMessageTime(const FILETIME* time, char* output);

}  // namespace mz
