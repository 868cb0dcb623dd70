#include "device_fixture.h"

#include <stdlib.h>

#include <filesystem>

#include "platform/emulator.h"

namespace {

// Every test's device lives in a folder whose path is not plain ASCII and is
// 250 bytes long, so that no part of the system may assume either. Its own
// name stays short (tests name files after it); a folder between takes up
// the length.
constexpr std::size_t kDevicePathBytes = 250;
constexpr const char kDeviceName[] = "电话";

}  // namespace

void DeviceTest::SetUp() {
  emulator::ClearFaults();
  std::string top = (std::filesystem::temp_directory_path() / "téléphone-XXXXXX").string();
  ASSERT_NE(mkdtemp(top.data()), nullptr);
  top_ = top;
  const std::size_t fixed = top.size() + 2 + sizeof kDeviceName - 1;
  dir_ = top + "/" + std::string(fixed < kDevicePathBytes ? kDevicePathBytes - fixed : 1, 'x') +
         "/" + kDeviceName;
  std::string error;
  ASSERT_TRUE(emulator::OpenDevice(dir_, &error)) << error;
  objects_at_start_ = emulator::LiveObjects();
  buffers_at_start_ = emulator::OutstandingBuffers();
}

void DeviceTest::TearDown() {
  emulator::ClearFaults();
  EXPECT_EQ(emulator::LiveObjects(), objects_at_start_) << "COM objects leaked";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers_at_start_) << "platform buffers leaked";
  emulator::CloseDevice();
  emulator::RemoveDeviceDir(top_);
}
