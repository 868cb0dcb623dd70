// Changes a device from a second process, for the tests that check what one
// process sees of another's changes.
//
//   device_writer DEVICE_DIR add FIRST_NAME   adds a contact
//   device_writer DEVICE_DIR delete OID       removes the contact OID
//   device_writer DEVICE_DIR sms FROM TEXT    delivers an SMS into the Inbox
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "frame/com_ref.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"

namespace {

// Through the object model, as any other process on the phone would.
bool DeleteContact(std::uint32_t oid) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;
  bool deleted = false;
  {
    mz::ComRef<IPOutlookApp> app;
    mz::ComRef<IFolder> folder;
    mz::ComRef<IPOutlookItemCollection> items;
    int count = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IPOutlookApp, app.put_as<void>())) &&
        SUCCEEDED(app->Logon(0)) &&
        SUCCEEDED(app->GetDefaultFolder(olFolderContacts, folder.put())) &&
        SUCCEEDED(folder->get_Items(items.put())) && SUCCEEDED(items->get_Count(&count))) {
      for (int i = 1; i <= count && !deleted; ++i) {
        mz::ComRef<IContact> contact;
        LONG id = 0;
        if (FAILED(items->Item(i, contact.put_as<IDispatch>()))) break;
        if (SUCCEEDED(contact->get_Oid(&id)) && static_cast<std::uint32_t>(id) == oid) {
          deleted = SUCCEEDED(contact->Delete());
        }
      }
    }
  }
  CoUninitialize();
  return deleted;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 2 ? argv[2] : "";
  if (!(argc == 4 && (command == "add" || command == "delete")) &&
      !(argc == 5 && command == "sms")) {
    std::fprintf(stderr,
                 "usage: device_writer DEVICE_DIR (add FIRST_NAME | delete OID | sms FROM TEXT)\n");
    return 2;
  }
  std::string error;
  if (!emulator::OpenDevice(argv[1], &error)) {
    std::fprintf(stderr, "device_writer: %s\n", error.c_str());
    return 1;
  }
  try {
    if (command == "delete") {
      return DeleteContact(static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10))) ? 0 : 1;
    }
    if (command == "add") emulator::SeedContact({{"FirstName", argv[3]}});
    if (command == "sms") emulator::ReceiveSms(argv[3], argv[4]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "device_writer: %s\n", e.what());
    return 1;
  }
  return 0;
}
