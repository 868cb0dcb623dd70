#include "messages/sink.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "device_fixture.h"
#include "frame/memory.h"
#include "frame/session.h"
#include "messages/message_session.h"
#include "mz/mz.h"
#include "platform/emulator.h"

namespace {

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
    store_ = mz::g_session.smsStore.load();
    ASSERT_NE(store_, nullptr);
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

  IMsgStore* store_ = nullptr;
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
  const std::string first = Seed("one");
  const std::string second = Seed("two");
  const std::string third = Seed("three", "Drafts");
  const std::string fourth = Seed("four");
  EXPECT_EQ(Notify({{fnevObjectCreated, MAPI_MESSAGE, first},
                    {fnevObjectDeleted, MAPI_MESSAGE, second},
                    {fnevObjectCreated, MAPI_FOLDER, fourth},
                    {fnevObjectCreated, MAPI_MESSAGE, third}}),
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
  mz::g_session.smsStore.store(nullptr);
  NotifyCreated(id);
  mz::g_session.smsStore.store(store_);
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
