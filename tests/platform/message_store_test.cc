#include "platform/message_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"

namespace {

// Releases a COM reference when it goes out of scope.
template <typename T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  ~Ref() { reset(); }
  T* operator->() const { return p; }
  IUnknown** unknown() { return reinterpret_cast<IUnknown**>(&p); }
  void reset() {
    if (p != nullptr) p->Release();
    p = nullptr;
  }
};

// A setup step that has to work; gtest reports the exception as a failure.
void Must(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

std::string Bytes(const SBinary& bin) {
  return std::string(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

LPENTRYID AsEntryId(const std::string& id) {
  return reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data()));
}

std::u16string Text(const SPropValue& value) {
  return value.Value.lpszW != nullptr ? std::u16string(value.Value.lpszW) : std::u16string();
}

// A session on the fixture's device with the SMS store open, and helpers
// that walk to folders and messages through the object model.
class MessageStoreTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session_.p), S_OK);
    const std::string id = Stores().at(0).first;  // SMS, as the first test checks
    ULONG type = 0;
    ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr,
                                  MAPI_BEST_ACCESS, &type, sms_.unknown()),
              S_OK);
    EXPECT_EQ(type, MAPI_STORE);
  }
  void TearDown() override {
    sms_.reset();
    if (session_.p != nullptr) session_->Logoff(0, 0, 0);
    session_.reset();
    MAPIUninitialize();
    DeviceTest::TearDown();
  }

  // (entry id, display name) of every store, in the table's order.
  std::vector<std::pair<std::string, std::u16string>> Stores() {
    Ref<IMAPITable> table;
    SRowSet* rows = nullptr;
    Must(session_->GetMsgStoresTable(MAPI_UNICODE, &table.p) == S_OK &&
             table->QueryRows(100, 0, &rows) == S_OK,
         "store table");
    std::vector<std::pair<std::string, std::u16string>> stores;
    for (ULONG i = 0; i < rows->cRows; ++i) {
      const SPropValue* props = rows->aRow[i].lpProps;
      EXPECT_EQ(rows->aRow[i].cValues, 2u);
      EXPECT_EQ(props[0].ulPropTag, PR_ENTRYID);
      EXPECT_EQ(props[1].ulPropTag, PR_DISPLAY_NAME_W);
      stores.emplace_back(Bytes(props[0].Value.bin), Text(props[1]));
    }
    FreeProws(rows);
    return stores;
  }

  // A binary property of a store, folder or message; empty when missing.
  static std::string EntryIdProp(IMAPIProp* object, ULONG tag) {
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    std::string id;
    if (object->GetProps(reinterpret_cast<SPropTagArray*>(&tags), MAPI_UNICODE, &count, &values) ==
            S_OK &&
        values[0].ulPropTag == tag) {
      id = Bytes(values[0].Value.bin);
    }
    MAPIFreeBuffer(values);
    return id;
  }

  // Opens the folder whose id the SMS store holds under `tag`.
  void OpenFolder(ULONG tag, Ref<IMAPIFolder>* folder) {
    const std::string id = EntryIdProp(sms_.p, tag);
    ULONG type = 0;
    Must(!id.empty() && sms_->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr,
                                        MAPI_MODIFY, &type, folder->unknown()) == S_OK,
         "open folder");
    EXPECT_EQ(type, MAPI_FOLDER);
  }

  void OpenContents(ULONG tag, Ref<IMAPITable>* table, Ref<IMAPIFolder>* folder = nullptr) {
    Ref<IMAPIFolder> own;
    if (folder == nullptr) folder = &own;
    OpenFolder(tag, folder);
    Must((*folder)->GetContentsTable(0, &table->p) == S_OK, "contents table");
  }

  // The next row's entry id; empty at the end of the table.
  static std::string Next(IMAPITable* table) {
    SRowSet* rows = nullptr;
    EXPECT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    std::string id;
    if (rows != nullptr && rows->cRows == 1) {
      EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, PR_ENTRYID);
      id = Bytes(rows->aRow[0].lpProps[0].Value.bin);
    }
    FreeProws(rows);
    return id;
  }

  static std::vector<std::string> Rest(IMAPITable* table) {
    std::vector<std::string> ids;
    for (std::string id = Next(table); !id.empty(); id = Next(table)) ids.push_back(id);
    return ids;
  }

  static ULONG RowCount(IMAPITable* table) {
    ULONG count = 0;
    EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
    return count;
  }

  static std::string Seed(const std::string& folder, const std::string& subject) {
    emulator::MessageSeed seed;
    seed.folder = folder;
    seed.subject = subject;
    return emulator::SeedMessage(seed);
  }

  static HRESULT Delete(IMAPIFolder* folder, const std::vector<std::string>& ids) {
    std::vector<SBinary> list;
    for (const auto& id : ids) {
      list.push_back(
          {static_cast<ULONG>(id.size()), reinterpret_cast<BYTE*>(const_cast<char*>(id.data()))});
    }
    SBinaryArray array{static_cast<ULONG>(list.size()), list.data()};
    return folder->DeleteMessages(&array, 0, nullptr, 0);
  }

  Ref<IMAPISession> session_;
  Ref<IMsgStore> sms_;
};

TEST_F(MessageStoreTest, FreshDeviceListsTheSmsStoreFirstAndTheMailStoreByName) {
  const auto stores = Stores();
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_EQ(stores[0].second, u"SMS");
  EXPECT_EQ(stores[1].second, u"Mail");
  EXPECT_NE(stores[0].first, stores[1].first);
}

TEST_F(MessageStoreTest, StorePropertiesOpenTheFiveStandardFolders) {
  constexpr ULONG kTags[] = {PR_CE_IPM_INBOX_ENTRYID, PR_IPM_OUTBOX_ENTRYID,
                             PR_IPM_SENTMAIL_ENTRYID, PR_CE_IPM_DRAFTS_ENTRYID,
                             PR_IPM_WASTEBASKET_ENTRYID};
  const auto& names = emulator::StandardFolderNames();
  ASSERT_EQ(names.size(), 5u);
  const ULONG fresh[] = {2, 0, 1, 1, 0};  // the sample messages
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(names[i]);
    Ref<IMAPIFolder> folder;
    OpenFolder(kTags[i], &folder);
    SizedSPropTagArray(2, tags) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    ASSERT_EQ(folder->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &count, &values), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(Text(values[0]), std::u16string(names[i].begin(), names[i].end()));
    EXPECT_EQ(Bytes(values[1].Value.bin), EntryIdProp(sms_.p, kTags[i]));
    MAPIFreeBuffer(values);
    Ref<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, &table.p), S_OK);
    EXPECT_EQ(RowCount(table.p), fresh[i]);
  }
}

TEST_F(MessageStoreTest, RowCountIsCountedAtEachCallAndTheEndGivesEmptySetsUntilRewound) {
  Ref<IMAPIFolder> folder;
  Ref<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &table, &folder);
  EXPECT_EQ(RowCount(table.p), 0u);
  const std::vector<std::string> ids = {Seed("Outbox", "a"), Seed("Outbox", "b"),
                                        Seed("Outbox", "c")};
  EXPECT_EQ(RowCount(table.p), 3u);
  EXPECT_EQ(Rest(table.p), ids);
  EXPECT_EQ(Next(table.p), "");
  EXPECT_EQ(Next(table.p), "");
  EXPECT_EQ(RowCount(table.p), 3u);  // whatever the cursor

  LONG sought = 99;
  ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, &sought), S_OK);
  EXPECT_EQ(sought, 0);
  SRowSet* rows = nullptr;
  ASSERT_EQ(table->QueryRows(2, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 2u);
  EXPECT_EQ(Bytes(rows->aRow[1].lpProps[0].Value.bin), ids[1]);
  FreeProws(rows);
  ASSERT_EQ(Delete(folder.p, {ids[0]}), S_OK);
  EXPECT_EQ(RowCount(table.p), 2u);
  EXPECT_EQ(Rest(table.p), std::vector<std::string>{ids[2]});
  EXPECT_EQ(table->SeekRow(7, 0, nullptr), E_INVALIDARG);
}

TEST_F(MessageStoreTest, CursorNeverSkipsOrRepeatsWhenRowsChangeUnderIt) {
  // Four messages a b c d; the listing has passed a and b when the change
  // happens.
  struct Case {
    const char* name;
    std::vector<int> deleted;  // indexes into a b c d
    bool added;
    std::vector<int> rest;  // 4 = the added message
  };
  const Case cases[] = {
      {"deleting the next row", {2}, false, {3}},
      {"deleting the row just read", {1}, false, {2, 3}},
      {"adding a row", {}, true, {2, 3, 4}},
      {"adding a row after deleting the rest", {2, 3}, true, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<IMAPIFolder> folder;
    Ref<IMAPITable> table;
    OpenContents(PR_IPM_OUTBOX_ENTRYID, &table, &folder);
    ASSERT_EQ(folder->EmptyFolder(0, nullptr, 0), S_OK);
    std::vector<std::string> ids, doomed, expected;
    for (const char* subject : {"a", "b", "c", "d"}) ids.push_back(Seed("Outbox", subject));
    EXPECT_EQ(Next(table.p), ids[0]);
    EXPECT_EQ(Next(table.p), ids[1]);
    for (int i : c.deleted) doomed.push_back(ids[i]);
    if (!doomed.empty()) {
      ASSERT_EQ(Delete(folder.p, doomed), S_OK);
    }
    if (c.added) ids.push_back(Seed("Outbox", "e"));
    for (int i : c.rest) expected.push_back(ids[i]);
    EXPECT_EQ(Rest(table.p), expected);
  }
}

TEST_F(MessageStoreTest, ColumnsComeInTheOrderSetAndMissingOnesAsErrors) {
  const std::string id = Seed("Outbox", "no time");
  Ref<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &table);
  SizedSPropTagArray(3, columns) = {3, {PR_SUBJECT_W, PR_ENTRYID, PR_MESSAGE_DELIVERY_TIME}};
  ASSERT_EQ(table->SetColumns(reinterpret_cast<SPropTagArray*>(&columns), 0), S_OK);
  SRowSet* rows = nullptr;
  ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 1u);
  ASSERT_EQ(rows->aRow[0].cValues, 3u);
  const SPropValue* props = rows->aRow[0].lpProps;
  EXPECT_EQ(props[0].ulPropTag, PR_SUBJECT_W);
  EXPECT_EQ(Text(props[0]), u"no time");
  EXPECT_EQ(Bytes(props[1].Value.bin), id);
  EXPECT_EQ(props[2].ulPropTag, CHANGE_PROP_TYPE(PR_MESSAGE_DELIVERY_TIME, PT_ERROR));
  EXPECT_EQ(props[2].Value.err, MAPI_E_NOT_FOUND);
  FreeProws(rows);
  EXPECT_EQ(table->SetColumns(nullptr, 0), E_INVALIDARG);
}

TEST_F(MessageStoreTest, GetPropsAnswersEachTagWithItsValueOrAnError) {
  emulator::MessageSeed seed;
  seed.subject = "Caf\u00e9";
  seed.flags = MSGFLAG_READ;
  seed.deliveryTime = 0x0123456789ABCDEFull;
  seed.sender = "+15550100";
  const std::string id = emulator::SeedMessage(seed);
  Ref<IMessage> message;
  ULONG type = 0;
  ASSERT_EQ(sms_->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr, 0, &type,
                            message.unknown()),
            S_OK);
  EXPECT_EQ(type, MAPI_MESSAGE);

  // Present tags answer S_OK with their values. A missing tag, one asked
  // with the wrong type, or one a message never has marks the call and comes
  // back as an error; the other tags of that call keep their values.
  constexpr ULONG kSubjectAnsi = 0x0037001E;
  SizedSPropTagArray(6, present) = {
      6,
      {PR_ENTRYID, PR_SUBJECT_W, PR_MESSAGE_FLAGS, PR_MESSAGE_DELIVERY_TIME,
       PR_SENDER_EMAIL_ADDRESS_W, PR_OBJECT_TYPE}};
  SizedSPropTagArray(4, absent) = {
      4, {PR_LAST_MODIFICATION_TIME, kSubjectAnsi, PR_DISPLAY_NAME_W, PR_SUBJECT_W}};
  ULONG count = 0;
  SPropValue* v = nullptr;
  ASSERT_EQ(message->GetProps(reinterpret_cast<SPropTagArray*>(&present), MAPI_UNICODE, &count, &v),
            S_OK);
  ASSERT_EQ(count, 6u);
  for (ULONG i = 0; i < 6; ++i) EXPECT_EQ(v[i].ulPropTag, present.aulPropTag[i]);
  EXPECT_EQ(Bytes(v[0].Value.bin), id);
  EXPECT_EQ(Text(v[1]), u"Caf\u00e9");
  EXPECT_EQ(v[2].Value.ul, MSGFLAG_READ);
  EXPECT_EQ(v[3].Value.ft.dwHighDateTime, 0x01234567u);
  EXPECT_EQ(v[3].Value.ft.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_EQ(Text(v[4]), u"+15550100");
  EXPECT_EQ(v[5].Value.ul, MAPI_MESSAGE);
  MAPIFreeBuffer(v);

  ASSERT_EQ(message->GetProps(reinterpret_cast<SPropTagArray*>(&absent), MAPI_UNICODE, &count, &v),
            MAPI_W_ERRORS_RETURNED);
  ASSERT_EQ(count, 4u);
  for (ULONG i = 0; i < 3; ++i) {
    EXPECT_EQ(v[i].ulPropTag, CHANGE_PROP_TYPE(absent.aulPropTag[i], PT_ERROR)) << i;
    EXPECT_EQ(v[i].Value.err, MAPI_E_NOT_FOUND) << i;
  }
  EXPECT_EQ(v[3].ulPropTag, PR_SUBJECT_W);
  EXPECT_EQ(Text(v[3]), u"Caf\u00e9");
  MAPIFreeBuffer(v);
}

TEST_F(MessageStoreTest, RecipientTablesGiveSeveralPropertiesPerRecipientInOrder) {
  emulator::MessageSeed seed;
  seed.folder = "Sent Items";
  seed.recipients = {{"Ann Example", "SMS", "+15550101", MAPI_TO},
                     {std::nullopt, std::nullopt, "+15550103", std::nullopt},
                     {"No Address", std::nullopt, std::nullopt, MAPI_CC}};
  const std::string withRecipients = emulator::SeedMessage(seed);
  seed.recipients.clear();
  const std::string without = emulator::SeedMessage(seed);
  const std::string sample = emulator::ListMessages("SMS", "Sent Items").front().entryId;

  Ref<IMAPIFolder> folder;
  OpenFolder(PR_IPM_SENTMAIL_ENTRYID, &folder);
  // The property tags of each row of the message's recipient table.
  auto recipients = [&](const std::string& id) {
    Ref<IMessage> message;
    Ref<IMAPITable> table;
    Must(folder->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr, MAPI_BEST_ACCESS,
                           nullptr, message.unknown()) == S_OK &&
             message->GetRecipientTable(0, &table.p) == S_OK,
         "recipient table");
    std::vector<std::vector<ULONG>> tags(RowCount(table.p));
    for (auto& row : tags) {
      SRowSet* rows = nullptr;
      EXPECT_EQ(table->QueryRows(1, 0, &rows), S_OK);
      for (ULONG i = 0; rows != nullptr && rows->cRows == 1 && i < rows->aRow[0].cValues; ++i)
        row.push_back(rows->aRow[0].lpProps[i].ulPropTag);
      FreeProws(rows);
    }
    EXPECT_EQ(Next(table.p), "");
    return tags;
  };
  EXPECT_EQ(recipients(withRecipients),
            (std::vector<std::vector<ULONG>>{
                {PR_DISPLAY_NAME_W, PR_ADDRTYPE_W, PR_RECIPIENT_TYPE, PR_EMAIL_ADDRESS_W},
                {PR_EMAIL_ADDRESS_W},
                {PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE}}));
  EXPECT_TRUE(recipients(without).empty());

  // The sample sent message: the address is there, but not first.
  const auto rows = recipients(sample);
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_GT(rows[0].size(), 1u);
  EXPECT_NE(rows[0].front(), PR_EMAIL_ADDRESS_W);
  EXPECT_EQ(rows[0].back(), PR_EMAIL_ADDRESS_W);
}

TEST_F(MessageStoreTest, EntryIdsAreShortAndUniqueAndSeedsMayChooseTheirOwn) {
  const std::string made = Seed("Drafts", "made");
  EXPECT_LE(made.size(), 31u);
  EXPECT_EQ(made.substr(0, 4), std::string(4, '\0'));
  EXPECT_NE(made, Seed("Drafts", "made"));

  emulator::MessageSeed seed;
  seed.folder = "drafts";  // folder names ignore ASCII case
  seed.entryId = std::string(32, '\x5a');
  EXPECT_EQ(emulator::SeedMessage(seed), *seed.entryId);
  EXPECT_EQ(emulator::ListMessages("SMS", "Drafts").back().entryId, *seed.entryId);
  EXPECT_THROW(emulator::SeedMessage(seed), std::invalid_argument);  // id taken
}

TEST_F(MessageStoreTest, DeleteMessagesReportsWhatItFoundAndEmptyFolderClearsOnlyItsFolder) {
  Ref<IMAPIFolder> outbox, inbox;
  OpenFolder(PR_IPM_OUTBOX_ENTRYID, &outbox);
  OpenFolder(PR_CE_IPM_INBOX_ENTRYID, &inbox);
  const std::string elsewhere = Seed("Drafts", "keep");
  struct Case {
    int seeded;
    bool withStrangers;
    HRESULT result;
  };
  const Case cases[] = {{2, false, S_OK},
                        {2, true, MAPI_W_PARTIAL_COMPLETION},
                        {0, true, MAPI_E_NOT_FOUND},
                        {0, false, S_OK}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.seeded << " seeded, strangers " << c.withStrangers);
    std::vector<std::string> ids;
    for (int i = 0; i < c.seeded; ++i) ids.push_back(Seed("Outbox", "gone"));
    if (c.withStrangers) ids.insert(ids.end(), {std::string(24, '\x7f'), elsewhere});
    EXPECT_EQ(Delete(outbox.p, ids), c.result);
    EXPECT_TRUE(emulator::ListMessages("SMS", "Outbox").empty());
  }
  EXPECT_EQ(emulator::ListMessages("SMS", "Drafts").back().entryId, elsewhere);
  EXPECT_EQ(outbox->DeleteMessages(nullptr, 0, nullptr, 0), E_INVALIDARG);

  ASSERT_EQ(inbox->EmptyFolder(0, nullptr, 0), S_OK);
  EXPECT_TRUE(emulator::ListMessages("SMS", "Inbox").empty());
  const auto sent = emulator::ListMessages("SMS", "Sent Items");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].recipients.size(), 1u);
  EXPECT_EQ(inbox->EmptyFolder(0, nullptr, 0), S_OK);
}

TEST_F(MessageStoreTest, InjectedFaultsFailTheirCallAndLeaveNothingBehind) {
  Ref<IMAPITable> table;
  OpenContents(PR_CE_IPM_INBOX_ENTRYID, &table);
  constexpr HRESULT kInjected = static_cast<HRESULT>(0x80040999);
  SizedSPropTagArray(1, tags) = {1, {PR_DISPLAY_NAME_W}};
  struct Case {
    const char* point;
    int nth;
    HRESULT result;
    std::function<HRESULT(void**)> call;
  };
  const Case cases[] = {
      {"IMsgStore::GetProps", 1, kInjected,
       [&](void** out) {
         ULONG count = 0;
         return sms_->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &count,
                               reinterpret_cast<SPropValue**>(out));
       }},
      // The row set comes first, then the row's values.
      {"alloc", 2, E_OUTOFMEMORY,
       [&](void** out) { return table->QueryRows(1, 0, reinterpret_cast<SRowSet**>(out)); }},
      {"MAPILogonEx", 1, kInjected,
       [](void** out) {
         return MAPILogonEx(0, nullptr, nullptr, 0, reinterpret_cast<IMAPISession**>(out));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.point << " #" << c.nth);
    emulator::InjectFault(c.point, c.nth, c.result);
    void* out = &out;
    EXPECT_EQ(c.call(&out), c.result);
    EXPECT_EQ(out, nullptr);
    emulator::ClearFaults();
  }
  // The failed reads left the listing at its start.
  EXPECT_EQ(Next(table.p), emulator::ListMessages("SMS", "Inbox").front().entryId);
}

TEST_F(MessageStoreTest, BuffersAreCountedUntilFreed) {
  const long before = emulator::OutstandingBuffers();
  ULONG count = 0;
  SPropValue* values = nullptr;
  ASSERT_EQ(sms_->GetProps(nullptr, 0, &count, &values), S_OK);
  EXPECT_EQ(count, 8u);  // name, entry id, object type, five folders
  EXPECT_EQ(emulator::OutstandingBuffers(), before + 1);
  MAPIFreeBuffer(values);
  EXPECT_EQ(emulator::OutstandingBuffers(), before);
  MAPIFreeBuffer(nullptr);
  FreeProws(nullptr);
}

using MessageStoreLifecycleTest = DeviceTest;

TEST_F(MessageStoreLifecycleTest, LogonNeedsAnInitializeThatIsStillCounted) {
  IMAPISession* session = reinterpret_cast<IMAPISession*>(this);
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
  EXPECT_EQ(session, nullptr);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  MAPIUninitialize();
  ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), S_OK);
  session->Release();
  MAPIUninitialize();
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
}

}  // namespace
