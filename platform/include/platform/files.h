// The phone's file system.
//
// Every path names a file inside the device's fs/ folder. Two forms are
// accepted, told apart by the first character:
//  - a host path starts with "/" and must lie inside fs/;
//  - anything else is a phone path: "\Windows\ring.wav", with "/" also
//    accepted as a separator; one without a leading "\" starts at the root.
//    So "Windows/ring.wav" is a phone path but "/Windows/ring.wav" is a host
//    path and is refused.
// "." and ".." are resolved by name first; ".." above the root is refused
// rather than clamped. Symbolic links are then followed, and a path whose
// target lies outside fs/ is refused too. Refused paths fail with
// ERROR_ACCESS_DENIED; malformed ones (empty, a ":" in a name, as in drive
// letters and streams) with ERROR_INVALID_PARAMETER. Phone paths match
// existing names without regard to ASCII case, as the phone does; new files
// take the name as given.
#pragma once

#include "platform/types.h"

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(-1);

// One entry a folder listing gives; the times are left zero.
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};

// The phone's temporary folder, "\Temp\" (made when missing), a phone path
// that the file calls and the C runtime of platform/crt.h take. Returns its
// length without the terminator, or, when `capacity` characters do not hold
// it and its terminator, the capacity needed including the terminator; 0 on
// failure (GetLastError ERROR_NOT_READY when there is no device).
DWORD GetTempPathW(DWORD capacity, LPWSTR buffer);

// Deletes a file. FALSE with GetLastError ERROR_FILE_NOT_FOUND (or
// ERROR_PATH_NOT_FOUND when its folder is missing), ERROR_ACCESS_DENIED for a
// folder or a refused path, ...
BOOL DeleteFileW(LPCWSTR path);

// Copies a file. With failIfExists TRUE an existing destination is left as it
// is and the call fails with ERROR_FILE_EXISTS; otherwise it is replaced
// whole, so a failed copy never leaves it half written. A missing source
// gives ERROR_FILE_NOT_FOUND, a missing destination folder
// ERROR_PATH_NOT_FOUND, a file copied onto itself ERROR_SHARING_VIOLATION (32).
BOOL CopyFileW(LPCWSTR source, LPCWSTR destination, BOOL failIfExists);

// C linkage, like LocalFree: a host checks a phone file by name (dlsym)
// without linking the platform.
extern "C" {
// FILE_ATTRIBUTE_DIRECTORY for a folder, FILE_ATTRIBUTE_NORMAL for a file;
// INVALID_FILE_ATTRIBUTES with GetLastError ERROR_FILE_NOT_FOUND (or
// ERROR_PATH_NOT_FOUND when its folder is missing) for a missing path, and
// the errors of DeleteFileW for a refused or malformed one.
DWORD GetFileAttributesW(LPCWSTR path);

// Listing a folder: FindFirstFileW takes a path whose last name may hold the
// wildcards * and ? (matched without regard to ASCII case) and gives the
// first match, in order of name, with a search handle for FindNextFileW;
// entries leading outside fs/ are not listed. INVALID_HANDLE_VALUE with
// ERROR_FILE_NOT_FOUND when nothing matches, ERROR_PATH_NOT_FOUND for a
// missing folder, and the errors of GetFileAttributesW. FindNextFileW fails
// with ERROR_NO_MORE_FILES after the last match; both fail with
// ERROR_INVALID_HANDLE for a handle that is no open search, as does FindClose.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* found);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found);
BOOL FindClose(HANDLE search);
}
