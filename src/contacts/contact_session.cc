#include "contacts/contact_session.h"

#include "frame/session.h"

namespace mz {

// A repeated call (MZ_Init after a failed one) logs on again when the
// application was made but its logon failed, so that the contact exports do
// not go on without one.
HRESULT OpenContactSession() {
  if (g_session.contactsLoggedOn) return S_OK;
  if (g_session.contactApp == nullptr) {
    HRESULT hr =
        CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                         reinterpret_cast<void**>(&g_session.contactApp));
    if (FAILED(hr)) {
      g_session.contactApp = nullptr;
      return hr;
    }
  }
  const HRESULT hr = g_session.contactApp->Logon(0);
  g_session.contactsLoggedOn = SUCCEEDED(hr);
  return hr;
}

void CloseContactSession() {
  if (g_session.contactApp == nullptr) return;
  g_session.contactApp->Logoff();
  g_session.contactApp->Release();
  g_session.contactApp = nullptr;
  g_session.contactsLoggedOn = false;
}

HRESULT GetContactsFolder(IFolder** folder) {
  if (g_session.contactApp == nullptr) return E_FAIL;
  if (folder == nullptr) return E_INVALIDARG;
  return g_session.contactApp->GetDefaultFolder(olFolderContacts, folder);
}

}  // namespace mz
