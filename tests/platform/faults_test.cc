// The fault points no export of the library passes, from one table
// (data/platform/faults.tsv). The points the exports pass are the e2e fault
// table's (tests/e2e/faults_test.cc), which fails each of them under every
// export that passes it; this table has the rest, and the points that table
// skips. Each row names a call, the objects it needs, the point, the
// injected value and what the call reports. For every row the call must
// report that value, give nothing out, leave the live COM objects and
// platform buffers as they were and leave the device unchanged.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/com_ref.h"
#include "device_fixture.h"
#include "mapi.h"
#include "platform/clock.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/sms.h"
#include "platform/system.h"
#include "table.h"

namespace {

using mz::ComRef;

std::int32_t Number(const std::string& field) {
  return static_cast<std::int32_t>(std::stoll(field, nullptr, 0));
}

// The objects a row's call works on: "contacts" opens the first contact,
// "messages" the SMS store's Inbox, "sms" a radio handle.
struct World {
  std::optional<mapi::Contacts> contacts;
  std::optional<mapi::SmsSession> messages;
  ComRef<IContact> contact;
  ComRef<IMAPIFolder> inbox;
  SMS_HANDLE sms = nullptr;

  ~World() {
    if (sms != nullptr) {
      EXPECT_EQ(SmsClose(sms), S_OK);
    }
  }

  void Set(const std::string& setup) {
    if (setup == "contacts") {
      emulator::SeedContact({{"FirstName", "Sam"}});
      ASSERT_EQ(contacts.emplace().items->Item(1, contact.put_as<IDispatch>()), S_OK);
    } else if (setup == "messages") {
      const mapi::SmsSession& sms = messages.emplace();
      const std::string inboxId = mapi::BinaryProp(sms.store.get(), PR_CE_IPM_INBOX_ENTRYID);
      ASSERT_EQ(mapi::Open(sms.store.get(), inboxId, inbox.put_as<IUnknown>()), S_OK);
    } else if (setup == "sms") {
      ASSERT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &sms, nullptr), S_OK);
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

// What a call that fails by returning FALSE or 0 reported: the error it
// left, or 0 when it succeeded.
std::int32_t LastError(bool ok) {
  return ok ? 0 : static_cast<std::int32_t>(GetLastError());
}

const SYSTEMTIME kNewYear = {2000, 1, 0, 1, 0, 0, 0, 0};
const WCHAR* const kRing = u"\\Windows\\Ring1.wav";
ULONG given;  // counts the calls below give out besides their result

using Call = std::function<std::int32_t(World&, Out)>;

// The calls the table names, by the name of the method or function.
const std::map<std::string, Call>& Calls() {
  static const auto* calls = new std::map<std::string, Call>{
      // Contacts.
      {"put_Birthday", [](World& w, Out) { return w.contact->put_Birthday(2.0); }},
#define TEXT_CALLS(Name)                                                        \
  {"get_" #Name, [](World& w, Out out) { return w.contact->get_##Name(out); }}, \
      {"put_" #Name, [](World& w, Out) { return w.contact->put_##Name(nullptr); }},
      PLATFORM_CONTACT_TEXT_PROPERTIES(TEXT_CALLS)
#undef TEXT_CALLS
      // Messages.
      {"folder GetProps", [](World& w, Out out) { return w.inbox->GetProps(0, 0, &given, out); }},
      // The SMS radio.
      {"SmsClose", [](World& w, Out) { return SmsClose(w.sms); }},
      // Registry.
      {"RegOpenKeyExW",
       [](World&, Out out) {
         return RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel", 0, 0, out);
       }},
      {"RegQueryValueExW",
       [](World&, Out out) { return RegQueryValueExW(HKEY_CURRENT_USER, u"", 0, 0, 0, out); }},
      {"RegCloseKey", [](World&, Out) { return RegCloseKey(HKEY_CURRENT_USER); }},
      // Files, launches and clocks.
      {"GetFileAttributesW",
       [](World&, Out) { return LastError(GetFileAttributesW(kRing) != INVALID_FILE_ATTRIBUTES); }},
      {"CloseHandle", [](World&, Out) { return LastError(CloseHandle(&given)); }},
      {"SystemTimeToVariantTime",
       [](World&, Out out) { return LastError(SystemTimeToVariantTime(&kNewYear, out)); }},
  };
  return *calls;
}

class FaultTest : public DeviceTest, public testing::WithParamInterface<TableRow> {};

TEST_P(FaultTest, CallReportsTheFaultAndChangesNothing) {
  const TableRow& row = GetParam();
  ASSERT_EQ(row.size(), 8u);
  const auto call = Calls().find(row[0]);
  ASSERT_NE(call, Calls().end()) << row[0];
  World world;
  ASSERT_NO_FATAL_FAILURE(world.Set(row[1]));
  const std::string before = DeviceSnapshot();
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
  EXPECT_EQ(DeviceSnapshot(), before) << "the device changed";
}

std::string RowName(const testing::TestParamInfo<TableRow>& info) {
  return TestName(std::to_string(info.index) + "_" + info.param[0]);
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
