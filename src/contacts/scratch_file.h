// Holders for the scratch file the vCard exports write and read back: the
// stream is closed and the file deleted when the holders go out of scope.
#pragma once

#include <memory>

#include "platform/files.h"
#include "stream/char_stream.h"

namespace mz {

// Capacity, in bytes and in characters, of the two scratch path buffers.
inline constexpr int kScratchPathSize = 260;

struct StreamCloser {
  void operator()(CharStream* stream) const { stream->Close(stream); }
};
using StreamHolder = std::unique_ptr<CharStream, StreamCloser>;

// Deletes the scratch file when it goes out of scope; declared before the
// stream, so that the stream is closed first. An empty path deletes nothing.
class ScratchFileRemover {
 public:
  explicit ScratchFileRemover(const WCHAR* path) : path_(path) {}
  ~ScratchFileRemover() {
    if (path_[0] != 0) DeleteFileW(path_);
  }
  ScratchFileRemover(const ScratchFileRemover&) = delete;
  ScratchFileRemover& operator=(const ScratchFileRemover&) = delete;

 private:
  const WCHAR* path_;
};

}  // namespace mz
