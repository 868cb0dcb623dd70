#include "stream/file_stream.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "platform/crt.h"

namespace mz {
namespace {

struct FileStream {
  CharStream stream;  // self points at this object
  FILE* file;
  bool failed;  // see FileStream_failed
  // The byte the last operation, a GetChar, gave; -1 after any other.
  int last;
};

FileStream* StateOf(CharStream* stream) {
  return static_cast<FileStream*>(stream->self);
}

// The file, for every operation but GetChar and UngetChar: after it, the
// byte GetChar gave last is no longer the one before the position.
FILE* FileOf(CharStream* stream) {
  StateOf(stream)->last = -1;
  return StateOf(stream)->file;
}

// Passes `result` on, remembering a failure when `ok` is false.
int32_t Noted(CharStream* stream, bool ok, int32_t result) {
  if (!ok) static_cast<FileStream*>(stream->self)->failed = true;
  return result;
}

// Positions wider than 32 bits cannot be reported through the slots.
int32_t PositionOrIoError(long position) {
  if (position < 0 || position > INT32_MAX) return kStreamIoError;
  return static_cast<int32_t>(position);
}

void FileStream_close(CharStream* stream) {
  FileStream* state = static_cast<FileStream*>(stream->self);
  if (state->file != nullptr) std::fclose(state->file);
  std::free(state);
}

int32_t FileStream_putChar(CharStream* stream, int byte) {
  int result = std::fputc(byte, FileOf(stream));
  return Noted(stream, result >= 0, result < 0 ? kStreamIoError : result);
}

int32_t FileStream_getChar(CharStream* stream) {
  FileStream* state = StateOf(stream);
  int result = std::fgetc(state->file);
  state->last = result;
  return Noted(stream, result >= 0 || !std::ferror(state->file), result < 0 ? kStreamEnd : result);
}

// Right after GetChar the byte goes back into the buffer, which moves the
// position back just as a seek would; a seek would drop the buffer and read
// it again, once per step back.
int32_t FileStream_ungetChar(CharStream* stream) {
  FileStream* state = StateOf(stream);
  if (state->last >= 0 && std::ungetc(state->last, state->file) != EOF) {
    state->last = -1;
    return 0;
  }
  FILE* file = FileOf(stream);
  if (std::fseek(file, -1, SEEK_CUR) == 0) return 0;
  // Before the first byte there is nothing to step back to; any other
  // failure may have lost the position.
  return Noted(stream, errno == EINVAL && std::ftell(file) == 0, kStreamCannotStepBack);
}

int32_t FileStream_read(CharStream* stream, void* destination, int32_t count) {
  FILE* file = FileOf(stream);
  std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
  std::size_t got = std::fread(destination, 1, wanted, file);
  const bool ok = !std::ferror(file);
  if (got != 0) return Noted(stream, ok, static_cast<int32_t>(got));
  return Noted(stream, ok, std::feof(file) ? 0 : kStreamIoError);
}

int32_t FileStream_write(CharStream* stream, const void* source, int32_t count) {
  std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
  std::size_t written = std::fwrite(source, 1, wanted, FileOf(stream));
  return Noted(stream, written == wanted, static_cast<int32_t>(written));
}

__attribute__((format(printf, 2, 3))) int32_t FileStream_printf(CharStream* stream,
                                                                const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = std::vfprintf(FileOf(stream), format, arguments);
  va_end(arguments);
  return Noted(stream, result >= 0, result < 0 ? kStreamIoError : result);
}

int32_t FileStream_seek(CharStream* stream, int32_t offset, int32_t origin) {
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return kStreamIoError;
  const bool ok = std::fseek(FileOf(stream), offset, kWhence[origin]) == 0;
  return Noted(stream, ok, ok ? 0 : kStreamIoError);
}

int32_t FileStream_tell(CharStream* stream) {
  return PositionOrIoError(std::ftell(FileOf(stream)));
}

int32_t FileStream_flush(CharStream* stream) {
  const bool ok = std::fflush(FileOf(stream)) == 0;
  return Noted(stream, ok, ok ? 0 : kStreamIoError);
}

int32_t FileStream_size(CharStream* stream) {
  FILE* file = FileOf(stream);
  long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) < 0) return kStreamIoError;
  long end = std::ftell(file);
  std::fseek(file, here, SEEK_SET);
  return PositionOrIoError(end);
}

// The slots in the order CharStream declares them; self is set per object.
const CharStream kFileStreamSlots = {
    nullptr,               // self
    FileStream_close,      // Close
    FileStream_putChar,    // PutChar
    FileStream_getChar,    // GetChar
    FileStream_ungetChar,  // UngetChar
    FileStream_read,       // Read
    FileStream_write,      // Write
    FileStream_printf,     // Printf
    FileStream_seek,       // Seek
    FileStream_tell,       // Tell
    FileStream_flush,      // Flush
    FileStream_size,       // Size
};

}  // namespace

CharStream* FileStream_open(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  FILE* file = crt::fopen(path, mode);
  if (file == nullptr) return nullptr;
  auto* state = static_cast<FileStream*>(Allocate(sizeof(FileStream)));
  if (state == nullptr) {
    std::fclose(file);
    return nullptr;
  }
  std::memset(state, 0, sizeof *state);
  state->stream = kFileStreamSlots;
  state->file = file;
  state->last = -1;
  state->stream.self = state;
  return &state->stream;
}

bool FileStream_failed(CharStream* stream) {
  return static_cast<FileStream*>(stream->self)->failed;
}

}  // namespace mz
