// The device folder as hosts see it: where the default one is, and the lock
// file every host holds around its library calls. Header-only, so that host
// programs that link neither the library nor the platform agree with the
// platform on both.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace emulator {

// The lock file in a device folder. A host holds an exclusive flock on it
// for as long as it calls the library, and writes "PID COMMAND" into it so
// that a host that has to wait can say for whom. The platform counts a
// folder holding nothing but this file as empty (a fresh phone).
inline constexpr const char kDeviceLockName[] = "device.lock";

// Names the platform makes while it creates a device: the new database is
// built under such a name and appears as device.db only when whole.
inline constexpr const char kNewDevicePrefix[] = ".device.db.new-";

// Whether `dir` is a folder holding nothing of its own: empty, or holding
// only the hosts' lock file and devices being made. Such a folder becomes a
// fresh phone; any other folder without device.db is refused, so that a
// mistyped path never fills a user's folder.
inline bool IsFreshFolder(const std::filesystem::path& dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return false;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name != kDeviceLockName && !std::string_view(name).starts_with(kNewDevicePrefix)) {
      return false;
    }
  }
  return !ec;
}

// The folder the platform opens when none was opened explicitly:
// $PHONE_DEVICE_DIR, else $XDG_DATA_HOME/libmz/phone, else
// ~/.local/share/libmz/phone (with /tmp for a missing home).
inline std::string DefaultDeviceDir() {
  if (const char* dir = std::getenv("PHONE_DEVICE_DIR"); dir != nullptr && *dir != 0) return dir;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != 0) {
    return std::string(data) + "/libmz/phone";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != 0 ? home : "/tmp") + "/.local/share/libmz/phone";
}

}  // namespace emulator
