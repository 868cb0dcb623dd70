// A fresh temporary device for each test, in a folder whose path is long and
// not plain ASCII, removed afterwards; faults are
// cleared on both sides and the test fails if COM objects or platform
// buffers outlive it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& dir() const { return dir_; }

  // The platform's live objects and buffers are what they were at SetUp:
  // for checks between sessions inside one test.
  void ExpectNothingHeld() const;

 private:
  std::string top_;  // the temporary folder holding the device folder
  std::string dir_;
  long objects_at_start_ = 0;
  long buffers_at_start_ = 0;
};

// Bytes as lower-case hex digits, two per byte.
std::string Hex(const std::string& bytes);

// Everything on the current device a call may change, a line per item, but
// for the file `skip` and the times the platform stamps: contacts with their
// birthday and non-empty texts, messages, registry values (REG_SZ as their
// characters, '^' for a zero, '?' for what is not ASCII), sent messages,
// launches and file names.
std::string DeviceSnapshot(const std::filesystem::path& skip = {});
