#include "platform/contact_store.h"

namespace platform {
HRESULT CreateContactApplication(REFIID, void** object) {
  *object = nullptr;
  return E_NOTIMPL;
}
}  // namespace platform
