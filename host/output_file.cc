#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host.h"

namespace mzhost {

ExportTarget ResolveTarget(const std::string& given) {
  namespace fs = std::filesystem;
  fs::path path = given;
  std::error_code ec;
  // Followed by hand: a link to a file not made yet must lead to that file,
  // where canonical forms stop at the link.
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
    const fs::path link = fs::read_symlink(path, ec);
    if (ec) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  ExportTarget target;
  target.path = path.string();
  struct stat info {};
  if (stat(target.path.c_str(), &info) != 0) {
    if (errno != ENOENT) throw Failure{"cannot write " + given + ": " + std::strerror(errno)};
  } else if (S_ISDIR(info.st_mode)) {
    throw Failure{"cannot write " + given + ": it is a folder"};
  } else if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
    target.inPlace = true;
  } else if (S_ISREG(info.st_mode)) {
    target.mode = info.st_mode & 07777;
  } else {
    throw Failure{"cannot write " + given + ": it is not a file, FIFO or terminal"};
  }
  return target;
}

OutputFile::OutputFile(const std::string& given) : given_(given), target_(ResolveTarget(given)) {
  int fd = -1;
  if (target_.inPlace) {
    fd = open(target_.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  } else {
    temp_ = std::filesystem::path(target_.path).parent_path() / ".mzhost-export-XXXXXX";
    fd = mkstemp(temp_.data());
    if (fd < 0) temp_.clear();
  }
  if (fd < 0 || (file_ = fdopen(fd, "wb")) == nullptr) {
    const int error = errno;
    if (fd >= 0) close(fd);
    Discard();
    throw Failure{"cannot write " + given_ + ": " + std::strerror(error)};
  }
  if (!target_.inPlace) {
    // mkstemp makes the file private; give it the mode the target has, or
    // the one a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, target_.mode.value_or(0666 & ~mask));
  }
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
  Discard();
}

void OutputFile::Commit() {
  int error = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_) ||
      (!target_.inPlace && fsync(fileno(file_)) != 0)) {
    error = errno != 0 ? errno : EIO;
  }
  if (std::fclose(file_) != 0 && error == 0) error = errno;
  file_ = nullptr;
  if (error == 0 && !target_.inPlace && std::rename(temp_.c_str(), target_.path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    Discard();
    throw Failure{"cannot write " + given_ + ": " + std::strerror(error)};
  }
  temp_.clear();
  if (!target_.inPlace) {
    // The rename itself lasts once the folder holding it is synced.
    const std::string folder = std::filesystem::path(target_.path).parent_path().string();
    const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
}

void OutputFile::Discard() {
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
}

void WriteTo(OutputFile* file, std::string_view bytes) {
  if (file == nullptr) {
    WriteOut(bytes);
  } else {
    std::fwrite(bytes.data(), 1, bytes.size(), file->get());
  }
}

}  // namespace mzhost
