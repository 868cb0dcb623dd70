// Local memory and interlocked counters.
#pragma once

#include "platform/types.h"

using HLOCAL = void*;

inline constexpr UINT LMEM_FIXED = 0x0;
inline constexpr UINT LMEM_ZEROINIT = 0x40;
inline constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// C linkage, as on the phone: a host that receives a block resolves LocalFree
// by name (dlsym) without linking the platform.
extern "C" {
// A block of `bytes` bytes (zero-filled with LMEM_ZEROINIT), or null with
// ERROR_NOT_ENOUGH_MEMORY. Whoever receives it releases it with LocalFree.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);

// Releases a block; returns null on success, the block when it was not one.
HLOCAL LocalFree(HLOCAL block);
}

// Atomic increment and decrement; both return the new value.
LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
