// Starting programs on the phone. Nothing goes through a shell: the device
// records each launch, and only applications present on the device start.
// The theme tool \Windows\cusTSK.exe applies the theme named on its command
// line by recording it in the registry.
#pragma once

#include "platform/types.h"

struct STARTUPINFOW;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};

// Starts `application` (a phone path) with `commandLine` (null reads as "").
// FALSE with ERROR_FILE_NOT_FOUND when the application is not a file on the
// device; the launch is recorded either way. A null application gives
// ERROR_INVALID_PARAMETER and records nothing. The theme tool skips leading
// options ("/safe", "-s"); the rest, or the quoted text that starts it, is
// the theme's path, recorded under HKCU ControlPanel\Theme as "Current" with
// the whole command line as "CommandLine"; without a path it changes
// nothing. The handles given out need no closing.
BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                    PROCESS_INFORMATION* processInformation);

// Accepts any handle CreateProcessW gave out; FALSE with
// ERROR_INVALID_HANDLE for null.
BOOL CloseHandle(HANDLE handle);
