// The sound service: sound directories from the device's file system, and
// each event's sound kept in the current user's registry hive.
#include "platform/sound.h"

#include <filesystem>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/fault.h"
#include "device/device.h"
#include "device/paths.h"
#include "device/registry_rows.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070000 | ERROR_FILE_NOT_FOUND);

// Registry key names below ControlPanel\Sounds, by event. The SMS event has
// a key of its own, apart from the SMS notification's "Wave" value.
constexpr const char16_t* kEventKeys[] = {
    u"ControlPanel\\Sounds\\RingTone0",
    u"ControlPanel\\Sounds\\RingTone1",
    u"ControlPanel\\Sounds\\KnownCallerRingTone0",
    u"ControlPanel\\Sounds\\RoamingRingTone0",
    u"ControlPanel\\Sounds\\RoamingRingTone1",
    u"ControlPanel\\Sounds\\SMS",
    u"ControlPanel\\Sounds\\Reminder",
    u"ControlPanel\\Sounds\\EMail",
};
static_assert(std::size(kEventKeys) == SND_EVENT_LAST + 1);

struct Location {
  DWORD bit;
  const char16_t* path;
};
constexpr Location kLocations[] = {
    {SND_LOCATION_SYSTEM, u"\\Windows"},
    {SND_LOCATION_USERRINGTONES, u"\\My Documents\\My Ringtones"},
    {SND_LOCATION_USERDOCUMENTS, u"\\My Documents"},
    {SND_LOCATION_STORAGECARD, u"\\Storage Card"},
};

bool IsDirectory(const Device& device, std::u16string_view path) {
  auto host = ResolvePath(device, path);
  std::error_code ec;
  return host && fs::is_directory(*host, ec);
}

bool IsRegularFile(const Device& device, std::u16string_view path) {
  auto host = ResolvePath(device, path);
  std::error_code ec;
  return host && fs::is_regular_file(*host, ec);
}

// The text of a fixed field up to its first zero; a field without one is
// taken whole.
std::u16string_view Field(const WCHAR (&field)[MAX_PATH]) {
  std::size_t length = 0;
  while (length < MAX_PATH && field[length] != 0) ++length;
  return {field, length};
}

}  // namespace

}  // namespace platform

HRESULT SndGetSoundDirectoriesList(SND_EVENT event, DWORD locations, SNDDIRECTORYINFO** directories,
                                   int* count) {
  if (directories != nullptr) *directories = nullptr;
  if (count != nullptr) *count = 0;
  if (auto fault = platform::FaultAt("SndGetSoundDirectoriesList")) return *fault;
  if (directories == nullptr || count == nullptr || event > SND_EVENT_LAST) return E_INVALIDARG;
  auto device = platform::CurrentDevice();
  if (!device) return E_FAIL;
  try {
    std::vector<const char16_t*> found;
    for (const auto& location : platform::kLocations) {
      if ((locations & location.bit) != 0 && platform::IsDirectory(*device, location.path)) {
        found.push_back(location.path);
      }
    }
    if (found.empty()) return S_OK;
    auto* list =
        static_cast<SNDDIRECTORYINFO*>(LocalAlloc(LPTR, found.size() * sizeof(SNDDIRECTORYINFO)));
    if (list == nullptr) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < found.size(); ++i) {
      std::u16string_view path(found[i]);
      path.copy(list[i].szPathName, MAX_PATH - 1);  // the rest is zero from LPTR
    }
    *directories = list;
    *count = static_cast<int>(found.size());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT SndSetSound(SND_EVENT event, const SNDFILEINFO* sound, BOOL /*suppressUI*/) {
  if (auto fault = platform::FaultAt("SndSetSound")) return *fault;
  if (sound == nullptr || event > SND_EVENT_LAST || sound->sstType > SND_SOUNDTYPE_NONE) {
    return E_INVALIDARG;
  }
  auto device = platform::CurrentDevice();
  if (!device) return E_FAIL;
  try {
    std::u16string_view path;
    if (sound->sstType == SND_SOUNDTYPE_FILE) {
      path = platform::Field(sound->szPathName);
      if (path.size() == MAX_PATH) return E_INVALIDARG;
      if (!platform::IsRegularFile(*device, path)) return platform::kFileNotFound;
    }
    const bool written = platform::WriteUserValues(
        *device, platform::kEventKeys[event],
        {{u"Sound", path}, {u"DisplayName", platform::Field(sound->szDisplayName)}},
        {{u"Type", static_cast<DWORD>(sound->sstType)}});
    return written ? S_OK : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
