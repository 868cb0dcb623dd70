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
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "device_fixture.h"
#include "frame/com_ref.h"
#include "mapi.h"
#include "platform/clock.h"
#include "platform/contact_store.h"
#include "platform/crt.h"
#include "platform/emulator.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sms.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/text.h"
#include "table.h"

namespace {

using mz::ComRef;
namespace fs = std::filesystem;

std::int32_t Number(const std::string& field) {
  return static_cast<std::int32_t>(std::stoll(field, nullptr, 0));
}

// The objects a row's call works on; "contacts" opens the first contact with
// a change not yet saved, "messages" the SMS store's Inbox, its contents and
// first message, "sms" a radio handle, "file" \Temp\f.txt holding "text".
struct World {
  std::optional<mapi::Contacts> contacts;
  std::optional<mapi::SmsSession> messages;
  ComRef<IContact> contact;
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
      ASSERT_EQ(contacts.emplace().items->Item(1, contact.put_as<IDispatch>()), S_OK);
      WCHAR name[] = u"Changed";
      ASSERT_EQ(contact->put_FirstName(name), S_OK);
    } else if (setup == "messages") {
      const mapi::SmsSession& sms = messages.emplace();
      storeId = sms.storeId;
      inboxId = mapi::BinaryProp(sms.store.get(), PR_CE_IPM_INBOX_ENTRYID);
      ASSERT_EQ(mapi::Open(sms.store.get(), inboxId, inbox.put_as<IUnknown>()), S_OK);
      ASSERT_EQ(inbox->GetContentsTable(0, table.put()), S_OK);
      messageId = emulator::ListMessages("SMS", "Inbox").at(0).entryId;
      ASSERT_EQ(mapi::Open(inbox.get(), messageId, message.put_as<IUnknown>()), S_OK);
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
};

// Where a call gives its result out. The place holds garbage before the call;
// the row's "clears" column says how many of its bytes a failed call zeroes.
struct Out {
  void* place;
  template <class T>
  operator T*() const {
    return static_cast<T*>(place);
  }
};

// What a call that fails by returning FALSE, 0 or null reported: the error
// it left, or 0 when it succeeded; an allocation reports only by null.
std::int32_t LastError(bool ok) {
  return ok ? 0 : static_cast<std::int32_t>(GetLastError());
}
std::int32_t Errno(bool ok) {
  return ok ? 0 : errno;
}
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
const WCHAR* const kRing = u"\\Windows\\Ring1.wav";
const BYTE kBytes[] = {1, 2, 3, 4};
ULONG given;  // counts the calls below give out besides their result

using Call = std::function<std::int32_t(World&, Out)>;

// The calls the table names, by the name of the method or function.
const std::map<std::string, Call>& Calls() {
  static const auto* calls = new std::map<std::string, Call>{
      // COM, automation strings and local memory.
      {"CoInitializeEx", [](World&, Out) { return CoInitializeEx(nullptr, 0); }},
      {"CoCreateInstance",
       [](World&, Out out) {
         return CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp, out);
       }},
      {"SysAllocStringByteLen", [](World&, Out) { return Null(SysAllocStringByteLen("ab", 2)); }},
      {"LocalAlloc", [](World&, Out) { return LastError(LocalAlloc(LPTR, 4) != nullptr); }},
      // Contacts.
      {"Logon", [](World& w, Out) { return w.contacts->app->Logon(0); }},
      {"Logoff", [](World& w, Out) { return w.contacts->app->Logoff(); }},
      {"GetDefaultFolder", [](World& w, Out out) { return w.contacts->app->GetDefaultFolder(olFolderContacts, out); }},
      {"get_Items", [](World& w, Out out) { return w.contacts->folder->get_Items(out); }},
      {"get_Count", [](World& w, Out out) { return w.contacts->items->get_Count(out); }},
      {"Item", [](World& w, Out out) { return w.contacts->items->Item(1, out); }},
      {"Add", [](World& w, Out out) { return w.contacts->items->Add(out); }},
      {"Save", [](World& w, Out) { return w.contact->Save(); }},
      {"Delete", [](World& w, Out) { return w.contact->Delete(); }},
      {"get_Oid", [](World& w, Out out) { return w.contact->get_Oid(out); }},
      {"get_Birthday", [](World& w, Out out) { return w.contact->get_Birthday(out); }},
      {"put_Birthday", [](World& w, Out) { return w.contact->put_Birthday(2.0); }},
#define TEXT_CALLS(Name)                                                        \
  {"get_" #Name, [](World& w, Out out) { return w.contact->get_##Name(out); }}, \
      {"put_" #Name, [](World& w, Out) { return w.contact->put_##Name(nullptr); }},
      PLATFORM_CONTACT_TEXT_PROPERTIES(TEXT_CALLS)
#undef TEXT_CALLS
      // Messages.
      {"MAPIInitialize", [](World&, Out) { return MAPIInitialize(nullptr); }},
      {"MAPILogonEx", [](World&, Out out) { return MAPILogonEx(0, nullptr, nullptr, 0, out); }},
      {"GetMsgStoresTable", [](World& w, Out out) { return w.messages->session->GetMsgStoresTable(0, out); }},
      {"session OpenEntry", [](World& w, Out out) { return mapi::Open(w.messages->session.get(), w.storeId, out); }},
      {"session Logoff", [](World& w, Out) { return w.messages->session->Logoff(0, 0, 0); }},
      {"store GetProps", [](World& w, Out out) { return w.messages->store->GetProps(0, 0, &given, out); }},
      {"store OpenEntry", [](World& w, Out out) { return mapi::Open(w.messages->store.get(), w.inboxId, out); }},
      {"Advise",
       [](World& w, Out out) {
         CountingSink sink;
         const HRESULT hr = w.messages->store->Advise(0, nullptr, fnevObjectCreated, &sink, out);
         EXPECT_EQ(sink.refs, 1u);
         return hr;
       }},
      {"Unadvise", [](World& w, Out) { return w.messages->store->Unadvise(12345); }},
      {"folder GetProps", [](World& w, Out out) { return w.inbox->GetProps(0, 0, &given, out); }},
      {"GetContentsTable", [](World& w, Out out) { return w.inbox->GetContentsTable(0, out); }},
      {"folder OpenEntry", [](World& w, Out out) { return mapi::Open(w.inbox.get(), w.messageId, out); }},
      {"DeleteMessages",
       [](World& w, Out) {
         SBinary id{static_cast<ULONG>(w.messageId.size()), reinterpret_cast<BYTE*>(w.messageId.data())};
         SBinaryArray ids{1, &id};
         return w.inbox->DeleteMessages(&ids, 0, nullptr, 0);
       }},
      {"EmptyFolder", [](World& w, Out) { return w.inbox->EmptyFolder(0, nullptr, 0); }},
      {"SetColumns",
       [](World& w, Out) {
         SizedSPropTagArray(1, tags) = {1, {PR_SUBJECT_W}};
         return w.table->SetColumns(reinterpret_cast<SPropTagArray*>(&tags), 0);
       }},
      // A failed read leaves the cursor where it was.
      {"QueryRows",
       [](World& w, Out out) {
         const HRESULT hr = w.table->QueryRows(1, 0, out);
         SRowSet* rows = nullptr;
         EXPECT_EQ(w.table->QueryRows(1, 0, &rows), S_OK);
         const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
         EXPECT_EQ(std::string(reinterpret_cast<const char*>(id.lpb), id.cb), w.messageId);
         FreeProws(rows);
         return hr;
       }},
      {"GetRowCount", [](World& w, Out out) { return w.table->GetRowCount(0, out); }},
      {"SeekRow", [](World& w, Out out) { return w.table->SeekRow(BOOKMARK_CURRENT, 1, out); }},
      {"message GetProps", [](World& w, Out out) { return w.message->GetProps(0, 0, &given, out); }},
      {"GetRecipientTable", [](World& w, Out out) { return w.message->GetRecipientTable(0, out); }},
      // The SMS radio (the handle is cleared after the fault point).
      {"SmsOpen", [](World&, Out out) { return SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, out, nullptr); }},
      {"SmsSendMessage",
       [](World& w, Out) {
         SMS_ADDRESS to{SMSAT_UNKNOWN, u"0123"};
         TEXT_PROVIDER_SPECIFIC_DATA provider{};
         return SmsSendMessage(w.sms, nullptr, &to, nullptr, kBytes, 4,
                               reinterpret_cast<const BYTE*>(&provider), sizeof provider,
                               SMSDE_OPTIMAL, SMS_OPTION_DELIVERY_NONE, nullptr);
       }},
      {"SmsClose", [](World& w, Out) { return SmsClose(w.sms); }},
      // Sounds.
      {"SndGetSoundDirectoriesList",
       [](World&, Out out) {
         int listed = -1;
         const HRESULT hr = SndGetSoundDirectoriesList(SND_EVENT_REMINDER, SND_LOCATION_ALL, out, &listed);
         EXPECT_EQ(listed, 0);
         return hr;
       }},
      {"SndSetSound",
       [](World&, Out) {
         SNDFILEINFO sound{u"\\Windows\\Alert1.wav", u"Alert", SND_SOUNDTYPE_FILE};
         return SndSetSound(SND_EVENT_RINGTONELINE1, &sound, FALSE);
       }},
      // Registry.
      {"RegCreateKeyExW",
       [](World&, Out out) {
         return RegCreateKeyExW(HKEY_CURRENT_USER, u"New", 0, nullptr, 0, 0, nullptr, out, nullptr);
       }},
      {"RegOpenKeyExW",
       [](World&, Out out) { return RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel", 0, 0, out); }},
      {"RegSetValueExW",
       [](World&, Out) {
         return RegSetValueExW(HKEY_CURRENT_USER, u"Faulty", 0, REG_BINARY, kBytes, 4);
       }},
      {"RegQueryValueExW",
       [](World&, Out out) { return RegQueryValueExW(HKEY_CURRENT_USER, u"", 0, 0, 0, out); }},
      {"RegCloseKey", [](World&, Out) { return RegCloseKey(HKEY_CURRENT_USER); }},
      // Files, and the C runtime whose failed transfers are errors on the stream.
      {"CopyFileW", [](World&, Out) { return LastError(CopyFileW(kRing, u"\\Temp\\a", 0)); }},
      {"DeleteFileW", [](World&, Out) { return LastError(DeleteFileW(kRing)); }},
      {"GetFileAttributesW", [](World&, Out) { return LastError(GetFileAttributesW(kRing) != INVALID_FILE_ATTRIBUTES); }},
      {"GetTempPathW", [](World&, Out out) { return LastError(GetTempPathW(16, out) != 0); }},
      {"fopen", [](World&, Out) { return Errno(crt::fopen("\\Temp\\new.txt", "w") != nullptr); }},
      {"fwrite",
       [](World& w, Out) {
         EXPECT_EQ(std::fputs("more", w.file), 1) << "buffered";
         const bool ok = std::fflush(w.file) == 0;
         EXPECT_TRUE(std::ferror(w.file));
         return Errno(ok);
       }},
      {"fseek", [](World& w, Out) { return Errno(std::fseek(w.file, 0, SEEK_END) == 0); }},
      {"fread",
       [](World& w, Out) {
         const bool ok = std::fgetc(w.file) != EOF;
         EXPECT_TRUE(std::ferror(w.file));
         return Errno(ok);
       }},
      // Launches.
      {"CreateProcessW",
       [](World&, Out) {
         WCHAR line[] = u"\\Windows\\Default.tsk";
         return LastError(CreateProcessW(u"\\Windows\\cusTSK.exe", line, 0, 0, 0, 0, 0, 0, 0, 0));
       }},
      {"CloseHandle", [](World&, Out) { return LastError(CloseHandle(&given)); }},
      // Clocks and code pages.
      {"FileTimeToLocalFileTime",
       [](World&, Out out) { return LastError(FileTimeToLocalFileTime(&kEpoch, out)); }},
      {"FileTimeToSystemTime",
       [](World&, Out out) { return LastError(FileTimeToSystemTime(&kEpoch, out)); }},
      {"SystemTimeToVariantTime",
       [](World&, Out out) { return LastError(SystemTimeToVariantTime(&kNewYear, out)); }},
      {"VariantTimeToSystemTime",
       [](World&, Out out) { return LastError(VariantTimeToSystemTime(2.0, out)); }},
      {"MultiByteToWideChar",
       [](World&, Out out) { return LastError(MultiByteToWideChar(CP_UTF8, 0, "a", 1, out, 4)); }},
      {"WideCharToMultiByte",
       [](World&, Out out) {
         return LastError(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, 4, nullptr, nullptr));
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
    out << entry.path().string() << " ";
    if (entry.is_regular_file()) out << std::string(std::istreambuf_iterator<char>(in), {});
    out << "\n";
  }
  return out.str();
}

class FaultTest : public DeviceTest, public testing::WithParamInterface<TableRow> {};

TEST_P(FaultTest, CallReportsTheFaultAndChangesNothing) {
  const TableRow& row = GetParam();
  ASSERT_EQ(row.size(), 8u);
  const auto call = Calls().find(row[0]);
  ASSERT_NE(call, Calls().end()) << row[0];
  World world;
  ASSERT_NO_FATAL_FAILURE(world.Set(row[1]));
  const std::string before = Snapshot();
  const long objects = emulator::LiveObjects(), buffers = emulator::OutstandingBuffers();
  unsigned char place[16];
  std::memset(place, 0x5A, sizeof place);

  emulator::InjectFault(row[2], Number(row[3]), Number(row[4]), row[6] == "yes");
  errno = 0;
  SetLastError(0);
  EXPECT_EQ(call->second(world, Out{place}), Number(row[5]));
  EXPECT_GE(emulator::CallCount(row[2]), Number(row[3])) << "the point was not passed";
  emulator::ClearFaults();

  EXPECT_EQ(std::string(reinterpret_cast<char*>(place), Number(row[7])),
            std::string(Number(row[7]), '\0'))
      << "something given out";
  EXPECT_EQ(emulator::LiveObjects(), objects) << "COM objects";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers) << "platform buffers";
  EXPECT_EQ(Snapshot(), before) << "the device changed";
}

std::string RowName(const testing::TestParamInfo<TableRow>& info) {
  std::string name = std::to_string(info.index) + "_" + info.param[0];
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Table, FaultTest,
                         testing::ValuesIn(ReadTable(PLATFORM_DATA_DIR "/faults.tsv")), RowName);

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
