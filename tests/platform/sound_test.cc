// The sound service: directory listing from the device's folders, and the
// sound of each event kept in the registry (cases in data/platform/sound.tsv).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "tables.h"

namespace {

using SoundTest = DeviceTest;

// The listed paths as UTF-8 (ASCII here), the array released.
std::vector<std::string> List(DWORD locations, SND_EVENT event = SND_EVENT_RINGTONELINE1) {
  SNDDIRECTORYINFO* list = nullptr;
  int count = -1;
  EXPECT_EQ(SndGetSoundDirectoriesList(event, locations, &list, &count), S_OK);
  EXPECT_EQ(list == nullptr, count == 0);
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    std::u16string_view path(list[i].szPathName);
    paths.emplace_back(path.begin(), path.end());
  }
  EXPECT_EQ(LocalFree(list), nullptr);
  return paths;
}

SNDFILEINFO Sound(std::u16string_view path, SND_SOUNDTYPE type = SND_SOUNDTYPE_FILE) {
  SNDFILEINFO info{};
  path.copy(info.szPathName, MAX_PATH - 1);
  std::u16string_view(u"Ring").copy(info.szDisplayName, MAX_PATH - 1);
  info.sstType = type;
  return info;
}

TEST_F(SoundTest, ListingGivesThePresentLocationsInOrder) {
  const std::string windows = "\\Windows", ringtones = "\\My Documents\\My Ringtones",
                    documents = "\\My Documents", card = "\\Storage Card";
  using Paths = std::vector<std::string>;
  EXPECT_EQ(List(SND_LOCATION_SYSTEM), Paths{windows});
  EXPECT_EQ(List(SND_LOCATION_USERRINGTONES), Paths{ringtones});
  EXPECT_EQ(List(SND_LOCATION_USERDOCUMENTS), Paths{documents});
  EXPECT_EQ(List(SND_LOCATION_STORAGECARD), Paths{});
  EXPECT_EQ(List(0), Paths{});
  for (DWORD event = 0; event <= SND_EVENT_LAST; ++event) {
    EXPECT_EQ(List(SND_LOCATION_ALL, static_cast<SND_EVENT>(event)),
              (Paths{windows, ringtones, documents}))
        << event;
  }
  std::filesystem::create_directory(emulator::HostPath(card));
  EXPECT_EQ(List(SND_LOCATION_STORAGECARD | SND_LOCATION_SYSTEM), (Paths{windows, card}));
}

TEST_F(SoundTest, ListingRefusesUnknownEventsAndAMissingList) {
  SNDDIRECTORYINFO* list = nullptr;
  int count = -1;
  EXPECT_EQ(SndGetSoundDirectoriesList(static_cast<SND_EVENT>(8), SND_LOCATION_ALL, &list, &count),
            E_INVALIDARG);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(SndGetSoundDirectoriesList(SND_EVENT_REMINDER, SND_LOCATION_ALL, nullptr, &count),
            E_INVALIDARG);
}

// The cases of data/platform/sound.tsv.
class SetSoundTest : public SoundTest, public testing::WithParamInterface<tables::Row> {};

TEST_P(SetSoundTest, RecordsTheSoundOrRefusesAndWritesNothing) {
  const tables::Row& row = GetParam();
  const auto before = emulator::DumpRegistry();
  const std::string path =
      row.at(1) == "DEVICE/device.db" ? emulator::DeviceDir() + "/device.db" : row.at(1);
  SNDFILEINFO info = Sound(std::u16string(path.begin(), path.end()),
                           static_cast<SND_SOUNDTYPE>(std::stoi(row.at(2))));
  if (path == "unterminated") std::fill_n(info.szPathName, MAX_PATH, u'a');
  EXPECT_EQ(SndSetSound(static_cast<SND_EVENT>(std::stoi(row.at(0))), &info, TRUE),
            tables::Number(row.at(3)));
  const std::string& key = row.at(4);
  if (key == "-") {
    EXPECT_EQ(emulator::DumpRegistry().size(), before.size());
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "Sound"),
              "\\Windows\\Ring1.wav");
    return;
  }
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", key, "Sound"), row.at(2) == "1" ? path : "");
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", key, "DisplayName"), "Ring");
  const auto type = emulator::ReadRegistryValue("HKCU", key, "Type");
  ASSERT_TRUE(type.has_value());
  EXPECT_EQ(type->type, REG_DWORD);
  EXPECT_EQ(type->data,
            (std::vector<std::uint8_t>{static_cast<std::uint8_t>(info.sstType), 0, 0, 0}));
  // The SMS notification's own value is a separate setting.
  EXPECT_EQ(
      emulator::ReadRegistryString(
          "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave"),
      "\\Windows\\Alert1.wav");
}

INSTANTIATE_TEST_SUITE_P(Table, SetSoundTest, testing::ValuesIn(tables::Read("sound.tsv")));

TEST_F(SoundTest, SetSoundNeedsASound) {
  EXPECT_EQ(SndSetSound(SND_EVENT_RINGTONELINE1, nullptr, FALSE), E_INVALIDARG);
}

}  // namespace
