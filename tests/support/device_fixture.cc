#include "device_fixture.h"

#include "platform/emulator.h"

void DeviceTest::SetUp() {
  emulator::ClearFaults();
  dir_ = emulator::OpenTempDevice();
  objects_at_start_ = emulator::LiveObjects();
  buffers_at_start_ = emulator::OutstandingBuffers();
}

void DeviceTest::TearDown() {
  emulator::ClearFaults();
  EXPECT_EQ(emulator::LiveObjects(), objects_at_start_) << "COM objects leaked";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers_at_start_) << "platform buffers leaked";
  emulator::CloseDevice();
  emulator::RemoveDeviceDir(dir_);
}
