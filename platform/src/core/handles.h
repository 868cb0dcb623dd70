// Handles the platform gives out (registry keys, radio sessions, local
// memory blocks), kept in a set while live so that a stray or released
// handle is refused without being touched. Each live handle counts as an
// outstanding platform buffer.
#pragma once

#include <mutex>
#include <unordered_set>

#include "core/accounting.h"

namespace platform {

template <typename T>
class LiveHandles {
 public:
  void Add(T* handle) {
    {
      std::lock_guard lock(mutex_);
      live_.insert(handle);
    }
    CountBuffer(1);
  }

  // False, and nothing done, for a handle that is not live.
  bool Remove(T* handle) {
    {
      std::lock_guard lock(mutex_);
      if (live_.erase(handle) == 0) return false;
    }
    CountBuffer(-1);
    return true;
  }

  // Runs `read(handle)` under the set's lock when the handle is live, so that
  // a concurrent Remove cannot free it meanwhile; false when it is not.
  template <typename Read>
  bool With(T* handle, Read&& read) {
    std::lock_guard lock(mutex_);
    if (!live_.contains(handle)) return false;
    read(handle);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<T*> live_;
};

}  // namespace platform
