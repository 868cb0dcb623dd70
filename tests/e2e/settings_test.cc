// Sounds and theme through libmz.so: the sound service, the SMS sound's file
// and registry entry, and the theme tool's launch, from well-formed and
// hostile input records. The services' failures are in the fault table
// (faults_test.cc).
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

// The whole registry as text.
std::string Registry() {
  std::string text;
  for (const auto& [name, value] : emulator::DumpRegistry()) {
    text += name + "=" + std::string(value.data.begin(), value.data.end()) + "\n";
  }
  return text;
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
  ASSERT_EQ(mz().MZ_SetSMSRingtone(7, e2e::SmsRecord("\\My Documents\\Sounds", "ring.wav").data()),
            0);
  EXPECT_EQ(ReadHostFile("\\Windows\\ring.wav"), "RIFF ring");
  const auto value = emulator::ReadRegistryValue(
      "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, 1u);
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()),
            Utf16("\\Windows\\ring.wav") + std::string(2, '\0'));
  EXPECT_EQ(mz().MZ_SetSMSRingtone(0, e2e::SmsRecord("\\My Documents\\Sounds", "old.wav").data()),
            0);
  EXPECT_EQ(ReadHostFile("\\Windows\\old.wav"), "old");
  EXPECT_EQ(Wave(), "\\Windows\\old.wav");
}

// Lengths over 254 are refused before anything past them is read; texts are
// cut at a zero character and an odd byte, and stay inside the device.
TEST_F(SettingsE2e, HostileSmsRecordsAreRefusedOrKeptInsideTheDevice) {
  // A file beside the device folder, which no record may reach.
  const std::filesystem::path outside = std::filesystem::path(dir()).parent_path() / "outside.wav";
  std::ofstream(outside) << "keep";
  const std::string name = Utf16("a.wav"), longest(127, 'd'), climb = "..\\..\\..\\";
  const struct {
    std::string bytes;
    std::int32_t result;
    std::optional<std::string> wave;  // none: left as it was
  } cases[] = {
      {U32(255) + std::string(255, 'a'), 87, std::nullopt},
      {U32(5000) + std::string(8, 'a'), 87, std::nullopt},
      {U32(0xFFFFFFFF), 87, std::nullopt},
      {U32(0) + U32(255) + std::string(255, 'b'), 87, std::nullopt},
      {U32(2) + Utf16("d") + U32(0xFFFFFFFF), 87, std::nullopt},
      {U32(254) + Utf16(std::string(127, 'c')) + U32(254) + Utf16(longest), 0,
       "\\Windows\\" + longest},
      {U32(3) + Utf16("\\d").substr(0, 3) + U32(5) + Utf16("abc").substr(0, 5), 0,
       "\\Windows\\abc"},
      {U32(2) + Utf16("d") + U32(6) + Utf16(std::string("a\0b", 3)), 0, "\\Windows\\a"},
      {U32(2 * climb.size()) + Utf16(climb) + U32(22) + Utf16("outside.wav"), 0,
       "\\Windows\\outside.wav"},
      {U32(2) + Utf16("d") + U32(2 * (climb.size() + 11)) + Utf16(climb + "outside.wav"), 0,
       "\\Windows\\" + climb + "outside.wav"},
      {U32(22) + Utf16("/etc/passwd") + U32(name.size()) + name, 0, "\\Windows\\a.wav"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wave.value_or("refused"));
    const std::optional<std::string> before = Wave();
    EXPECT_EQ(mz().MZ_SetSMSRingtone(0, Record(c.bytes).data()), c.result);
    EXPECT_EQ(Wave(), c.wave ? c.wave : before);
  }
  std::ifstream in(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
  EXPECT_FALSE(std::filesystem::exists(emulator::HostPath("\\Windows\\outside.wav")));
  EXPECT_FALSE(std::filesystem::exists(emulator::HostPath("\\Windows\\a.wav")));
  std::filesystem::remove(outside);
}

TEST_F(SettingsE2e, ExportsWithoutARecordReturnZeroAndTouchNothing) {
  const std::string registry = Registry();
  EXPECT_EQ(mz().MZ_SetSMSRingtone(0, nullptr), 0);
  EXPECT_EQ(mz().MZ_SetTelRingtone(0, nullptr), 0);
  EXPECT_EQ(mz().MZ_SetTheme(0, nullptr), 0);
  EXPECT_EQ(Registry(), registry);
  EXPECT_TRUE(emulator::Launches().empty());
  std::uint32_t size = 99;
  void* block = &size;
  EXPECT_EQ(mz().MZ_GetSoundDirectoriesList(0, nullptr, &size, &block), E_INVALIDARG);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(block, nullptr);
  // An event the sound service does not know is refused the same way.
  const Record unknown(U32(1000) + U32(SND_LOCATION_SYSTEM) + std::string(8, '\0'));
  EXPECT_EQ(mz().MZ_GetSoundDirectoriesList(0, unknown.data(), &size, &block), E_INVALIDARG);
  EXPECT_EQ(block, nullptr);
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

TEST_F(SettingsE2e, SetSoundReceivesTheEventDescriptionAndFlag) {
  e2e::WriteHostFile("\\Windows\\tel.wav", "RIFF");
  EXPECT_EQ(mz().MZ_SetTelRingtone(0, e2e::TelRecord(0, "\\Windows\\tel.wav", 1).data()), 0);
  const char* key = "ControlPanel\\Sounds\\RingTone0";
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", key, "Sound"), "\\Windows\\tel.wav");
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", key, "DisplayName"), "R");
  // The service's own refusal comes back unchanged.
  EXPECT_EQ(mz().MZ_SetTelRingtone(0, e2e::TelRecord(1, "\\Windows\\none.wav", 0).data()),
            static_cast<std::int32_t>(0x80070002));
}

TEST_F(SettingsE2e, ThemeToolStartsWithTheCommandLineOrNotAtAll) {
  const std::string longest(127, 't');
  const struct {
    std::string bytes;
    std::optional<std::string> commandLine;  // none: nothing started
  } cases[] = {
      {U32(0), ""},
      {U32(254) + Utf16(longest), longest},
      {U32(3) + Utf16("ab").substr(0, 3), "ab"},
      {U32(6) + Utf16(std::string("a\0b", 3)), "a"},
      {U32(255) + Utf16(longest) + "x", std::nullopt},
      {U32(5000) + Utf16("abc"), std::nullopt},
      {U32(0xFFFFFFFF), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandLine.value_or("nothing"));
    const std::size_t before = emulator::Launches().size();
    EXPECT_EQ(mz().MZ_SetTheme(0, Record(c.bytes).data()), 0);
    const auto launches = emulator::Launches();
    ASSERT_EQ(launches.size(), before + (c.commandLine ? 1 : 0));
    if (!c.commandLine) continue;
    EXPECT_EQ(launches.back().application, "\\Windows\\cusTSK.exe");
    EXPECT_EQ(launches.back().commandLine, *c.commandLine);
  }
}

}  // namespace
