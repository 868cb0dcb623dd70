#include "stream/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "platform/crt.h"

namespace mz {
namespace {

// Bytes read ahead of the position: GetChar and UngetChar then look into
// memory instead of calling into the C runtime for each byte.
constexpr int32_t kAheadSize = 4096;

struct FileStream {
  CharStream stream;  // self points at this object
  FILE* file;
  bool failed;  // see FileStream_failed
  // ahead[0..end) are the bytes just before the file's position, and the
  // stream's position is that of ahead[next]: end - next bytes behind the
  // file's. While next >= 1, ahead[next - 1] is the byte before it.
  int32_t next;
  int32_t end;
  unsigned char ahead[kAheadSize];
};

FileStream* StateOf(CharStream* stream) {
  return static_cast<FileStream*>(stream->self);
}

// Passes `result` on, remembering a failure when `ok` is false.
int32_t Noted(CharStream* stream, bool ok, int32_t result) {
  if (!ok) StateOf(stream)->failed = true;
  return result;
}

// Bytes read ahead and not yet given.
int32_t Pending(const FileStream* state) {
  return state->end - state->next;
}

// Forgets the bytes read ahead, once the file's position is the stream's.
void Drop(FileStream* state) {
  state->next = 0;
  state->end = 0;
}

// Brings the file's position back to the stream's, for the writes: false,
// the failure remembered, when that seek fails.
bool Settle(CharStream* stream) {
  FileStream* state = StateOf(stream);
  const int32_t pending = Pending(state);
  if (pending > 0 && std::fseek(state->file, -pending, SEEK_CUR) != 0) {
    state->failed = true;
    return false;
  }
  Drop(state);
  return true;
}

// Positions wider than 32 bits cannot be reported through the slots.
int32_t PositionOrIoError(long position) {
  if (position < 0 || position > INT32_MAX) return kStreamIoError;
  return static_cast<int32_t>(position);
}

void FileStream_close(CharStream* stream) {
  FileStream* state = StateOf(stream);
  if (state->file != nullptr) std::fclose(state->file);
  std::free(state);
}

int32_t FileStream_putChar(CharStream* stream, int byte) {
  if (!Settle(stream)) return kStreamIoError;
  int result = std::fputc(byte, StateOf(stream)->file);
  return Noted(stream, result >= 0, result < 0 ? kStreamIoError : result);
}

// GetChar once every byte read ahead was given: the next block is read in
// after the byte before the position, so that UngetChar can still step
// back onto it. End of file and a read failure both end the data here.
int32_t Refill(CharStream* stream) {
  FileStream* state = StateOf(stream);
  int32_t keep = 0;
  if (state->end > 0) {
    state->ahead[0] = state->ahead[state->end - 1];
    keep = 1;
  }
  const auto wanted = static_cast<std::size_t>(kAheadSize - keep);
  const std::size_t got = std::fread(state->ahead + keep, 1, wanted, state->file);
  if (got < wanted && std::ferror(state->file)) state->failed = true;
  state->next = keep;
  state->end = keep + static_cast<int32_t>(got);
  if (got == 0) return kStreamEnd;
  return state->ahead[state->next++];
}

int32_t FileStream_getChar(CharStream* stream) {
  FileStream* state = StateOf(stream);
  if (state->next < state->end) return state->ahead[state->next++];
  return Refill(stream);
}

// Right after GetChar the byte before the position is in memory. Anywhere
// else the file itself steps back, past what was read ahead.
int32_t FileStream_ungetChar(CharStream* stream) {
  FileStream* state = StateOf(stream);
  if (state->next >= 1) {
    --state->next;
    return 0;
  }
  const int32_t pending = Pending(state);
  if (std::fseek(state->file, -1L - pending, SEEK_CUR) == 0) {
    Drop(state);
    return 0;
  }
  // Before the first byte there is nothing to step back to; any other
  // failure may have lost the position.
  const bool atStart = errno == EINVAL && std::ftell(state->file) == pending;
  return Noted(stream, atStart, kStreamCannotStepBack);
}

int32_t FileStream_read(CharStream* stream, void* destination, int32_t count) {
  FileStream* state = StateOf(stream);
  const std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
  const int32_t pending = Pending(state);
  // What was read ahead first, then the file.
  const std::size_t given = std::min(wanted, static_cast<std::size_t>(pending));
  if (given > 0) std::memcpy(destination, state->ahead + state->next, given);
  state->next += static_cast<int32_t>(given);
  std::size_t got = given;
  if (given < wanted) {
    got += std::fread(static_cast<unsigned char*>(destination) + given, 1, wanted - given,
                      state->file);
    Drop(state);
  }
  const bool ok = !std::ferror(state->file);
  if (got != 0) return Noted(stream, ok, static_cast<int32_t>(got));
  return Noted(stream, ok, std::feof(state->file) && pending == 0 ? 0 : kStreamIoError);
}

int32_t FileStream_write(CharStream* stream, const void* source, int32_t count) {
  if (!Settle(stream)) return kStreamIoError;
  std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
  std::size_t written = std::fwrite(source, 1, wanted, StateOf(stream)->file);
  return Noted(stream, written == wanted, static_cast<int32_t>(written));
}

__attribute__((format(printf, 2, 3))) int32_t FileStream_printf(CharStream* stream,
                                                                const char* format, ...) {
  if (!Settle(stream)) return kStreamIoError;
  va_list arguments;
  va_start(arguments, format);
  int result = std::vfprintf(StateOf(stream)->file, format, arguments);
  va_end(arguments);
  return Noted(stream, result >= 0, result < 0 ? kStreamIoError : result);
}

// A seek from the current position counts from the stream's position, not
// the file's; a failed seek keeps what was read ahead, and so the position.
int32_t FileStream_seek(CharStream* stream, int32_t offset, int32_t origin) {
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return kStreamIoError;
  FileStream* state = StateOf(stream);
  const long from = origin == 1 ? long{offset} - Pending(state) : long{offset};
  const bool ok = std::fseek(state->file, from, kWhence[origin]) == 0;
  if (ok) Drop(state);
  return Noted(stream, ok, ok ? 0 : kStreamIoError);
}

int32_t FileStream_tell(CharStream* stream) {
  FileStream* state = StateOf(stream);
  const long position = std::ftell(state->file);
  return PositionOrIoError(position < 0 ? position : position - Pending(state));
}

// The file's position may stay ahead of the stream's: Tell and the other
// operations allow for it.
int32_t FileStream_flush(CharStream* stream) {
  const bool ok = std::fflush(StateOf(stream)->file) == 0;
  return Noted(stream, ok, ok ? 0 : kStreamIoError);
}

// The file goes back to where it was, so what was read ahead stays valid.
int32_t FileStream_size(CharStream* stream) {
  FILE* file = StateOf(stream)->file;
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
  std::memset(state, 0, offsetof(FileStream, ahead));
  state->stream = kFileStreamSlots;
  state->file = file;
  state->stream.self = state;
  return &state->stream;
}

bool FileStream_failed(CharStream* stream) {
  return StateOf(stream)->failed;
}

}  // namespace mz
