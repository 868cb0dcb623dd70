// The clock as the platform itself reads it: the current time as the stores
// record it.
#pragma once

#include <cstdint>

namespace platform {

// UTC file time (100-ns ticks since 1601) of this moment.
std::uint64_t NowFileTime();

}  // namespace platform
