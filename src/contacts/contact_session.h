// The contact side of the session: the contact store's application object.
#pragma once

#include "platform/contact_store.h"

namespace mz {

// Creates the contact store's application in-process and logs on. Returns
// the creation's failure, else Logon's result. Does nothing and succeeds when
// the application is open already.
HRESULT OpenContactSession();

// Logs off and releases the application; nothing when it is not open.
void CloseContactSession();

// The contacts folder (default folder 10) of the open store, for the caller
// to release. E_FAIL when the store is not open and E_INVALIDARG without a
// place for the folder, in both cases without calling the store.
HRESULT GetContactsFolder(IFolder** folder);

}  // namespace mz
