// Sounds through libmz.so: the SMS sound's file and registry entry, and the
// sound service's directory list. Hostile records, the theme tool's launch
// and the tone's registry entries are rows of the argument table
// (tests/data/e2e/arguments.tsv); the services' failures are in the fault
// table (faults_test.cc).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/sound.h"
#include "platform/system.h"

namespace {

using e2e::Record;
using e2e::U32;
using e2e::Utf16;
using SettingsE2e = E2eTest;

std::string ReadHostFile(const std::string& phonePath) {
  std::ostringstream content;
  content << std::ifstream(emulator::HostPath(phonePath), std::ios::binary).rdbuf();
  return content.str();
}

std::optional<std::string> Wave() {
  return emulator::ReadRegistryString(
      "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave");
}

// The file is copied unless the system folder has one of that name, and
// named in the registry as a zero-terminated REG_SZ either way.
TEST_F(SettingsE2e, SmsSoundIsCopiedIntoTheSystemFolderAndNamedInTheRegistry) {
  e2e::WriteHostFile("\\My Documents\\Sounds\\ring.wav", "RIFF ring");
  e2e::WriteHostFile("\\My Documents\\Sounds\\old.wav", "new");
  e2e::WriteHostFile("\\Windows\\old.wav", "old");
  ASSERT_EQ(mz().MZ_SetSMSRingtone(7, e2e::Input("40:\\My Documents\\Sounds|16:ring.wav").data()),
            0);
  EXPECT_EQ(ReadHostFile("\\Windows\\ring.wav"), "RIFF ring");
  const auto value = emulator::ReadRegistryValue(
      "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, 1u);
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()),
            Utf16("\\Windows\\ring.wav") + std::string(2, '\0'));
  EXPECT_EQ(mz().MZ_SetSMSRingtone(0, e2e::Input("40:\\My Documents\\Sounds|14:old.wav").data()),
            0);
  EXPECT_EQ(ReadHostFile("\\Windows\\old.wav"), "old");
  EXPECT_EQ(Wave(), "\\Windows\\old.wav");
}

// The block: the count, then each path as zero-padded UTF-16 in 520 bytes,
// and one zero byte more.
TEST_F(SettingsE2e, DirectoryListHoldsTheCountAndEachPath) {
  const Record record(
      U32(0) + U32(SND_LOCATION_SYSTEM | SND_LOCATION_USERRINGTONES | SND_LOCATION_USERDOCUMENTS) +
      std::string(8, '\xEE'));
  std::uint32_t size = 0;
  void* block = nullptr;
  ASSERT_EQ(mz().MZ_GetSoundDirectoriesList(0xDEAD, record.data(), &size, &block), 0);
  ASSERT_EQ(size, 1564u);
  const std::string bytes(static_cast<const char*>(block), size + 1);
  LocalFree(block);
  const auto entry = [](const std::string& path) {
    return Utf16(path) + std::string(520 - 2 * path.size(), '\0');
  };
  EXPECT_EQ(bytes, U32(3) + entry("\\Windows") + entry("\\My Documents\\My Ringtones") +
                       entry("\\My Documents") + '\0');
}

}  // namespace
