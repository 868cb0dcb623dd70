// COM runtime and automation strings.
//
// Interfaces are C++ abstract classes whose virtual tables stand in for COM
// vtables. Every object handed out carries one reference that its receiver
// releases; the emulator counts live objects (see emulator.h).
#pragma once

#include "platform/types.h"

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go away through Release, never delete
};

// Automation objects; the library never calls its dispatch methods.
struct IDispatch : IUnknown {
 protected:
  ~IDispatch() = default;
};

inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

// Initialises COM on the calling thread. S_OK the first time, S_FALSE when the
// thread was initialised already; every success needs one CoUninitialize.
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();

// Creates an object of a registered class. Fails with CO_E_NOTINITIALIZED on a
// thread without COM, CLASS_E_NOAGGREGATION for an outer object,
// REGDB_E_CLASSNOTREG for an unknown class or a context without
// CLSCTX_INPROC_SERVER, and E_NOINTERFACE when the class lacks the interface.
// On failure *object is null.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);

// Automation strings: a 32-bit byte length stands before the text, and two
// zero bytes follow it. A null BSTR is a valid empty string.
//
// SysAllocStringByteLen copies `bytes` bytes from `source` (or leaves them
// zero when source is null); null when out of memory.
BSTR SysAllocStringByteLen(const char* source, UINT bytes);
BSTR SysAllocString(const WCHAR* source);  // up to its zero character
UINT SysStringByteLen(BSTR text);          // 0 for null
UINT SysStringLen(BSTR text);              // in characters; 0 for null
void SysFreeString(BSTR text);             // null is ignored
