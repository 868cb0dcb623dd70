// The registry, kept in the device database. Key paths are compared without
// regard to ASCII case; leading, trailing and doubled backslashes are
// ignored. Results are system error numbers (ERROR_SUCCESS is 0).
#pragma once

#include "platform/types.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003});

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens a key below `root` (a predefined key or an open key), creating it and
// the keys above it when missing. `samDesired` is ignored, as on the phone.
LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM samDesired, void* security, PHKEY result, DWORD* disposition);

// Opens an existing key; ERROR_FILE_NOT_FOUND when it is missing.
LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM samDesired, PHKEY result);

// Stores a value (a null or empty name is the key's default value).
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataBytes);

// Reads a value. With data null only the type and size are given; a buffer
// that is too small gives ERROR_MORE_DATA and the size needed.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataBytes);

// Closes a key opened by the calls above; predefined keys need no closing.
LONG RegCloseKey(HKEY key);
