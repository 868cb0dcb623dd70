#include "contacts/contact_session.h"

namespace mz {
namespace {

// The contact side of the session: empty when the library is loaded, used
// from the host's thread only. Whether the logon succeeded is kept apart
// from the application, which may exist without one.
struct ContactSession {
  IPOutlookApp* app = nullptr;
  bool loggedOn = false;
};

constinit ContactSession g_contacts;

}  // namespace

// A repeated call (MZ_Init after a failed one) logs on again when the
// application was made but its logon failed, so that the contact exports do
// not go on without one.
HRESULT OpenContactSession() {
  if (g_contacts.loggedOn) return S_OK;
  if (g_contacts.app == nullptr) {
    HRESULT hr = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IPOutlookApp, reinterpret_cast<void**>(&g_contacts.app));
    if (FAILED(hr)) {
      g_contacts.app = nullptr;
      return hr;
    }
  }
  const HRESULT hr = g_contacts.app->Logon(0);
  g_contacts.loggedOn = SUCCEEDED(hr);
  return hr;
}

void CloseContactSession() {
  if (g_contacts.app == nullptr) return;
  g_contacts.app->Logoff();
  g_contacts.app->Release();
  g_contacts.app = nullptr;
  g_contacts.loggedOn = false;
}

HRESULT GetContactsFolder(IFolder** folder) {
  if (g_contacts.app == nullptr) return E_FAIL;
  if (folder == nullptr) return E_INVALIDARG;
  return g_contacts.app->GetDefaultFolder(olFolderContacts, folder);
}

}  // namespace mz
