// The contact store's object model: positions and oids, property round trips,
// persistence, changes by a second process, fault injection and accounting.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"

extern char** environ;

namespace {

struct Releaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
using ContactPtr = std::unique_ptr<IContact, Releaser>;

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
// in reverse order.
class Contacts {
 public:
  Contacts() {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                               reinterpret_cast<void**>(&app_)),
              S_OK);
    if (app_ == nullptr) return;
    EXPECT_EQ(app_->Logon(0), S_OK);
    EXPECT_EQ(app_->GetDefaultFolder(olFolderContacts, &folder_), S_OK);
    if (folder_ != nullptr) {
      EXPECT_EQ(folder_->get_Items(&items_), S_OK);
    }
  }
  ~Contacts() {
    if (items_ != nullptr) items_->Release();
    if (folder_ != nullptr) folder_->Release();
    if (app_ != nullptr) app_->Release();
    CoUninitialize();
  }
  Contacts(const Contacts&) = delete;
  Contacts& operator=(const Contacts&) = delete;

  IPOutlookItemCollection* operator->() const { return items_; }

  int Count() const {
    int count = -1;
    EXPECT_EQ(items_->get_Count(&count), S_OK);
    return count;
  }
  ContactPtr Item(int index) const {
    IDispatch* item = nullptr;
    EXPECT_EQ(items_->Item(index, &item), S_OK) << "position " << index;
    return ContactPtr(static_cast<IContact*>(item));
  }
  ContactPtr Add() const {
    IDispatch* item = nullptr;
    EXPECT_EQ(items_->Add(&item), S_OK);
    return ContactPtr(static_cast<IContact*>(item));
  }

 private:
  IPOutlookApp* app_ = nullptr;
  IFolder* folder_ = nullptr;
  IPOutlookItemCollection* items_ = nullptr;
};

std::uint32_t Oid(IContact* contact) {
  LONG oid = 0;
  EXPECT_EQ(contact->get_Oid(&oid), S_OK);
  return static_cast<std::uint32_t>(oid);
}

// The property's text, or "<null>" when it is not set.
std::u16string Get(IContact* contact, HRESULT (IContact::*get)(BSTR*)) {
  BSTR value = nullptr;
  EXPECT_EQ((contact->*get)(&value), S_OK);
  if (value == nullptr) return u"<null>";
  std::u16string text(value, SysStringLen(value));
  SysFreeString(value);
  return text;
}

// Runs the contact writer on this test's device; its exit status.
int RunWriter(const std::string& dir, std::vector<std::string> args) {
  std::string program = CONTACT_WRITER;
  std::string device = dir;
  std::vector<char*> argv = {program.data(), device.data()};
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ContactStoreTest : public DeviceTest {};

TEST_F(ContactStoreTest, SavedContactJoinsTheEnd) {
  std::uint32_t first = emulator::SeedContact({{"FirstName", "Sam"}});
  Contacts contacts;
  ASSERT_EQ(contacts.Count(), 1);
  ContactPtr added = contacts.Add();
  EXPECT_EQ(Oid(added.get()), 0u);
  WCHAR name[] = u"Robin";
  EXPECT_EQ(added->put_FirstName(name), S_OK);
  EXPECT_EQ(added->put_LastName(name), S_OK);
  ASSERT_EQ(added->Save(), S_OK);
  std::uint32_t oid = Oid(added.get());
  EXPECT_GT(oid, first);
  EXPECT_EQ(contacts.Count(), 2);
  EXPECT_EQ(Oid(contacts.Item(2).get()), oid);
  EXPECT_EQ(emulator::ContactOids(), (std::vector<std::uint32_t>{first, oid}));
  auto stored = emulator::ReadContact(oid);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->text,
            (std::map<std::string, std::string>{{"FirstName", "Robin"}, {"LastName", "Robin"}}));
}

TEST_F(ContactStoreTest, PositionsFollowStoreOrderAndStopAtTheEnds) {
  for (const char* name : {"a", "b", "c"}) emulator::SeedContact({{"FirstName", name}});
  Contacts contacts;
  ASSERT_EQ(contacts.Count(), 3);
  auto oids = emulator::ContactOids();
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(Oid(contacts.Item(i).get()), oids[i - 1]);
  for (int index : {0, 4, -1}) {
    IDispatch* item = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(contacts->Item(index, &item), E_INVALIDARG) << index;
    EXPECT_EQ(item, nullptr);
  }
  EXPECT_EQ(contacts->get_Count(nullptr), E_POINTER);
  EXPECT_EQ(contacts->Item(1, nullptr), E_POINTER);
}

TEST_F(ContactStoreTest, DeletingMovesLaterPositionsDown) {
  for (const char* name : {"a", "b", "c"}) emulator::SeedContact({{"FirstName", name}});
  auto oids = emulator::ContactOids();
  Contacts contacts;
  ContactPtr middle = contacts.Item(2);
  ASSERT_EQ(middle->Delete(), S_OK);
  EXPECT_EQ(contacts.Count(), 2);
  EXPECT_EQ(Oid(contacts.Item(2).get()), oids[2]);
  EXPECT_EQ(Get(contacts.Item(2).get(), &IContact::get_FirstName), u"c");
  EXPECT_EQ(middle->Delete(), E_FAIL);
  EXPECT_EQ(middle->Save(), E_FAIL);
  EXPECT_EQ(contacts.Add()->Delete(), E_FAIL);  // never saved
}

TEST_F(ContactStoreTest, EveryTextPropertyRoundTripsAsUtf16) {
  std::vector<std::string> names;
  for (const auto& text : kText) names.push_back(text.name);
  ASSERT_EQ(emulator::ContactPropertyNames(), names);

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
  std::map<std::string, std::string> expected;
  for (const auto& text : kText) {
    std::u16string value = utf16(text.name);  // a plain zero-terminated text, not a BSTR
    EXPECT_EQ((added.get()->*text.put)(value.data()), S_OK) << text.name;
    expected[text.name] = utf8(text.name);
  }
  ASSERT_EQ(added->Save(), S_OK);
  auto stored = emulator::ReadContact(Oid(added.get()));
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->text, expected);

  std::map<std::string, std::string> seeded;
  for (const auto& text : kText) seeded[text.name] = utf8(std::string(text.name) + "!");
  emulator::SeedContact(seeded);
  ContactPtr read = contacts.Item(2);
  for (const auto& text : kText) {
    EXPECT_EQ(Get(read.get(), text.get), utf16(std::string(text.name) + "!")) << text.name;
  }
}

TEST_F(ContactStoreTest, EmptyOrNullTextClearsAndBirthdayRoundTrips) {
  std::uint32_t oid =
      emulator::SeedContact({{"FirstName", "Sam"}, {"LastName", "L"}, {"Body", ""}}, 36526.5);
  EXPECT_EQ(emulator::ReadContact(oid)->text.count("Body"), 0u);
  Contacts contacts;
  {
    ContactPtr contact = contacts.Item(1);
    EXPECT_EQ(Get(contact.get(), &IContact::get_Body), u"<null>");
    DATE birthday = 0;
    EXPECT_EQ(contact->get_Birthday(&birthday), S_OK);
    EXPECT_EQ(birthday, 36526.5);
    WCHAR empty[] = u"";
    EXPECT_EQ(contact->put_FirstName(empty), S_OK);
    EXPECT_EQ(contact->put_LastName(nullptr), S_OK);
    EXPECT_EQ(contact->put_Birthday(0.0), S_OK);
    EXPECT_EQ(Get(contact.get(), &IContact::get_FirstName), u"<null>");
    ASSERT_EQ(contact->Save(), S_OK);
    EXPECT_EQ(contact->get_FirstName(nullptr), E_POINTER);
    EXPECT_EQ(contact->get_Birthday(nullptr), E_POINTER);
    EXPECT_EQ(contact->get_Oid(nullptr), E_POINTER);
  }
  auto stored = emulator::ReadContact(oid);
  ASSERT_TRUE(stored.has_value());
  EXPECT_TRUE(stored->text.empty());
  EXPECT_EQ(stored->birthday, 0.0);
  EXPECT_THROW(emulator::SeedContact({{"Nickname", "x"}}), std::invalid_argument);
  EXPECT_FALSE(emulator::ReadContact(oid + 100).has_value());
}

TEST_F(ContactStoreTest, ReopenedDeviceKeepsContactsAndNeverReusesOids) {
  for (const char* name : {"a", "b", "c"}) emulator::SeedContact({{"FirstName", name}});
  std::uint32_t last = 0;
  {
    Contacts contacts;
    ContactPtr third = contacts.Item(3);
    last = Oid(third.get());
    ASSERT_EQ(third->Delete(), S_OK);
  }
  auto before = emulator::ContactOids();
  emulator::CloseDevice();
  ASSERT_TRUE(emulator::OpenDevice(dir()));
  EXPECT_EQ(emulator::ContactOids(), before);
  Contacts contacts;
  ASSERT_EQ(contacts.Count(), 2);
  EXPECT_EQ(Get(contacts.Item(1).get(), &IContact::get_FirstName), u"a");
  EXPECT_EQ(Get(contacts.Item(2).get(), &IContact::get_FirstName), u"b");
  ContactPtr added = contacts.Add();
  ASSERT_EQ(added->Save(), S_OK);
  EXPECT_GT(Oid(added.get()), last);
}

TEST_F(ContactStoreTest, AnotherProcessesAdditionShowsInLaterCollections) {
  emulator::SeedContact({{"FirstName", "here"}});
  ASSERT_EQ(RunWriter(dir(), {"Elsewhere"}), 0);
  Contacts contacts;
  ASSERT_EQ(contacts.Count(), 2);
  EXPECT_EQ(Get(contacts.Item(2).get(), &IContact::get_FirstName), u"Elsewhere");
}

TEST_F(ContactStoreTest, ContactDeletedByAnotherProcessCannotBeSaved) {
  std::uint32_t loaded_oid = emulator::SeedContact({{"FirstName", "loaded"}});
  std::uint32_t unloaded_oid = emulator::SeedContact({{"FirstName", "unloaded"}});
  Contacts contacts;
  ContactPtr loaded = contacts.Item(1);
  ContactPtr unloaded = contacts.Item(2);
  EXPECT_EQ(Get(loaded.get(), &IContact::get_FirstName), u"loaded");
  ASSERT_EQ(RunWriter(dir(), {"delete", std::to_string(loaded_oid)}), 0);
  ASSERT_EQ(RunWriter(dir(), {"delete", std::to_string(unloaded_oid)}), 0);
  WCHAR name[] = u"changed";
  EXPECT_EQ(loaded->put_FirstName(name), S_OK);
  EXPECT_EQ(loaded->Save(), E_FAIL);
  EXPECT_EQ(unloaded->Save(), E_FAIL);
  BSTR value = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(unloaded->get_FirstName(&value), E_FAIL);
  EXPECT_EQ(value, nullptr);
  EXPECT_TRUE(emulator::ContactOids().empty());
}

TEST_F(ContactStoreTest, InjectedSaveFaultFailsOnlyThatSave) {
  Contacts contacts;
  emulator::InjectFault("IContact::Save", 2, E_UNEXPECTED);
  std::vector<HRESULT> results;
  std::vector<std::uint32_t> oids;
  for (int i = 0; i < 3; ++i) {
    ContactPtr added = contacts.Add();
    results.push_back(added->Save());
    oids.push_back(Oid(added.get()));
  }
  EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, E_UNEXPECTED, S_OK}));
  EXPECT_EQ(oids[1], 0u);
  EXPECT_EQ(emulator::ContactOids(), (std::vector<std::uint32_t>{oids[0], oids[2]}));
}

TEST_F(ContactStoreTest, FailedAllocationLeaksNothing) {
  emulator::SeedContact({{"FirstName", "Sam"}});
  Contacts contacts;
  ContactPtr contact = contacts.Item(1);
  long buffers = emulator::OutstandingBuffers();
  emulator::InjectFault("alloc", 1, E_OUTOFMEMORY);
  BSTR value = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(contact->get_FirstName(&value), E_OUTOFMEMORY);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers);

  long objects = emulator::LiveObjects();
  emulator::InjectFault("alloc", 1, E_OUTOFMEMORY, /*persistent=*/true);
  IDispatch* item = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(contacts->Item(1, &item), E_OUTOFMEMORY);
  EXPECT_EQ(item, nullptr);
  item = reinterpret_cast<IDispatch*>(1);
  EXPECT_EQ(contacts->Add(&item), E_OUTOFMEMORY);
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(emulator::LiveObjects(), objects);
}

TEST_F(ContactStoreTest, EveryMethodFailsAtItsOwnFaultPoint) {
  constexpr HRESULT kInjected = static_cast<HRESULT>(0x80041234);
  emulator::SeedContact({{"FirstName", "Sam"}});
  Contacts contacts;
  ContactPtr contact = contacts.Item(1);
  for (const auto& text : kText) {
    emulator::InjectFault(std::string("IContact::get_") + text.name, 1, kInjected);
    BSTR value = reinterpret_cast<BSTR>(1);
    EXPECT_EQ((contact.get()->*text.get)(&value), kInjected) << text.name;
    EXPECT_EQ(value, nullptr);
    emulator::InjectFault(std::string("IContact::put_") + text.name, 1, kInjected);
    EXPECT_EQ((contact.get()->*text.put)(nullptr), kInjected) << text.name;
  }
  IDispatch* item = reinterpret_cast<IDispatch*>(1);
  int count = -1;
  LONG oid = -1;
  DATE birthday = -1;
  const std::pair<const char*, std::function<HRESULT()>> calls[] = {
      {"IContact::get_Birthday", [&] { return contact->get_Birthday(&birthday); }},
      {"IContact::put_Birthday", [&] { return contact->put_Birthday(1.0); }},
      {"IContact::get_Oid", [&] { return contact->get_Oid(&oid); }},
      {"IContact::Save", [&] { return contact->Save(); }},
      {"IContact::Delete", [&] { return contact->Delete(); }},
      {"IPOutlookItemCollection::get_Count", [&] { return contacts->get_Count(&count); }},
      {"IPOutlookItemCollection::Item", [&] { return contacts->Item(1, &item); }},
      {"IPOutlookItemCollection::Add", [&] { return contacts->Add(&item); }},
  };
  for (const auto& [name, call] : calls) {
    emulator::InjectFault(name, 1, kInjected);
    EXPECT_EQ(call(), kInjected) << name;
  }
  EXPECT_EQ(item, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(oid, 0);
  EXPECT_EQ(birthday, 0.0);
  EXPECT_EQ(emulator::ContactOids().size(), 1u);
}

TEST_F(ContactStoreTest, ApplicationAnswersOnlyItsInterfaces) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  long objects = emulator::LiveObjects();
  const IID other = {0x05058F24, 0x20BE, 0x11D2, {0x8F, 0x18, 0, 0, 0xF8, 0x7A, 0x43, 0x35}};
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, other, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(emulator::LiveObjects(), objects);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&unknown)),
            S_OK);
  IPOutlookApp* app = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_IPOutlookApp, reinterpret_cast<void**>(&app)), S_OK);
  unknown->Release();

  IFolder* folder = reinterpret_cast<IFolder*>(1);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), E_FAIL);  // before Logon
  EXPECT_EQ(folder, nullptr);
  ASSERT_EQ(app->Logon(0), S_OK);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, nullptr), E_POINTER);
  EXPECT_EQ(app->GetDefaultFolder(9, &folder), E_INVALIDARG);
  ASSERT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), S_OK);
  EXPECT_EQ(app->Logoff(), S_OK);
  IFolder* again = nullptr;
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &again), E_FAIL);
  app->Release();

  // Objects keep the device they were made on, even once it is closed.
  emulator::SeedContact({{"FirstName", "kept"}});
  emulator::CloseDevice();
  IPOutlookItemCollection* items = nullptr;
  ASSERT_EQ(folder->get_Items(&items), S_OK);
  folder->Release();
  int count = 0;
  EXPECT_EQ(items->get_Count(&count), S_OK);
  EXPECT_EQ(count, 1);
  items->Release();
  EXPECT_EQ(emulator::LiveObjects(), objects);
  CoUninitialize();
}

TEST_F(ContactStoreTest, LastThirtyTwoBitOidIsGivenOnceThenTheStoreIsFull) {
  std::uint32_t seeded = emulator::SeedContact({{"FirstName", "a"}});
  EXPECT_THROW(emulator::SetNextContactOid(seeded), std::invalid_argument);
  emulator::SetNextContactOid(seeded + 10);
  EXPECT_EQ(emulator::SeedContact({}), seeded + 10);

  emulator::SetNextContactOid(0xFFFFFFFF);
  Contacts contacts;
  ContactPtr last = contacts.Add();
  ASSERT_EQ(last->Save(), S_OK);
  LONG oid = 0;
  EXPECT_EQ(last->get_Oid(&oid), S_OK);
  EXPECT_EQ(oid, -1);
  ContactPtr beyond = contacts.Add();
  EXPECT_EQ(beyond->Save(), E_FAIL);
  EXPECT_EQ(Oid(beyond.get()), 0u);
  EXPECT_EQ(contacts.Count(), 3);
  EXPECT_EQ(emulator::ContactOids().back(), 0xFFFFFFFFu);
}

}  // namespace
