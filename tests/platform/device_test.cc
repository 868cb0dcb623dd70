// The device folder: refusal of folders that are not devices, with the
// reason, concurrent creation, reopening, and the schema version. (A fresh
// device in a new nested folder is made for every test by the fixture;
// opening one writes nothing: e2e ASessionOpensAndReadsWhileAnotherConnectionWrites.)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/emulator.h"
#include "program.h"

namespace {

namespace fs = std::filesystem;

// A temporary folder that is not (yet) a device, removed afterwards.
class DeviceFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/device-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    emulator::CloseDevice();
    fs::remove_all(root_);
  }
  fs::path root_;
};

// Each refusal says why, through OpenDevice and PhoneDeviceError alike, and
// leaves the folder as it was.
TEST_F(DeviceFolderTest, WhatIsNoDeviceIsRefusedWithItsReasonAndLeftAlone) {
  const struct {
    const char* what;
    const char* file;  // made in the folder, with `content` (nullptr: the folder is a file)
    std::string content;
    std::string says;
  } cases[] = {
      {"other files", "notes.txt", "mine", "not a device folder (it holds files but no device.db)"},
      {"an empty device.db", "device.db", "",
       "device.db is empty (0 bytes), so it holds no phone; remove it to make a fresh phone here"},
      {"a device.db of text", "device.db", std::string(4096, 't'),
       "device.db is not a phone's database"},
      {"a file for the folder", nullptr, "mine", "it is a file, not a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = root_ / c.what;
    fs::create_directories(c.file != nullptr ? dir : root_);
    std::ofstream(c.file != nullptr ? dir / c.file : dir) << c.content;
    std::string error;
    EXPECT_FALSE(emulator::OpenDevice(dir, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    ASSERT_NE(PhoneDeviceError(), nullptr);
    EXPECT_EQ(PhoneDeviceError(), error);
    EXPECT_FALSE(fs::exists(dir / "fs"));
    if (c.file != nullptr) {
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    }
  }
}

// Processes opening one new folder at the same moment all succeed and share
// one device, made once, and leave nothing half made behind.
TEST_F(DeviceFolderTest, ProcessesMakingOneNewDeviceAtOnceShareIt) {
  const fs::path dir = root_ / "shared";
  std::vector<std::unique_ptr<RunningProgram>> writers;
  for (const char* name : {"A", "B", "C", "D"})
    writers.push_back(std::make_unique<RunningProgram>(
        std::vector<std::string>{DEVICE_WRITER, dir.string(), "add", name}));
  for (auto& writer : writers) {
    const ProgramRun run = writer->Wait();
    EXPECT_EQ(run.status, 0) << run.err;
  }
  ASSERT_TRUE(emulator::OpenDevice(root_ / "alone"));
  const auto samples = emulator::ListMessages("SMS", "Inbox").size();
  ASSERT_TRUE(emulator::OpenDevice(dir));
  EXPECT_EQ(emulator::ContactOids().size(), 4u);
  EXPECT_EQ(emulator::ListMessages("SMS", "Inbox").size(), samples);
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos) << entry.path();
  }
  EXPECT_TRUE(fs::exists(dir / "fs" / "Windows" / "Ring1.wav"));
}

// A device made by a newer schema is refused.
TEST_F(DeviceFolderTest, DeviceOfANewerSchemaIsRefused) {
  ASSERT_TRUE(emulator::OpenDevice(root_));
  emulator::CloseDevice();
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open((root_ / "device.db").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "PRAGMA user_version = 999", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::string error;
  EXPECT_FALSE(emulator::OpenDevice(root_, &error));
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST_F(DeviceFolderTest, ReopeningDoesNotReseedFilesTheUserRemoved) {
  ASSERT_TRUE(emulator::OpenDevice(root_));
  emulator::CloseDevice();
  fs::remove(root_ / "fs" / "Windows" / "Ring1.wav");
  ASSERT_TRUE(emulator::OpenDevice(root_));
  EXPECT_FALSE(fs::exists(root_ / "fs" / "Windows" / "Ring1.wav"));
}

}  // namespace
