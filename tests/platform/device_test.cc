// The device folder: creation, reopening, refusal of folders that are not
// devices, and the schema version.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/emulator.h"

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

TEST_F(DeviceFolderTest, MissingOrEmptyFolderBecomesAFreshPhone) {
  for (const fs::path& dir : {root_, root_ / "new" / "phone"}) {
    std::string error;
    ASSERT_TRUE(emulator::OpenDevice(dir, &error)) << error;
    EXPECT_EQ(emulator::DeviceDir(), fs::absolute(dir).string());
    EXPECT_TRUE(fs::exists(dir / "device.db"));
    for (const char* folder : {"Windows", "My Documents/My Ringtones", "Temp"}) {
      EXPECT_TRUE(fs::is_directory(dir / "fs" / folder)) << folder;
    }
    std::ifstream ring(dir / "fs" / "Windows" / "Ring1.wav", std::ios::binary);
    char riff[4] = {};
    ring.read(riff, 4);
    EXPECT_EQ(std::string(riff, 4), "RIFF");
    emulator::CloseDevice();
  }
}

TEST_F(DeviceFolderTest, FolderWithOtherFilesIsRefusedAndLeftAlone) {
  std::ofstream(root_ / "notes.txt") << "mine";
  std::string error;
  EXPECT_FALSE(emulator::OpenDevice(root_, &error));
  EXPECT_NE(error.find("not a device folder"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(root_ / "device.db"));
  EXPECT_FALSE(fs::exists(root_ / "fs"));
}

TEST_F(DeviceFolderTest, DeviceOfANewerSchemaIsRefused) {
  ASSERT_TRUE(emulator::OpenDevice(root_));
  emulator::CloseDevice();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root_ / "device.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 999", nullptr, nullptr, nullptr), SQLITE_OK);
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

TEST_F(DeviceFolderTest, PlatformCallsOpenTheFolderNamedByTheEnvironment) {
  const char* old = std::getenv("PHONE_DEVICE_DIR");
  const std::string saved = old ? old : "";
  const fs::path dir = root_ / "from-env";
  setenv("PHONE_DEVICE_DIR", dir.c_str(), 1);
  EXPECT_EQ(emulator::DeviceDir(), dir.string());
  old ? setenv("PHONE_DEVICE_DIR", saved.c_str(), 1) : unsetenv("PHONE_DEVICE_DIR");
}

}  // namespace
