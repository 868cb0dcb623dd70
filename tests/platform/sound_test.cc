// The sound service: directory listing from the device's folders, and the
// sound of each event kept in the registry.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "platform/system.h"

namespace {

using SoundTest = DeviceTest;

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);

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

TEST_F(SoundTest, SetSoundRecordsTheEventsSoundInTheRegistry) {
  struct Case {
    SND_EVENT event;
    const char* key;
    std::u16string_view path;
    SND_SOUNDTYPE type = SND_SOUNDTYPE_FILE;
  };
  const Case cases[] = {
      {SND_EVENT_RINGTONELINE1, "ControlPanel\\Sounds\\RingTone0",
       u"\\My Documents\\My Ringtones\\Chime.wav"},
      {SND_EVENT_SMSNOTIFICATION, "ControlPanel\\Sounds\\SMS", u"\\windows\\alert1.WAV"},
      {SND_EVENT_EMAILNOTIFICATION, "ControlPanel\\Sounds\\EMail", u"\\Windows\\Ring1.wav"},
      // A vibration names no file, and needs none.
      {SND_EVENT_RINGTONELINE2, "ControlPanel\\Sounds\\RingTone1", u"\\nowhere.wav",
       SND_SOUNDTYPE_VIBRATE},
  };
  for (const auto& c : cases) {
    const SNDFILEINFO info = Sound(c.path, c.type);
    EXPECT_EQ(SndSetSound(c.event, &info, TRUE), S_OK) << c.key;
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", c.key, "Sound"),
              c.type == SND_SOUNDTYPE_FILE ? std::string(c.path.begin(), c.path.end()) : "");
    EXPECT_EQ(emulator::ReadRegistryString("HKCU", c.key, "DisplayName"), "Ring");
    const auto type = emulator::ReadRegistryValue("HKCU", c.key, "Type");
    ASSERT_TRUE(type.has_value());
    EXPECT_EQ(type->type, REG_DWORD);
    EXPECT_EQ(type->data, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(c.type), 0, 0, 0}));
  }
  // The SMS notification's own value is a separate setting.
  EXPECT_EQ(
      emulator::ReadRegistryString(
          "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave"),
      "\\Windows\\Alert1.wav");
}

TEST_F(SoundTest, SetSoundRefusesWhatIsNotAFileOnThePhoneAndWritesNothing) {
  const auto before = emulator::DumpRegistry();
  const std::string outside = emulator::DeviceDir() + "/device.db";
  struct Case {
    SNDFILEINFO info;
    HRESULT expected;
  };
  Case cases[] = {
      {Sound(u"\\Windows\\missing.wav"), kFileNotFound},
      {Sound(u"\\Windows"), kFileNotFound},
      {Sound(u"\\..\\device.db"), kFileNotFound},
      {Sound(std::u16string(outside.begin(), outside.end())), kFileNotFound},
      {Sound(u"\\Windows\\Ring1.wav", static_cast<SND_SOUNDTYPE>(4)), E_INVALIDARG},
      {Sound(u"\\Windows\\Ring1.wav"), E_INVALIDARG},  // made unterminated below
  };
  for (auto& c : cases[std::size(cases) - 1].info.szPathName) {
    if (c == 0) c = u'a';
  }
  for (const auto& c : cases) {
    EXPECT_EQ(SndSetSound(SND_EVENT_RINGTONELINE1, &c.info, FALSE), c.expected);
  }
  const SNDFILEINFO good = Sound(u"\\Windows\\Ring1.wav");
  EXPECT_EQ(SndSetSound(static_cast<SND_EVENT>(SND_EVENT_LAST + 1), &good, FALSE), E_INVALIDARG);
  EXPECT_EQ(SndSetSound(SND_EVENT_RINGTONELINE1, nullptr, FALSE), E_INVALIDARG);
  EXPECT_EQ(emulator::DumpRegistry().size(), before.size());
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "Sound"),
            "\\Windows\\Ring1.wav");
}

}  // namespace
