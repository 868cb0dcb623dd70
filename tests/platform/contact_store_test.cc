// The contact store's object model: positions and oids, property round trips,
// persistence and changes by a second process (faults: faults_test.cc).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "frame/com_ref.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"
#include "program.h"

namespace {

using mz::ComRef;
using ContactPtr = ComRef<IContact>;

struct TextAccessor {
  const char* name;
  HRESULT (IContact::*get)(BSTR*);
  HRESULT (IContact::*put)(BSTR);
};
const TextAccessor kText[] = {
#define TEXT_ACCESSOR(Name) {#Name, &IContact::get_##Name, &IContact::put_##Name},
    PLATFORM_CONTACT_TEXT_PROPERTIES(TEXT_ACCESSOR)
#undef TEXT_ACCESSOR
};

// The contacts collection opened the way an application opens it, released
// in reverse order (COM uninitialised last).
class Contacts {
 public:
  Contacts() {
    EXPECT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IPOutlookApp, app_.put_as<void>())) &&
                SUCCEEDED(app_->Logon(0)) &&
                SUCCEEDED(app_->GetDefaultFolder(olFolderContacts, folder_.put())) &&
                SUCCEEDED(folder_->get_Items(items_.put())));
  }

  IPOutlookItemCollection* operator->() const { return items_.get(); }
  int Count() const {
    int count = -1;
    EXPECT_EQ(items_->get_Count(&count), S_OK);
    return count;
  }
  // The contact at `index`, or a new one when it is 0.
  ContactPtr Item(int index) const {
    IDispatch* item = nullptr;
    EXPECT_EQ(index ? items_->Item(index, &item) : items_->Add(&item), S_OK) << index;
    return ContactPtr(static_cast<IContact*>(item));
  }
  ContactPtr Add() const { return Item(0); }

 private:
  struct Com {
    Com() { EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    ~Com() { CoUninitialize(); }
  } com_;
  ComRef<IPOutlookApp> app_;
  ComRef<IFolder> folder_;
  ComRef<IPOutlookItemCollection> items_;
};

std::uint32_t Oid(const ContactPtr& contact) {
  LONG oid = 0;
  EXPECT_EQ(contact->get_Oid(&oid), S_OK);
  return static_cast<std::uint32_t>(oid);
}

// The property's text, or "<null>" when it is not set.
std::u16string Get(const ContactPtr& contact,
                   HRESULT (IContact::*get)(BSTR*) = &IContact::get_FirstName) {
  BSTR value = nullptr;
  EXPECT_EQ((contact.get()->*get)(&value), S_OK);
  if (value == nullptr) return u"<null>";
  std::u16string text(value, SysStringLen(value));
  SysFreeString(value);
  return text;
}

// Runs the device writer on `dir` ("add NAME" or "delete OID"); its exit
// status.
int RunWriter(const std::string& dir, const std::string& command, const std::string& arg) {
  return RunProgram({DEVICE_WRITER, dir, command, arg}).status;
}

using ContactStoreTest = DeviceTest;

TEST_F(ContactStoreTest, PositionsFollowStoreOrderMoveDownOnDeleteAndSavesJoinTheEnd) {
  for (const char* name : {"a", "b", "c"}) emulator::SeedContact({{"FirstName", name}});
  const auto oids = emulator::ContactOids();
  Contacts contacts;
  ASSERT_EQ(contacts.Count(), 3);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(Oid(contacts.Item(i)), oids[i - 1]);
  for (int index : {0, 4, -1}) {
    IDispatch* item = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(contacts->Item(index, &item), E_INVALIDARG) << index;
    EXPECT_EQ(item, nullptr);
  }
  EXPECT_EQ(contacts->get_Count(nullptr), E_POINTER);

  ContactPtr middle = contacts.Item(2);
  ASSERT_EQ(middle->Delete(), S_OK);
  EXPECT_EQ(contacts.Count(), 2);
  EXPECT_EQ(Oid(contacts.Item(2)), oids[2]);
  EXPECT_EQ(Get(contacts.Item(2)), u"c");
  EXPECT_EQ(middle->Delete(), E_FAIL);
  EXPECT_EQ(middle->Save(), E_FAIL);

  ContactPtr added = contacts.Add();
  EXPECT_EQ(added->Delete(), E_FAIL);  // never saved
  EXPECT_EQ(Oid(added), 0u);
  WCHAR name[] = u"Robin";
  EXPECT_EQ(added->put_FirstName(name), S_OK);
  EXPECT_EQ(added->put_LastName(name), S_OK);
  ASSERT_EQ(added->Save(), S_OK);
  const std::uint32_t oid = Oid(added);
  EXPECT_GT(oid, oids[2]);
  EXPECT_EQ(Oid(contacts.Item(3)), oid);
  EXPECT_EQ(emulator::ContactOids(), (std::vector<std::uint32_t>{oids[0], oids[2], oid}));
  EXPECT_EQ(emulator::ReadContact(oid)->text,
            (std::map<std::string, std::string>{{"FirstName", "Robin"}, {"LastName", "Robin"}}));
}

TEST_F(ContactStoreTest, EveryTextPropertyRoundTripsAsUtf16) {
  // Each property gets its own text, so a property mapped to another's column
  // shows. The last character needs a surrogate pair.
  auto utf16 = [](const std::string& name) {
    return u"\u00e9\u4e2d " + std::u16string(name.begin(), name.end()) + u" \U0001D11E";
  };
  auto utf8 = [](const std::string& name) {
    return "\xC3\xA9\xE4\xB8\xAD " + name + " \xF0\x9D\x84\x9E";
  };

  Contacts contacts;
  ContactPtr added = contacts.Add();
  std::map<std::string, std::string> expected, seeded;
  for (const auto& text : kText) {
    std::u16string value = utf16(text.name);  // a plain zero-terminated text, not a BSTR
    EXPECT_EQ((added.get()->*text.put)(value.data()), S_OK) << text.name;
    expected[text.name] = utf8(text.name);
    seeded[text.name] = utf8(std::string(text.name) + "!");
  }
  ASSERT_EQ(added->Save(), S_OK);
  EXPECT_EQ(emulator::ReadContact(Oid(added))->text, expected);

  emulator::SeedContact(seeded);
  ContactPtr read = contacts.Item(2);
  for (const auto& text : kText) {
    EXPECT_EQ(Get(read, text.get), utf16(std::string(text.name) + "!")) << text.name;
  }
}

TEST_F(ContactStoreTest, EmptyOrNullTextClearsAndBirthdayRoundTrips) {
  std::uint32_t oid =
      emulator::SeedContact({{"FirstName", "Sam"}, {"LastName", "L"}, {"Body", ""}}, 36526.5);
  EXPECT_EQ(emulator::ReadContact(oid)->text.count("Body"), 0u);
  Contacts contacts;
  ContactPtr contact = contacts.Item(1);
  EXPECT_EQ(Get(contact, &IContact::get_Body), u"<null>");
  DATE birthday = 0;
  EXPECT_EQ(contact->get_Birthday(&birthday), S_OK);
  EXPECT_EQ(birthday, 36526.5);
  WCHAR empty[] = u"";
  EXPECT_EQ(contact->put_FirstName(empty), S_OK);
  EXPECT_EQ(contact->put_LastName(nullptr), S_OK);
  EXPECT_EQ(contact->put_Birthday(0.0), S_OK);
  EXPECT_EQ(Get(contact), u"<null>");
  ASSERT_EQ(contact->Save(), S_OK);
  EXPECT_EQ(contact->get_FirstName(nullptr), E_POINTER);
  EXPECT_TRUE(emulator::ReadContact(oid)->text.empty());
  EXPECT_EQ(emulator::ReadContact(oid)->birthday, 0.0);
}

TEST_F(ContactStoreTest, ReopenedDeviceKeepsContactsAndNeverReusesOids) {
  for (const char* name : {"a", "b", "c"}) emulator::SeedContact({{"FirstName", name}});
  const std::uint32_t last = emulator::ContactOids().back();
  ASSERT_EQ(Contacts().Item(3)->Delete(), S_OK);
  emulator::CloseDevice();
  ASSERT_TRUE(emulator::OpenDevice(dir()));
  Contacts contacts;
  ASSERT_EQ(contacts.Count(), 2);
  EXPECT_EQ(Get(contacts.Item(1)), u"a");
  EXPECT_EQ(Get(contacts.Item(2)), u"b");
  ContactPtr added = contacts.Add();
  ASSERT_EQ(added->Save(), S_OK);
  EXPECT_GT(Oid(added), last);
}

TEST_F(ContactStoreTest, AnotherProcessesChangesShowAndItsDeletionsCannotBeSaved) {
  std::uint32_t loaded_oid = emulator::SeedContact({{"FirstName", "loaded"}});
  std::uint32_t unloaded_oid = emulator::SeedContact({{"FirstName", "unloaded"}});
  Contacts contacts;
  ContactPtr loaded = contacts.Item(1);
  ContactPtr unloaded = contacts.Item(2);
  EXPECT_EQ(Get(loaded), u"loaded");
  for (std::uint32_t oid : {loaded_oid, unloaded_oid})
    ASSERT_EQ(RunWriter(dir(), "delete", std::to_string(oid)), 0);
  ASSERT_EQ(RunWriter(dir(), "add", "Elsewhere"), 0);

  WCHAR name[] = u"changed";
  EXPECT_EQ(loaded->put_FirstName(name), S_OK);
  EXPECT_EQ(loaded->Save(), E_FAIL);
  EXPECT_EQ(unloaded->Save(), E_FAIL);
  BSTR value = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(unloaded->get_FirstName(&value), E_FAIL);
  EXPECT_EQ(value, nullptr);
  Contacts later;
  ASSERT_EQ(later.Count(), 1);
  EXPECT_EQ(Get(later.Item(1)), u"Elsewhere");
}

TEST_F(ContactStoreTest, ApplicationGivesTheContactsFolderOnlyWhileLoggedOn) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  {
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
  CoUninitialize();
}

TEST_F(ContactStoreTest, LastThirtyTwoBitOidIsGivenOnceThenTheStoreIsFull) {
  emulator::SetNextContactOid(0xFFFFFFFF);
  Contacts contacts;
  ContactPtr last = contacts.Add();
  ASSERT_EQ(last->Save(), S_OK);
  EXPECT_EQ(Oid(last), 0xFFFFFFFFu);
  ContactPtr beyond = contacts.Add();
  EXPECT_EQ(beyond->Save(), E_FAIL);
  EXPECT_EQ(Oid(beyond), 0u);
  EXPECT_EQ(emulator::ContactOids(), std::vector<std::uint32_t>{0xFFFFFFFFu});
}

}  // namespace
