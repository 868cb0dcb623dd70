// Sounds through libmz.so: the SMS sound's file and registry entry, and the
// sound service's directory list. Hostile records, the theme tool's launch
// and the tone's registry entries are rows of the argument table
// (tests/data/e2e/arguments.tsv); the services' failures are in the fault
// table (faults_test.cc).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/sound.h"
#include "platform/system.h"

namespace {

using e2e::U32;
using e2e::Utf16;
using SettingsE2e = E2eTest;

std::string ReadHostFile(const std::string& phonePath) {
  std::ostringstream content;
  content << std::ifstream(emulator::HostPath(phonePath), std::ios::binary).rdbuf();
  return content.str();
}

// The file is copied unless the system folder has one of that name (the
// argument table has the registry entry naming it).
TEST_F(SettingsE2e, SmsSoundIsCopiedIntoTheSystemFolderUnlessOneIsThere) {
  e2e::WriteHostFile("\\My Documents\\Sounds\\ring.wav", "RIFF ring");
  e2e::WriteHostFile("\\My Documents\\Sounds\\old.wav", "new");
  e2e::WriteHostFile("\\Windows\\old.wav", "old");
  EXPECT_EQ(mz().MZ_SetSMSRingtone(7, e2e::Input("40:\\My Documents\\Sounds|16:ring.wav").data()),
            0);
  EXPECT_EQ(ReadHostFile("\\Windows\\ring.wav"), "RIFF ring");
  EXPECT_EQ(mz().MZ_SetSMSRingtone(0, e2e::Input("40:\\My Documents\\Sounds|14:old.wav").data()),
            0);
  EXPECT_EQ(ReadHostFile("\\Windows\\old.wav"), "old");
}

// The block: the count, then each path as zero-padded UTF-16 in 520 bytes,
// and one zero byte more.
TEST_F(SettingsE2e, DirectoryListHoldsTheCountAndEachPath) {
  const e2e::Record record(
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
