// The emulator's choice of device: which folder is the phone, and where a
// phone path lies on the host. The control calls of each service live with
// that service.
#include "platform/emulator.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "device/device.h"
#include "device/paths.h"

namespace emulator {

bool OpenDevice(const std::string& dir, std::string* error) {
  std::string message;
  auto device = platform::Device::Open(dir, &message);
  if (!device) {
    if (error != nullptr) *error = message;
    return false;
  }
  platform::SetCurrentDevice(std::move(device));
  return true;
}

std::string OpenTempDevice() {
  std::string pattern = (std::filesystem::temp_directory_path() / "phone-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (mkdtemp(buffer.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary folder");
  std::string dir(buffer.data());
  std::string error;
  if (!OpenDevice(dir, &error)) throw std::runtime_error(error);
  return dir;
}

void CloseDevice() {
  platform::SetCurrentDevice(nullptr);
}

std::string DeviceDir() {
  auto device = platform::CurrentDevice();
  return device ? device->Dir().string() : std::string();
}

void RemoveDeviceDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

std::string HostPath(const std::string& phonePath) {
  auto device = platform::CurrentDevice();
  if (!device) return {};
  auto host = platform::ResolvePath(*device, std::string_view(phonePath));
  return host ? host->native() : std::string();
}

}  // namespace emulator
