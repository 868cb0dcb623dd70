#include "contacts/contact_session.h"

#include "frame/session.h"

namespace mz {

HRESULT OpenContactSession() {
  if (g_session.contactApp != nullptr) return S_OK;
  HRESULT hr = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                                reinterpret_cast<void**>(&g_session.contactApp));
  if (FAILED(hr)) {
    g_session.contactApp = nullptr;
    return hr;
  }
  return g_session.contactApp->Logon(0);
}

void CloseContactSession() {
  if (g_session.contactApp == nullptr) return;
  g_session.contactApp->Logoff();
  g_session.contactApp->Release();
  g_session.contactApp = nullptr;
}

HRESULT GetContactsFolder(IFolder** folder) {
  if (g_session.contactApp == nullptr) return E_FAIL;
  if (folder == nullptr) return E_INVALIDARG;
  return g_session.contactApp->GetDefaultFolder(olFolderContacts, folder);
}

}  // namespace mz
