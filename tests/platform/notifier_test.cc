// The notifier: new objects announced to advised sinks, once and in order,
// also from another process; Unadvise from anywhere, and the last
// MAPIUninitialize, stop the calls.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "device_fixture.h"
#include "mapi.h"
#include "program.h"

namespace {

struct Seen {
  ULONG event = 0;
  ULONG type = 0;
  std::string id;
  std::string parent;
  std::string note;  // what the sink's hook answered
};

// Records what it is told, under a mutex. A hook, set before the sink is
// advised, runs inside OnNotify and its answer is kept with the event.
class RecordingSink final : public IMAPIAdviseSink {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {  // the notifier never asks
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }  // lives on the test's stack

  ULONG OnNotify(ULONG count, NOTIFICATION* notifications) override {
    for (ULONG i = 0; i < count; ++i) {
      const OBJECT_NOTIFICATION& obj = notifications[i].info.obj;
      Seen seen{notifications[i].ulEventType, obj.ulObjType,
                std::string(reinterpret_cast<const char*>(obj.lpEntryID), obj.cbEntryID),
                std::string(reinterpret_cast<const char*>(obj.lpParentID), obj.cbParentID), ""};
      if (hook) seen.note = hook(notifications[i]);
      std::lock_guard lock(mutex_);
      seen_.push_back(std::move(seen));
      changed_.notify_all();
    }
    return 0;
  }

  // What has arrived once `count` events have; the deadline only guards
  // against a hang.
  std::vector<Seen> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_.size() >= count; });
    return seen_;
  }
  std::vector<Seen> Now() { return WaitFor(0); }  // what has arrived
  ULONG refs() const { return refs_; }

  std::function<std::string(const NOTIFICATION&)> hook;

 private:
  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Seen> seen_;
};

std::vector<std::string> Ids(const std::vector<Seen>& seen) {
  std::vector<std::string> ids;
  for (const Seen& s : seen) ids.push_back(s.id);
  return ids;
}

using mapi::Seed;

// A session with the SMS store open.
class NotifierTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    store_ = sms_.emplace().store.get();
  }
  void TearDown() override {
    sms_.reset();
    DeviceTest::TearDown();
  }

  // A registration for new objects that ends with its scope, before the
  // sink it names.
  struct Advised {
    Advised(IMsgStore* store, RecordingSink* sink) : store(store) {
      EXPECT_EQ(store->Advise(0, nullptr, fnevObjectCreated, sink, &connection), S_OK);
      EXPECT_NE(connection, 0u);
    }
    ~Advised() { Cancel(); }
    HRESULT Cancel() {
      return connection == 0 ? S_OK : store->Unadvise(std::exchange(connection, 0));
    }
    IMsgStore* store;
    ULONG connection = 0;
  };

  std::optional<mapi::SmsSession> sms_;
  IMsgStore* store_ = nullptr;
};

TEST_F(NotifierTest, EachLaterNewObjectOfTheStoreIsAnnouncedOnceInOrder) {
  Seed("Inbox", "before");
  RecordingSink sink;
  Advised advised(store_, &sink);
  Seed("Inbox", "other store", "Mail");
  emulator::CreateFolder("Mail", "Elsewhere");
  std::vector<std::string> ids = {Seed("Inbox", "hello"), Seed("Drafts", "draft")};
  emulator::CreateFolder("SMS", "Archive");
  ids.push_back("");  // the folder's id, known only from its event
  ids.push_back(Seed("Archive", "filed"));
  for (int i = 0; i < 50; ++i) ids.push_back(Seed("Inbox", "burst " + std::to_string(i)));
  const auto seen = sink.WaitFor(ids.size());
  ASSERT_GT(seen.size(), 3u);
  ids[2] = seen[2].id;
  // A repeat or a stranger would shift the ids.
  ASSERT_EQ(Ids(seen), ids);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].event, fnevObjectCreated) << i;
    EXPECT_EQ(seen[i].type, i == 2 ? MAPI_FOLDER : MAPI_MESSAGE) << i;
  }
  EXPECT_EQ(seen[0].parent, mapi::BinaryProp(store_, PR_CE_IPM_INBOX_ENTRYID));
  EXPECT_EQ(seen[1].parent, mapi::BinaryProp(store_, PR_CE_IPM_DRAFTS_ENTRYID));
  EXPECT_EQ(seen[3].parent, seen[2].id);
}

TEST_F(NotifierTest, UnadviseDuringABurstStopsCallsAtOnceAndReleasesTheSink) {
  RecordingSink gone, staying;
  Advised advisedStaying(store_, &staying);
  Advised advisedGone(store_, &gone);
  EXPECT_EQ(gone.refs(), 2u);
  const ULONG connection = advisedGone.connection;
  constexpr int kBurst = 100;
  std::thread writer([] {
    for (int i = 0; i < kBurst; ++i) Seed("Inbox", "burst");
  });
  gone.WaitFor(1);
  EXPECT_EQ(advisedGone.Cancel(), S_OK);
  const std::size_t heard = gone.Now().size();
  writer.join();
  EXPECT_EQ(staying.WaitFor(kBurst).size(), static_cast<std::size_t>(kBurst));
  EXPECT_EQ(gone.Now().size(), heard);
  EXPECT_EQ(gone.refs(), 1u);
  EXPECT_EQ(store_->Unadvise(connection), MAPI_E_NOT_FOUND);
}

TEST_F(NotifierTest, SinkCanReadTheStoreAndUnadviseItselfFromInsideOnNotify) {
  RecordingSink reader, self;
  reader.hook = [this](const NOTIFICATION& n) {
    mz::ComRef<IMessage> message;
    mapi::Values values;
    if (FAILED(store_->OpenEntry(n.info.obj.cbEntryID, n.info.obj.lpEntryID, nullptr, 0, nullptr,
                                 message.put_as<IUnknown>())) ||
        message->GetProps(mapi::Tags{PR_SUBJECT_W}, MAPI_UNICODE, &values.count, &values.v) !=
            S_OK) {
      return std::string("cannot read");
    }
    const std::u16string text = mapi::Text(values[0]);
    return std::string(text.begin(), text.end());  // ASCII in this test
  };
  std::atomic<ULONG> connection{0};
  self.hook = [&](const NOTIFICATION&) {
    return store_->Unadvise(connection.exchange(0)) == S_OK ? "unadvised" : "failed";
  };
  ULONG number = 0;
  ASSERT_EQ(store_->Advise(0, nullptr, fnevObjectCreated, &self, &number), S_OK);
  connection = number;
  Advised advised(store_, &reader);
  Seed("Inbox", "one");
  Seed("Inbox", "two");
  const auto read = reader.WaitFor(2);
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].note, "one");
  EXPECT_EQ(read[1].note, "two");
  const auto seen = self.Now();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].note, "unadvised");
  EXPECT_EQ(self.refs(), 1u);
}

TEST_F(NotifierTest, MessageFromAnotherProcessIsAnnouncedOnce) {
  RecordingSink sink;
  Advised advised(store_, &sink);
  const std::string from = "+15550177";
  ASSERT_EQ(RunProgram({DEVICE_WRITER, dir(), "sms", from, "from afar"}).status, 0);

  const auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_FALSE(inbox.empty());
  EXPECT_EQ(inbox.back().sender, from);
  // Events come in order, so a repeat would come before the sentinel.
  const std::string sentinel = Seed("Inbox", "here");
  EXPECT_EQ(Ids(sink.WaitFor(2)), (std::vector<std::string>{inbox.back().entryId, sentinel}));
}

TEST_F(NotifierTest, AdviseRefusesWhatItCannotWatch) {
  RecordingSink sink;
  const std::string folder = mapi::BinaryProp(store_, PR_CE_IPM_INBOX_ENTRYID);
  // The result; a refusal gives no connection and keeps no reference.
  auto advise = [&](const std::string& id, ULONG events, IMAPIAdviseSink* to) {
    ULONG connection = 77;
    const HRESULT hr =
        store_->Advise(static_cast<ULONG>(id.size()), id.empty() ? nullptr : mapi::AsEntryId(id),
                       events, to, &connection);
    EXPECT_EQ(connection, 0u);
    EXPECT_EQ(sink.refs(), 1u);
    return hr;
  };
  EXPECT_EQ(advise(folder, fnevObjectCreated, &sink), MAPI_E_NO_SUPPORT);  // a single folder
  EXPECT_EQ(advise("", fnevObjectCreated, nullptr), E_INVALIDARG);
  EXPECT_EQ(advise("", 0, &sink), E_INVALIDARG);
  EXPECT_EQ(store_->Advise(0, nullptr, fnevObjectCreated, &sink, nullptr), E_INVALIDARG);
}

TEST_F(NotifierTest, LastUninitializeCancelsEveryRegistration) {
  RecordingSink sink;
  ULONG connection = 0;
  ASSERT_EQ(store_->Advise(0, nullptr, fnevObjectCreated, &sink, &connection), S_OK);
  EXPECT_EQ(sink.refs(), 2u);
  MAPIUninitialize();
  EXPECT_EQ(sink.refs(), 1u);
  EXPECT_EQ(store_->Unadvise(connection), MAPI_E_NOT_FOUND);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);  // for TearDown

  // The notifier starts again for the next sink.
  Advised advised(store_, &sink);
  const std::string id = Seed("Inbox", "again");
  EXPECT_EQ(Ids(sink.WaitFor(1)), std::vector<std::string>{id});
}

}  // namespace
