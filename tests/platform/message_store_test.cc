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
class Ref {
 public:
  Ref() = default;
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() { return &p_; }
  IUnknown** unknown() { return reinterpret_cast<IUnknown**>(&p_); }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

std::string Bytes(const SBinary& bin) {
  return std::string(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

LPENTRYID AsEntryId(const std::string& id) {
  return reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data()));
}

std::u16string Text(const SPropValue& value) {
  return value.Value.lpszW != nullptr ? std::u16string(value.Value.lpszW) : std::u16string();
}

// A session on the fixture's device, with helpers that walk to stores,
// folders and messages through the object model.
class MessageStoreTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, session_.out()), S_OK);
  }
  void TearDown() override {
    if (session_.get() != nullptr) session_->Logoff(0, 0, 0);
    session_.reset();
    MAPIUninitialize();
    DeviceTest::TearDown();
  }

  // (entry id, display name) of every store, in the table's order.
  std::vector<std::pair<std::string, std::u16string>> Stores() {
    std::vector<std::pair<std::string, std::u16string>> stores;
    Ref<IMAPITable> table;
    EXPECT_EQ(session_->GetMsgStoresTable(MAPI_UNICODE, table.out()), S_OK);
    for (;;) {
      SRowSet* rows = nullptr;
      if (table->QueryRows(1, 0, &rows) != S_OK) break;
      bool end = rows->cRows == 0;
      if (!end) {
        const SPropValue* props = rows->aRow[0].lpProps;
        EXPECT_EQ(rows->aRow[0].cValues, 2u);
        EXPECT_EQ(props[0].ulPropTag, PR_ENTRYID);
        EXPECT_EQ(props[1].ulPropTag, PR_DISPLAY_NAME_W);
        stores.emplace_back(Bytes(props[0].Value.bin), Text(props[1]));
      }
      FreeProws(rows);
      if (end) break;
    }
    return stores;
  }

  void OpenStore(const std::u16string& name, Ref<IMsgStore>* store) {
    for (const auto& [id, display] : Stores()) {
      if (display != name) continue;
      ULONG type = 0;
      ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr,
                                    MAPI_BEST_ACCESS, &type, store->unknown()),
                S_OK);
      EXPECT_EQ(type, MAPI_STORE);
      return;
    }
    FAIL() << "no store of that name";
  }

  // A single property of a store, folder or message, as bytes.
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

  void OpenFolder(ULONG tag, Ref<IMAPIFolder>* folder, Ref<IMsgStore>* store = nullptr) {
    Ref<IMsgStore> sms;
    if (store == nullptr) store = &sms;
    if (store->get() == nullptr) OpenStore(u"SMS", store);
    ASSERT_NE(store->get(), nullptr);
    std::string id = EntryIdProp(store->get(), tag);
    ASSERT_FALSE(id.empty());
    ULONG type = 0;
    ASSERT_EQ((*store)->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr,
                                  MAPI_MODIFY, &type, folder->unknown()),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
  }

  void OpenContents(ULONG tag, Ref<IMAPITable>* table, Ref<IMAPIFolder>* folder = nullptr) {
    Ref<IMAPIFolder> own;
    if (folder == nullptr) folder = &own;
    OpenFolder(tag, folder);
    ASSERT_NE(folder->get(), nullptr);
    ASSERT_EQ((*folder)->GetContentsTable(0, table->out()), S_OK);
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
    seed.flags = MSGFLAG_FROMME;
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
};

TEST_F(MessageStoreTest, FreshDeviceHasSmsAndMailStoresAndAddStoreAddsOne) {
  auto stores = Stores();
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_EQ(stores[0].second, u"SMS");
  EXPECT_EQ(stores[1].second, u"Mail");
  EXPECT_NE(stores[0].first, stores[1].first);

  emulator::AddStore("Archive");
  stores = Stores();
  ASSERT_EQ(stores.size(), 3u);
  EXPECT_EQ(stores[2].second, u"Archive");
  EXPECT_THROW(emulator::AddStore("sms"), std::invalid_argument);
  EXPECT_THROW(emulator::AddStore(""), std::invalid_argument);
}

TEST_F(MessageStoreTest, StorePropertiesOpenTheFiveStandardFolders) {
  constexpr ULONG kTags[] = {PR_CE_IPM_INBOX_ENTRYID, PR_IPM_OUTBOX_ENTRYID,
                             PR_IPM_SENTMAIL_ENTRYID, PR_CE_IPM_DRAFTS_ENTRYID,
                             PR_IPM_WASTEBASKET_ENTRYID};
  const auto& names = emulator::StandardFolderNames();
  ASSERT_EQ(names.size(), 5u);
  const std::vector<ULONG> fresh = {2, 0, 1, 1, 0};  // the sample messages
  Ref<IMsgStore> store;
  OpenStore(u"SMS", &store);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(names[i]);
    Ref<IMAPIFolder> folder;
    OpenFolder(kTags[i], &folder, &store);
    ASSERT_NE(folder.get(), nullptr);
    SizedSPropTagArray(2, tags) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    ASSERT_EQ(folder->GetProps(reinterpret_cast<SPropTagArray*>(&tags), 0, &count, &values), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(Text(values[0]), std::u16string(names[i].begin(), names[i].end()));
    EXPECT_EQ(Bytes(values[1].Value.bin), EntryIdProp(store.get(), kTags[i]));
    MAPIFreeBuffer(values);
    Ref<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, table.out()), S_OK);
    EXPECT_EQ(RowCount(table.get()), fresh[i]);
    EXPECT_EQ(emulator::ListMessages("SMS", names[i]).size(), fresh[i]);
  }
}

TEST_F(MessageStoreTest, ListingEndsWithEmptySetsUntilRewound) {
  const std::vector<std::string> ids = {Seed("Outbox", "a"), Seed("Outbox", "b"),
                                        Seed("Outbox", "c")};
  Ref<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &table);
  ASSERT_NE(table.get(), nullptr);
  EXPECT_EQ(Rest(table.get()), ids);
  EXPECT_EQ(Next(table.get()), "");
  EXPECT_EQ(Next(table.get()), "");

  LONG sought = 99;
  ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, &sought), S_OK);
  EXPECT_EQ(sought, 0);
  SRowSet* rows = nullptr;
  ASSERT_EQ(table->QueryRows(2, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 2u);
  EXPECT_EQ(Bytes(rows->aRow[1].lpProps[0].Value.bin), ids[1]);
  FreeProws(rows);
  EXPECT_EQ(Rest(table.get()), std::vector<std::string>{ids[2]});
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
      {"deleting an earlier row", {0}, false, {2, 3}},
      {"deleting every later row", {2, 3}, false, {}},
      {"adding a row", {}, true, {2, 3, 4}},
      {"adding a row after deleting the rest", {2, 3}, true, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<IMAPIFolder> folder;
    Ref<IMAPITable> table;
    OpenContents(PR_IPM_OUTBOX_ENTRYID, &table, &folder);
    ASSERT_NE(table.get(), nullptr);
    ASSERT_EQ(folder->EmptyFolder(0, nullptr, 0), S_OK);
    std::vector<std::string> ids;
    for (const char* subject : {"a", "b", "c", "d"}) ids.push_back(Seed("Outbox", subject));
    ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    EXPECT_EQ(Next(table.get()), ids[0]);
    EXPECT_EQ(Next(table.get()), ids[1]);
    std::vector<std::string> doomed;
    for (int i : c.deleted) doomed.push_back(ids[i]);
    if (!doomed.empty()) {
      ASSERT_EQ(Delete(folder.get(), doomed), S_OK);
    }
    if (c.added) ids.push_back(Seed("Outbox", "e"));
    std::vector<std::string> expected;
    for (int i : c.rest) expected.push_back(ids[i]);
    EXPECT_EQ(Rest(table.get()), expected);
  }
}

TEST_F(MessageStoreTest, RowCountIsCountedAtEachCallAndLeavesTheCursor) {
  Ref<IMAPIFolder> folder;
  Ref<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &table, &folder);
  ASSERT_NE(table.get(), nullptr);
  EXPECT_EQ(RowCount(table.get()), 0u);
  std::string first = Seed("Outbox", "one");
  std::string second = Seed("Outbox", "two");
  EXPECT_EQ(RowCount(table.get()), 2u);
  EXPECT_EQ(Next(table.get()), first);
  EXPECT_EQ(RowCount(table.get()), 2u);
  EXPECT_EQ(Next(table.get()), second);
  ASSERT_EQ(Delete(folder.get(), {first}), S_OK);
  EXPECT_EQ(RowCount(table.get()), 1u);
}

TEST_F(MessageStoreTest, SeekRowMovesFromEachBookmark) {
  std::vector<std::string> ids;
  for (const char* subject : {"a", "b", "c"}) ids.push_back(Seed("Outbox", subject));
  Ref<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &table);
  ASSERT_NE(table.get(), nullptr);
  struct Case {
    BOOKMARK origin;
    LONG rows;
    LONG sought;
    std::string next;
  };
  // Each case starts after the first row.
  const Case cases[] = {
      {BOOKMARK_BEGINNING, 0, 0, ids[0]}, {BOOKMARK_BEGINNING, 2, 2, ids[2]},
      {BOOKMARK_BEGINNING, 10, 3, ""},    {BOOKMARK_CURRENT, 1, 1, ids[2]},
      {BOOKMARK_CURRENT, -1, -1, ids[0]}, {BOOKMARK_CURRENT, -5, -1, ids[0]},
      {BOOKMARK_END, 0, 0, ""},           {BOOKMARK_END, -1, -1, ids[2]},
      {BOOKMARK_END, -3, -3, ids[0]},     {BOOKMARK_END, 4, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "origin " << c.origin << " rows " << c.rows);
    ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 1, nullptr), S_OK);
    LONG sought = 99;
    ASSERT_EQ(table->SeekRow(c.origin, c.rows, &sought), S_OK);
    EXPECT_EQ(sought, c.sought);
    EXPECT_EQ(Next(table.get()), c.next);
  }
  EXPECT_EQ(table->SeekRow(7, 0, nullptr), E_INVALIDARG);
}

TEST_F(MessageStoreTest, ColumnsComeInTheOrderSetAndMissingOnesAsErrors) {
  emulator::MessageSeed seed;
  seed.folder = "Outbox";
  seed.subject = "no time";
  std::string id = emulator::SeedMessage(seed);
  Ref<IMAPITable> table;
  OpenContents(PR_IPM_OUTBOX_ENTRYID, &table);
  ASSERT_NE(table.get(), nullptr);
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
  Ref<IMsgStore> store;
  OpenStore(u"SMS", &store);
  Ref<IMessage> message;
  ULONG type = 0;
  ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr, 0, &type,
                             message.unknown()),
            S_OK);
  EXPECT_EQ(type, MAPI_MESSAGE);

  constexpr ULONG kSubjectAnsi = 0x0037001E;
  struct Case {
    ULONG tag;
    HRESULT result;
    ULONG tagBack;
  };
  const Case cases[] = {
      {PR_ENTRYID, S_OK, PR_ENTRYID},
      {PR_SUBJECT_W, S_OK, PR_SUBJECT_W},
      {PR_MESSAGE_FLAGS, S_OK, PR_MESSAGE_FLAGS},
      {PR_MESSAGE_DELIVERY_TIME, S_OK, PR_MESSAGE_DELIVERY_TIME},
      {PR_SENDER_EMAIL_ADDRESS_W, S_OK, PR_SENDER_EMAIL_ADDRESS_W},
      {PR_OBJECT_TYPE, S_OK, PR_OBJECT_TYPE},
      {PR_LAST_MODIFICATION_TIME, MAPI_W_ERRORS_RETURNED,
       CHANGE_PROP_TYPE(PR_LAST_MODIFICATION_TIME, PT_ERROR)},
      {kSubjectAnsi, MAPI_W_ERRORS_RETURNED, CHANGE_PROP_TYPE(kSubjectAnsi, PT_ERROR)},
      {PR_DISPLAY_NAME_W, MAPI_W_ERRORS_RETURNED, CHANGE_PROP_TYPE(PR_DISPLAY_NAME_W, PT_ERROR)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.tag);
    SizedSPropTagArray(1, tags) = {1, {c.tag}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    EXPECT_EQ(
        message->GetProps(reinterpret_cast<SPropTagArray*>(&tags), MAPI_UNICODE, &count, &values),
        c.result);
    ASSERT_EQ(count, 1u);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values[0].ulPropTag, c.tagBack);
    if (PROP_TYPE(c.tagBack) == PT_ERROR) {
      EXPECT_EQ(values[0].Value.err, MAPI_E_NOT_FOUND);
    }
    switch (c.tagBack) {
      case PR_ENTRYID:
        EXPECT_EQ(Bytes(values[0].Value.bin), id);
        break;
      case PR_SUBJECT_W:
        EXPECT_EQ(Text(values[0]), u"Caf\u00e9");
        break;
      case PR_MESSAGE_FLAGS:
        EXPECT_EQ(values[0].Value.ul, MSGFLAG_READ);
        break;
      case PR_MESSAGE_DELIVERY_TIME:
        EXPECT_EQ(values[0].Value.ft.dwHighDateTime, 0x01234567u);
        EXPECT_EQ(values[0].Value.ft.dwLowDateTime, 0x89ABCDEFu);
        break;
      case PR_SENDER_EMAIL_ADDRESS_W:
        EXPECT_EQ(Text(values[0]), u"+15550100");
        break;
      case PR_OBJECT_TYPE:
        EXPECT_EQ(values[0].Value.ul, MAPI_MESSAGE);
        break;
    }
    MAPIFreeBuffer(values);
  }

  // Several tags at once: one missing marks the whole call, the rest still
  // carry their values; no tags gives every property the message has.
  SizedSPropTagArray(2, both) = {2, {PR_LAST_MODIFICATION_TIME, PR_SUBJECT_W}};
  ULONG count = 0;
  SPropValue* values = nullptr;
  EXPECT_EQ(message->GetProps(reinterpret_cast<SPropTagArray*>(&both), 0, &count, &values),
            MAPI_W_ERRORS_RETURNED);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(Text(values[1]), u"Caf\u00e9");
  MAPIFreeBuffer(values);
  EXPECT_EQ(message->GetProps(nullptr, 0, &count, &values), S_OK);
  EXPECT_EQ(count, 6u);
  MAPIFreeBuffer(values);
  EXPECT_EQ(message->GetProps(nullptr, 0, nullptr, &values), E_INVALIDARG);
  EXPECT_EQ(values, nullptr);
}

TEST_F(MessageStoreTest, RecipientTablesGiveSeveralPropertiesPerRecipientInOrder) {
  emulator::MessageSeed seed;
  seed.folder = "Sent Items";
  seed.flags = MSGFLAG_FROMME;
  seed.recipients = {{"Ann Example", "SMS", "+15550101", MAPI_TO},
                     {std::nullopt, std::nullopt, "+15550103", std::nullopt},
                     {"No Address", std::nullopt, std::nullopt, MAPI_CC}};
  const std::string withRecipients = emulator::SeedMessage(seed);
  seed.recipients.clear();
  const std::string without = emulator::SeedMessage(seed);

  Ref<IMAPIFolder> folder;
  OpenFolder(PR_IPM_SENTMAIL_ENTRYID, &folder);
  ASSERT_NE(folder.get(), nullptr);
  auto open = [&](const std::string& id, Ref<IMAPITable>* table) {
    Ref<IMessage> message;
    ASSERT_EQ(folder->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr,
                                MAPI_BEST_ACCESS, nullptr, message.unknown()),
              S_OK);
    ASSERT_EQ(message->GetRecipientTable(0, table->out()), S_OK);
  };
  Ref<IMAPITable> table;
  open(withRecipients, &table);
  ASSERT_NE(table.get(), nullptr);
  EXPECT_EQ(RowCount(table.get()), 3u);
  const std::vector<std::vector<ULONG>> expected = {
      {PR_DISPLAY_NAME_W, PR_ADDRTYPE_W, PR_RECIPIENT_TYPE, PR_EMAIL_ADDRESS_W},
      {PR_EMAIL_ADDRESS_W},
      {PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE}};
  for (const auto& tags : expected) {
    SRowSet* rows = nullptr;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    std::vector<ULONG> got;
    for (ULONG i = 0; i < rows->aRow[0].cValues; ++i)
      got.push_back(rows->aRow[0].lpProps[i].ulPropTag);
    EXPECT_EQ(got, tags);
    FreeProws(rows);
  }
  EXPECT_EQ(Next(table.get()), "");

  // The sample sent message: the address is there, but not first.
  table.reset();
  const auto sent = emulator::ListMessages("SMS", "Sent Items");
  open(sent.front().entryId, &table);
  SRowSet* rows = nullptr;
  ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 1u);
  ASSERT_GT(rows->aRow[0].cValues, 1u);
  EXPECT_NE(rows->aRow[0].lpProps[0].ulPropTag, PR_EMAIL_ADDRESS_W);
  EXPECT_EQ(rows->aRow[0].lpProps[rows->aRow[0].cValues - 1].ulPropTag, PR_EMAIL_ADDRESS_W);
  FreeProws(rows);

  table.reset();
  open(without, &table);
  EXPECT_EQ(RowCount(table.get()), 0u);
  EXPECT_EQ(Next(table.get()), "");
}

TEST_F(MessageStoreTest, OpenEntryFindsOnlyObjectsOfItsOwnScope) {
  Ref<IMsgStore> sms, mail;
  OpenStore(u"SMS", &sms);
  OpenStore(u"Mail", &mail);
  Ref<IMAPIFolder> inbox, drafts;
  OpenFolder(PR_CE_IPM_INBOX_ENTRYID, &inbox, &sms);
  OpenFolder(PR_CE_IPM_DRAFTS_ENTRYID, &drafts, &sms);
  ASSERT_NE(inbox.get(), nullptr);
  const std::string received = emulator::ListMessages("SMS", "Inbox").front().entryId;
  emulator::MessageSeed other;
  other.store = "Mail";
  const std::string mailMessage = emulator::SeedMessage(other);
  const std::string inboxId = EntryIdProp(sms.get(), PR_CE_IPM_INBOX_ENTRYID);
  const std::string unknown(24, '\x7f');

  struct Case {
    const char* name;
    std::function<HRESULT(ULONG, LPENTRYID, ULONG*, IUnknown**)> open;
    std::string id;
    HRESULT result;
    ULONG type;
  };
  auto via = [](auto* object) {
    return [object](ULONG cb, LPENTRYID id, ULONG* type, IUnknown** out) {
      return object->OpenEntry(cb, id, nullptr, 0, type, out);
    };
  };
  const Case cases[] = {
      {"store opens its message", via(sms.get()), received, S_OK, MAPI_MESSAGE},
      {"store opens its folder", via(sms.get()), inboxId, S_OK, MAPI_FOLDER},
      {"folder opens its message", via(inbox.get()), received, S_OK, MAPI_MESSAGE},
      {"folder refuses another folder's message", via(drafts.get()), received, MAPI_E_NOT_FOUND, 0},
      {"store refuses another store's message", via(sms.get()), mailMessage, MAPI_E_NOT_FOUND, 0},
      {"store refuses another store's folder", via(mail.get()), inboxId, MAPI_E_NOT_FOUND, 0},
      {"session refuses a folder", via(session_.get()), inboxId, MAPI_E_NOT_FOUND, 0},
      {"unknown id", via(sms.get()), unknown, MAPI_E_NOT_FOUND, 0},
      {"empty id", via(sms.get()), "", MAPI_E_INVALID_ENTRYID, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ULONG type = 99;
    IUnknown* object = reinterpret_cast<IUnknown*>(&type);
    EXPECT_EQ(c.open(static_cast<ULONG>(c.id.size()), c.id.empty() ? nullptr : AsEntryId(c.id),
                     &type, &object),
              c.result);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(object != nullptr, c.result == S_OK);
    if (object != nullptr) object->Release();
  }
}

TEST_F(MessageStoreTest, EntryIdsAreShortAndUniqueAndSeedsMayChooseTheirOwn) {
  const std::string made = Seed("Drafts", "made");
  EXPECT_LE(made.size(), 31u);
  EXPECT_EQ(made.substr(0, 4), std::string(4, '\0'));
  EXPECT_NE(made, Seed("Drafts", "made"));

  emulator::MessageSeed seed;
  seed.folder = "Drafts";
  seed.entryId = std::string(32, '\x5a');
  EXPECT_EQ(emulator::SeedMessage(seed), *seed.entryId);
  Ref<IMAPIFolder> drafts;
  OpenFolder(PR_CE_IPM_DRAFTS_ENTRYID, &drafts);
  ASSERT_NE(drafts.get(), nullptr);
  Ref<IMessage> message;
  EXPECT_EQ(drafts->OpenEntry(32, AsEntryId(*seed.entryId), nullptr, 0, nullptr, message.unknown()),
            S_OK);

  EXPECT_THROW(emulator::SeedMessage(seed), std::invalid_argument);  // id taken
  seed.entryId = made;
  EXPECT_THROW(emulator::SeedMessage(seed), std::invalid_argument);
  seed.entryId = "";
  EXPECT_THROW(emulator::SeedMessage(seed), std::invalid_argument);
  seed.entryId.reset();
  seed.folder = "Nowhere";
  EXPECT_THROW(emulator::SeedMessage(seed), std::invalid_argument);
  seed.folder = "drafts";  // folder names ignore ASCII case
  EXPECT_NO_THROW(emulator::SeedMessage(seed));
}

TEST_F(MessageStoreTest, DeleteMessagesReportsWhatItFound) {
  Ref<IMAPIFolder> outbox;
  OpenFolder(PR_IPM_OUTBOX_ENTRYID, &outbox);
  ASSERT_NE(outbox.get(), nullptr);
  const std::string elsewhere = Seed("Drafts", "keep");
  const std::string unknown(24, '\x7f');
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
    if (c.withStrangers) {
      ids.push_back(unknown);
      ids.push_back(elsewhere);
    }
    EXPECT_EQ(Delete(outbox.get(), ids), c.result);
    EXPECT_TRUE(emulator::ListMessages("SMS", "Outbox").empty());
  }
  EXPECT_EQ(emulator::ListMessages("SMS", "Drafts").back().entryId, elsewhere);
  EXPECT_EQ(outbox->DeleteMessages(nullptr, 0, nullptr, 0), E_INVALIDARG);
}

TEST_F(MessageStoreTest, EmptyFolderClearsOnlyThatFolder) {
  Ref<IMAPIFolder> inbox;
  OpenFolder(PR_CE_IPM_INBOX_ENTRYID, &inbox);
  ASSERT_NE(inbox.get(), nullptr);
  ASSERT_EQ(inbox->EmptyFolder(0, nullptr, 0), S_OK);
  EXPECT_TRUE(emulator::ListMessages("SMS", "Inbox").empty());
  EXPECT_EQ(emulator::ListMessages("SMS", "Sent Items").size(), 1u);
  EXPECT_EQ(emulator::ListMessages("SMS", "Sent Items").front().recipients.size(), 1u);
  EXPECT_EQ(inbox->EmptyFolder(0, nullptr, 0), S_OK);
}

TEST_F(MessageStoreTest, ReceivedSmsIsStoredAsAnUnreadMessageFromTheSender) {
  const std::string id = emulator::ReceiveSms("+15550123", "h\u00e9llo");
  auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_EQ(inbox.size(), 3u);
  const auto& message = inbox.back();
  EXPECT_EQ(message.entryId, id);
  EXPECT_EQ(message.subject, "h\u00e9llo");
  EXPECT_EQ(message.sender, "+15550123");
  EXPECT_EQ(message.flags, 0u);
  EXPECT_TRUE(message.deliveryTime.has_value());
  EXPECT_FALSE(message.modifiedTime.has_value());
  EXPECT_THROW(emulator::ReceiveSms("+1", "x", "Nowhere"), std::invalid_argument);
}

TEST_F(MessageStoreTest, InjectedFaultsFailTheirCallAndLeaveNothingBehind) {
  Ref<IMsgStore> store;
  OpenStore(u"SMS", &store);
  Ref<IMAPITable> table;
  OpenContents(PR_CE_IPM_INBOX_ENTRYID, &table);
  ASSERT_NE(table.get(), nullptr);
  constexpr HRESULT kInjected = static_cast<HRESULT>(0x80040999);
  SizedSPropTagArray(1, tags) = {1, {PR_DISPLAY_NAME_W}};
  auto* tagList = reinterpret_cast<SPropTagArray*>(&tags);
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
         return store->GetProps(tagList, 0, &count, reinterpret_cast<SPropValue**>(out));
       }},
      {"alloc", 1, E_OUTOFMEMORY,
       [&](void** out) {
         ULONG count = 0;
         return store->GetProps(tagList, 0, &count, reinterpret_cast<SPropValue**>(out));
       }},
      {"IMAPITable::QueryRows", 1, kInjected,
       [&](void** out) { return table->QueryRows(1, 0, reinterpret_cast<SRowSet**>(out)); }},
      // The row set comes first, then the row's values.
      {"alloc", 2, E_OUTOFMEMORY,
       [&](void** out) { return table->QueryRows(1, 0, reinterpret_cast<SRowSet**>(out)); }},
      {"IMAPISession::GetMsgStoresTable", 1, kInjected,
       [&](void** out) {
         return session_->GetMsgStoresTable(0, reinterpret_cast<IMAPITable**>(out));
       }},
      {"alloc", 1, E_OUTOFMEMORY,
       [&](void** out) {
         return session_->GetMsgStoresTable(0, reinterpret_cast<IMAPITable**>(out));
       }},
      {"MAPILogonEx", 1, kInjected,
       [&](void** out) {
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
  EXPECT_EQ(Next(table.get()), emulator::ListMessages("SMS", "Inbox").front().entryId);
}

TEST_F(MessageStoreTest, BuffersAreCountedUntilFreed) {
  Ref<IMsgStore> store;
  OpenStore(u"SMS", &store);
  const long before = emulator::OutstandingBuffers();
  ULONG count = 0;
  SPropValue* values = nullptr;
  ASSERT_EQ(store->GetProps(nullptr, 0, &count, &values), S_OK);
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
  MAPIUninitialize();  // one too many is ignored
  emulator::InjectFault("MAPIInitialize", 1, E_FAIL);
  EXPECT_EQ(MAPIInitialize(nullptr), E_FAIL);
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
}

}  // namespace
