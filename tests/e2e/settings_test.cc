// Sounds and theme through libmz.so: the sound service, the SMS sound's file
// and registry entry, and the theme tool's launch, from well-formed and
// hostile input records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/sound.h"
#include "platform/system.h"

namespace {

using SettingsE2e = E2eTest;

constexpr char kNotificationKey[] =
    "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}";

std::string U32(std::uint32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), 4);
}

// ASCII text as UTF-16LE bytes.
std::string Utf16(const std::string& text) {
  std::string bytes;
  for (const char c : text) bytes += std::string{c, '\0'};
  return bytes;
}

// A record in a heap block exactly its own size, so that reading past it is
// caught.
struct Record {
  explicit Record(const std::string& bytes)
      : size(bytes.size()), data(new unsigned char[bytes.size()]) {
    std::memcpy(data.get(), bytes.data(), bytes.size());
  }
  std::size_t size;
  std::unique_ptr<unsigned char[]> data;
};

Record SmsRecord(const std::string& directory, const std::string& name) {
  return Record(U32(directory.size()) + directory + U32(name.size()) + name);
}

void WriteHostFile(const std::string& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// The whole registry, comparable.
std::map<std::string, std::pair<DWORD, std::vector<std::uint8_t>>> Registry() {
  std::map<std::string, std::pair<DWORD, std::vector<std::uint8_t>>> values;
  for (const auto& [name, value] : emulator::DumpRegistry())
    values[name] = {value.type, value.data};
  return values;
}

std::optional<std::string> Wave() {
  return emulator::ReadRegistryString("HKCU", kNotificationKey, "Wave");
}

TEST_F(SettingsE2e, SmsSoundIsCopiedIntoTheSystemFolderAndNamedInTheRegistry) {
  WriteHostFile(emulator::HostPath("\\My Documents\\Sounds\\ring.wav"), "RIFF ring");
  const Record record = SmsRecord(Utf16("\\My Documents\\Sounds"), Utf16("ring.wav"));
  ASSERT_EQ(mz().MZ_SetSMSRingtone(7, record.data.get()), 0);

  EXPECT_EQ(ReadHostFile(emulator::HostPath("\\Windows\\ring.wav")), "RIFF ring");
  const auto value = emulator::ReadRegistryValue("HKCU", kNotificationKey, "Wave");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, 1u);
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()),
            Utf16("\\Windows\\ring.wav") + std::string(2, '\0'));
  EXPECT_EQ(value->data.size(), 36u);
  ExpectNothingHeld();
}

TEST_F(SettingsE2e, ExistingSystemFileIsKeptAndStillNamed) {
  WriteHostFile(emulator::HostPath("\\My Documents\\Sounds\\ring.wav"), "new");
  WriteHostFile(emulator::HostPath("\\Windows\\ring.wav"), "old");
  const Record record = SmsRecord(Utf16("\\My Documents\\Sounds"), Utf16("ring.wav"));
  EXPECT_EQ(mz().MZ_SetSMSRingtone(0, record.data.get()), 0);
  EXPECT_EQ(ReadHostFile(emulator::HostPath("\\Windows\\ring.wav")), "old");
  EXPECT_EQ(Wave(), "\\Windows\\ring.wav");
}

TEST_F(SettingsE2e, RegistryFailureIsPassedThroughUnchanged) {
  const std::optional<std::string> fresh = Wave();
  const Record record = SmsRecord(Utf16("\\Missing"), Utf16("x.wav"));
  for (const char* point : {"RegCreateKeyExW", "RegSetValueExW"}) {
    SCOPED_TRACE(point);
    emulator::InjectFault(point, 1, 5);
    EXPECT_EQ(mz().MZ_SetSMSRingtone(0, record.data.get()), 5);
    emulator::ClearFaults();
    EXPECT_EQ(Wave(), fresh);
  }
  ExpectNothingHeld();
}

TEST_F(SettingsE2e, HostileSmsRecordsAreRefusedOrKeptInsideTheDevice) {
  // A file beside the device folder, which no record may reach; its name is
  // ASCII, as the records here are made by widening bytes.
  const std::filesystem::path device(dir());
  const std::string outsideName = "outside.wav";
  const std::filesystem::path outside = device.parent_path() / outsideName;
  WriteHostFile(outside.string(), "keep");
  const std::string name = Utf16("a.wav");
  const std::string longest(127, 'd');
  const std::string climb = "..\\..\\..\\";
  const struct {
    const char* what;
    std::string bytes;
    std::int32_t result;
    std::optional<std::string> wave;  // none: left as it was
  } cases[] = {
      {"directory of 255 bytes", U32(255) + std::string(255, 'a'), 87, std::nullopt},
      {"directory of 5000 bytes", U32(5000) + std::string(8, 'a'), 87, std::nullopt},
      {"directory of 2^32-1 bytes", U32(0xFFFFFFFF), 87, std::nullopt},
      {"name of 255 bytes", U32(0) + U32(255) + std::string(255, 'b'), 87, std::nullopt},
      {"name of 2^32-1 bytes", U32(2) + Utf16("d") + U32(0xFFFFFFFF), 87, std::nullopt},
      {"longest texts", U32(254) + Utf16(std::string(127, 'c')) + U32(254) + Utf16(longest), 0,
       "\\Windows\\" + longest},
      {"odd lengths", U32(3) + Utf16("\\d").substr(0, 3) + U32(5) + Utf16("abc").substr(0, 5), 0,
       "\\Windows\\abc"},
      {"embedded zero", U32(2) + Utf16("d") + U32(6) + Utf16(std::string("a\0b", 3)), 0,
       "\\Windows\\a"},
      {"climbing directory",
       U32(2 * climb.size()) + Utf16(climb) + U32(2 * outsideName.size()) + Utf16(outsideName), 0,
       "\\Windows\\" + outsideName},
      {"climbing name",
       U32(2) + Utf16("d") + U32(2 * (climb + outsideName).size()) + Utf16(climb + outsideName), 0,
       "\\Windows\\" + climb + outsideName},
      {"host path", U32(22) + Utf16("/etc/passwd") + U32(name.size()) + name, 0,
       "\\Windows\\a.wav"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::optional<std::string> before = Wave();
    const Record record(c.bytes);
    EXPECT_EQ(mz().MZ_SetSMSRingtone(0, record.data.get()), c.result);
    EXPECT_EQ(Wave(), c.wave ? c.wave : before);
  }
  EXPECT_EQ(ReadHostFile(outside.string()), "keep");
  EXPECT_FALSE(std::filesystem::exists(emulator::HostPath("\\Windows\\" + outsideName)));
  EXPECT_FALSE(std::filesystem::exists(emulator::HostPath("\\Windows\\a.wav")));
  std::filesystem::remove(outside);
  ExpectNothingHeld();
}

TEST_F(SettingsE2e, ExportsWithoutARecordReturnZeroAndTouchNothing) {
  const auto registry = Registry();
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
  ExpectNothingHeld();
}

// The block's head and entries as the host reads them.
std::vector<std::string> Directories(const void* block, std::uint32_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  std::uint32_t count = 0;
  std::memcpy(&count, bytes, 4);
  std::vector<std::string> paths;
  for (std::uint32_t i = 0; i < count && 4 + (i + 1) * 520 <= size; ++i) {
    std::string path;
    for (std::size_t unit = 0; unit < 260; ++unit) {
      const unsigned char* at = bytes + 4 + i * 520 + unit * 2;
      if (at[0] == 0 && at[1] == 0) {
        // Zero-padded to the end of the entry.
        for (std::size_t rest = unit * 2; rest < 520; ++rest)
          EXPECT_EQ(bytes[4 + i * 520 + rest], 0);
        break;
      }
      path += static_cast<char>(at[0]);
    }
    paths.push_back(path);
  }
  return paths;
}

TEST_F(SettingsE2e, DirectoryListHoldsTheCountAndEachPath) {
  const Record record(
      U32(0) + U32(SND_LOCATION_SYSTEM | SND_LOCATION_USERRINGTONES | SND_LOCATION_USERDOCUMENTS) +
      std::string(8, '\xEE'));
  std::uint32_t size = 0;
  void* block = nullptr;
  ASSERT_EQ(mz().MZ_GetSoundDirectoriesList(0xDEAD, record.data.get(), &size, &block), 0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(size, 1564u);
  EXPECT_EQ(
      Directories(block, size),
      (std::vector<std::string>{"\\Windows", "\\My Documents\\My Ringtones", "\\My Documents"}));
  EXPECT_EQ(static_cast<const unsigned char*>(block)[1564], 0);
  LocalFree(block);
  ExpectNothingHeld();
}

TEST_F(SettingsE2e, FailedListingHandsOutNothingAndPassesTheStatus) {
  const Record record(U32(0) + U32(SND_LOCATION_SYSTEM) + std::string(8, '\0'));
  const Record unknownEvent(U32(1000) + U32(SND_LOCATION_SYSTEM) + std::string(8, '\0'));
  std::uint32_t size = 7;
  void* block = &size;
  emulator::InjectFault("SndGetSoundDirectoriesList", 1, E_FAIL);
  EXPECT_EQ(mz().MZ_GetSoundDirectoriesList(0, record.data.get(), &size, &block), E_FAIL);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(block, nullptr);
  emulator::ClearFaults();
  EXPECT_EQ(mz().MZ_GetSoundDirectoriesList(0, unknownEvent.data.get(), &size, &block),
            E_INVALIDARG);
  EXPECT_EQ(block, nullptr);
  ExpectNothingHeld();
}

Record TelRecord(std::uint32_t event, const std::string& path, std::uint32_t flag) {
  SNDFILEINFO sound{};
  for (std::size_t i = 0; i < path.size(); ++i) sound.szPathName[i] = path[i];
  sound.szDisplayName[0] = u'R';
  sound.sstType = SND_SOUNDTYPE_FILE;
  return Record(U32(event) + std::string(reinterpret_cast<const char*>(&sound), sizeof sound) +
                U32(flag));
}

TEST_F(SettingsE2e, SetSoundReceivesTheEventDescriptionAndFlag) {
  WriteHostFile(emulator::HostPath("\\Windows\\tel.wav"), "RIFF");
  const Record record = TelRecord(0, "\\Windows\\tel.wav", 1);
  ASSERT_EQ(record.size, 1052u);
  EXPECT_EQ(mz().MZ_SetTelRingtone(0, record.data.get()), 0);
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "Sound"),
            "\\Windows\\tel.wav");
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "DisplayName"),
            "R");

  // The service's own refusals and failures come back unchanged.
  const Record missing = TelRecord(1, "\\Windows\\none.wav", 0);
  EXPECT_EQ(mz().MZ_SetTelRingtone(0, missing.data.get()), static_cast<std::int32_t>(0x80070002));
  emulator::InjectFault("SndSetSound", 1, E_FAIL);
  EXPECT_EQ(mz().MZ_SetTelRingtone(0, record.data.get()), E_FAIL);
  emulator::ClearFaults();
  ExpectNothingHeld();
}

TEST_F(SettingsE2e, ThemeToolStartsWithTheCommandLineOrNotAtAll) {
  const std::string longest(127, 't');
  const struct {
    const char* what;
    std::string bytes;
    std::optional<std::string> commandLine;  // none: nothing started
  } cases[] = {
      {"empty", U32(0), ""},
      {"127 characters", U32(254) + Utf16(longest), longest},
      {"odd length", U32(3) + Utf16("ab").substr(0, 3), "ab"},
      {"embedded zero", U32(6) + Utf16(std::string("a\0b", 3)), "a"},
      {"255 bytes", U32(255) + Utf16(longest) + "x", std::nullopt},
      {"5000 bytes", U32(5000) + Utf16("abc"), std::nullopt},
      {"2^32-1 bytes", U32(0xFFFFFFFF), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = emulator::Launches().size();
    const Record record(c.bytes);
    EXPECT_EQ(mz().MZ_SetTheme(0, record.data.get()), 0);
    const auto launches = emulator::Launches();
    if (!c.commandLine) {
      EXPECT_EQ(launches.size(), before);
      continue;
    }
    ASSERT_EQ(launches.size(), before + 1);
    EXPECT_EQ(launches.back().application, "\\Windows\\cusTSK.exe");
    EXPECT_EQ(launches.back().commandLine, *c.commandLine);
  }
  ExpectNothingHeld();
}

}  // namespace
