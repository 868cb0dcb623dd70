// The device folder as hosts see it: where the default one is, and the lock
// file every host holds around its library calls. Header-only, so that host
// programs that link neither the library nor the platform agree with the
// platform on both.
#pragma once

#include <cstdlib>
#include <string>

namespace emulator {

// The lock file in a device folder. A host holds an exclusive flock on it
// for as long as it calls the library, and writes "PID COMMAND" into it so
// that a host that has to wait can say for whom. The platform counts a
// folder holding nothing but this file as empty (a fresh phone).
inline constexpr const char kDeviceLockName[] = "device.lock";

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
