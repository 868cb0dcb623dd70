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

constexpr const char16_t* kNotifications =
    u"\\ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}";

// REG_SZ data: the text and its terminator, as bytes.
std::vector<BYTE> Sz(std::u16string_view text) {
  std::vector<BYTE> bytes((text.size() + 1) * 2, 0);
  std::memcpy(bytes.data(), text.data(), text.size() * 2);
  return bytes;
}

// Registry calls return LONG; the error numbers are DWORD.
constexpr LONG kOk = ERROR_SUCCESS;
constexpr LONG kNotFound = ERROR_FILE_NOT_FOUND;
constexpr LONG kInvalidHandle = ERROR_INVALID_HANDLE;
constexpr LONG kInvalidParameter = ERROR_INVALID_PARAMETER;
constexpr LONG kMoreData = ERROR_MORE_DATA;
constexpr LONG kOutOfMemory = ERROR_OUTOFMEMORY;

using RegistryTest = DeviceTest;

TEST_F(RegistryTest, StringRoundTripsThroughAKeyNamedWithALeadingBackslash) {
  const long buffers = emulator::OutstandingBuffers();
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kNotifications, 0, nullptr, 0, 0, nullptr, &key,
                            &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);         // a fresh device has it
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers + 1);  // open keys are accounted
  const auto data = Sz(u"\\Windows\\ring.wav");
  ASSERT_EQ(data.size(), 36u);
  ASSERT_EQ(RegSetValueExW(key, u"Wave", 0, REG_SZ, data.data(), 36), kOk);

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExW(key, u"Wave", nullptr, &type, nullptr, &size), kOk);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 36u);
  std::vector<BYTE> read(size);
  ASSERT_EQ(RegQueryValueExW(key, u"Wave", nullptr, &type, read.data(), &size), kOk);
  EXPECT_EQ(read, data);
  EXPECT_EQ(RegCloseKey(key), kOk);
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers);
  EXPECT_EQ(
      emulator::ReadRegistryString(
          "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave"),
      "\\Windows\\ring.wav");
}

TEST_F(RegistryTest, FreshDeviceHasTheDefaultSounds) {
  EXPECT_EQ(
      emulator::ReadRegistryString(
          "HKCU", "ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave"),
      "\\Windows\\Alert1.wav");
  EXPECT_EQ(emulator::ReadRegistryString("HKCU", "ControlPanel\\Sounds\\RingTone0", "Sound"),
            "\\Windows\\Ring1.wav");
  EXPECT_EQ(emulator::DumpRegistry().size(), 2u);
}

TEST_F(RegistryTest, CreateMakesMissingParentsAndReportsDisposition) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\App", 0, nullptr, 0, 0, nullptr,
                            &key, &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), kOk);

  // Doubled, leading and trailing backslashes and case do not make a new key.
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"\\\\SOFTWARE\\\\vendor\\app\\", 0, nullptr, 0, 0,
                            nullptr, &key, &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCloseKey(key), kOk);

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vendor", 0, 0, &parent), kOk);
  // A sub key opened from an open key; null and empty names give the key itself.
  ASSERT_EQ(RegCreateKeyExW(parent, u"App\\Cache", 0, nullptr, 0, 0, nullptr, &key, &disposition),
            kOk);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), kOk);
  for (const char16_t* self : {static_cast<const char16_t*>(nullptr), u""}) {
    ASSERT_EQ(RegCreateKeyExW(parent, self, 0, nullptr, 0, 0, nullptr, &key, &disposition), kOk);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegCloseKey(key), kOk);
  }
  EXPECT_EQ(RegCloseKey(parent), kOk);
  // Keys live per root.
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Vendor", 0, 0, &key), kNotFound);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Vendor", 0, nullptr, 0, 0, nullptr, &key,
                            nullptr),
            kOk);
  const DWORD one = 1, two = 2;
  ASSERT_EQ(RegSetValueExW(key, u"Volume", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            kOk);
  EXPECT_EQ(RegCloseKey(key), kOk);

  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\vendor\\Sub", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            kOk);
  EXPECT_EQ(RegCloseKey(key), kOk);
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\VENDOR", 0, 0, &key), kOk);
  ASSERT_EQ(RegSetValueExW(key, u"VOLUME", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4),
            kOk);
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(
      RegQueryValueExW(key, u"volume", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
      kOk);
  EXPECT_EQ(value, 2u);
  EXPECT_EQ(RegCloseKey(key), kOk);

  const auto dump = emulator::DumpRegistry();
  EXPECT_EQ(dump.count("HKCU\\Software\\Vendor\\Volume"), 1u);
  EXPECT_EQ(dump.size(), 3u);
  HKEY sub = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Vendor\\SUB", 0, 0, &sub), kOk);
  EXPECT_EQ(RegCloseKey(sub), kOk);
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytes) {
  const BYTE binary[] = {0, 1, 0, 255};
  const auto multi = Sz(std::u16string_view(u"a\0b\0", 4));
  struct Case {
    const char16_t* name;
    const char* utf8_name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const Case cases[] = {
      {u"Bin", "Bin", REG_BINARY, {binary, binary + 4}},
      {u"Multi", "Multi", REG_MULTI_SZ, multi},
      {u"Empty", "Empty", REG_NONE, {}},
      {u"Odd", "Odd", 0x1234, {7}},
      {nullptr, "", REG_SZ, Sz(u"default")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, c.name, 0, c.type, c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              kOk);
  }
  for (const auto& c : cases) {
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

TEST_F(RegistryTest, SmallBufferGivesMoreDataAndTheSizeNeeded) {
  const auto data = Sz(u"\\Windows\\ring.wav");
  ASSERT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"Tone", 0, REG_SZ, data.data(), 36), kOk);
  std::vector<BYTE> buffer(10, 0xAA);
  DWORD type = 0, size = 10;
  EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, u"Tone", nullptr, &type, buffer.data(), &size),
            kMoreData);
  EXPECT_EQ(size, 36u);
  EXPECT_EQ(buffer, std::vector<BYTE>(10, 0xAA));
  EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, u"Tone", nullptr, &type, buffer.data(), nullptr),
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
  ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, u"Persist", 0, nullptr, 0, 0, nullptr, &key, nullptr), kOk);
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
            kOutOfMemory);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"New", 0, 0, &key), kNotFound);

  // A failed close leaves the handle open, to be closed again.
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel", 0, 0, &key), kOk);
  emulator::InjectFault("RegCloseKey", 1, 6);
  EXPECT_EQ(RegCloseKey(key), 6);
  EXPECT_EQ(RegCloseKey(key), kOk);
}

}  // namespace
