// Changes a device from a second process, for the tests that check what one
// process sees of another's changes.
//
//   device_writer DEVICE_DIR add FIRST_NAME   adds a contact
//   device_writer DEVICE_DIR delete POSITION  deletes the contact at POSITION
//                                             (from 1), as any application would
//   device_writer DEVICE_DIR sms FROM TEXT    delivers an SMS into the Inbox
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "base/com_ref.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"

namespace {

bool DeleteContact(int position) {
  mz::ComRef<IPOutlookApp> app;
  mz::ComRef<IFolder> folder;
  mz::ComRef<IPOutlookItemCollection> items;
  mz::ComRef<IContact> contact;
  return SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IPOutlookApp, app.put_as<void>())) &&
         SUCCEEDED(app->Logon(0)) &&
         SUCCEEDED(app->GetDefaultFolder(olFolderContacts, folder.put())) &&
         SUCCEEDED(folder->get_Items(items.put())) &&
         SUCCEEDED(items->Item(position, contact.put_as<IDispatch>())) &&
         SUCCEEDED(contact->Delete());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 2 ? argv[2] : "";
  if (!(argc == 4 && (command == "add" || command == "delete")) &&
      !(argc == 5 && command == "sms")) {
    std::fprintf(stderr,
                 "usage: device_writer DEVICE_DIR (add FIRST_NAME | delete POSITION | sms FROM "
                 "TEXT)\n");
    return 2;
  }
  std::string error;
  if (!emulator::OpenDevice(argv[1], &error)) {
    std::fprintf(stderr, "device_writer: %s\n", error.c_str());
    return 1;
  }
  try {
    if (command == "delete") {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      const bool deleted = DeleteContact(std::atoi(argv[3]));
      CoUninitialize();
      return deleted ? 0 : 1;
    }
    if (command == "add") emulator::SeedContact({{"FirstName", argv[3]}});
    if (command == "sms") emulator::ReceiveSms(argv[3], argv[4]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "device_writer: %s\n", e.what());
    return 1;
  }
  return 0;
}
