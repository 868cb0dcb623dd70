// The registry calls against the device database: keys, values, handles,
// persistence (faults: faults_test.cc).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/registry.h"

namespace {

// Registry calls return LONG; the error numbers are DWORD.
constexpr LONG kOk = ERROR_SUCCESS, kNotFound = ERROR_FILE_NOT_FOUND,
               kInvalidHandle = ERROR_INVALID_HANDLE, kInvalidParameter = ERROR_INVALID_PARAMETER;

using RegistryTest = DeviceTest;

// The registry against a model: keys and value names match without regard to
// ASCII case and keep their first spelling, doubled, leading and trailing
// backslashes name the same key, keys live per root, and a value keeps its
// type and bytes (read into too small a buffer: ERROR_MORE_DATA, the size
// needed and the buffer untouched), the default value answers to a null or
// empty name, and all of it survives a reopening of the device. Seeded
// random creations (from the root or below an open key), writes and reads.
using Values = std::map<std::string, std::pair<DWORD, std::vector<BYTE>>>;

Values Dump() {
  Values values;
  for (const auto& [name, value] : emulator::DumpRegistry())
    values[name] = {value.type, value.data};
  return values;
}

std::string Fold(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

struct RegistryModel {
  std::map<std::string, std::string> keys;   // folded "ROOT\key" -> first spelling
  std::map<std::string, std::string> names;  // folded "ROOT\key\value" -> first spelling
  Values values;                             // by first spelling

  // Adds root\names[0]\names[1]... and its parents; whether the last is new.
  bool Create(std::string path, const std::vector<std::string>& names) {
    bool created = false;
    for (const std::string& name : names) {
      path = keys.count(Fold(path)) ? keys[Fold(path)] : path;
      path += "\\" + name;
      created = keys.emplace(Fold(path), path).second;
    }
    return created;
  }
  void Set(const std::string& key, const std::string& name, DWORD type, std::vector<BYTE> data) {
    const std::string spelled = keys.at(Fold(key)) + "\\" + name;
    const std::string& first = names.emplace(Fold(spelled), spelled).first->second;
    values[first] = {type, std::move(data)};
  }
  const std::pair<DWORD, std::vector<BYTE>>* Get(const std::string& key, const std::string& name) {
    const auto found = names.find(Fold(key + "\\" + name));
    return found == names.end() ? nullptr : &values[found->second];
  }
};

TEST_F(RegistryTest, KeysAndValuesFollowTheModel) {
  RegistryModel model;
  model.values = Dump();  // the default sounds
  for (const auto& [name, value] : model.values) model.names[Fold(name)] = name;
  std::mt19937 random(14);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
  auto spell = [&](std::string name) {  // the name in a random case
    for (char& c : name) c = static_cast<char>(pick(0, 1) ? std::toupper(c) : std::tolower(c));
    return name;
  };
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    const HKEY root = pick(0, 1) ? HKEY_LOCAL_MACHINE : HKEY_USERS;
    const std::string rootName = root == HKEY_USERS ? "HKU" : "HKLM";
    std::vector<std::string> names;
    std::string key = rootName, path = pick(0, 1) ? "\\" : "", below;
    for (int n = pick(1, 3); n > 0; --n) {
      names.push_back(spell(pick(0, 1) ? "Alpha" : "Beta"));
      key += "\\" + names.back();
      path += names.back() + (pick(0, 3) ? "\\" : "\\\\");
      if (names.size() > 1) below += names.back() + "\\";
    }
    if (pick(0, 1)) path.pop_back();
    const std::string value = spell(pick(0, 2) == 0 ? "" : pick(0, 1) ? "Volume" : "Tone");
    const std::u16string widePath = Wide(path), wideBelow = Wide(below), wideValue = Wide(value);
    const char16_t* valueName = value.empty() && pick(0, 1) ? nullptr : wideValue.c_str();
    HKEY opened = nullptr;
    DWORD disposition = 0;
    switch (pick(0, 2)) {
      case 0:  // a key from the root
        ASSERT_EQ(RegCreateKeyExW(root, widePath.c_str(), 0, nullptr, 0, 0, nullptr, &opened,
                                  &disposition),
                  kOk);
        EXPECT_EQ(disposition,
                  model.Create(rootName, names) ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY);
        break;
      case 1: {  // a value, in a key made below the first one (or that key itself)
        HKEY first = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, Wide(names[0]).c_str(), 0, nullptr, 0, 0, nullptr, &first,
                                  &disposition),
                  kOk);
        EXPECT_EQ(disposition, model.Create(rootName, {names[0]}) ? REG_CREATED_NEW_KEY
                                                                  : REG_OPENED_EXISTING_KEY);
        ASSERT_EQ(RegCreateKeyExW(first, below.empty() ? nullptr : wideBelow.c_str(), 0, nullptr, 0,
                                  0, nullptr, &opened, nullptr),
                  kOk);
        EXPECT_EQ(RegCloseKey(first), kOk);
        model.Create(rootName, names);
        const DWORD type = pick(REG_NONE, REG_MULTI_SZ);
        std::vector<BYTE> data(pick(0, 4));
        for (BYTE& b : data) b = static_cast<BYTE>(pick(0, 255));
        ASSERT_EQ(RegSetValueExW(opened, valueName, 0, type, data.data(),
                                 static_cast<DWORD>(data.size())),
                  kOk);
        model.Set(key, value, type, data);
        break;
      }
      default: {  // a read
        const LONG result = RegOpenKeyExW(root, widePath.c_str(), 0, 0, &opened);
        EXPECT_EQ(result, model.keys.count(Fold(key)) ? kOk : kNotFound);
        if (result != kOk) break;
        const auto* expected = model.Get(model.keys[Fold(key)], value);
        DWORD type = 0, size = pick(0, 4);
        std::vector<BYTE> data(4, 0xAA);
        const bool fits = expected && expected->second.size() <= size;
        EXPECT_EQ(RegQueryValueExW(opened, valueName, nullptr, &type, data.data(), &size),
                  !expected ? kNotFound
                  : fits    ? kOk
                            : LONG{ERROR_MORE_DATA});
        if (!expected) break;
        EXPECT_EQ(type, expected->first);
        EXPECT_EQ(size, expected->second.size());
        data.resize(size);
        EXPECT_EQ(data, fits ? expected->second : std::vector<BYTE>(size, 0xAA));
      }
    }
    EXPECT_EQ(opened == nullptr ? kOk : RegCloseKey(opened), kOk);
  }
  EXPECT_EQ(Dump(), model.values);
  emulator::CloseDevice();
  ASSERT_TRUE(emulator::OpenDevice(dir()));
  EXPECT_EQ(Dump(), model.values);
}

// Missing keys and values, data without a place for its size (or a size
// without data), a missing place for the key, and closed, stray or null
// handles are refused; closing a root is fine.
TEST_F(RegistryTest, MissingKeysValuesAndBadArgumentsAreReported) {
  BYTE data[4];
  EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, u"", nullptr, nullptr, data, nullptr),
            kInvalidParameter);
  EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"Bad", 0, REG_BINARY, nullptr, 4),
            kInvalidParameter);
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

}  // namespace
