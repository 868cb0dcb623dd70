// The phone's file system.
//
// Every path names a file inside the device's fs/ folder. Two forms are
// accepted: a phone path ("\Windows\ring.wav"; "/" works as a separator too,
// a path without a leading separator starts at the root) and a host path (an
// absolute path that starts with "/", such as the one GetTempPathW gives).
// Both are normalised ("." and ".." resolved, symbolic links followed) and the
// call fails with ERROR_ACCESS_DENIED unless the result lies inside fs/.
// Phone paths match names without regard to ASCII case, as the phone does.
#pragma once

#include "platform/types.h"

// Host path of the device's \Temp\ folder, ending with "/", so that standard
// I/O can open files there. Returns its length without the terminator, or,
// when `capacity` characters do not hold it and its terminator, the capacity
// needed including the terminator; 0 on failure.
DWORD GetTempPathW(DWORD capacity, LPWSTR buffer);

// FALSE with GetLastError ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...
BOOL DeleteFileW(LPCWSTR path);

// Copies a file. With failIfExists TRUE an existing destination is left as it
// is and the call fails with ERROR_FILE_EXISTS.
BOOL CopyFileW(LPCWSTR source, LPCWSTR destination, BOOL failIfExists);
