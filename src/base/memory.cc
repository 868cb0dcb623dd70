#include "base/memory.h"

#include <atomic>
#include <cstdlib>

namespace mz {
namespace {

std::atomic<AllocationGate> g_gate{nullptr};

}  // namespace

void* Allocate(std::size_t bytes) {
  AllocationGate gate = g_gate.load(std::memory_order_acquire);
  if (gate != nullptr && !gate(bytes)) return nullptr;
  return std::malloc(bytes);
}

void SetAllocationGate(AllocationGate gate) {
  g_gate.store(gate, std::memory_order_release);
}

}  // namespace mz
