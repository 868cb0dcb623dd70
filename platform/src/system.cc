// Local memory, interlocked counters and the thread's last error.
#include "platform/system.h"

#include <cstdlib>

#include "core/fault.h"
#include "core/handles.h"

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

// Live blocks, so that LocalFree can tell a block of its own from a stray
// pointer, as the phone's heap does.
platform::LiveHandles<void>& Blocks() {
  static auto* blocks = new platform::LiveHandles<void>;
  return *blocks;
}

}  // namespace

DWORD GetLastError() {
  return t_last_error;
}
void SetLastError(DWORD error) {
  t_last_error = error;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (platform::FaultAt("LocalAlloc") || platform::AllocationFails()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A zero-byte request still yields a distinct block, as on the phone.
  void* block =
      (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Blocks().Add(block);
  return block;
}

HLOCAL LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  if (!Blocks().Remove(block)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return block;
  }
  std::free(block);
  return nullptr;
}

LONG InterlockedIncrement(LONG volatile* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
