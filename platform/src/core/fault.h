// Fault points: every platform operation passes one named point, where an
// injected fault can make it fail (see emulator::InjectFault).
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// Counts a call of `operation` and returns the injected result when this call
// is to fail. `operation` must be a string literal or otherwise outlive the
// process's use of the fault table.
std::optional<std::int32_t> FaultAt(const char* operation);

// Fault point shared by every allocation the platform makes or hands out.
inline bool AllocationFails() {
  return FaultAt("alloc").has_value();
}

}  // namespace platform
