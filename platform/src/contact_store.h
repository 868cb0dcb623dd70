// What the COM runtime needs of the contact store.
#pragma once

#include "platform/com.h"

namespace platform {

// Makes the contact store's application object on the current device; the
// class registry's entry for CLSID_Application.
HRESULT CreateContactApplication(REFIID riid, void** object);

}  // namespace platform
