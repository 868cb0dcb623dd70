// Holders for the scratch file the vCard exports write and read back: the
// stream is closed and the file deleted when the holders go out of scope.
#pragma once

#include "base/scratch.h"
#include "platform/files.h"
#include "stream/char_stream.h"
#include "stream/file_stream.h"
#include "stream/holders.h"

namespace mz {

// Capacity, in bytes and in characters, of the two scratch path buffers.
inline constexpr int kScratchPathSize = 260;

// The scratch file of one vCard export: the path pair made and the file
// opened "w+" as a stream. On scope exit the stream is closed and the file
// deleted by its UTF-16 path, also when the open failed after creating it. A
// path that cannot be made is empty: nothing opens and nothing is deleted.
class ScratchFile {
 public:
  ScratchFile() {
    ScratchFilePath(narrow_, kScratchPathSize, wide_, kScratchPathSize);
    stream_.reset(FileStream_open(narrow_, "w+"));
  }
  ~ScratchFile() {
    stream_.reset();
    if (wide_[0] != 0) DeleteFileW(wide_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Null when the file could not be opened.
  CharStream* stream() const { return stream_.get(); }

 private:
  char narrow_[kScratchPathSize] = {};
  WCHAR wide_[kScratchPathSize] = {};
  StreamHolder stream_;
};

}  // namespace mz
