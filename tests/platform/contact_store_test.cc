// The contact store's object model: positions and oids, property round trips,
// persistence and changes by a second process (faults: faults_test.cc; the
// birthday is the e2e contact tests').
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "mapi.h"
#include "platform/emulator.h"
#include "program.h"

namespace {

using mapi::Contacts;
using mz::ComRef;
using ContactPtr = ComRef<IContact>;

// Each text property's name and setter.
const std::pair<const char*, HRESULT (IContact::*)(BSTR)> kText[] = {
#define TEXT_ACCESSOR(Name) {#Name, &IContact::put_##Name},
    PLATFORM_CONTACT_TEXT_PROPERTIES(TEXT_ACCESSOR)
#undef TEXT_ACCESSOR
};

std::uint32_t Oid(const ContactPtr& contact) {
  LONG oid = 0;
  EXPECT_EQ(contact->get_Oid(&oid), S_OK);
  return static_cast<std::uint32_t>(oid);
}

// The contact's first name (empty when not set).
std::u16string FirstName(const ContactPtr& contact) {
  BSTR value = nullptr;
  EXPECT_EQ(contact->get_FirstName(&value), S_OK);
  std::u16string text(value ? value : u"", SysStringLen(value));
  SysFreeString(value);
  return text;
}

using ContactStoreTest = DeviceTest;

// Positions, oids and text properties against a model of the store: a list
// of (oid, texts), compared with what the device holds after every step.
// Seeded random additions, changes (an empty or null text clears its
// property) of the contact at a position, deletions and reopenings of the
// device; each property gets text of its own, with characters beyond ASCII
// and a surrogate pair, so that one mapped to another's column shows. (Each
// getter's column and the count are the e2e export tests'.)
TEST_F(ContactStoreTest, PositionsOidsAndTextsFollowTheModel) {
  std::vector<std::pair<std::uint32_t, std::map<std::string, std::string>>> model;
  std::mt19937 random(14);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
  std::optional<Contacts> contacts(std::in_place);
  std::uint32_t last = 0;
  for (int step = 0; step < 120; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    const int size = static_cast<int>(model.size());
    const int position = size == 0 ? 0 : pick(1, size);
    switch (size == 0 ? 0 : pick(0, 3)) {
      case 0:    // a new contact
      case 1: {  // or a change to one
        const bool isNew = pick(0, 1) || size == 0;
        ContactPtr contact = contacts->Item(isNew ? 0 : position);
        if (isNew) model.emplace_back();
        auto& [oid, texts] = isNew ? model.back() : model[position - 1];
        EXPECT_EQ(Oid(contact), oid);  // 0 until a new contact is saved
        for (int n = pick(1, 3); n > 0; --n) {
          const auto& [name, put] = kText[pick(0, static_cast<int>(std::size(kText)) - 1)];
          const std::string text = pick(0, 3) ? std::to_string(step) + name : "";
          std::u16string wide =
              text.empty() ? u""
                           : u"\u00e9 " + std::u16string(text.begin(), text.end()) + u" \U0001D11E";
          EXPECT_EQ((contact.get()->*put)(text.empty() && pick(0, 1) ? nullptr : wide.data()),
                    S_OK);
          texts.erase(name);
          if (!text.empty()) texts[name] = "\xC3\xA9 " + text + " \xF0\x9D\x84\x9E";
        }
        ASSERT_EQ(contact->Save(), S_OK);
        if (isNew) {
          EXPECT_GT(Oid(contact), last);  // never reused, also after a reopening
          oid = last = Oid(contact);
        }
        break;
      }
      case 2:
        ASSERT_EQ(contacts->Item(position)->Delete(), S_OK);
        model.erase(model.begin() + position - 1);
        break;
      default:
        contacts.reset();
        emulator::CloseDevice();
        ASSERT_TRUE(emulator::OpenDevice(dir()));
        contacts.emplace();
    }
    std::vector<std::uint32_t> oids;
    for (const auto& [oid, texts] : model) {
      oids.push_back(oid);
      EXPECT_EQ(emulator::ReadContact(oid)->text, texts) << oid;
    }
    ASSERT_EQ(emulator::ContactOids(), oids);
  }
}

// Positions run from 1 to the count; a deleted contact can be neither saved
// nor deleted again, and one never saved cannot be deleted.
TEST_F(ContactStoreTest, PositionsOutsideTheStoreAndGoneContactsAreRefused) {
  for (const char* name : {"a", "b", "c"}) emulator::SeedContact({{"FirstName", name}});
  Contacts contacts;
  for (int index : {0, 4, -1}) {
    IDispatch* item = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(contacts.items->Item(index, &item), E_INVALIDARG) << index;
    EXPECT_EQ(item, nullptr);
  }
  EXPECT_EQ(contacts.items->get_Count(nullptr), E_POINTER);
  ContactPtr middle = contacts.Item(2);
  ASSERT_EQ(middle->Delete(), S_OK);
  EXPECT_EQ(middle->Delete(), E_FAIL);
  EXPECT_EQ(middle->Save(), E_FAIL);
  EXPECT_EQ(middle->get_FirstName(nullptr), E_POINTER);
  EXPECT_EQ(contacts.Item(0)->Delete(), E_FAIL);
}

// Another process's additions show to a new collection; a contact it
// deleted can be neither saved nor read, loaded or not.
TEST_F(ContactStoreTest, AnotherProcessesChangesShowAndItsDeletionsCannotBeSaved) {
  for (const char* name : {"loaded", "unloaded"}) emulator::SeedContact({{"FirstName", name}});
  Contacts contacts;
  ContactPtr loaded = contacts.Item(1);
  ContactPtr unloaded = contacts.Item(2);
  EXPECT_EQ(FirstName(loaded), u"loaded");
  for (const char* command : {"delete", "delete", "add"})
    ASSERT_EQ(
        RunProgram({DEVICE_WRITER, dir(), command, *command == 'a' ? "Elsewhere" : "1"}).status, 0);

  WCHAR name[] = u"changed";
  EXPECT_EQ(loaded->put_FirstName(name), S_OK);
  EXPECT_EQ(loaded->Save(), E_FAIL);
  EXPECT_EQ(unloaded->Save(), E_FAIL);
  BSTR value = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(unloaded->get_FirstName(&value), E_FAIL);
  EXPECT_EQ(value, nullptr);
  Contacts later;
  int count = -1;
  EXPECT_EQ(later.items->get_Count(&count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(FirstName(later.Item(1)), u"Elsewhere");
}

// The application gives its contacts folder, and no other, only while logged
// on.
TEST_F(ContactStoreTest, ApplicationGivesTheContactsFolderOnlyWhileLoggedOn) {
  Contacts::Com com;
  ComRef<IPOutlookApp> app;
  ASSERT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                             app.put_as<void>()),
            S_OK);
  IFolder* none = reinterpret_cast<IFolder*>(1);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &none), E_FAIL);  // before Logon
  EXPECT_EQ(none, nullptr);
  ComRef<IFolder> folder;
  ASSERT_EQ(app->Logon(0), S_OK);
  EXPECT_EQ(app->GetDefaultFolder(9, folder.put()), E_INVALIDARG);
  ASSERT_EQ(app->GetDefaultFolder(olFolderContacts, folder.put()), S_OK);
  EXPECT_EQ(app->Logoff(), S_OK);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, folder.put()), E_FAIL);
}

// Oids are never reused: after the last 32-bit oid the store is full.
TEST_F(ContactStoreTest, LastThirtyTwoBitOidIsGivenOnceThenTheStoreIsFull) {
  emulator::SetNextContactOid(0xFFFFFFFF);
  Contacts contacts;
  ContactPtr last = contacts.Item(0);
  ASSERT_EQ(last->Save(), S_OK);
  EXPECT_EQ(Oid(last), 0xFFFFFFFFu);
  ContactPtr beyond = contacts.Item(0);
  EXPECT_EQ(beyond->Save(), E_FAIL);
  EXPECT_EQ(Oid(beyond), 0u);
  EXPECT_EQ(emulator::ContactOids(), std::vector<std::uint32_t>{0xFFFFFFFFu});
}

}  // namespace
