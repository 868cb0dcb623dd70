// The phone's file calls, confined to the device's fs/ folder.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/fault.h"
#include "device/device.h"
#include "device/paths.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Longest path text read from a caller; anything longer is refused rather
// than scanned further.
constexpr std::size_t kMaxPathChars = 32767;

// The text of a caller's path, or nullopt when it is unreasonably long.
std::optional<std::u16string_view> PathText(LPCWSTR path) {
  std::size_t length = 0;
  while (length <= kMaxPathChars && path[length] != 0) ++length;
  if (length > kMaxPathChars) return std::nullopt;
  return std::u16string_view(path, length);
}

std::optional<fs::path> ResolveArgument(const Device& device, LPCWSTR path, DWORD* error) {
  auto text = PathText(path);
  if (!text) {
    *error = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  return ResolvePath(device, *text, error);
}

DWORD FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

// A missing file in an existing folder, or a missing folder.
DWORD MissingError(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path.parent_path(), ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// The phone's error for a failed call on `path` that left `error` in errno.
DWORD ErrorOf(int error, const fs::path& path) {
  return error == ENOENT ? MissingError(path) : FromErrno(error);
}

// The common start of a call on one path: its fault point `point`, then the
// path (which must be given) resolved on the current device. nullopt with
// the call's error in *error otherwise.
std::optional<fs::path> ResolveCall(const char* point, LPCWSTR path, DWORD* error) {
  if (auto fault = FaultAt(point)) {
    *error = static_cast<DWORD>(*fault);
    return std::nullopt;
  }
  if (path == nullptr) {
    *error = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  auto device = CurrentDevice();
  if (!device) {
    *error = ERROR_NOT_READY;
    return std::nullopt;
  }
  return ResolveArgument(*device, path, error);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting the late write errors close can give.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool CopyBytes(int in, int out, DWORD* error) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = FromErrno(errno);
      return false;
    }
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        *error = FromErrno(errno);
        return false;
      }
      done += put;
    }
  }
}

// Writes a copy to a destination that must not exist yet; O_EXCL makes the
// check and the creation one step.
BOOL CopyToNew(int in, mode_t mode, const fs::path& destination) {
  Fd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (out.get() < 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : FromErrno(errno));
  DWORD error = 0;
  bool ok = CopyBytes(in, out.get(), &error);
  if (!out.Close() && ok) {
    ok = false;
    error = FromErrno(errno);
  }
  if (ok) return TRUE;
  ::unlink(destination.c_str());
  return Fail(error);
}

// Replaces the destination by renaming a finished copy over it, so that a
// failed copy leaves the old file whole.
BOOL CopyOver(int in, mode_t mode, const fs::path& destination) {
  std::string pattern = (destination.parent_path() / ".copy-XXXXXX").native();
  Fd out(::mkostemp(pattern.data(), O_CLOEXEC));
  if (out.get() < 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : FromErrno(errno));
  DWORD error = 0;
  bool ok = CopyBytes(in, out.get(), &error);
  if (ok && ::fchmod(out.get(), mode) != 0) {
    ok = false;
    error = FromErrno(errno);
  }
  if (!out.Close() && ok) {
    ok = false;
    error = FromErrno(errno);
  }
  if (ok && ::rename(pattern.c_str(), destination.c_str()) != 0) {
    ok = false;
    error = errno == EISDIR ? ERROR_ACCESS_DENIED : FromErrno(errno);
  }
  if (ok) return TRUE;
  ::unlink(pattern.c_str());
  return Fail(error);
}

// An open folder search: the matches in order, the next one to give.
struct Search {
  std::vector<WIN32_FIND_DATAW> matches;
  std::size_t next = 0;
};

std::mutex g_searchesMutex;
std::set<Search*> g_searches;  // open ones, so that a stale handle is told apart

// Whether `name` matches `pattern` (* any run, ? one unit), ASCII case folded.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || fold(pattern[p]) == fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// The entries of `folder` whose names match, in order of name; those whose
// link leads outside `root` are left out.
std::vector<WIN32_FIND_DATAW> Listing(const fs::path& root, const fs::path& folder,
                                      std::u16string_view pattern) {
  std::vector<WIN32_FIND_DATAW> matches;
  std::error_code ec;
  const fs::path inside = fs::canonical(root, ec);
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const std::u16string name = it->path().filename().u16string();
    if (name.size() >= MAX_PATH || !Matches(pattern, name)) continue;
    std::error_code linkError;
    const fs::path target = fs::canonical(it->path(), linkError);
    const auto [end, unused] =
        std::mismatch(inside.begin(), inside.end(), target.begin(), target.end());
    if (linkError || end != inside.end()) continue;
    WIN32_FIND_DATAW found{};
    const bool folderEntry = fs::is_directory(target, linkError);
    found.dwFileAttributes = folderEntry ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    const std::uintmax_t size = folderEntry ? 0 : fs::file_size(target, linkError);
    found.nFileSizeHigh = linkError ? 0 : static_cast<DWORD>(size >> 32);
    found.nFileSizeLow = linkError ? 0 : static_cast<DWORD>(size);
    std::copy(name.begin(), name.end(), found.cFileName);
    matches.push_back(found);
  }
  std::sort(matches.begin(), matches.end(), [](const auto& a, const auto& b) {
    return std::u16string_view(a.cFileName) < std::u16string_view(b.cFileName);
  });
  return matches;
}

// The open search `handle` names, or null.
Search* OpenSearch(HANDLE handle) {
  std::lock_guard lock(g_searchesMutex);
  const auto it = g_searches.find(static_cast<Search*>(handle));
  return it == g_searches.end() ? nullptr : *it;
}

// Gives the search's next match; FALSE with ERROR_NO_MORE_FILES after the last.
BOOL GiveNext(Search* search, WIN32_FIND_DATAW* found) {
  if (search->next >= search->matches.size()) return Fail(ERROR_NO_MORE_FILES);
  *found = search->matches[search->next++];
  return TRUE;
}

}  // namespace

}  // namespace platform

DWORD GetTempPathW(DWORD capacity, LPWSTR buffer) {
  if (auto fault = platform::FaultAt("GetTempPathW")) {
    SetLastError(static_cast<DWORD>(*fault));
    return 0;
  }
  if (buffer == nullptr && capacity > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto device = platform::CurrentDevice();
  if (!device) {
    SetLastError(ERROR_NOT_READY);
    return 0;
  }
  DWORD error = 0;
  auto temp = platform::ResolvePath(*device, std::u16string_view(u"\\Temp"), &error);
  if (!temp) {
    SetLastError(error);
    return 0;
  }
  std::error_code ec;
  std::filesystem::create_directory(*temp, ec);
  std::error_code unused;
  if (!std::filesystem::is_directory(*temp, unused)) {
    SetLastError(ec ? platform::FromErrno(ec.value()) : ERROR_ACCESS_DENIED);
    return 0;
  }
  // A phone path, whatever the device folder is called: the phone's own
  // file calls and its C runtime take it as it is.
  static constexpr std::u16string_view kTemp = u"\\Temp\\";
  if (kTemp.size() + 1 > capacity) return static_cast<DWORD>(kTemp.size() + 1);
  std::copy(kTemp.begin(), kTemp.end(), buffer);
  buffer[kTemp.size()] = 0;
  return static_cast<DWORD>(kTemp.size());
}

BOOL DeleteFileW(LPCWSTR path) {
  using platform::Fail;
  DWORD error = 0;
  auto host = platform::ResolveCall("DeleteFileW", path, &error);
  if (!host) return Fail(error);
  struct stat st;
  if (::lstat(host->c_str(), &st) != 0) return Fail(platform::ErrorOf(errno, *host));
  if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (::unlink(host->c_str()) != 0) return Fail(platform::FromErrno(errno));
  return TRUE;
}

BOOL CopyFileW(LPCWSTR source, LPCWSTR destination, BOOL failIfExists) {
  using platform::Fail;
  if (auto fault = platform::FaultAt("CopyFileW")) return Fail(static_cast<DWORD>(*fault));
  if (source == nullptr || destination == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  auto device = platform::CurrentDevice();
  if (!device) return Fail(ERROR_NOT_READY);
  DWORD error = 0;
  auto from = platform::ResolveArgument(*device, source, &error);
  if (!from) return Fail(error);
  auto to = platform::ResolveArgument(*device, destination, &error);
  if (!to) return Fail(error);

  // Non-blocking, so that a FIFO cannot stall the open; it is refused below.
  platform::Fd in(::open(from->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) return Fail(platform::ErrorOf(errno, *from));
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return Fail(platform::FromErrno(errno));
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);

  // Copying a file onto itself would truncate it before reading.
  struct stat existing;
  if (::stat(to->c_str(), &existing) == 0 && existing.st_dev == st.st_dev &&
      existing.st_ino == st.st_ino) {
    return Fail(failIfExists ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION);
  }
  const mode_t mode = st.st_mode & 0777;
  return failIfExists ? platform::CopyToNew(in.get(), mode, *to)
                      : platform::CopyOver(in.get(), mode, *to);
}

DWORD GetFileAttributesW(LPCWSTR path) {
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  };
  DWORD error = 0;
  auto host = platform::ResolveCall("GetFileAttributesW", path, &error);
  if (!host) return fail(error);
  struct stat st;
  if (::stat(host->c_str(), &st) != 0) return fail(platform::ErrorOf(errno, *host));
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* found) {
  auto fail = [](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  DWORD error = 0;
  if (pattern == nullptr || found == nullptr) {
    platform::ResolveCall("FindFirstFileW", nullptr, &error);  // its fault point, then the refusal
    return fail(error);
  }
  auto text = platform::PathText(pattern);
  if (!text) return fail(ERROR_INVALID_PARAMETER);
  const std::size_t cut = text->find_last_of(u"\\/");
  const std::u16string folder(cut == std::u16string_view::npos ? u"\\" : text->substr(0, cut + 1));
  const std::u16string_view names =
      cut == std::u16string_view::npos ? *text : text->substr(cut + 1);
  auto host = platform::ResolveCall("FindFirstFileW", folder.c_str(), &error);
  if (!host) return fail(error);
  std::error_code ec;
  if (!std::filesystem::is_directory(*host, ec)) return fail(ERROR_PATH_NOT_FOUND);
  const auto device = platform::CurrentDevice();
  if (!device) return fail(ERROR_NOT_READY);
  auto root = platform::ResolveArgument(*device, u"\\", &error);
  if (!root) return fail(error);
  auto search = std::make_unique<platform::Search>();
  search->matches = platform::Listing(*root, *host, names);
  if (search->matches.empty()) return fail(ERROR_FILE_NOT_FOUND);
  platform::GiveNext(search.get(), found);
  std::lock_guard lock(platform::g_searchesMutex);
  platform::g_searches.insert(search.get());
  return search.release();
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* found) {
  using platform::Fail;
  if (auto fault = platform::FaultAt("FindNextFileW")) return Fail(static_cast<DWORD>(*fault));
  platform::Search* search = platform::OpenSearch(handle);
  if (search == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (found == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return platform::GiveNext(search, found);
}

BOOL FindClose(HANDLE handle) {
  std::unique_ptr<platform::Search> search;
  {
    std::lock_guard lock(platform::g_searchesMutex);
    if (platform::g_searches.erase(static_cast<platform::Search*>(handle)) == 0) {
      return platform::Fail(ERROR_INVALID_HANDLE);
    }
    search.reset(static_cast<platform::Search*>(handle));
  }
  return TRUE;
}
