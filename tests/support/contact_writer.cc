// Changes a device's contact store from a second process, for the tests that
// check what one process sees of another's changes.
//
//   contact_writer DEVICE_DIR FIRST_NAME    adds a contact
//   contact_writer DEVICE_DIR delete OID    removes the contact OID
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/contact_store.h"
#include "platform/emulator.h"

namespace {

// Through the object model, as any other process on the phone would.
bool DeleteContact(std::uint32_t oid) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
  bool deleted = false;
  IPOutlookApp* app = nullptr;
  IFolder* folder = nullptr;
  IPOutlookItemCollection* items = nullptr;
  int count = 0;
  if (SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                                 reinterpret_cast<void**>(&app))) &&
      SUCCEEDED(app->Logon(0)) && SUCCEEDED(app->GetDefaultFolder(olFolderContacts, &folder)) &&
      SUCCEEDED(folder->get_Items(&items)) && SUCCEEDED(items->get_Count(&count))) {
    for (int i = 1; i <= count && !deleted; ++i) {
      IDispatch* item = nullptr;
      if (FAILED(items->Item(i, &item))) break;
      auto* contact = static_cast<IContact*>(item);
      LONG id = 0;
      if (SUCCEEDED(contact->get_Oid(&id)) && static_cast<std::uint32_t>(id) == oid) {
        deleted = SUCCEEDED(contact->Delete());
      }
      contact->Release();
    }
  }
  if (items) items->Release();
  if (folder) folder->Release();
  if (app) app->Release();
  CoUninitialize();
  return deleted;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && !(argc == 4 && std::string(argv[2]) == "delete")) {
    std::fprintf(stderr, "usage: contact_writer DEVICE_DIR FIRST_NAME | DEVICE_DIR delete OID\n");
    return 2;
  }
  std::string error;
  if (!emulator::OpenDevice(argv[1], &error)) {
    std::fprintf(stderr, "contact_writer: %s\n", error.c_str());
    return 1;
  }
  if (argc == 4) {
    return DeleteContact(static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10))) ? 0 : 1;
  }
  emulator::SeedContact({{"FirstName", argv[2]}});
  return 0;
}
