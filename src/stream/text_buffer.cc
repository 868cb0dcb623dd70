#include "stream/text_buffer.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "stream/char_stream.h"

namespace mz {

TextBuffer* TextBuffer_create(int32_t capacity) {
  auto* buffer = static_cast<TextBuffer*>(Allocate(sizeof(TextBuffer)));
  if (buffer == nullptr) return nullptr;
  std::memset(buffer, 0, sizeof *buffer);
  if (capacity < 1) return buffer;
  buffer->data = static_cast<char*>(Allocate(static_cast<std::size_t>(capacity)));
  if (buffer->data == nullptr) {
    std::free(buffer);
    return nullptr;
  }
  buffer->data[0] = 0;
  buffer->capacity = capacity;
  buffer->ownsData = 1;
  buffer->growable = 1;
  return buffer;
}

void TextBuffer_free(TextBuffer* buffer) {
  if (buffer == nullptr) return;
  if (buffer->ownsData && buffer->data != nullptr) std::free(buffer->data);
  std::free(buffer);
}

void TextBuffer_clear(TextBuffer* buffer) {
  if (buffer == nullptr || buffer->data == nullptr) return;
  buffer->data[0] = 0;
  buffer->length = 0;
  buffer->position = 0;
}

TextBuffer* TextBuffer_appendChar(TextBuffer* buffer, int byte) {
  if (buffer == nullptr) return nullptr;
  // Room for the byte and the terminator after it.
  if (TextBuffer_reserve(buffer, buffer->position + 2) != 0) return buffer;
  buffer->data[buffer->position++] = static_cast<char>(byte);
  buffer->data[buffer->position] = 0;
  buffer->length = buffer->position;
  return buffer;
}

int32_t TextBuffer_reserve(TextBuffer* buffer, int32_t n) {
  if (n <= buffer->capacity) return 0;
  if (!buffer->growable || buffer->data == nullptr) return kStreamNoRoom;
  if (n > INT32_MAX - 16) return kStreamNoRoom;
  int32_t capacity = (n / 16) * 16 + 16;
  auto* data = static_cast<char*>(Allocate(static_cast<std::size_t>(capacity)));
  if (data == nullptr) return kStreamNoRoom;
  std::memcpy(data, buffer->data, static_cast<std::size_t>(buffer->position) + 1);
  if (buffer->ownsData) std::free(buffer->data);
  buffer->data = data;
  buffer->capacity = capacity;
  buffer->ownsData = 1;
  return 0;
}

int IsAsciiText(const char* text) {
  for (auto* byte = reinterpret_cast<const unsigned char*>(text); *byte != 0; ++byte) {
    if (*byte > 127) return 0;
  }
  return 1;
}

void UpperCaseAscii(char* text) {
  for (; *text != 0; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}

int CompareNoCase(const char* a, const char* b) {
  auto* x = reinterpret_cast<const unsigned char*>(a);
  auto* y = reinterpret_cast<const unsigned char*>(b);
  while (*x != 0 && std::toupper(*x) == std::toupper(*y)) {
    ++x;
    ++y;
  }
  return *x - *y;
}

int32_t CopyBounded(char* destination, const char* source, int32_t size) {
  if (destination == nullptr || size < 1) return 0;
  int32_t copied = 0;
  if (source != nullptr) {
    while (copied < size - 1 && source[copied] != 0) {
      destination[copied] = source[copied];
      ++copied;
    }
  }
  destination[copied] = 0;
  return copied;
}

namespace {

// The value of an upper-case hex digit, or -1.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int DecodeHexPair(char* p, unsigned char* out) {
  int value = 0;
  // The second digit is not looked at (or upper-cased) when the first fails,
  // so a pair cut short by the terminator is never read past.
  for (int i = 1; i <= 2; ++i) {
    if (p[i] >= 'a' && p[i] <= 'z') p[i] = static_cast<char>(p[i] - 'a' + 'A');
    int digit = HexValue(p[i]);
    if (digit < 0) return 0;
    value = value * 16 + digit;
  }
  *out = static_cast<unsigned char>(value);
  return 1;
}

}  // namespace mz
