// The message store's rows: stores with their standard folders, messages
// with their recipients, the sample content of a fresh device, and the
// emulator's control of all of them.
#include "device/message_rows.h"

#include <array>
#include <chrono>
#include <stdexcept>

#include "clock.h"
#include "device/notifier.h"
#include "platform/message_store.h"
#include "platform/text_codec.h"

namespace platform {
namespace {

using emulator::MessageSeed;
using emulator::RecipientSeed;

constexpr std::array<const char*, 5> kFolderNames = {"Inbox", "Outbox", "Sent Items", "Drafts",
                                                     "Deleted Items"};

// Entry ids the store makes: four zero flag bytes, the object type, the
// store's row id and the object's row id, little-endian.
std::string MakeEntryId(ULONG objectType, std::int64_t store, std::int64_t row) {
  std::string id(24, '\0');
  auto put = [&](std::size_t at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) id[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(4, objectType, 4);
  put(8, static_cast<std::uint64_t>(store), 8);
  put(16, static_cast<std::uint64_t>(row), 8);
  return id;
}

void BindBytes(Statement& statement, int index, std::string_view bytes) {
  statement.BindBlob(index, bytes.data(), static_cast<int>(bytes.size()));
}

void BindOptional(Statement& statement, int index, const std::optional<std::string>& text) {
  if (text) {
    statement.Bind(index, std::u16string_view(textcodec::ToUtf16(*text)));
  } else {
    statement.BindNull(index);
  }
}

template <typename Number>
void BindOptional(Statement& statement, int index, const std::optional<Number>& number) {
  if (number) {
    statement.Bind(index, static_cast<std::int64_t>(*number));
  } else {
    statement.BindNull(index);
  }
}

std::optional<std::string> ReadText(const Statement& statement, int column) {
  if (statement.IsNull(column)) return std::nullopt;
  return textcodec::ToUtf8(statement.Text16(column));
}

// One value from a query, or nullopt when it gives no row.
std::optional<std::int64_t> QueryInt(Device& device, const char* sql) {
  Statement statement(device, sql);
  if (statement.Step() != SQLITE_ROW) return std::nullopt;
  return statement.Int(0);
}

bool EntryIdInUse(Device& device, std::string_view id) {
  Statement statement(device,
                      "SELECT 1 FROM messages WHERE entry_id = ?1 UNION ALL "
                      "SELECT 1 FROM msg_folders WHERE entry_id = ?1 UNION ALL "
                      "SELECT 1 FROM msg_stores WHERE entry_id = ?1 LIMIT 1");
  BindBytes(statement, 1, id);
  return statement.Step() != SQLITE_DONE;  // a database error counts as in use
}

struct FolderRef {
  std::int64_t id = 0;
  std::int64_t store = 0;
  std::string entryId;
};

std::optional<FolderRef> FindFolder(Device& device, std::string_view store,
                                    std::string_view folder) {
  Statement statement(device,
                      "SELECT f.id, f.store, f.entry_id FROM msg_folders f "
                      "JOIN msg_stores s ON s.id = f.store WHERE s.name = ?1 AND f.name = ?2");
  statement.Bind(1, store);
  statement.Bind(2, folder);
  if (statement.Step() != SQLITE_ROW) return std::nullopt;
  return FolderRef{statement.Int(0), statement.Int(1), statement.Blob(2)};
}

std::optional<std::int64_t> FindStore(Device& device, std::string_view name) {
  Statement statement(device, "SELECT id FROM msg_stores WHERE name = ?1");
  statement.Bind(1, name);
  if (statement.Step() != SQLITE_ROW) return std::nullopt;
  return statement.Int(0);
}

// A folder row; `role` is the standard folder's index, if it is one.
std::optional<FolderRef> AddFolder(Device& device, std::int64_t store, std::string_view name,
                                   std::optional<int> role) {
  auto id = QueryInt(device, "SELECT ifnull(max(id), 0) + 1 FROM msg_folders");
  if (!id) return std::nullopt;
  FolderRef folder{*id, store, MakeEntryId(MAPI_FOLDER, store, *id)};
  Statement statement(device,
                      "INSERT INTO msg_folders (id, store, name, role, entry_id) "
                      "VALUES (?1, ?2, ?3, ?4, ?5)");
  statement.Bind(1, folder.id);
  statement.Bind(2, store);
  statement.Bind(3, name);
  BindOptional(statement, 4, role);
  BindBytes(statement, 5, folder.entryId);
  if (statement.Step() != SQLITE_DONE) return std::nullopt;
  return folder;
}

std::optional<std::int64_t> AddStoreRows(Device& device, std::string_view name) {
  auto id = QueryInt(device, "SELECT ifnull(max(id), 0) + 1 FROM msg_stores");
  if (!id) return std::nullopt;
  {
    Statement statement(device, "INSERT INTO msg_stores (id, name, entry_id) VALUES (?1, ?2, ?3)");
    statement.Bind(1, *id);
    statement.Bind(2, name);
    BindBytes(statement, 3, MakeEntryId(MAPI_STORE, *id, *id));
    if (statement.Step() != SQLITE_DONE) return std::nullopt;
  }
  for (int role = 0; role < static_cast<int>(kFolderNames.size()); ++role) {
    if (!AddFolder(device, *id, kFolderNames[role], role)) return std::nullopt;
  }
  return id;
}

enum class Inserted { kOk, kNoFolder, kBadId, kFailed };

// Adds the message and its recipients and records the event. The caller
// holds the lock and a write transaction.
Inserted InsertRows(Device& device, const MessageSeed& seed, std::string* entryId) {
  auto folder = FindFolder(device, seed.store, seed.folder);
  if (!folder) return Inserted::kNoFolder;
  if (seed.entryId && (seed.entryId->empty() || EntryIdInUse(device, *seed.entryId))) {
    return Inserted::kBadId;
  }
  // The message's id is chosen here so that its entry id can carry it.
  auto id = QueryInt(device,
                     "SELECT max(ifnull((SELECT seq FROM sqlite_sequence WHERE name = 'messages'), "
                     "0), ifnull((SELECT max(id) FROM messages), 0)) + 1");
  if (!id) return Inserted::kFailed;
  *entryId = seed.entryId ? *seed.entryId : MakeEntryId(MAPI_MESSAGE, folder->store, *id);
  if (!seed.entryId && EntryIdInUse(device, *entryId)) return Inserted::kFailed;
  {
    Statement statement(device,
                        "INSERT INTO messages (id, folder, entry_id, subject, flags, "
                        "delivery_time, modified_time, sender) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    statement.Bind(1, *id);
    statement.Bind(2, folder->id);
    BindBytes(statement, 3, *entryId);
    BindOptional(statement, 4, seed.subject);
    BindOptional(statement, 5, seed.flags);
    BindOptional(statement, 6, seed.deliveryTime);
    BindOptional(statement, 7, seed.modifiedTime);
    BindOptional(statement, 8, seed.sender);
    if (statement.Step() != SQLITE_DONE) return Inserted::kFailed;
  }
  std::int64_t position = 0;
  for (const RecipientSeed& recipient : seed.recipients) {
    Statement statement(device,
                        "INSERT INTO recipients (message, position, display_name, address_type, "
                        "email, recipient_type) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    statement.Bind(1, *id);
    statement.Bind(2, position++);
    BindOptional(statement, 3, recipient.displayName);
    BindOptional(statement, 4, recipient.addressType);
    BindOptional(statement, 5, recipient.email);
    BindOptional(statement, 6, recipient.type);
    if (statement.Step() != SQLITE_DONE) return Inserted::kFailed;
  }
  if (!RecordEvent(device, folder->store, fnevObjectCreated, MAPI_MESSAGE, *entryId,
                   folder->entryId)) {
    return Inserted::kFailed;
  }
  return Inserted::kOk;
}

Inserted Insert(Device& device, const MessageSeed& seed, std::string* entryId) {
  WriteTransaction transaction(device);
  if (!transaction.ok()) return Inserted::kFailed;
  Inserted result = InsertRows(device, seed, entryId);
  if (result == Inserted::kOk && !transaction.Commit()) return Inserted::kFailed;
  return result;
}

std::runtime_error DatabaseError(Device& device, const std::string& what) {
  return std::runtime_error(what + ": " + sqlite3_errmsg(device.Db()));
}

// What a fresh phone's SMS store holds: two received messages, one sent and
// one draft. Times are in March 2012.
std::vector<MessageSeed> SampleMessages() {
  std::vector<MessageSeed> samples(4);
  samples[0].folder = "Inbox";
  samples[0].subject = "Are we still on for lunch?";
  samples[0].flags = MSGFLAG_READ;
  samples[0].deliveryTime = 129753111670000000;  // 2012-03-04 05:06:07 UTC
  samples[0].sender = "+15550100";

  samples[1].folder = "Inbox";
  samples[1].subject = "Caf\u00e9 at six? \u2014 Ann";
  samples[1].flags = 0;
  samples[1].deliveryTime = 129754458000000000;  // 2012-03-05 18:30:00 UTC
  samples[1].sender = "\"Ann Example\" <+15550101>";

  samples[2].folder = "Sent Items";
  samples[2].subject = "On my way";
  samples[2].flags = MSGFLAG_FROMME;
  samples[2].deliveryTime = 129754989000000000;  // 2012-03-06 09:15:00 UTC
  samples[2].recipients = {{"Bob Example", "SMS", "+15550102", MAPI_TO}};

  samples[3].folder = "Drafts";
  samples[3].subject = "See you tomorrow";
  samples[3].flags = MSGFLAG_FROMME | MSGFLAG_UNSENT;
  samples[3].modifiedTime = 129756303300000000;  // 2012-03-07 21:45:30 UTC
  samples[3].recipients = {{"Ann Example", "SMS", "+15550101", MAPI_TO}};
  return samples;
}

}  // namespace

bool SeedMessageStores(Device& device) {
  if (!AddStoreRows(device, "SMS") || !AddStoreRows(device, "Mail")) return false;
  for (const MessageSeed& sample : SampleMessages()) {
    std::string entryId;
    if (InsertRows(device, sample, &entryId) != Inserted::kOk) return false;
  }
  return true;
}

std::optional<std::string> InsertMessage(Device& device, const emulator::MessageSeed& seed) {
  try {
    std::string entryId;
    if (Insert(device, seed, &entryId) != Inserted::kOk) return std::nullopt;
    return entryId;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace platform

namespace emulator {

const std::vector<std::string>& StandardFolderNames() {
  static const std::vector<std::string> names(platform::kFolderNames.begin(),
                                              platform::kFolderNames.end());
  return names;
}

std::string SeedMessage(const MessageSeed& message) {
  auto device = platform::RequireDevice();
  std::string entryId;
  switch (platform::Insert(*device, message, &entryId)) {
    case platform::Inserted::kOk:
      return entryId;
    case platform::Inserted::kNoFolder:
      throw std::invalid_argument("no folder '" + message.folder + "' in message store '" +
                                  message.store + "'");
    case platform::Inserted::kBadId:
      throw std::invalid_argument("the entry id is empty or already in use");
    case platform::Inserted::kFailed:
      break;
  }
  throw platform::DatabaseError(*device, "cannot store a message");
}

std::vector<StoredMessage> ListMessages(const std::string& store, const std::string& folder) {
  using platform::Statement;
  auto device = platform::RequireDevice();
  auto lock = device->Lock();
  auto found = platform::FindFolder(*device, store, folder);
  if (!found) {
    throw std::invalid_argument("no folder '" + folder + "' in message store '" + store + "'");
  }
  std::vector<StoredMessage> messages;
  std::vector<std::int64_t> ids;
  Statement statement(*device,
                      "SELECT id, entry_id, subject, flags, delivery_time, modified_time, sender "
                      "FROM messages WHERE folder = ?1 ORDER BY id");
  statement.Bind(1, found->id);
  int rc;
  while ((rc = statement.Step()) == SQLITE_ROW) {
    StoredMessage& message = messages.emplace_back();
    ids.push_back(statement.Int(0));
    message.store = store;
    message.folder = folder;
    message.entryId = statement.Blob(1);
    message.MessageSeed::entryId = message.entryId;
    message.subject = platform::ReadText(statement, 2);
    if (!statement.IsNull(3)) message.flags = static_cast<std::uint32_t>(statement.Int(3));
    if (!statement.IsNull(4)) message.deliveryTime = static_cast<std::uint64_t>(statement.Int(4));
    if (!statement.IsNull(5)) message.modifiedTime = static_cast<std::uint64_t>(statement.Int(5));
    message.sender = platform::ReadText(statement, 6);
  }
  if (rc != SQLITE_DONE) throw platform::DatabaseError(*device, "cannot list messages");
  for (std::size_t i = 0; i < messages.size(); ++i) {
    Statement recipients(*device,
                         "SELECT display_name, address_type, email, recipient_type "
                         "FROM recipients WHERE message = ?1 ORDER BY position");
    recipients.Bind(1, ids[i]);
    while ((rc = recipients.Step()) == SQLITE_ROW) {
      RecipientSeed& recipient = messages[i].recipients.emplace_back();
      recipient.displayName = platform::ReadText(recipients, 0);
      recipient.addressType = platform::ReadText(recipients, 1);
      recipient.email = platform::ReadText(recipients, 2);
      if (!recipients.IsNull(3)) recipient.type = static_cast<std::uint32_t>(recipients.Int(3));
    }
    if (rc != SQLITE_DONE) throw platform::DatabaseError(*device, "cannot list recipients");
  }
  return messages;
}

void AddStore(const std::string& name) {
  if (name.empty()) throw std::invalid_argument("a message store needs a name");
  auto device = platform::RequireDevice();
  platform::WriteTransaction transaction(*device);
  if (!transaction.ok()) throw platform::DatabaseError(*device, "cannot lock the message store");
  if (platform::FindStore(*device, name)) {
    throw std::invalid_argument("message store '" + name + "' exists already");
  }
  if (!platform::AddStoreRows(*device, name) || !transaction.Commit()) {
    throw platform::DatabaseError(*device, "cannot add message store '" + name + "'");
  }
}

void CreateFolder(const std::string& store, const std::string& name) {
  using platform::Statement;
  if (name.empty()) throw std::invalid_argument("a folder needs a name");
  auto device = platform::RequireDevice();
  platform::WriteTransaction transaction(*device);
  if (!transaction.ok()) throw platform::DatabaseError(*device, "cannot lock the message store");
  auto storeId = platform::FindStore(*device, store);
  if (!storeId) throw std::invalid_argument("no message store '" + store + "'");
  if (platform::FindFolder(*device, store, name)) {
    throw std::invalid_argument("folder '" + name + "' exists already in '" + store + "'");
  }
  std::string storeEntryId;
  {
    Statement statement(*device, "SELECT entry_id FROM msg_stores WHERE id = ?1");
    statement.Bind(1, *storeId);
    if (statement.Step() == SQLITE_ROW) storeEntryId = statement.Blob(0);
  }
  // Folders have no parent folder here: the store stands in for it.
  auto folder = platform::AddFolder(*device, *storeId, name, std::nullopt);
  if (!folder ||
      !platform::RecordEvent(*device, *storeId, fnevObjectCreated, MAPI_FOLDER, folder->entryId,
                             storeEntryId) ||
      !transaction.Commit()) {
    throw platform::DatabaseError(*device, "cannot create folder '" + name + "'");
  }
}

std::string ReceiveSms(const std::string& from, const std::string& text,
                       const std::string& folder) {
  MessageSeed message;
  message.store = "SMS";
  message.folder = folder;
  message.subject = text;
  message.sender = from;
  message.flags = 0;
  message.deliveryTime = platform::NowFileTime();
  return SeedMessage(message);
}

}  // namespace emulator
