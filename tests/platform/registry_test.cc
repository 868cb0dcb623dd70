// The registry calls against the device database: keys, values, handles,
// persistence and faults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/registry.h"

namespace {

constexpr const char* kNotifications =
    "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}";

// Registry calls return LONG; the error numbers are DWORD.
constexpr LONG kOk = ERROR_SUCCESS, kNotFound = ERROR_FILE_NOT_FOUND,
               kInvalidHandle = ERROR_INVALID_HANDLE, kInvalidParameter = ERROR_INVALID_PARAMETER;

// REG_SZ data: the text and its terminator, as bytes.
std::vector<BYTE> Sz(std::u16string_view text) {
  std::vector<BYTE> bytes((text.size() + 1) * 2, 0);
  std::memcpy(bytes.data(), text.data(), text.size() * 2);
  return bytes;
}

// Creates or opens a key and gives its disposition; the key is closed unless
// the caller takes it.
DWORD Create(HKEY root, const char16_t* path, HKEY* taken = nullptr) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, 0, nullptr, &key, &disposition), kOk);
  if (taken) {
    *taken = key;
  } else {
    EXPECT_EQ(RegCloseKey(key), kOk);
  }
  return disposition;
}

using RegistryTest = DeviceTest;

TEST_F(RegistryTest, FreshDeviceHasTheDefaultSounds) {
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", kNotifications, "Wave"), "\\Windows\\Alert1.wav");
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "Sound"),
            "\\Windows\\Ring1.wav");
  EXPECT_EQ(emulator::DumpRegistry().size(), 2u);
}

TEST_F(RegistryTest, StringRoundTripsAndASmallBufferGetsMoreDataAndTheSizeNeeded) {
  HKEY key = nullptr;
  const std::u16string path =
      u"\\" + std::u16string(kNotifications, kNotifications + std::strlen(kNotifications));
  EXPECT_EQ(Create(HKEY_CURRENT_USER, path.c_str(), &key), REG_OPENED_EXISTING_KEY);
  const auto data = Sz(u"\\Windows\\ring.wav");
  ASSERT_EQ(data.size(), 36u);
  ASSERT_EQ(RegSetValueExW(key, u"Wave", 0, REG_SZ, data.data(), 36), kOk);

  std::vector<BYTE> read(10, 0xAA);
  DWORD type = 0, size = 10;
  EXPECT_EQ(RegQueryValueExW(key, u"Wave", nullptr, &type, read.data(), &size),
            LONG{ERROR_MORE_DATA});
  EXPECT_EQ(size, 36u);
  EXPECT_EQ(read, std::vector<BYTE>(10, 0xAA));
  read.resize(size);
  ASSERT_EQ(RegQueryValueExW(key, u"Wave", nullptr, &type, read.data(), &size), kOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(read, data);
  EXPECT_EQ(RegQueryValueExW(key, u"Wave", nullptr, &type, read.data(), nullptr),
            kInvalidParameter);
  EXPECT_EQ(RegCloseKey(key), kOk);
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", kNotifications, "Wave"), "\\Windows\\ring.wav");
}

TEST_F(RegistryTest, KeysAndValueNamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\App"), REG_CREATED_NEW_KEY);
  // Doubled, leading and trailing backslashes and case do not make a new key.
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, u"\\\\SOFTWARE\\\\vendor\\app\\"), REG_OPENED_EXISTING_KEY);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\VENDOR", 0, 0, &key), kOk);
  EXPECT_EQ(Create(key, u"App\\Cache"), REG_CREATED_NEW_KEY);  // below an open key
  EXPECT_EQ(Create(key, nullptr), REG_OPENED_EXISTING_KEY);    // the key itself
  for (const DWORD value : {1u, 2u}) {
    ASSERT_EQ(RegSetValueExW(key, value == 1 ? u"Volume" : u"VOLUME", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&value), 4),
              kOk);
  }
  EXPECT_EQ(RegCloseKey(key), kOk);
  const auto dump = emulator::DumpRegistry();
  ASSERT_EQ(dump.count("HKLM\\Software\\Vendor\\Volume"), 1u);
  EXPECT_EQ(dump.at("HKLM\\Software\\Vendor\\Volume").data, (std::vector<BYTE>{2, 0, 0, 0}));
  EXPECT_EQ(dump.size(), 3u);
  // Keys live per root.
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Vendor", 0, 0, &key), kNotFound);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytes) {
  const BYTE binary[] = {0, 1, 0, 255};
  struct Case {
    const char16_t* name;
    const char* utf8_name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {u"Bin", "Bin", REG_BINARY, {binary, binary + 4}},
      {u"Multi", "Multi", REG_MULTI_SZ, Sz(std::u16string_view(u"a\0b\0", 4))},
      {u"Empty", "Empty", REG_NONE, {}},
      {nullptr, "", REG_SZ, Sz(u"default")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, c.name, 0, c.type, c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              kOk);
    auto stored = emulator::ReadRegistryValue("HKCU", "", c.utf8_name);
    ASSERT_TRUE(stored.has_value()) << c.utf8_name;
    EXPECT_EQ(stored->type, c.type);
    EXPECT_EQ(stored->data, c.data);
  }
  // The default value answers to the empty name too.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, u"", nullptr, nullptr, nullptr, &size), kOk);
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"Bad", 0, REG_BINARY, nullptr, 4),
            kInvalidParameter);
}

TEST_F(RegistryTest, MissingKeysValuesAndBadHandlesAreReported) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"No\\Such\\Key", 0, 0, &key), kNotFound);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, u"NoSuchValue", nullptr, nullptr, nullptr, &size),
            kNotFound);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"X", 0, nullptr, 0, 0, nullptr, nullptr, nullptr),
            kInvalidParameter);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel", 0, 0, &key), kOk);
  ASSERT_EQ(RegCloseKey(key), kOk);
  const HKEY stray = reinterpret_cast<HKEY>(std::uintptr_t{0x1234});
  for (HKEY bad : {key, stray, static_cast<HKEY>(nullptr)}) {
    HKEY out = nullptr;
    EXPECT_EQ(RegCloseKey(bad), kInvalidHandle);
    EXPECT_EQ(RegOpenKeyExW(bad, u"", 0, 0, &out), kInvalidHandle);
    EXPECT_EQ(RegSetValueExW(bad, u"v", 0, REG_NONE, nullptr, 0), kInvalidHandle);
    EXPECT_EQ(RegQueryValueExW(bad, u"v", nullptr, nullptr, nullptr, &size), kInvalidHandle);
  }
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), kOk);
}

TEST_F(RegistryTest, ValuesSurviveReopeningTheDevice) {
  const auto data = Sz(u"kept");
  HKEY key = nullptr;
  EXPECT_EQ(Create(HKEY_USERS, u"Persist", &key), REG_CREATED_NEW_KEY);
  ASSERT_EQ(RegSetValueExW(key, u"Text", 0, REG_SZ, data.data(), 10), kOk);
  ASSERT_EQ(RegCloseKey(key), kOk);
  emulator::CloseDevice();
  ASSERT_TRUE(emulator::OpenDevice(dir()));
  EXPECT_EQ(emulator::ReadRegistryString("HKU", "Persist", "Text"), "kept");
}

TEST_F(RegistryTest, InjectedFaultsReturnTheirValueAndChangeNothing) {
  const auto data = Sz(u"x");
  emulator::InjectFault("RegSetValueExW", 1, 5);
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"Faulty", 0, REG_SZ, data.data(), 4), 5);
  EXPECT_FALSE(emulator::ReadRegistryValue("HKCU", "", "Faulty").has_value());

  HKEY key = nullptr;
  emulator::InjectFault("alloc", 1, 1);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"New", 0, nullptr, 0, 0, nullptr, &key, nullptr),
            LONG{ERROR_OUTOFMEMORY});
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"New", 0, 0, &key), kNotFound);
}

}  // namespace
