// The library's one allocation function, for every allocation whose failure
// has a defined outcome (the notification sink, a new-message record). Tests
// that link the core can make it fail.
#pragma once

#include <cstddef>

namespace mz {

// malloc-compatible: what Allocate gives is released with free().
void* Allocate(std::size_t bytes);

// Test hook: when set, Allocate asks it first and fails when it returns
// false (true lets the allocation through).
using AllocationGate = bool (*)(std::size_t bytes);
void SetAllocationGate(AllocationGate gate);

}  // namespace mz
