// Starting programs on the phone. Nothing goes through a shell: the device
// records each launch, and only applications present on the device start.
// The theme tool \Windows\cusTSK.exe applies the theme named on its command
// line by recording it in the registry.
#pragma once

#include "platform/types.h"

using HANDLE = void*;

struct STARTUPINFOW;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// Starts `application` (a phone path) with `commandLine`. FALSE with
// ERROR_FILE_NOT_FOUND when the application is not on the device; the launch
// is recorded either way. The handles given out need no closing.
BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation);

// Accepts any handle CreateProcessW gave out.
BOOL CloseHandle(HANDLE handle);
