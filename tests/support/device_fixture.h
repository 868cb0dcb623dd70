// A fresh temporary device for each test, in a folder whose path is long and
// not plain ASCII, removed afterwards; faults are
// cleared on both sides and the test fails if COM objects or platform
// buffers outlive it.
#pragma once

#include <gtest/gtest.h>

#include <string>

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& dir() const { return dir_; }

 private:
  std::string top_;  // the temporary folder holding the device folder
  std::string dir_;
  long objects_at_start_ = 0;
  long buffers_at_start_ = 0;
};
