#include "stream/abs_file_mem.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"

namespace mz {
namespace {

struct AbsFileMem {
  CharStream stream;  // self points at this object
  unsigned char* data;
  int32_t capacity;
  int32_t length;
  int32_t position;
  char* scratch;
  int32_t scratchSize;
};

AbsFileMem* StateOf(CharStream* stream) {
  return static_cast<AbsFileMem*>(stream->self);
}

void AbsFileMem_close(CharStream* stream) {
  AbsFileMem* state = StateOf(stream);
  std::free(state->scratch);
  std::free(state);
}

int32_t AbsFileMem_putChar(CharStream* stream, int byte) {
  AbsFileMem* state = StateOf(stream);
  if (state->position >= state->capacity) return kStreamNoRoom;
  state->data[state->position++] = static_cast<unsigned char>(byte);
  if (state->position > state->length) state->length = state->position;
  return byte;
}

int32_t AbsFileMem_getChar(CharStream* stream) {
  AbsFileMem* state = StateOf(stream);
  if (state->position >= state->length) return kStreamEnd;
  return state->data[state->position++];
}

int32_t AbsFileMem_ungetChar(CharStream* stream) {
  AbsFileMem* state = StateOf(stream);
  if (state->position < 1) return kStreamCannotStepBack;
  --state->position;
  return 0;
}

int32_t AbsFileMem_read(CharStream* stream, void* destination, int32_t count) {
  AbsFileMem* state = StateOf(stream);
  int32_t left = state->length - state->position;
  int32_t k = count < left ? count : left;
  if (k < 1) return 0;
  std::memcpy(destination, state->data + state->position, static_cast<std::size_t>(k));
  state->position += k;
  return k;
}

int32_t AbsFileMem_write(CharStream* stream, const void* source, int32_t count) {
  AbsFileMem* state = StateOf(stream);
  int64_t room = int64_t{state->capacity} - state->position;
  int64_t k = count < room ? count : room;
  if (k < 0) return kStreamNoRoom;
  if (k > 0) std::memcpy(state->data + state->position, source, static_cast<std::size_t>(k));
  state->position += static_cast<int32_t>(k);
  if (state->position > state->length) state->length = state->position;
  return static_cast<int32_t>(k);
}

// The fatal stop of a Printf whose text does not fit the scratch buffer.
[[noreturn]] void AbsFileMem_overflow() {
  std::fputs("Fault err on AbsFileMem_printf\n", stdout);
  std::exit(50);
}

__attribute__((format(printf, 2, 3))) int32_t AbsFileMem_printf(CharStream* stream,
                                                                const char* format, ...) {
  AbsFileMem* state = StateOf(stream);
  va_list arguments;
  va_start(arguments, format);
  const int32_t result = PrintfInMemory(stream, state->scratch, state->scratchSize,
                                        AbsFileMem_overflow, format, arguments);
  va_end(arguments);
  return result;
}

int32_t AbsFileMem_seek(CharStream* stream, int32_t offset, int32_t origin) {
  AbsFileMem* state = StateOf(stream);
  return SeekInMemory(&state->position, state->length, offset, origin, kStreamInvalidArgument,
                      kStreamIoError);
}

int32_t AbsFileMem_tell(CharStream* stream) {
  return StateOf(stream)->position;
}

int32_t AbsFileMem_flush(CharStream*) {
  return 0;
}

int32_t AbsFileMem_size(CharStream* stream) {
  return StateOf(stream)->length;
}

// The slots in the order CharStream declares them; self is set per object.
const CharStream kAbsFileMemSlots = {
    nullptr,               // self
    AbsFileMem_close,      // Close
    AbsFileMem_putChar,    // PutChar
    AbsFileMem_getChar,    // GetChar
    AbsFileMem_ungetChar,  // UngetChar
    AbsFileMem_read,       // Read
    AbsFileMem_write,      // Write
    AbsFileMem_printf,     // Printf
    AbsFileMem_seek,       // Seek
    AbsFileMem_tell,       // Tell
    AbsFileMem_flush,      // Flush
    AbsFileMem_size,       // Size
};

}  // namespace

CharStream* AbsFileMem_create(void* data, int32_t capacity, int32_t length, int32_t scratchSize) {
  auto* state = static_cast<AbsFileMem*>(Allocate(sizeof(AbsFileMem)));
  if (state == nullptr) return nullptr;
  std::memset(state, 0, sizeof *state);
  state->stream = kAbsFileMemSlots;
  state->stream.self = state;
  if (data != nullptr) {
    state->data = static_cast<unsigned char*>(data);
    state->capacity = capacity;
    state->length = length;
  }
  state->scratchSize = scratchSize < 0 ? 256 : scratchSize;
  if (state->scratchSize > 0) {
    // A failed allocation is remembered by the size alone; Printf reports it.
    state->scratch = static_cast<char*>(Allocate(static_cast<std::size_t>(state->scratchSize)));
  }
  return &state->stream;
}

}  // namespace mz
