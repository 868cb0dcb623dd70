#include "library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace mzhost {

std::string ProgramDir() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

std::string LibraryPath() {
  if (const char* path = std::getenv("MZ_LIBRARY"); path != nullptr && *path != 0) return path;
  const std::filesystem::path dir = ProgramDir();
  const std::filesystem::path beside = dir / "libmz.so";
  const std::filesystem::path installed = (dir / MZHOST_INSTALLED_LIBRARY).lexically_normal();
  std::error_code ec;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec)) {
    return installed.string();
  }
  return beside.string();
}

bool LoadLibrary(const std::string& path, Library* library, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    *error = "cannot load the library " + path + ": " + (why ? why : "unknown error") +
             " (set MZ_LIBRARY to the path of libmz.so)";
    return false;
  }
  Library loaded;
  loaded.handle = handle;
  loaded.path = path;
  std::string missing;
  auto resolve = [&](const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr && missing.empty()) missing = name;
    return symbol;
  };
#define MZHOST_RESOLVE_EXPORT(name) \
  loaded.name = reinterpret_cast<decltype(loaded.name)>(resolve(#name));
  MZHOST_FOR_EACH_EXPORT(MZHOST_RESOLVE_EXPORT)
#undef MZHOST_RESOLVE_EXPORT
  loaded.LocalFree = reinterpret_cast<void* (*)(void*)>(resolve("LocalFree"));
  loaded.GetFileAttributesW =
      reinterpret_cast<decltype(loaded.GetFileAttributesW)>(dlsym(handle, "GetFileAttributesW"));
  loaded.FindFirstFileW =
      reinterpret_cast<decltype(loaded.FindFirstFileW)>(dlsym(handle, "FindFirstFileW"));
  loaded.FindNextFileW =
      reinterpret_cast<decltype(loaded.FindNextFileW)>(dlsym(handle, "FindNextFileW"));
  loaded.FindClose = reinterpret_cast<decltype(loaded.FindClose)>(dlsym(handle, "FindClose"));
  if (loaded.FindFirstFileW == nullptr || loaded.FindNextFileW == nullptr ||
      loaded.FindClose == nullptr) {
    loaded.FindFirstFileW = nullptr;  // all three or none
  }
  if (!missing.empty()) {
    *error =
        "the library " + path + " has no " + missing + "; it is not a libmz.so this host can use";
    dlclose(handle);
    return false;
  }
  *library = loaded;
  return true;
}

}  // namespace mzhost
