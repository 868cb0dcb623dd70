// The phone's C runtime file functions: phone paths resolved inside fs/,
// opened as descriptors, and wrapped as standard-I/O streams whose
// transfers pass fault points.
#include "platform/crt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/fault.h"
#include "device/device.h"
#include "device/paths.h"
#include "text.h"

namespace platform {
namespace {

// The open(2) flags of a standard-I/O mode, or -1 for a mode that is not
// one. Truncation is left to the caller, after the file is known to be a
// regular one.
int FlagsOf(const char* mode, bool* truncate) {
  int flags = 0;
  switch (mode[0]) {
    case 'r':
      flags = O_RDONLY;
      break;
    case 'w':
      flags = O_WRONLY | O_CREAT;
      *truncate = true;
      break;
    case 'a':
      flags = O_WRONLY | O_CREAT | O_APPEND;
      break;
    default:
      return -1;
  }
  for (const char* c = mode + 1; *c != 0; ++c) {
    if (*c == '+') {
      flags = (flags & ~(O_RDONLY | O_WRONLY)) | O_RDWR;
    } else if (*c != 'b' && *c != 't') {
      return -1;
    }
  }
  return flags;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EACCES;
  }
}

// The descriptor travels in the cookie pointer itself.
int FdOf(void* cookie) {
  return static_cast<int>(reinterpret_cast<intptr_t>(cookie));
}

ssize_t ReadFile(void* cookie, char* buffer, size_t size) {
  if (auto fault = FaultAt("fread")) {
    errno = *fault;
    return -1;
  }
  ssize_t got;
  do {
    got = ::read(FdOf(cookie), buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// A short count tells the standard I/O that the write failed.
ssize_t WriteFile(void* cookie, const char* buffer, size_t size) {
  if (auto fault = FaultAt("fwrite")) {
    errno = *fault;
    return 0;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(FdOf(cookie), buffer + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  return static_cast<ssize_t>(done);
}

int SeekFile(void* cookie, off64_t* offset, int whence) {
  if (auto fault = FaultAt("fseek")) {
    errno = *fault;
    return -1;
  }
  const off_t position = ::lseek(FdOf(cookie), *offset, whence);
  if (position < 0) return -1;
  *offset = position;
  return 0;
}

int CloseFile(void* cookie) {
  return ::close(FdOf(cookie));
}

constexpr cookie_io_functions_t kFileFunctions = {ReadFile, WriteFile, SeekFile, CloseFile};

std::FILE* Fail(int error) {
  errno = error;
  return nullptr;
}

}  // namespace
}  // namespace platform

std::FILE* crt::fopen(const char* path, const char* mode) {
  using platform::Fail;
  if (auto fault = platform::FaultAt("fopen")) return Fail(*fault);
  if (path == nullptr || mode == nullptr) return Fail(EINVAL);
  bool truncate = false;
  const int flags = platform::FlagsOf(mode, &truncate);
  if (flags < 0) return Fail(EINVAL);
  auto device = platform::CurrentDevice();
  if (!device) return Fail(ENODEV);
  DWORD error = 0;
  const auto host = platform::ResolvePath(*device, platform::AnsiToUtf16(path), &error);
  if (!host) return Fail(platform::ErrnoOf(error));

  // The last name was resolved already; one that turned into a link since
  // is refused, and a FIFO cannot stall the open.
  const int fd = ::open(host->c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  // A link (ELOOP), or a FIFO or socket without a peer (ENXIO), is no
  // regular file.
  if (fd < 0) return Fail(errno == ELOOP || errno == ENXIO ? EACCES : errno);
  // An empty file is not cut: that changes nothing, and some file systems
  // (ext4) take a cut to empty as a rewrite in place and write the file out
  // at close, which would cost the library's scratch file, made and removed
  // for every contact read, a disk write and a discard each time.
  struct stat st;
  int why = 0;
  if (::fstat(fd, &st) != 0) {
    why = errno;
  } else if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
  } else if (::fcntl(fd, F_SETFL, flags & O_APPEND) != 0 ||
             (truncate && st.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
    why = errno;
  }
  if (why != 0) {
    ::close(fd);
    return Fail(why);
  }
  char cookieMode[4] = {mode[0], 0, 0, 0};
  if ((flags & O_ACCMODE) == O_RDWR) cookieMode[1] = '+';
  std::FILE* file = ::fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), cookieMode,
                                  platform::kFileFunctions);
  if (file == nullptr) {
    why = errno;
    ::close(fd);
    return Fail(why);
  }
  return file;
}
