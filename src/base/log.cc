#include "base/log.h"

#include <cstdarg>
#include <cstdio>

#include "base/scratch.h"
#include "platform/clock.h"
#include "platform/crt.h"
#include "platform/files.h"
#include "platform/text.h"

namespace mz {
namespace {

// Off when the library loads; nothing turns it on.
constexpr bool kLogSwitch = false;

// \Temp\CeLog.txt in the temporary directory GetTempPathW names, in the
// default ANSI code page, for the phone's C runtime.
bool LogPath(char* path, int capacity) {
  WCHAR wide[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, wide);
  static constexpr WCHAR kName[] = u"CeLog.txt";
  constexpr DWORD kNameChars = sizeof kName / sizeof kName[0];  // with the terminator
  if (length == 0 || length + kNameChars > MAX_PATH) return false;
  for (DWORD i = 0; i < kNameChars; ++i) wide[length + i] = kName[i];
  return WideCharToMultiByte(CP_ACP, 0, wide, -1, path, capacity, nullptr, nullptr) > 0;
}

}  // namespace

int DiagnosticLog(const char* format, ...) {
  if (!kLogSwitch) return 0;
  char line[1024] = {};
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const int prefix =
      std::snprintf(line, sizeof line, "%02d:%02d:%02d\t", now.wHour, now.wMinute, now.wSecond);
  va_list args;
  va_start(args, format);
  const int message = std::vsnprintf(line + prefix, sizeof line - prefix, format, args);
  va_end(args);
  char path[MAX_PATH];
  if (LogPath(path, sizeof path)) {
    if (std::FILE* file = crt::fopen(path, "a+t")) {
      std::fprintf(file, "%s", line);
      std::fflush(file);
      std::fclose(file);
    }
  }
  return prefix + (message > 0 ? message : 0);
}

}  // namespace mz
