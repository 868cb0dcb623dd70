#include "stream/mem_buf.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "stream/console.h"

namespace mz {
namespace {

struct MemBuf {
  CharStream stream;  // self points at this block
  unsigned char* data;
  int16_t ownsData;  // 1 when the stream allocated data and releases it
  int32_t capacity;
  int32_t length;
  int32_t position;
  int16_t growable;  // 1 while data may be replaced by a larger buffer
  char* scratch;
  int32_t scratchSize;
  int32_t doubling;  // 1 when growth doubles the capacity
};

MemBuf* StateOf(CharStream* stream) {
  return static_cast<MemBuf*>(stream->self);
}

// Makes the buffer hold at least n bytes: 0, or kStreamNoRoom with the
// buffer unchanged. n is wide so that a caller's length plus count cannot
// wrap.
int32_t MemBuf_reserve(MemBuf* state, int64_t n) {
  if (n <= state->capacity) return 0;
  if (!state->growable || state->data == nullptr) return kStreamNoRoom;
  int64_t capacity = (n / 16) * 16 + 16;
  if (state->doubling == 1 && 2 * int64_t{state->capacity} >= n) {
    capacity = 2 * int64_t{state->capacity};
  }
  if (capacity > INT32_MAX) return kStreamNoRoom;
  auto* data = static_cast<unsigned char*>(Allocate(static_cast<std::size_t>(capacity)));
  if (data == nullptr) return kStreamNoRoom;
  // The data and the byte after it, the terminator when PutChar wrote last.
  std::memcpy(data, state->data, static_cast<std::size_t>(state->length) + 1);
  if (state->ownsData) std::free(state->data);
  state->data = data;
  state->capacity = static_cast<int32_t>(capacity);
  state->ownsData = 1;
  return 0;
}

void MemBuf_close(CharStream* stream) {
  MemBuf* state = StateOf(stream);
  if (state->ownsData && state->data != nullptr) std::free(state->data);
  std::free(state->scratch);
  std::free(state);
}

int32_t MemBuf_putChar(CharStream* stream, int byte) {
  MemBuf* state = StateOf(stream);
  int32_t result = MemBuf_reserve(state, int64_t{state->length} + 2);
  if (result != 0) return result;
  state->data[state->position++] = static_cast<unsigned char>(byte);
  // Terminate appended text, but never at the cost of a byte of the data
  // that follows a replaced one.
  if (state->position >= state->length) {
    state->data[state->position] = 0;
    state->length = state->position;
  }
  return byte;
}

int32_t MemBuf_getChar(CharStream* stream) {
  MemBuf* state = StateOf(stream);
  if (state->position >= state->length) return kStreamEnd;
  return state->data[state->position++];
}

int32_t MemBuf_ungetChar(CharStream* stream) {
  MemBuf* state = StateOf(stream);
  if (state->position < 1) return kStreamCannotStepBack;
  --state->position;
  return 0;
}

int32_t MemBuf_read(CharStream* stream, void* destination, int32_t count) {
  MemBuf* state = StateOf(stream);
  int32_t left = state->length - state->position;
  int32_t k = count < left ? count : left;
  if (k < 1) return k;
  std::memcpy(destination, state->data + state->position, static_cast<std::size_t>(k));
  state->position += k;
  return k;
}

int32_t MemBuf_write(CharStream* stream, const void* source, int32_t count) {
  MemBuf* state = StateOf(stream);
  if (count < 0) return kStreamInvalidArgument;
  int32_t result = MemBuf_reserve(state, int64_t{state->length} + count + 1);
  if (result != 0) return result;
  if (count > 0) {
    std::memcpy(state->data + state->position, source, static_cast<std::size_t>(count));
  }
  state->position += count;
  if (state->position > state->length) state->length = state->position;
  return count;
}

// The fatal stop of a Printf whose text does not fit the scratch buffer.
[[noreturn]] void MemBuf_overflow() {
  std::fputs("Fault err on MemBuf_printf\n", stdout);
  std::fflush(stdout);  // seen before the long wait of ExitProgram
  ExitProgram(50);
}

__attribute__((format(printf, 2, 3))) int32_t MemBuf_printf(CharStream* stream, const char* format,
                                                            ...) {
  MemBuf* state = StateOf(stream);
  va_list arguments;
  va_start(arguments, format);
  const int32_t result = PrintfInMemory(stream, state->scratch, state->scratchSize, MemBuf_overflow,
                                        format, arguments);
  va_end(arguments);
  return result;
}

int32_t MemBuf_seek(CharStream* stream, int32_t offset, int32_t origin) {
  MemBuf* state = StateOf(stream);
  return SeekInMemory(&state->position, state->length, offset, origin, kStreamBadOrigin,
                      kStreamInvalidArgument);
}

int32_t MemBuf_tell(CharStream* stream) {
  return StateOf(stream)->position;
}

int32_t MemBuf_flush(CharStream*) {
  return 0;
}

int32_t MemBuf_size(CharStream* stream) {
  return StateOf(stream)->length;
}

// The slots in the order CharStream declares them; self is set per block.
const CharStream kMemBufSlots = {
    nullptr,           // self
    MemBuf_close,      // Close
    MemBuf_putChar,    // PutChar
    MemBuf_getChar,    // GetChar
    MemBuf_ungetChar,  // UngetChar
    MemBuf_read,       // Read
    MemBuf_write,      // Write
    MemBuf_printf,     // Printf
    MemBuf_seek,       // Seek
    MemBuf_tell,       // Tell
    MemBuf_flush,      // Flush
    MemBuf_size,       // Size
};

}  // namespace

CharStream* MemBuf_create(int32_t capacity, int32_t scratchSize) {
  auto* state = static_cast<MemBuf*>(Allocate(sizeof(MemBuf)));
  if (state == nullptr) return nullptr;
  std::memset(state, 0, sizeof *state);
  state->stream = kMemBufSlots;
  state->stream.self = state;
  if (capacity >= 1) {
    state->data = static_cast<unsigned char*>(Allocate(static_cast<std::size_t>(capacity)));
    if (state->data == nullptr) {
      std::free(state);
      return nullptr;
    }
    state->data[0] = 0;
    state->capacity = capacity;
    state->ownsData = 1;
    state->growable = 1;
  }
  state->scratchSize = scratchSize < 0 ? 256 : scratchSize;
  if (state->scratchSize > 0) {
    // A failed allocation is remembered by the size alone; Printf reports it.
    state->scratch = static_cast<char*>(Allocate(static_cast<std::size_t>(state->scratchSize)));
  }
  return &state->stream;
}

void MemBuf_fixSize(CharStream* stream) {
  if (stream != nullptr) StateOf(stream)->growable = 0;
}

void MemBuf_setDoubling(CharStream* stream, int mode) {
  if (stream != nullptr) StateOf(stream)->doubling = mode == 1 ? 1 : 0;
}

char* MemBuf_data(CharStream* stream) {
  if (stream == nullptr) return nullptr;
  return reinterpret_cast<char*>(StateOf(stream)->data);
}

}  // namespace mz
