#include "messages/message_text.h"

#include <cstdio>
#include <cstring>

#include "base/wide_text.h"
#include "platform/clock.h"

namespace mz {
namespace {

// The scratch size NormalizeAddress converts into.
constexpr std::uint32_t kAddressScratch = 260;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to two leading hex digits of a pair; 0 when the pair starts with none.
BYTE ReadHexPair(const char* pair) {
  int value = 0;
  for (int i = 0; i < 2; ++i) {
    const int digit = HexDigit(pair[i]);
    if (digit < 0) break;
    value = value * 16 + digit;
  }
  return static_cast<BYTE>(value);
}

// The quoted form: "name" <number> gives the text between the last '<' and
// the last '>'; anything else leaves the output as it was.
void CopyBracketed(const char* address, char* output, std::uint32_t capacity) {
  const char* open = std::strrchr(address, '<');
  const char* close = std::strrchr(address, '>');
  if (open == nullptr || close == nullptr || close - open < 2) return;
  std::uint32_t length = static_cast<std::uint32_t>(close - open - 1);
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(output, open + 1, length);
}

// Digits, with one '+' allowed first; any other character clears the whole
// output. The walk covers what can be copied, capacity - 1 characters.
void CopyDigits(const char* address, char* output, std::uint32_t capacity) {
  for (std::uint32_t i = 0; i + 1 < capacity && address[i] != 0; ++i) {
    const char c = address[i];
    if ((c >= '0' && c <= '9') || (c == '+' && i == 0)) {
      output[i] = c;
    } else {
      std::memset(output, 0, capacity);
      return;
    }
  }
}

}  // namespace

int EntryIdToHex(const BYTE* bytes, std::uint32_t count, char* output, std::uint32_t capacity) {
  if (bytes == nullptr || output == nullptr) return 0;
  if (capacity <= 2 * static_cast<std::uint64_t>(count) + 1) return 0;
  if (count == 0) return 1;
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::uint32_t i = 0; i < count; ++i) {
    output[2 * i] = kDigits[bytes[i] >> 4];
    output[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  output[2 * static_cast<std::size_t>(count)] = 0;
  return 1;
}

int HexToEntryId(const char* text, BYTE* output, std::uint32_t* length) {
  if (text == nullptr || output == nullptr || length == nullptr) return 0;
  const std::size_t digits = std::strlen(text);
  if (digits % 2 != 0 || *length < digits / 2) return 0;
  *length = static_cast<std::uint32_t>(digits / 2);
  for (std::uint32_t i = 0; i < *length; ++i) output[i] = ReadHexPair(text + 2 * i);
  return 1;
}

void NormalizeAddress(const WCHAR* address, char* output, std::uint32_t capacity) {
  if (address == nullptr || output == nullptr || capacity == 0) return;
  char narrow[kAddressScratch] = {};
  CopyAnsi(address, narrow, sizeof narrow);
  if (narrow[0] == '"') {
    CopyBracketed(narrow, output, capacity);
  } else {
    CopyDigits(narrow, output, capacity);
  }
}

int FormatMessageTime(const FILETIME* time, char* output) {
  if (time == nullptr || output == nullptr) return 0;
  FILETIME local{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(time, &local) || !FileTimeToSystemTime(&local, &fields)) return 0;
  std::snprintf(output, kMessageTimeSize, "%4d-%02d-%02d %02d:%02d:%02d", fields.wYear,
                fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond);
  return 1;
}

}  // namespace mz
