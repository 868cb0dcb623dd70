// MZ_GetSoundDirectoriesList, MZ_SetTelRingtone and MZ_SetSMSRingtone: input
// records unpacked into bounded buffers and handed to the sound service, the
// file system and the registry. They keep no state and need no session.
#include <cstdint>
#include <cstring>

#include "base/log.h"
#include "mz/mz.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/sound.h"
#include "platform/system.h"

namespace {

// Longest text a record may carry: its buffer holds 128 units, the last of
// which stays zero.
constexpr std::uint32_t kMaxTextBytes = 254;
constexpr std::size_t kTextUnits = 128;
constexpr std::size_t kPathUnits = 256;
constexpr std::size_t kEntrySize = MZ_SOUND_DIRECTORY_ENTRY_SIZE;
static_assert(kEntrySize == sizeof(SNDDIRECTORYINFO));
static_assert(MZ_TEL_RINGTONE_INPUT_SIZE == 8 + sizeof(SNDFILEINFO));

constexpr WCHAR kNotificationKey[] =
    u"\\ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}";
constexpr WCHAR kSystemFolder[] = u"\\Windows\\";

std::uint32_t ReadU32(const unsigned char* at) {
  std::uint32_t value = 0;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Appends zero-terminated `text` to `path` (holding `used` units), never
// past its last unit, which stays zero. Returns the new length.
std::size_t Append(WCHAR* path, std::size_t used, const WCHAR* text) {
  for (; *text != 0 && used + 1 < kPathUnits; ++text) path[used++] = *text;
  path[used] = 0;
  return used;
}

}  // namespace

extern "C" MZ_API int32_t MZ_GetSoundDirectoriesList(uint32_t, const void* input,
                                                     uint32_t* outputSize, void** outputBlock) {
  if (outputSize != nullptr) *outputSize = 0;
  if (outputBlock != nullptr) *outputBlock = nullptr;
  if (input == nullptr || outputSize == nullptr || outputBlock == nullptr) return E_INVALIDARG;

  const auto* record = static_cast<const unsigned char*>(input);
  const std::uint32_t event = ReadU32(record);
  const std::uint32_t locations = ReadU32(record + 4);

  SNDDIRECTORYINFO* directories = nullptr;
  int count = 0;
  const HRESULT listed =
      SndGetSoundDirectoriesList(static_cast<SND_EVENT>(event), locations, &directories, &count);
  if (FAILED(listed)) {
    if (directories != nullptr) LocalFree(directories);
    return listed;
  }

  // The service lists a handful of folders; a count the size cannot hold is
  // read as none rather than wrapped.
  std::uint32_t entries = count > 0 ? static_cast<std::uint32_t>(count) : 0;
  if (entries > (UINT32_MAX - 5) / kEntrySize) entries = 0;
  *outputSize = 4 + entries * static_cast<std::uint32_t>(kEntrySize);
  auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, *outputSize + 1));
  if (block != nullptr && directories != nullptr) {
    std::memcpy(block, &entries, sizeof entries);
    for (std::uint32_t i = 0; i < entries; ++i) {
      std::memcpy(block + 4 + i * kEntrySize, &directories[i], kEntrySize);
    }
  }
  if (directories != nullptr) LocalFree(directories);
  *outputBlock = block;
  return 0;
}

extern "C" MZ_API int32_t MZ_SetTelRingtone(uint32_t, const void* input) {
  mz::DiagnosticLog("enter MZ_SetTelRingtone\r\n");
  if (input == nullptr) return 0;
  mz::DiagnosticLog("pInput is not null\r\n");

  const auto* record = static_cast<const unsigned char*>(input);
  const std::uint32_t event = ReadU32(record);
  mz::DiagnosticLog("seSoundEvent is %d and dwRead is %d\r\n", static_cast<int>(event), 4);

  SNDFILEINFO sound;
  std::memcpy(&sound, record + 4, sizeof sound);
  // The log takes narrow text: the path's units, non-ASCII ones as '?'.
  char narrow[MAX_PATH] = {};
  for (std::size_t i = 0; i + 1 < MAX_PATH && sound.szPathName[i] != 0; ++i) {
    narrow[i] = sound.szPathName[i] < 0x80 ? static_cast<char>(sound.szPathName[i]) : '?';
  }
  mz::DiagnosticLog("szPath is %s and dwRead is %d\r\n", narrow, 1048);

  const std::uint32_t flag = ReadU32(record + 4 + sizeof sound);
  return SndSetSound(static_cast<SND_EVENT>(event), &sound, static_cast<BOOL>(flag));
}

extern "C" MZ_API int32_t MZ_SetSMSRingtone(uint32_t, const void* input) {
  if (input == nullptr) return 0;
  const auto* record = static_cast<const unsigned char*>(input);

  // Each length is checked before anything past it is read.
  const std::uint32_t directoryBytes = ReadU32(record);
  if (directoryBytes > kMaxTextBytes) return ERROR_INVALID_PARAMETER;
  const std::uint32_t nameBytes = ReadU32(record + 4 + directoryBytes);
  if (nameBytes > kMaxTextBytes) return ERROR_INVALID_PARAMETER;

  WCHAR directory[kTextUnits] = {};
  WCHAR name[kTextUnits] = {};
  std::memcpy(directory, record + 4, directoryBytes);
  std::memcpy(name, record + 8 + directoryBytes, nameBytes);

  WCHAR source[kPathUnits] = {};
  Append(source, Append(source, Append(source, 0, directory), u"\\"), name);
  WCHAR destination[kPathUnits] = {};
  const std::size_t destinationUnits =
      Append(destination, Append(destination, 0, kSystemFolder), name);

  // A file already in the system folder stays and is used.
  CopyFileW(source, destination, TRUE);

  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG opened = RegCreateKeyExW(HKEY_CURRENT_USER, kNotificationKey, 0, nullptr, 0, 0,
                                      nullptr, &key, &disposition);
  if (opened != 0) return opened;
  const LONG written =
      RegSetValueExW(key, u"Wave", 0, REG_SZ, reinterpret_cast<const BYTE*>(destination),
                     static_cast<DWORD>((destinationUnits + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return written;
}
