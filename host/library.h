// libmz.so as a host sees it: loaded with dlopen, its 19 exports resolved
// with dlsym, the way a host process on the phone loads it.
#pragma once

#include <cstdint>
#include <string>

#include "mz/mz.h"

namespace mzhost {

// clang-format off
#define MZHOST_FOR_EACH_EXPORT(X)                                                             \
  X(MZ_Init) X(MZ_Done) X(MZ_RegisterCallback) X(MZ_GetContactsCount) X(MZ_GetContactInfo)  \
  X(MZ_WriteContact) X(MZ_AddContact) X(MZ_DeleteContact) X(MZ_DeleteAllContacts)           \
  X(MZ_GetMessagesCount) X(MZ_StartGetMessage) X(MZ_GetMessageInfo) X(MZ_DeleteMessage)     \
  X(MZ_DeleteAllMessages) X(MZ_SendMessage) X(MZ_GetSoundDirectoriesList)                   \
  X(MZ_SetTelRingtone) X(MZ_SetSMSRingtone) X(MZ_SetTheme)
// clang-format on

// One entry of the phone's folder listing, laid out as the platform fills it.
struct FindData {
  uint32_t attributes;
  uint32_t times[6];
  uint32_t sizeHigh;
  uint32_t sizeLow;
  uint32_t objectId;
  char16_t fileName[260];
};
inline void* const kInvalidHandle = reinterpret_cast<void*>(-1);

struct Library {
  void* handle = nullptr;
  std::string path;
#define MZHOST_DECLARE_EXPORT(name) decltype(&::name) name = nullptr;
  MZHOST_FOR_EACH_EXPORT(MZHOST_DECLARE_EXPORT)
#undef MZHOST_DECLARE_EXPORT
  // The phone's LocalFree, which releases the block of
  // MZ_GetSoundDirectoriesList; found among the library's dependencies.
  void* (*LocalFree)(void*) = nullptr;
  // The phone's GetFileAttributesW, which tells whether a phone path names a
  // file; null when the platform under the library has none.
  uint32_t (*GetFileAttributesW)(const char16_t* path) = nullptr;
  // The phone's folder listing; null when the platform has none.
  void* (*FindFirstFileW)(const char16_t* pattern, FindData* found) = nullptr;
  int32_t (*FindNextFileW)(void* search, FindData* found) = nullptr;
  int32_t (*FindClose)(void* search) = nullptr;
};

// What GetFileAttributesW answers for a missing path, and its bit for a folder.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;

// The folder this program was started from.
std::string ProgramDir();

// Where the library is looked for: $MZ_LIBRARY when set, else libmz.so beside
// this program (the build folder), else libmz.so.N in the lib folder of the
// prefix this program is installed in.
std::string LibraryPath();

// Loads the library at `path` and resolves every export and LocalFree. False
// with one line saying why in *error. The library stays loaded for the
// process's life: its new-message sink lives until unload.
bool LoadLibrary(const std::string& path, Library* library, std::string* error);

}  // namespace mzhost
