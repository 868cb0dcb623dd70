// Every fault point of the platform, from one table (data/platform/faults.tsv):
// each row names a call, the objects it needs, the point, the injected value
// and what the call reports. For every row the call must report that value,
// give nothing out, leave the live COM objects and platform buffers as they
// were and leave the device unchanged.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "device_fixture.h"
#include "frame/com_ref.h"
#include "platform/clock.h"
#include "platform/contact_store.h"
#include "platform/crt.h"
#include "platform/emulator.h"
#include "platform/files.h"
#include "platform/message_store.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sms.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/text.h"
#include "tables.h"

namespace {

using mz::ComRef;
namespace fs = std::filesystem;

// The objects a row's call works on; "contacts" opens the first contact with
// a change not yet saved, "messages" the SMS store's Inbox, its contents and
// first message, "sms" a radio handle, "file" \Temp\f.txt holding "text".
struct World {
  struct Uninitialize {  // declared first, so it runs after every release
    bool com = false, mapi = false;
    ~Uninitialize() {
      if (mapi) MAPIUninitialize();
      if (com) CoUninitialize();
    }
  } uninitialize;
  ComRef<IPOutlookApp> app;
  ComRef<IFolder> folder;
  ComRef<IPOutlookItemCollection> items;
  ComRef<IContact> contact;
  ComRef<IMAPISession> session;
  ComRef<IMsgStore> store;
  ComRef<IMAPIFolder> inbox;
  ComRef<IMAPITable> table;
  ComRef<IMessage> message;
  std::string storeId, inboxId, messageId;
  SMS_HANDLE sms = nullptr;
  std::FILE* file = nullptr;

  ~World() {
    if (sms != nullptr) {
      EXPECT_EQ(SmsClose(sms), S_OK);
    }
    if (file != nullptr) std::fclose(file);
  }

  void Set(const std::string& setup) {
    if (setup == "contacts") {
      emulator::SeedContact({{"FirstName", "Sam"}});
      uninitialize.com = CoInitializeEx(nullptr, COINIT_MULTITHREADED) == S_OK;
      ASSERT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                                 app.put_as<void>()),
                S_OK);
      ASSERT_EQ(app->Logon(0), S_OK);
      ASSERT_EQ(app->GetDefaultFolder(olFolderContacts, folder.put()), S_OK);
      ASSERT_EQ(folder->get_Items(items.put()), S_OK);
      ASSERT_EQ(items->Item(1, contact.put_as<IDispatch>()), S_OK);
      WCHAR name[] = u"Changed";
      ASSERT_EQ(contact->put_FirstName(name), S_OK);
    } else if (setup == "messages") {
      uninitialize.mapi = MAPIInitialize(nullptr) == S_OK;
      ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, session.put()), S_OK);
      ComRef<IMAPITable> stores;
      SRowSet* rows = nullptr;
      ASSERT_EQ(session->GetMsgStoresTable(0, stores.put()), S_OK);
      ASSERT_EQ(stores->QueryRows(1, 0, &rows), S_OK);  // SMS comes first
      const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
      storeId.assign(reinterpret_cast<const char*>(id.lpb), id.cb);
      FreeProws(rows);
      ASSERT_EQ(Open(session.get(), storeId, store.put_as<IUnknown>()), S_OK);
      SizedSPropTagArray(1, tags) = {1, {PR_CE_IPM_INBOX_ENTRYID}};
      ULONG count = 0;
      SPropValue* values = nullptr;
      ASSERT_EQ(store->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &count, &values), S_OK);
      inboxId.assign(reinterpret_cast<const char*>(values[0].Value.bin.lpb),
                     values[0].Value.bin.cb);
      MAPIFreeBuffer(values);
      ASSERT_EQ(Open(store.get(), inboxId, inbox.put_as<IUnknown>()), S_OK);
      ASSERT_EQ(inbox->GetContentsTable(0, table.put()), S_OK);
      messageId = emulator::ListMessages("SMS", "Inbox").at(0).entryId;
      ASSERT_EQ(Open(inbox.get(), messageId, message.put_as<IUnknown>()), S_OK);
    } else if (setup == "sms") {
      ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms, nullptr), S_OK);
    } else if (setup == "file") {
      file = crt::fopen("\\Temp\\f.txt", "w+");
      ASSERT_NE(file, nullptr);
      ASSERT_EQ(std::fputs("text", file), 1);
      ASSERT_EQ(std::fflush(file), 0);
      std::rewind(file);
    } else {
      ASSERT_EQ(setup, "none");
    }
  }

  template <class From>
  static HRESULT Open(From* from, const std::string& id, IUnknown** to) {
    return from->OpenEntry(static_cast<ULONG>(id.size()),
                           reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())), nullptr,
                           MAPI_BEST_ACCESS, nullptr, to);
  }
};

// Sets what a call gives out to garbage, so that the row can see it cleared.
template <class T>
T* Garbage(T* out) {
  std::memset(static_cast<void*>(out), 0x5A, sizeof *out);
  return out;
}

// A failed call's result, once what it gives out is seen cleared.
template <class T>
std::int32_t Cleared(std::int32_t result, const T& out) {
  EXPECT_TRUE(out == T{}) << "left something in an out parameter";
  return result;
}

// What a call that fails by returning FALSE, 0 or null reported: the error
// it left, or 0 when it succeeded.
std::int32_t LastError(bool ok) {
  return ok ? 0 : static_cast<std::int32_t>(GetLastError());
}
std::int32_t Errno(bool ok) {
  return ok ? 0 : errno;
}
// An allocation that reports only by null.
std::int32_t Null(const void* result) {
  return result == nullptr ? E_OUTOFMEMORY : S_OK;
}

// A sink that only counts its references: a refused Advise keeps none.
struct CountingSink final : IMAPIAdviseSink {
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG OnNotify(ULONG, NOTIFICATION*) override { return 0; }
  ULONG refs = 1;
};

const FILETIME kEpoch = {0xD53E8000, 0x019DB1DE};  // 1970-01-01
const SYSTEMTIME kNewYear = {2000, 1, 0, 1, 0, 0, 0, 0};

using Call = std::function<std::int32_t(World&)>;

// The calls the table names. Each sets what it gives out to garbage first.
const std::map<std::string, Call>& Calls() {
  static const auto* calls = new std::map<std::string, Call>{
      // COM, automation strings and local memory.
      {"CoInitializeEx", [](World&) { return CoInitializeEx(nullptr, COINIT_MULTITHREADED); }},
      {"CoCreateInstance",
       [](World&) {
         void* app;
         return Cleared(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IPOutlookApp, Garbage(&app)),
                        app);
       }},
      {"SysAllocStringByteLen", [](World&) { return Null(SysAllocStringByteLen("ab", 2)); }},
      {"LocalAlloc", [](World&) { return LastError(LocalAlloc(LPTR, 4) != nullptr); }},
      // Contacts.
      {"Logon", [](World& w) { return w.app->Logon(0); }},
      {"Logoff", [](World& w) { return w.app->Logoff(); }},
      {"GetDefaultFolder",
       [](World& w) {
         IFolder* folder;
         return Cleared(w.app->GetDefaultFolder(olFolderContacts, Garbage(&folder)), folder);
       }},
      {"get_Items",
       [](World& w) {
         IPOutlookItemCollection* items;
         return Cleared(w.folder->get_Items(Garbage(&items)), items);
       }},
      {"get_Count",
       [](World& w) {
         int count;
         return Cleared(w.items->get_Count(Garbage(&count)), count);
       }},
      {"Item",
       [](World& w) {
         IDispatch* item;
         return Cleared(w.items->Item(1, Garbage(&item)), item);
       }},
      {"Add",
       [](World& w) {
         IDispatch* item;
         return Cleared(w.items->Add(Garbage(&item)), item);
       }},
      {"Save", [](World& w) { return w.contact->Save(); }},
      {"Delete", [](World& w) { return w.contact->Delete(); }},
      {"get_Oid",
       [](World& w) {
         LONG oid;
         return Cleared(w.contact->get_Oid(Garbage(&oid)), oid);
       }},
      {"get_Birthday",
       [](World& w) {
         DATE date;
         return Cleared(w.contact->get_Birthday(Garbage(&date)), date);
       }},
      {"put_Birthday", [](World& w) { return w.contact->put_Birthday(2.0); }},
#define TEXT_CALLS(Name)                                            \
  {"get_" #Name,                                                    \
   [](World& w) {                                                   \
     BSTR value;                                                    \
     return Cleared(w.contact->get_##Name(Garbage(&value)), value); \
   }},                                                              \
      {"put_" #Name, [](World& w) { return w.contact->put_##Name(nullptr); }},
      PLATFORM_CONTACT_TEXT_PROPERTIES(TEXT_CALLS)
#undef TEXT_CALLS
      // Messages.
      {"MAPIInitialize", [](World&) { return MAPIInitialize(nullptr); }},
      {"MAPILogonEx",
       [](World&) {
         IMAPISession* session;
         return Cleared(MAPILogonEx(0, nullptr, nullptr, 0, Garbage(&session)), session);
       }},
      {"GetMsgStoresTable",
       [](World& w) {
         IMAPITable* table;
         return Cleared(w.session->GetMsgStoresTable(0, Garbage(&table)), table);
       }},
      {"session OpenEntry",
       [](World& w) {
         IUnknown* store;
         return Cleared(World::Open(w.session.get(), w.storeId, Garbage(&store)), store);
       }},
      {"session Logoff", [](World& w) { return w.session->Logoff(0, 0, 0); }},
      {"store GetProps",
       [](World& w) {
         ULONG count;
         SPropValue* values;
         Garbage(&count);
         return Cleared(w.store->GetProps(nullptr, 0, &count, Garbage(&values)), values);
       }},
      {"store OpenEntry",
       [](World& w) {
         IUnknown* folder;
         return Cleared(World::Open(w.store.get(), w.inboxId, Garbage(&folder)), folder);
       }},
      {"Advise",
       [](World& w) {
         CountingSink sink;
         ULONG connection;
         const HRESULT hr =
             w.store->Advise(0, nullptr, fnevObjectCreated, &sink, Garbage(&connection));
         EXPECT_EQ(sink.refs, 1u);
         return Cleared(hr, connection);
       }},
      {"Unadvise", [](World& w) { return w.store->Unadvise(12345); }},
      {"folder GetProps",
       [](World& w) {
         ULONG count;
         SPropValue* values;
         return Cleared(w.inbox->GetProps(nullptr, 0, Garbage(&count), Garbage(&values)), values);
       }},
      {"GetContentsTable",
       [](World& w) {
         IMAPITable* table;
         return Cleared(w.inbox->GetContentsTable(0, Garbage(&table)), table);
       }},
      {"folder OpenEntry",
       [](World& w) {
         IUnknown* message;
         return Cleared(World::Open(w.inbox.get(), w.messageId, Garbage(&message)), message);
       }},
      {"DeleteMessages",
       [](World& w) {
         SBinary id{static_cast<ULONG>(w.messageId.size()),
                    reinterpret_cast<BYTE*>(w.messageId.data())};
         SBinaryArray ids{1, &id};
         return w.inbox->DeleteMessages(&ids, 0, nullptr, 0);
       }},
      {"EmptyFolder", [](World& w) { return w.inbox->EmptyFolder(0, nullptr, 0); }},
      {"SetColumns",
       [](World& w) {
         SizedSPropTagArray(1, tags) = {1, {PR_SUBJECT_W}};
         return w.table->SetColumns(reinterpret_cast<SPropTagArray*>(&tags), 0);
       }},
      // A failed read leaves the cursor where it was.
      {"QueryRows",
       [](World& w) {
         SRowSet* rows;
         const HRESULT hr = Cleared(w.table->QueryRows(1, 0, Garbage(&rows)), rows);
         EXPECT_EQ(w.table->QueryRows(1, 0, &rows), S_OK);
         const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
         EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.lpb), id.cb), w.messageId);
         FreeProws(rows);
         return hr;
       }},
      {"GetRowCount",
       [](World& w) {
         ULONG count;
         return Cleared(w.table->GetRowCount(0, Garbage(&count)), count);
       }},
      {"SeekRow", [](World& w) { return w.table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr); }},
      {"message GetProps",
       [](World& w) {
         ULONG count;
         SPropValue* values;
         return Cleared(w.message->GetProps(nullptr, 0, Garbage(&count), Garbage(&values)), values);
       }},
      {"GetRecipientTable",
       [](World& w) {
         IMAPITable* table;
         return Cleared(w.message->GetRecipientTable(0, Garbage(&table)), table);
       }},
      // The SMS radio; a failed close keeps the handle open.
      {"SmsOpen",
       [](World&) {
         SMS_HANDLE handle = nullptr;  // the fault point comes before the handle is cleared
         return Cleared(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr), handle);
       }},
      {"SmsSendMessage",
       [](World& w) {
         SMS_ADDRESS to{SMSAT_UNKNOWN, u"0123"};
         TEXT_PROVIDER_SPECIFIC_DATA provider{};
         const char16_t text[] = u"hi";
         return SmsSendMessage(w.sms, nullptr, &to, nullptr, reinterpret_cast<const BYTE*>(text), 4,
                               reinterpret_cast<const BYTE*>(&provider), sizeof provider,
                               SMSDE_OPTIMAL, SMS_OPTION_DELIVERY_NONE, nullptr);
       }},
      {"SmsClose", [](World& w) { return SmsClose(w.sms); }},
      // Sounds.
      {"SndGetSoundDirectoriesList",
       [](World&) {
         SNDDIRECTORYINFO* list;
         int count;
         const HRESULT hr = SndGetSoundDirectoriesList(SND_EVENT_REMINDER, SND_LOCATION_ALL,
                                                       Garbage(&list), Garbage(&count));
         EXPECT_EQ(count, 0);
         return Cleared(hr, list);
       }},
      {"SndSetSound",
       [](World&) {
         SNDFILEINFO sound{u"\\Windows\\Alert1.wav", u"Alert", SND_SOUNDTYPE_FILE};
         return SndSetSound(SND_EVENT_RINGTONELINE1, &sound, FALSE);
       }},
      // Registry.
      {"RegCreateKeyExW",
       [](World&) {
         HKEY key;
         return Cleared(RegCreateKeyExW(HKEY_CURRENT_USER, u"New", 0, nullptr, 0, 0, nullptr,
                                        Garbage(&key), nullptr),
                        key);
       }},
      {"RegOpenKeyExW",
       [](World&) {
         HKEY key;
         return Cleared(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel", 0, 0, Garbage(&key)),
                        key);
       }},
      {"RegSetValueExW",
       [](World&) {
         const BYTE data[] = {'x', 0, 0, 0};
         return RegSetValueExW(HKEY_CURRENT_USER, u"Faulty", 0, REG_SZ, data, 4);
       }},
      {"RegQueryValueExW",
       [](World&) {
         DWORD size = 0;
         return RegQueryValueExW(HKEY_CURRENT_USER, u"", nullptr, nullptr, nullptr, &size);
       }},
      {"RegCloseKey", [](World&) { return RegCloseKey(HKEY_CURRENT_USER); }},
      // Files and the C runtime; a failed transfer is an error on the stream.
      {"CopyFileW",
       [](World&) { return LastError(CopyFileW(u"\\Windows\\Ring1.wav", u"\\Temp\\a", 0)); }},
      {"DeleteFileW", [](World&) { return LastError(DeleteFileW(u"\\Windows\\Ring1.wav")); }},
      {"GetFileAttributesW",
       [](World&) {
         return LastError(GetFileAttributesW(u"\\Windows") != INVALID_FILE_ATTRIBUTES);
       }},
      {"GetTempPathW",
       [](World&) {
         WCHAR buffer[16];
         return LastError(GetTempPathW(16, buffer) != 0);
       }},
      {"fopen", [](World&) { return Errno(crt::fopen("\\Temp\\new.txt", "w") != nullptr); }},
      {"fwrite",
       [](World& w) {
         EXPECT_EQ(std::fputs("more", w.file), 1) << "buffered";
         const bool ok = std::fflush(w.file) == 0;
         EXPECT_TRUE(std::ferror(w.file));
         return Errno(ok);
       }},
      {"fseek", [](World& w) { return Errno(std::fseek(w.file, 0, SEEK_END) == 0); }},
      {"fread",
       [](World& w) {
         const bool ok = std::fgetc(w.file) != EOF;
         EXPECT_TRUE(std::ferror(w.file));
         return Errno(ok);
       }},
      // Launches.
      {"CreateProcessW",
       [](World&) {
         WCHAR line[] = u"\\Windows\\Default.tsk";
         return LastError(CreateProcessW(u"\\Windows\\cusTSK.exe", line, nullptr, nullptr, FALSE, 0,
                                         nullptr, nullptr, nullptr, nullptr));
       }},
      {"CloseHandle", [](World&) { return LastError(CloseHandle(reinterpret_cast<HANDLE>(16))); }},
      // Clocks and code pages.
      {"FileTimeToLocalFileTime",
       [](World&) {
         FILETIME local;
         return LastError(FileTimeToLocalFileTime(&kEpoch, &local));
       }},
      {"FileTimeToSystemTime",
       [](World&) {
         SYSTEMTIME fields;
         return LastError(FileTimeToSystemTime(&kEpoch, &fields));
       }},
      {"SystemTimeToVariantTime",
       [](World&) {
         DATE date = 42.0;
         const bool ok = SystemTimeToVariantTime(&kNewYear, &date);
         EXPECT_EQ(date, 42.0);
         return LastError(ok);
       }},
      {"VariantTimeToSystemTime",
       [](World&) {
         SYSTEMTIME fields;
         return LastError(VariantTimeToSystemTime(2.0, &fields));
       }},
      {"MultiByteToWideChar",
       [](World&) {
         char16_t wide[4];
         return LastError(MultiByteToWideChar(CP_UTF8, 0, "a", 1, wide, 4) != 0);
       }},
      {"WideCharToMultiByte",
       [](World&) {
         char bytes[4];
         return LastError(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 4, nullptr, nullptr));
       }},
  };
  return *calls;
}

// Everything a failed call must leave alone, as text: registry, contacts,
// messages, what the radio sent, launches, and the files under fs/.
std::string Snapshot() {
  std::ostringstream out;
  for (const auto& [name, value] : emulator::DumpRegistry()) {
    out << name << " " << value.type << " " << std::string(value.data.begin(), value.data.end())
        << "\n";
  }
  for (std::uint32_t oid : emulator::ContactOids()) {
    const auto contact = emulator::ReadContact(oid);
    out << "contact " << oid;
    for (const auto& [name, text] : contact->text) out << " " << name << text;
    out << "\n";
  }
  for (const std::string& folder : emulator::StandardFolderNames()) {
    for (const auto& message : emulator::ListMessages("SMS", folder)) {
      out << folder << " " << message.subject.value_or("") << "\n";
    }
  }
  for (const auto& sms : emulator::SentMessages()) out << "sent " << sms.text << "\n";
  for (const auto& launch : emulator::Launches()) out << "launch " << launch.commandLine << "\n";
  for (const auto& entry : fs::recursive_directory_iterator(emulator::HostPath("\\"))) {
    std::ifstream in(entry.path(), std::ios::binary);
    out << entry.path().string() << " " << in.rdbuf() << "\n";
  }
  return out.str();
}

class FaultTest : public DeviceTest, public testing::WithParamInterface<tables::Row> {};

TEST_P(FaultTest, CallReportsTheFaultAndChangesNothing) {
  const tables::Row& row = GetParam();
  ASSERT_EQ(row.size(), 7u);
  const auto call = Calls().find(row[0]);
  ASSERT_NE(call, Calls().end()) << row[0];
  World world;
  ASSERT_NO_FATAL_FAILURE(world.Set(row[1]));
  const std::string before = Snapshot();
  const long objects = emulator::LiveObjects(), buffers = emulator::OutstandingBuffers();

  emulator::InjectFault(row[2], tables::Number(row[3]), tables::Number(row[4]), row[6] == "yes");
  errno = 0;
  SetLastError(0);
  EXPECT_EQ(call->second(world), tables::Number(row[5]));
  EXPECT_GE(emulator::CallCount(row[2]), tables::Number(row[3])) << "the point was not passed";
  emulator::ClearFaults();

  EXPECT_EQ(emulator::LiveObjects(), objects) << "COM objects";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers) << "platform buffers";
  EXPECT_EQ(Snapshot(), before) << "the device changed";
}

std::string RowName(const testing::TestParamInfo<tables::Row>& info) {
  std::string name = std::to_string(info.index) + "_" + info.param[0];
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Table, FaultTest, testing::ValuesIn(tables::Read("faults.tsv")), RowName);

// The table's mechanism itself: a fault strikes the nth call only, or every
// call from the nth on when persistent, and "alloc" is every allocation.
using FaultMechanismTest = DeviceTest;

TEST_F(FaultMechanismTest, FaultStrikesTheChosenCallOnlyOrFromItOnWhenPersistent) {
  emulator::InjectFault("LocalAlloc", 2, 0);
  HLOCAL blocks[] = {LocalAlloc(LPTR, 4), LocalAlloc(LPTR, 4), LocalAlloc(LPTR, 4)};
  EXPECT_NE(blocks[0], nullptr);
  EXPECT_EQ(blocks[1], nullptr);
  EXPECT_NE(blocks[2], nullptr);
  EXPECT_EQ(emulator::CallCount("LocalAlloc"), 3);
  LocalFree(blocks[0]);
  LocalFree(blocks[2]);

  emulator::InjectFault("alloc", 2, 0, /*persistent=*/true);
  BSTR a = SysAllocString(u"a");
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(SysAllocString(u"b"), nullptr);
  EXPECT_EQ(LocalAlloc(LPTR, 1), nullptr);
  emulator::ClearFaults();
  SysFreeString(a);
}

}  // namespace
