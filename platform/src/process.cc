// The launcher: every CreateProcessW call is recorded in the device's
// launches table and nothing ever runs on the host. Applications on the
// device "start" and do nothing, except the theme tool, which records the
// theme named on its command line.
#include "platform/process.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "clock.h"
#include "core/fault.h"
#include "device/device.h"
#include "device/paths.h"
#include "device/registry_rows.h"
#include "platform/emulator.h"
#include "platform/text_codec.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr char16_t kThemeTool[] = u"\\Windows\\cusTSK.exe";
constexpr char16_t kThemeKey[] = u"ControlPanel\\Theme";

// Longest application path and command line read from a caller.
constexpr std::size_t kMaxTextChars = 32767;

// Process and thread ids; handles are made from them, so they are never null.
std::atomic<DWORD> g_next_id{0x100};

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::optional<std::u16string_view> Text(LPCWSTR text) {
  // Never a null view: SQLite binds a null pointer as NULL, not as "".
  if (text == nullptr) return std::u16string_view(u"");
  std::size_t length = 0;
  while (length <= kMaxTextChars && text[length] != 0) ++length;
  if (length > kMaxTextChars) return std::nullopt;
  return std::u16string_view(text, length);
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The theme a tool command line names: leading options ("/safe", "-s")
// skipped, then a quoted path up to its closing quote, or else the rest with
// any quotes removed, trimmed. Empty when no theme is named.
std::u16string ThemePath(std::u16string_view commandLine) {
  std::size_t pos = 0;
  for (;;) {
    while (pos < commandLine.size() && IsSpace(commandLine[pos])) ++pos;
    if (pos == commandLine.size() || (commandLine[pos] != u'/' && commandLine[pos] != u'-')) break;
    while (pos < commandLine.size() && !IsSpace(commandLine[pos])) ++pos;
  }
  std::u16string_view rest = commandLine.substr(pos);
  if (!rest.empty() && rest.front() == u'"') {
    rest.remove_prefix(1);
    rest = rest.substr(0, rest.find(u'"'));
  }
  std::u16string path;
  for (char16_t c : rest) {
    if (c != u'"') path.push_back(c);
  }
  while (!path.empty() && IsSpace(path.back())) path.pop_back();
  std::size_t first = 0;
  while (first < path.size() && IsSpace(path[first])) ++first;
  return path.substr(first);
}

bool RecordLaunch(Device& device, std::u16string_view application, std::u16string_view commandLine,
                  bool started) {
  auto lock = device.Lock();
  Statement st(device,
               "INSERT INTO launches (application, command_line, launch_time, started) "
               "VALUES (?1, ?2, ?3, ?4)");
  st.Bind(1, application);
  st.Bind(2, commandLine);
  st.Bind(3, static_cast<std::int64_t>(NowFileTime()));
  st.Bind(4, std::int64_t{started ? 1 : 0});
  return st.Step() == SQLITE_DONE;
}

}  // namespace
}  // namespace platform

BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, void* /*processAttributes*/,
                    void* /*threadAttributes*/, BOOL /*inheritHandles*/, DWORD /*creationFlags*/,
                    void* /*environment*/, LPCWSTR /*currentDirectory*/,
                    STARTUPINFOW* /*startupInfo*/, PROCESS_INFORMATION* processInformation) {
  if (auto fault = platform::FaultAt("CreateProcessW")) {
    return platform::Fail(static_cast<DWORD>(*fault));
  }
  if (processInformation != nullptr) *processInformation = {};
  // Without a readable application there is nothing to record.
  if (application == nullptr) return platform::Fail(ERROR_INVALID_PARAMETER);
  auto app = platform::Text(application);
  auto line = platform::Text(commandLine);
  if (!app || !line) return platform::Fail(ERROR_INVALID_PARAMETER);
  auto device = platform::CurrentDevice();
  if (!device) return platform::Fail(ERROR_NOT_READY);
  try {
    namespace fs = std::filesystem;
    std::error_code ec;
    auto host = platform::ResolvePath(*device, *app);
    const bool present = host && fs::is_regular_file(*host, ec);
    if (!platform::RecordLaunch(*device, *app, *line, present)) {
      return platform::Fail(ERROR_NOT_READY);
    }
    if (!present) return platform::Fail(ERROR_FILE_NOT_FOUND);

    auto tool = platform::ResolvePath(*device, std::u16string_view(platform::kThemeTool));
    if (tool && *host == *tool) {
      std::u16string theme = platform::ThemePath(*line);
      // A tool that cannot write its setting still ran; the caller is not told.
      if (!theme.empty()) {
        platform::WriteUserValues(*device, platform::kThemeKey,
                                  {{u"Current", theme}, {u"CommandLine", *line}}, {});
      }
    }
  } catch (const std::bad_alloc&) {
    return platform::Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (processInformation != nullptr) {
    const DWORD process = platform::g_next_id.fetch_add(2);
    const DWORD thread = process + 1;
    processInformation->dwProcessId = process;
    processInformation->dwThreadId = thread;
    processInformation->hProcess = reinterpret_cast<HANDLE>(std::uintptr_t{process} << 4);
    processInformation->hThread = reinterpret_cast<HANDLE>(std::uintptr_t{thread} << 4);
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (auto fault = platform::FaultAt("CloseHandle")) {
    return platform::Fail(static_cast<DWORD>(*fault));
  }
  if (handle == nullptr) return platform::Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

namespace emulator {

std::vector<Launch> Launches() {
  std::vector<Launch> launches;
  auto device = platform::CurrentDevice();
  if (!device) return launches;
  auto lock = device->Lock();
  platform::Statement st(*device,
                         "SELECT application, command_line, launch_time, started FROM launches "
                         "ORDER BY id");
  while (st.Step() == SQLITE_ROW) {
    Launch launch;
    launch.application = textcodec::ToUtf8(st.Text16(0));
    launch.commandLine = textcodec::ToUtf8(st.Text16(1));
    launch.time = static_cast<std::uint64_t>(st.Int(2));
    launch.started = st.Int(3) != 0;
    launches.push_back(std::move(launch));
  }
  return launches;
}

}  // namespace emulator
