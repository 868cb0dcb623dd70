// A reference to a COM object, released when the holder goes out of scope.
// Holders declared in order of acquisition release in reverse order by
// construction: contact, then collection, then folder.
#pragma once

#include "platform/com.h"

namespace mz {

template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* object) : object_(object) {}
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  // The place for a call that hands out an object; releases the one held.
  T** put() {
    Reset();
    return &object_;
  }
  // The same place typed as the platform's generic out parameters take it.
  template <typename U>
  U** put_as() {
    Reset();
    return reinterpret_cast<U**>(&object_);
  }

  void Reset() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

 private:
  T* object_ = nullptr;
};

}  // namespace mz
