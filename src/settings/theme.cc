// MZ_SetTheme: starts the theme tool with the host's command line and returns
// at once, whatever became of the tool.
#include <cstdint>
#include <cstring>

#include "mz/mz.h"
#include "platform/process.h"

namespace {

// The command line's buffer holds 128 units, the last of which stays zero.
constexpr std::uint32_t kMaxCommandBytes = 254;
constexpr std::size_t kCommandUnits = 128;

}  // namespace

extern "C" MZ_API int32_t MZ_SetTheme(uint32_t, const void* input) {
  if (input == nullptr) return 0;
  const auto* record = static_cast<const unsigned char*>(input);
  std::uint32_t commandBytes = 0;
  std::memcpy(&commandBytes, record, sizeof commandBytes);
  if (commandBytes > kMaxCommandBytes) return 0;

  WCHAR commandLine[kCommandUnits] = {};
  std::memcpy(commandLine, record + 4, commandBytes);
  PROCESS_INFORMATION process{};
  // The handles need no closing and the process is never waited for.
  CreateProcessW(u"\\Windows\\cusTSK.exe", commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                 nullptr, nullptr, &process);
  return 0;
}
