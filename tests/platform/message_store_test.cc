// The message store's object model: folders, contents tables and their
// cursor, properties, recipients and refusals; and its notifier: new objects
// announced to advised sinks, once and in order, also from another process;
// Unadvise from anywhere, and the last MAPIUninitialize, stop the calls
// (faults: faults_test.cc).
#include "platform/message_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "device_fixture.h"
#include "mapi.h"
#include "program.h"

namespace {

using namespace mapi;

struct Seen {
  ULONG event = 0, type = 0;
  std::string id, parent;
  std::string note;  // what the sink's hook answered
};

// Records what it is told, under a mutex; when given a store, advised for its
// new objects until it ends. A hook, set before anything is seeded, runs
// inside OnNotify and its answer is kept with the event.
class RecordingSink final : public IMAPIAdviseSink {
 public:
  explicit RecordingSink(IMsgStore* store = nullptr) : store_(store) {
    if (store == nullptr) return;
    EXPECT_EQ(store->Advise(0, nullptr, fnevObjectCreated, this, &connection), S_OK);
    EXPECT_NE(connection, 0u);
  }
  ~RecordingSink() { Cancel(); }
  HRESULT Cancel() {
    return connection == 0 ? S_OK : store_->Unadvise(std::exchange(connection, 0));
  }

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
  ULONG connection = 0;

 private:
  IMsgStore* const store_;
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

// The fixture's device with the SMS store open.
class MessageStoreTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    sms_.emplace();
  }
  void TearDown() override {
    sms_.reset();
    DeviceTest::TearDown();
  }
  IMsgStore* store() const { return sms_->store.get(); }

  // The folder whose id the SMS store holds under `tag`, and its contents.
  void OpenContents(ULONG tag, ComRef<IMAPIFolder>* folder, ComRef<IMAPITable>* table) {
    ULONG type = 0;
    ASSERT_EQ(Open(store(), BinaryProp(store(), tag), folder->put_as<IUnknown>(), 0, &type), S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
    ASSERT_EQ((*folder)->GetContentsTable(0, table->put()), S_OK);
  }

  std::optional<SmsSession> sms_;
};

// The SMS store's properties name its five standard folders, which open
// with their names and ids. (A fresh phone's sample messages are the host
// command tables', tests/host/data/mzhost.tsv.)
TEST_F(MessageStoreTest, StandardFoldersOpenByTheStoresProperties) {
  const std::pair<ULONG, std::u16string> folders[] = {
      {PR_CE_IPM_INBOX_ENTRYID, u"Inbox"},
      {PR_IPM_OUTBOX_ENTRYID, u"Outbox"},
      {PR_IPM_SENTMAIL_ENTRYID, u"Sent Items"},
      {PR_CE_IPM_DRAFTS_ENTRYID, u"Drafts"},
      {PR_IPM_WASTEBASKET_ENTRYID, u"Deleted Items"}};
  for (const auto& [tag, name] : folders) {
    ComRef<IMAPIFolder> folder;
    ComRef<IMAPITable> table;
    OpenContents(tag, &folder, &table);
    Values values;
    ASSERT_EQ(folder->GetProps(Tags{PR_DISPLAY_NAME_W, PR_ENTRYID}, 0, &values.count, &values.v),
              S_OK);
    EXPECT_EQ(Text(values[0]), name);
    EXPECT_EQ(Bytes(values[1].Value.bin), BinaryProp(store(), tag));
  }
}

// The contents table against a model: rows in the order they were stored,
// the cursor just after the last row passed (just before the first row read
// backwards), so that rows deleted or added under it are never skipped or
// repeated. Seeded random stores, deletions (with ids the folder does not
// hold: MAPI_W_PARTIAL_COMPLETION when some were found, MAPI_E_NOT_FOUND when
// none), reads both ways, seeks from each bookmark and emptyings.
struct CursorModel {
  std::vector<std::pair<int, std::string>> rows;  // (order stored, entry id)
  int cursor = 0;

  // Up to |count| rows past `from` (before it when negative), in table order;
  // the cursor moves past them.
  std::vector<std::string> Pass(int from, int count) {
    std::vector<std::string> ids;
    cursor = from;
    for (std::size_t i = 0; i < rows.size() && count > 0; ++i) {
      if (rows[i].first <= from || static_cast<int>(ids.size()) == count) continue;
      ids.push_back(rows[i].second);
      cursor = rows[i].first;
    }
    for (std::size_t i = rows.size(); i-- > 0 && count < 0;) {
      if (rows[i].first > from || static_cast<int>(ids.size()) == -count) continue;
      ids.insert(ids.begin(), rows[i].second);
      cursor = rows[i].first - 1;
    }
    return ids;
  }
};

TEST_F(MessageStoreTest, ContentsTableFollowsTheModelWhileRowsChangeUnderIt) {
  const std::string elsewhere = Seed("Drafts", "not in the Outbox");
  ComRef<IMAPIFolder> folder;
  ComRef<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &folder, &table);
  CursorModel model;
  std::mt19937 random(14);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    switch (pick(0, 6)) {
      case 0:
      case 1: {
        const std::string id = Seed("Outbox", std::to_string(step));
        EXPECT_LE(id.size(), 31u);  // short, unique, made by the store
        EXPECT_EQ(id.substr(0, 4), std::string(4, '\0'));
        EXPECT_TRUE(model.rows.empty() || model.rows.back().second != id);
        model.rows.emplace_back(step + 1, id);
        break;
      }
      case 2: {
        std::vector<std::string> doomed;
        for (int n = pick(0, 2); n > 0 && !model.rows.empty(); --n) {
          const auto at = model.rows.begin() + pick(0, static_cast<int>(model.rows.size()) - 1);
          doomed.push_back(at->second);
          model.rows.erase(at);
        }
        const bool found = !doomed.empty(), strangers = pick(0, 1);
        if (strangers) doomed.insert(doomed.end(), {std::string(24, '\x7f'), elsewhere});
        std::vector<SBinary> list;
        for (const std::string& id : doomed)
          list.push_back({static_cast<ULONG>(id.size()), AsBytes(id)});
        SBinaryArray ids{static_cast<ULONG>(list.size()), list.data()};
        EXPECT_EQ(folder->DeleteMessages(&ids, 0, nullptr, 0), !strangers ? S_OK
                                                               : found ? MAPI_W_PARTIAL_COMPLETION
                                                                       : MAPI_E_NOT_FOUND);
        break;
      }
      case 3:
      case 4: {
        const int count = pick(0, 1) ? pick(1, 3) : -pick(1, 3);
        Rows rows;
        ASSERT_EQ(table->QueryRows(count, 0, &rows.set), S_OK);
        std::vector<std::string> ids;
        for (ULONG i = 0; i < rows->cRows; ++i)
          ids.push_back(Bytes(rows->aRow[i].lpProps[0].Value.bin));
        EXPECT_EQ(ids, model.Pass(model.cursor, count)) << "read " << count;
        break;
      }
      case 5: {
        const BOOKMARK origin = static_cast<BOOKMARK>(pick(0, 2));
        const int count = pick(-2, 2);
        const int base = origin == BOOKMARK_BEGINNING ? 0
                         : origin == BOOKMARK_CURRENT ? model.cursor
                         : model.rows.empty()         ? 0
                                                      : model.rows.back().first;
        LONG sought = 99;
        ASSERT_EQ(table->SeekRow(origin, count, &sought), S_OK);
        EXPECT_EQ(sought, (count < 0 ? -1 : 1) * static_cast<LONG>(model.Pass(base, count).size()))
            << "seek " << origin << " " << count;
        break;
      }
      default:
        if (pick(0, 3) == 0) {
          ASSERT_EQ(folder->EmptyFolder(0, nullptr, 0), S_OK);
          model.rows.clear();
        }
    }
    ULONG count = 0;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, model.rows.size());
  }
  // Only the Outbox changed.
  EXPECT_EQ(emulator::ListMessages("SMS", "Drafts").back().entryId, elsewhere);
  EXPECT_EQ(emulator::ListMessages("SMS", "Inbox").size(), 2u);
}

// GetProps answers each tag in the order asked: present ones with their
// values; a missing tag, one asked with the wrong type, or one a message
// never has, as an error, and the call MAPI_W_ERRORS_RETURNED. (Missing
// columns of a contents table are the e2e listing's.)
TEST_F(MessageStoreTest, PropertiesComeInTheOrderAskedAndMissingOnesAsErrors) {
  emulator::MessageSeed seed;
  seed.folder = "Outbox";
  seed.flags = MSGFLAG_READ;
  seed.sender = "+15550100";
  const std::string id = emulator::SeedMessage(seed);
  ComRef<IMessage> message;
  ULONG type = 0;
  ASSERT_EQ(Open(store(), id, message.put_as<IUnknown>(), 0, &type), S_OK);
  EXPECT_EQ(type, MAPI_MESSAGE);
  constexpr ULONG kSubjectAnsi = 0x0037001E;
  Tags tags{PR_MESSAGE_FLAGS, PR_SENDER_EMAIL_ADDRESS_W, PR_OBJECT_TYPE, PR_LAST_MODIFICATION_TIME,
            kSubjectAnsi,     PR_DISPLAY_NAME_W};
  Values v;
  ASSERT_EQ(message->GetProps(tags, MAPI_UNICODE, &v.count, &v.v), MAPI_W_ERRORS_RETURNED);
  ASSERT_EQ(v.count, 6u);
  EXPECT_EQ(v[0].Value.ul, MSGFLAG_READ);
  EXPECT_EQ(Text(v[1]), u"+15550100");
  EXPECT_EQ(v[2].Value.ul, MAPI_MESSAGE);
  for (ULONG i = 0; i < 6; ++i) {
    EXPECT_EQ(v[i].ulPropTag, i < 3 ? tags[i] : CHANGE_PROP_TYPE(tags[i], PT_ERROR)) << i;
    EXPECT_EQ(v[i].Value.err, i < 3 ? v[i].Value.err : MAPI_E_NOT_FOUND) << i;
  }
}

// A recipient's row holds the properties it has, in a fixed order.
TEST_F(MessageStoreTest, RecipientTablesGiveThePropertiesEachRecipientHasInOrder) {
  emulator::MessageSeed seed;
  seed.folder = "Sent Items";
  seed.recipients = {{"Ann Example", "SMS", "+15550101", MAPI_TO},
                     {std::nullopt, std::nullopt, "+15550103", std::nullopt},
                     {"No Address", std::nullopt, std::nullopt, MAPI_CC}};
  const std::string id = emulator::SeedMessage(seed);
  ComRef<IMessage> message;
  ComRef<IMAPITable> table;
  ASSERT_EQ(Open(store(), id, message.put_as<IUnknown>()), S_OK);
  ASSERT_EQ(message->GetRecipientTable(0, table.put()), S_OK);
  Rows rows;
  ASSERT_EQ(table->QueryRows(100, 0, &rows.set), S_OK);
  std::vector<std::vector<ULONG>> tags(rows->cRows);
  for (ULONG r = 0; r < rows->cRows; ++r) {
    for (ULONG i = 0; i < rows->aRow[r].cValues; ++i)
      tags[r].push_back(rows->aRow[r].lpProps[i].ulPropTag);
  }
  ULONG count = 0;
  EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(tags, (std::vector<std::vector<ULONG>>{
                      {PR_DISPLAY_NAME_W, PR_ADDRTYPE_W, PR_RECIPIENT_TYPE, PR_EMAIL_ADDRESS_W},
                      {PR_EMAIL_ADDRESS_W},
                      {PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE}}));
}

// Seeds may choose their own entry id, once; folder names ignore ASCII case.
TEST_F(MessageStoreTest, SeedsMayChooseTheirOwnEntryIdOnce) {
  emulator::MessageSeed seed;
  seed.folder = "drafts";
  seed.entryId = std::string(32, '\x5a');
  EXPECT_EQ(emulator::SeedMessage(seed), *seed.entryId);
  EXPECT_EQ(emulator::ListMessages("SMS", "Drafts").back().entryId, *seed.entryId);
  EXPECT_THROW(emulator::SeedMessage(seed), std::invalid_argument);
}

// Missing lists and unknown bookmarks are refused; freeing nothing is fine.
TEST_F(MessageStoreTest, BadArgumentsAreRefused) {
  ComRef<IMAPIFolder> outbox;
  ComRef<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &outbox, &table);
  EXPECT_EQ(outbox->DeleteMessages(nullptr, 0, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(table->SeekRow(7, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(table->SetColumns(nullptr, 0), E_INVALIDARG);
  MAPIFreeBuffer(nullptr);
  FreeProws(nullptr);
}

// Logons need an initialisation still counted.
TEST_F(DeviceTest, MapiLogonNeedsAnInitializeThatIsStillCounted) {
  IMAPISession* session = reinterpret_cast<IMAPISession*>(this);
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
  EXPECT_EQ(session, nullptr);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  MAPIUninitialize();
  {
    ComRef<IMAPISession> held;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, held.put()), S_OK);
  }
  MAPIUninitialize();
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
}

TEST_F(MessageStoreTest, EachLaterNewObjectOfTheStoreIsAnnouncedOnceInOrder) {
  Seed("Inbox", "before");
  RecordingSink sink(store());
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
  EXPECT_EQ(seen[0].parent, BinaryProp(store(), PR_CE_IPM_INBOX_ENTRYID));
  EXPECT_EQ(seen[1].parent, BinaryProp(store(), PR_CE_IPM_DRAFTS_ENTRYID));
  EXPECT_EQ(seen[3].parent, seen[2].id);
}

TEST_F(MessageStoreTest, UnadviseDuringABurstStopsCallsAtOnceAndReleasesTheSink) {
  RecordingSink staying(store()), gone(store());
  EXPECT_EQ(gone.refs(), 2u);
  const ULONG connection = gone.connection;
  constexpr int kBurst = 100;
  std::thread writer([] {
    for (int i = 0; i < kBurst; ++i) Seed("Inbox", "burst");
  });
  gone.WaitFor(1);
  EXPECT_EQ(gone.Cancel(), S_OK);
  const std::size_t heard = gone.Now().size();
  writer.join();
  EXPECT_EQ(staying.WaitFor(kBurst).size(), static_cast<std::size_t>(kBurst));
  EXPECT_EQ(gone.Now().size(), heard);
  EXPECT_EQ(gone.refs(), 1u);
  EXPECT_EQ(store()->Unadvise(connection), MAPI_E_NOT_FOUND);
}

// A sink may unadvise itself from inside OnNotify: it hears no more and is
// released, while the others go on. (Reading the store from inside OnNotify
// is what the library's own sink does in every e2e notification test.)
TEST_F(MessageStoreTest, SinkCanUnadviseItselfFromInsideOnNotify) {
  RecordingSink self(store()), other(store());
  std::atomic<ULONG> connection{self.connection};
  self.hook = [&](const NOTIFICATION&) {
    return store()->Unadvise(connection.exchange(0)) == S_OK ? "unadvised" : "failed";
  };
  Seed("Inbox", "one");
  Seed("Inbox", "two");
  EXPECT_EQ(other.WaitFor(2).size(), 2u);
  const auto seen = self.Now();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].note, "unadvised");
  EXPECT_EQ(self.refs(), 1u);
}

TEST_F(MessageStoreTest, MessageFromAnotherProcessIsAnnouncedOnce) {
  RecordingSink sink(store());
  const std::string from = "+15550177";
  ASSERT_EQ(RunProgram({DEVICE_WRITER, dir(), "sms", from, "from afar"}).status, 0);

  const auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_FALSE(inbox.empty());
  EXPECT_EQ(inbox.back().sender, from);
  // Events come in order, so a repeat would come before the sentinel.
  const std::string sentinel = Seed("Inbox", "here");
  EXPECT_EQ(Ids(sink.WaitFor(2)), (std::vector<std::string>{inbox.back().entryId, sentinel}));
}

TEST_F(MessageStoreTest, AdviseRefusesWhatItCannotWatch) {
  RecordingSink sink;
  const std::string folder = BinaryProp(store(), PR_CE_IPM_INBOX_ENTRYID);
  // The result; a refusal gives no connection and keeps no reference.
  auto advise = [&](const std::string& id, ULONG events, IMAPIAdviseSink* to) {
    ULONG connection = 77;
    const HRESULT hr =
        store()->Advise(static_cast<ULONG>(id.size()), id.empty() ? nullptr : AsEntryId(id), events,
                        to, &connection);
    EXPECT_EQ(connection, 0u);
    EXPECT_EQ(sink.refs(), 1u);
    return hr;
  };
  EXPECT_EQ(advise(folder, fnevObjectCreated, &sink), MAPI_E_NO_SUPPORT);  // a single folder
  EXPECT_EQ(advise("", fnevObjectCreated, nullptr), E_INVALIDARG);
  EXPECT_EQ(advise("", 0, &sink), E_INVALIDARG);
  EXPECT_EQ(store()->Advise(0, nullptr, fnevObjectCreated, &sink, nullptr), E_INVALIDARG);
}

TEST_F(MessageStoreTest, LastUninitializeCancelsEveryRegistration) {
  RecordingSink sink(store());
  EXPECT_EQ(sink.refs(), 2u);
  MAPIUninitialize();
  EXPECT_EQ(sink.refs(), 1u);
  EXPECT_EQ(store()->Unadvise(sink.connection), MAPI_E_NOT_FOUND);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);  // for TearDown

  // The notifier starts again for the next sink.
  RecordingSink next(store());
  const std::string id = Seed("Inbox", "again");
  EXPECT_EQ(Ids(next.WaitFor(1)), std::vector<std::string>{id});
}

}  // namespace
