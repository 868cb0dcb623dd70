// Reference counting and object accounting shared by every COM object the
// platform hands out.
#pragma once

#include <atomic>
#include <new>

#include "core/accounting.h"
#include "core/fault.h"
#include "platform/com.h"

namespace platform {

// Implements IUnknown for a class that derives from one interface. The
// object answers QueryInterface for IUnknown and for `iid` when given.
template <typename Interface>
class ComObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || (Iid() != nullptr && riid == *Iid())) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) Destroy();
    return left;
  }

 protected:
  ComObject() { CountObject(1); }
  virtual ~ComObject() { CountObject(-1); }
  // The interface id answered besides IUnknown, or null.
  virtual const IID* Iid() const { return nullptr; }

 private:
  void Destroy() { delete this; }
  std::atomic<ULONG> refs_{1};
};

// Creates an object with one reference, or null when allocation fails (the
// "alloc" fault point or a real shortage).
template <typename T, typename... Args>
T* NewObject(Args&&... args) {
  if (AllocationFails()) return nullptr;
  return new (std::nothrow) T(std::forward<Args>(args)...);
}

}  // namespace platform
