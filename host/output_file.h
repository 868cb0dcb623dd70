// The file an export writes with -o: a regular file is replaced whole or not
// at all; a FIFO or a device is written in place.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace mzhost {

// Where an export writes: the file at the end of any symbolic links, and
// whether it is written in place.
struct ExportTarget {
  std::string path;
  bool inPlace = false;        // a FIFO, character device or terminal
  std::optional<mode_t> mode;  // of a regular file that exists
};

// Failure for a folder or another kind of file an export cannot write.
ExportTarget ResolveTarget(const std::string& given);

// A regular file is made beside its target, synced and moved into place only
// when complete, so that a failed export leaves the target as it was; it
// keeps an existing file's mode. A FIFO or a device is written in place.
class OutputFile {
 public:
  // Failure when the file cannot be made.
  explicit OutputFile(const std::string& given);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::FILE* get() const { return file_; }
  // Puts the whole output in place; Failure when any of it was lost.
  void Commit();

 private:
  void Discard();

  std::string given_;
  ExportTarget target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
};

// Writes to the file when there is one, else to standard output.
void WriteTo(OutputFile* file, std::string_view bytes);

}  // namespace mzhost
