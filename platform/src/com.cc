// COM runtime: per-thread initialisation, the class registry and automation
// strings.
#include "platform/com.h"

#include <cstdlib>
#include <cstring>

#include "contact_store.h"
#include "core/accounting.h"
#include "core/fault.h"
#include "platform/contact_store.h"

namespace platform {
namespace {

thread_local int t_com_inits = 0;

struct ClassEntry {
  const CLSID* clsid;
  HRESULT (*create)(REFIID riid, void** object);
};

constexpr ClassEntry kClasses[] = {
    {&CLSID_Application, &CreateContactApplication},
};

}  // namespace

}  // namespace platform

HRESULT CoInitializeEx(void* /*reserved*/, DWORD /*coinit*/) {
  if (auto fault = platform::FaultAt("CoInitializeEx")) return *fault;
  return platform::t_com_inits++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  platform::FaultAt("CoUninitialize");
  if (platform::t_com_inits > 0) --platform::t_com_inits;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (auto fault = platform::FaultAt("CoCreateInstance")) return *fault;
  if (platform::t_com_inits == 0) return CO_E_NOTINITIALIZED;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  for (const auto& entry : platform::kClasses) {
    if (*entry.clsid == clsid) return entry.create(riid, object);
  }
  return REGDB_E_CLASSNOTREG;
}

// A BSTR is one allocation: a 32-bit byte count, the text, two zero bytes.
BSTR SysAllocStringByteLen(const char* source, UINT bytes) {
  if (platform::FaultAt("SysAllocStringByteLen") || platform::AllocationFails()) return nullptr;
  if (bytes > 0x7FFFFFF0u) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + 2));
  if (block == nullptr) return nullptr;
  std::uint32_t length = bytes;
  std::memcpy(block, &length, sizeof length);
  unsigned char* text = block + sizeof length;
  if (source != nullptr) {
    std::memcpy(text, source, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  text[bytes] = 0;
  text[bytes + 1] = 0;
  platform::CountBuffer(1);
  return reinterpret_cast<BSTR>(text);
}

BSTR SysAllocString(const WCHAR* source) {
  if (source == nullptr) return nullptr;
  std::size_t chars = 0;
  while (source[chars] != 0) ++chars;
  if (chars > 0x3FFFFFF0u) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<const char*>(source),
                               static_cast<UINT>(chars * sizeof(WCHAR)));
}

UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  std::uint32_t length;
  std::memcpy(&length, reinterpret_cast<unsigned char*>(text) - sizeof length, sizeof length);
  return length;
}

UINT SysStringLen(BSTR text) {
  return SysStringByteLen(text) / sizeof(WCHAR);
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  platform::CountBuffer(-1);
  std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
}
