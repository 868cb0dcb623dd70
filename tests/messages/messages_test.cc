// The message side: the texts a record is written with (message_text.tsv),
// then the new-message sink driven directly.
#include "base/wide_text.h"
#include "messages/message_text.h"
#include "messages/sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/memory.h"
#include "case_file.h"
#include "device_fixture.h"
#include "messages/message_session.h"
#include "mz/mz.h"
#include "platform/emulator.h"

namespace mz {
namespace {

constexpr std::uint32_t kAddressBytes = 41;
constexpr unsigned char kCanary = 0xA5;

// UTF-8 bytes as UTF-16 units; the three-byte form of a surrogate gives it
// alone.
std::u16string Units(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = n == 1 ? lead : lead & (0x3F >> (n - 1));
    for (int k = 1; k < n; ++k) c = c << 6 | (bytes[i + k] & 0x3F);
    i += n;
    if (c > 0xFFFF) {  // a pair
      units += static_cast<char16_t>(0xD7C0 + (c >> 10));
      c = 0xDC00 | (c & 0x3FF);
    }
    units += static_cast<char16_t>(c);
  }
  return units;
}

// Each row of message_text.tsv: a sender normalised to a number, text cut
// to a field, a time written as text, or an entry id to hex and back.
class MessageTextCase : public testing::TestWithParam<CaseRow> {};

TEST_P(MessageTextCase, IsWrittenAsExpected) {
  const CaseRow& row = GetParam();
  if (row[0] == "address") {
    const std::u16string sender = Units(row[1]);
    unsigned char out[kAddressBytes + 8] = {};
    std::memcpy(out, row[2].data(), row[2].size());
    std::memset(out + kAddressBytes, kCanary, 8);
    NormalizeAddress(sender.c_str(), reinterpret_cast<char*>(out), kAddressBytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), kAddressBytes),
              row[3] + std::string(kAddressBytes - row[3].size(), '\0'));
    EXPECT_EQ(out[kAddressBytes], kCanary);
  } else if (row[0] == "utf8" || row[0] == "ansi") {
    std::vector<char> out(row.Int(2) + 8, static_cast<char>(kCanary));
    (row[0] == "utf8" ? CopyUtf8 : CopyAnsi)(Units(row[1]).c_str(), out.data(), row.Int(2));
    EXPECT_EQ(std::string(out.data()), row[3]);
    EXPECT_EQ(static_cast<unsigned char>(out[row.Int(2)]), kCanary);
  } else if (row[0] == "entryid") {
    BYTE id[32];
    for (int i = 0; i < 32; ++i) id[i] = static_cast<BYTE>(i * 9 + 0xA0);
    std::string hex(64, 'x');  // and its terminator
    EXPECT_EQ(EntryIdToHex(id, row.Int(1), hex.data(), row.Int(2)), row.Int(3));
    EXPECT_EQ(std::string(hex.c_str()), row[4] == "-" ? std::string(64, 'x') : row[4]);
  } else if (row[0] == "hexid") {
    BYTE out[64];
    std::memset(out, kCanary, sizeof out);
    std::uint32_t length = row.Int(2);
    EXPECT_EQ(HexToEntryId(row[1].c_str(), out, &length), row.Int(3));
    const std::size_t count = row.Has(4) ? row[4].size() / 2 : 0;
    EXPECT_EQ(length, row.Int(3) == 1 ? count : row.Int(2));
    char hex[65] = {};
    for (std::size_t i = 0; i < count; ++i) std::snprintf(hex + 2 * i, 3, "%02x", out[i]);
    EXPECT_EQ(std::string(hex), row.Has(4) ? row[4] : "");
    EXPECT_EQ(out[count], kCanary);
  } else {
    ASSERT_EQ(row[0], "time");
    setenv("TZ", row[1].c_str(), 1);
    const std::uint64_t ticks = std::stoull(row[2]);
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    char text[kMessageTimeSize + 1];
    std::memset(text, kCanary, sizeof text);
    EXPECT_EQ(FormatMessageTime(&time, text), 1);
    EXPECT_STREQ(text, row[3].c_str());
    EXPECT_EQ(static_cast<unsigned char>(text[kMessageTimeSize]), kCanary);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MessageTextCase, Cases("message_text.tsv"), LineName);

// Null ids, texts, times or outputs are refused; text the platform cannot
// convert is left empty, a time it cannot convert writes nothing.
TEST(MessageTextTest, NullArgumentsAndFailedConversionsWriteNothing) {
  BYTE id[4] = {};
  char out[kMessageTimeSize];
  std::uint32_t length = 4;
  EXPECT_EQ(EntryIdToHex(nullptr, 1, out, sizeof out), 0);
  EXPECT_EQ(EntryIdToHex(id, 1, nullptr, sizeof out), 0);
  EXPECT_EQ(HexToEntryId(nullptr, id, &length), 0);
  EXPECT_EQ(HexToEntryId("00", nullptr, &length), 0);
  EXPECT_EQ(HexToEntryId("00", id, nullptr), 0);
  const FILETIME time{1, 0};
  EXPECT_EQ(FormatMessageTime(nullptr, out), 0);
  EXPECT_EQ(FormatMessageTime(&time, nullptr), 0);
  std::memset(out, 'x', sizeof out);
  CopyUtf8(u"hello", out, 0);
  EXPECT_EQ(out[0], 'x') << "no room at all";
  for (const char* point : {"FileTimeToLocalFileTime", "FileTimeToSystemTime"}) {
    emulator::InjectFault(point, 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageTime(&time, out), 0) << point;
    EXPECT_EQ(out[0], 'x') << point;
    emulator::ClearFaults();
  }
  CopyUtf8(nullptr, out, sizeof out);
  EXPECT_EQ(out[0], '\0');
  std::memset(out, 'x', sizeof out);
  emulator::InjectFault("WideCharToMultiByte", 1, ERROR_NOT_ENOUGH_MEMORY);
  CopyUtf8(u"hello", out, sizeof out);
  emulator::ClearFaults();
  EXPECT_EQ(out[0], '\0');
}

// Records the callback received, in order; the test frees them.
std::vector<MessageRecord*> g_received;

void Collect(MessageRecord* record) {
  g_received.push_back(record);
}

// The sink driven directly, with the session's message side opened on the
// fixture's device as MZ_Init leaves it.
class NewMessageSinkTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(mz::OpenMessageSession(), S_OK);
    MZ_RegisterCallback(&Collect);
    sink_ = mz::NewMessageSink_create();
    ASSERT_NE(sink_, nullptr);
  }

  void TearDown() override {
    Forget();
    mz::SetAllocationGate(nullptr);
    mz::CloseMessageSession();
    DeviceTest::TearDown();
  }

  static void Forget() {
    for (MessageRecord* record : g_received) std::free(record);
    g_received.clear();
  }

  // Announces the given (event, object type, entry id) triples in one call.
  ULONG Notify(std::vector<std::tuple<ULONG, ULONG, std::string>> events) {
    std::vector<NOTIFICATION> notifications(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
      auto& [event, type, id] = events[i];
      notifications[i].ulEventType = event;
      notifications[i].info.obj.ulObjType = type;
      notifications[i].info.obj.cbEntryID = static_cast<ULONG>(id.size());
      notifications[i].info.obj.lpEntryID = reinterpret_cast<LPENTRYID>(id.data());
    }
    return sink_->OnNotify(static_cast<ULONG>(notifications.size()), notifications.data());
  }

  ULONG NotifyCreated(const std::string& id) {
    return Notify({{fnevObjectCreated, MAPI_MESSAGE, id}});
  }

  // A message with `text` received in `folder`.
  static std::string Seed(const std::string& text, const std::string& folder = "Inbox") {
    emulator::MessageSeed seed;
    seed.folder = folder;
    seed.subject = text;
    seed.sender = "+15550100";
    seed.deliveryTime = 129752439670000000;
    return emulator::SeedMessage(seed);
  }

  IMAPIAdviseSink* sink_ = nullptr;
};

// The sink answers for IUnknown and IMAPIAdviseSink only; its count starts
// at one and reaching zero destroys nothing, as it is made once per process.
TEST_F(NewMessageSinkTest, AnswersForItsInterfacesAndIsNeverDestroyed) {
  const IID other = {0x00020303, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  void* object = sink_;
  EXPECT_EQ(sink_->QueryInterface(other, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(sink_->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(sink_->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(sink_->QueryInterface(IID_IMAPIAdviseSink, &object), S_OK);
  EXPECT_EQ(object, sink_);
  EXPECT_EQ(sink_->Release(), 2u);
  EXPECT_EQ(sink_->AddRef(), 3u);
  for (ULONG left : {2u, 1u, 0u}) EXPECT_EQ(sink_->Release(), left);
  // Still alive: under the address sanitizer a freed sink would fault here.
  EXPECT_EQ(sink_->AddRef(), 1u);
  EXPECT_EQ(mz::NewMessageSink_create(), sink_);
  EXPECT_EQ(sink_->AddRef(), 2u);
}

// The sink is made once per process, so only a fresh process can see its
// first allocation fail.
TEST(NewMessageSinkDeathTest, FailedAllocationGivesNoSink) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        mz::SetAllocationGate([](std::size_t) { return false; });
        const bool refused = mz::NewMessageSink_create() == nullptr;
        mz::SetAllocationGate(nullptr);
        std::exit(refused && mz::NewMessageSink_create() != nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(NewMessageSinkTest, OnlyCreatedMessagesReachTheCallbackInArrayOrderAsInbox) {
  EXPECT_EQ(Notify({{fnevObjectCreated, MAPI_MESSAGE, Seed("one")},
                    {fnevObjectDeleted, MAPI_MESSAGE, Seed("two")},
                    {fnevObjectCreated, MAPI_FOLDER, Seed("four")},
                    {fnevObjectCreated, MAPI_MESSAGE, Seed("three", "Drafts")}}),
            0u);
  ASSERT_EQ(g_received.size(), 2u);
  EXPECT_STREQ(g_received[0]->text, "one");
  EXPECT_STREQ(g_received[1]->text, "three");
  EXPECT_EQ(g_received[1]->folder, MZ_FOLDER_INBOX) << "whatever folder it is in";
  EXPECT_EQ(sink_->OnNotify(0, nullptr), 0u);
  EXPECT_EQ(g_received.size(), 2u);
}

TEST_F(NewMessageSinkTest, DroppedNotificationsAndAMissingCallbackCallNothing) {
  const std::string id = Seed("hello");
  mz::SetAllocationGate([](std::size_t bytes) { return bytes != sizeof(MessageRecord); });
  NotifyCreated(id);
  mz::SetAllocationGate(nullptr);
  IMsgStore* const store = mz::g_messages.smsStore.exchange(nullptr);
  NotifyCreated(id);
  mz::g_messages.smsStore.store(store);
  NotifyCreated("no such message");
  MZ_RegisterCallback(nullptr);
  NotifyCreated(id);  // the record is discarded, and the leak checker finds nothing
  EXPECT_TRUE(g_received.empty());
}

// What a failing call leaves opened, the fixture finds at the end.
TEST_F(NewMessageSinkTest, EveryFailingPlatformCallReleasesWhatWasOpened) {
  const std::string id = Seed("hello");
  emulator::StartTrace();
  NotifyCreated(id);
  const std::vector<std::string> calls = emulator::StopTrace();
  ASSERT_EQ(g_received.size(), 1u);
  Forget();
  // Opening the message, then the sender's read and its buffer: a failure up
  // to there drops the notification, any later one only empties a field.
  std::size_t senderRead = 0;
  while (senderRead < calls.size() && calls[senderRead] != "IMessage::GetProps") ++senderRead;
  ASSERT_LT(senderRead + 1, calls.size());

  std::map<std::string, int> seen;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(calls[i] + " #" + std::to_string(seen[calls[i]] + 1));
    emulator::InjectFault(calls[i], ++seen[calls[i]], E_FAIL);
    NotifyCreated(id);
    emulator::ClearFaults();
    EXPECT_EQ(g_received.size(), i <= senderRead + 1 ? 0u : 1u);
    Forget();
  }
}

}  // namespace
}  // namespace mz
