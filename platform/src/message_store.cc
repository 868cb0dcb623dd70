// The messaging object model over the device's message tables: session,
// stores, folders, messages, their tables, and the buffers they hand out.
#include "platform/message_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/accounting.h"
#include "core/com_object.h"
#include "core/fault.h"
#include "device/device.h"
#include "device/message_rows.h"
#include "device/notifier.h"

namespace platform {
namespace {

// Longest tag list and entry id accepted from a caller; real ones are far
// shorter, and a bound keeps a garbage count from running far.
constexpr ULONG kMaxTags = 4096;
constexpr ULONG kMaxEntryIdBytes = 4096;

// A property an object has, with its own type.
struct Prop {
  ULONG tag = 0;
  std::int64_t number = 0;  // PT_LONG, PT_SYSTIME
  std::u16string text;      // PT_UNICODE
  std::string bytes;        // PT_BINARY
};
using PropList = std::vector<Prop>;

Prop NumberProp(ULONG tag, std::int64_t number) {
  Prop prop;
  prop.tag = tag;
  prop.number = number;
  return prop;
}

Prop TextProp(ULONG tag, std::u16string text) {
  Prop prop;
  prop.tag = tag;
  prop.text = std::move(text);
  return prop;
}

Prop BytesProp(ULONG tag, std::string bytes) {
  Prop prop;
  prop.tag = tag;
  prop.bytes = std::move(bytes);
  return prop;
}

const Prop* FindProp(const PropList& props, ULONG tag) {
  for (const Prop& prop : props) {
    if (PROP_ID(prop.tag) == PROP_ID(tag)) return &prop;
  }
  return nullptr;
}

template <typename Body>
HRESULT Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

void* AllocateBuffer(std::size_t bytes) {
  if (AllocationFails()) return nullptr;
  void* buffer = std::calloc(1, bytes != 0 ? bytes : 1);
  if (buffer != nullptr) CountBuffer(1);
  return buffer;
}

// The values of `tags` (every property of `props` when null) in one buffer:
// the value array, then the texts, then the binaries. A property that is
// missing, or asked for with another type, becomes a PT_ERROR value and sets
// *missing. Null when the buffer cannot be had.
SPropValue* PackValues(const PropList& props, const ULONG* tags, ULONG count, bool* missing) {
  std::vector<const Prop*> chosen(count);
  std::size_t textBytes = 0, binaryBytes = 0;
  *missing = false;
  for (ULONG i = 0; i < count; ++i) {
    const Prop* prop = tags != nullptr ? FindProp(props, tags[i]) : &props[i];
    if (prop != nullptr && tags != nullptr && PROP_TYPE(prop->tag) != PROP_TYPE(tags[i])) {
      prop = nullptr;
    }
    chosen[i] = prop;
    if (prop == nullptr) {
      *missing = true;
    } else if (PROP_TYPE(prop->tag) == PT_UNICODE) {
      textBytes += (prop->text.size() + 1) * sizeof(WCHAR);
    } else if (PROP_TYPE(prop->tag) == PT_BINARY) {
      binaryBytes += prop->bytes.size();
    }
  }
  const std::size_t valueBytes = count * sizeof(SPropValue);
  auto* block = static_cast<char*>(AllocateBuffer(valueBytes + textBytes + binaryBytes));
  if (block == nullptr) return nullptr;
  auto* values = reinterpret_cast<SPropValue*>(block);
  char* text = block + valueBytes;
  char* binary = text + textBytes;
  for (ULONG i = 0; i < count; ++i) {
    SPropValue& value = values[i];
    const Prop* prop = chosen[i];
    if (prop == nullptr) {
      value.ulPropTag = CHANGE_PROP_TYPE(tags[i], PT_ERROR);
      value.Value.err = MAPI_E_NOT_FOUND;
      continue;
    }
    value.ulPropTag = prop->tag;
    switch (PROP_TYPE(prop->tag)) {
      case PT_UNICODE: {
        const std::size_t bytes = prop->text.size() * sizeof(WCHAR);
        std::memcpy(text, prop->text.data(), bytes);  // the zero after it is calloc's
        value.Value.lpszW = reinterpret_cast<WCHAR*>(text);
        text += bytes + sizeof(WCHAR);
        break;
      }
      case PT_BINARY:
        if (!prop->bytes.empty()) std::memcpy(binary, prop->bytes.data(), prop->bytes.size());
        value.Value.bin.cb = static_cast<ULONG>(prop->bytes.size());
        value.Value.bin.lpb = reinterpret_cast<BYTE*>(binary);
        binary += prop->bytes.size();
        break;
      case PT_SYSTIME: {
        const auto time = static_cast<std::uint64_t>(prop->number);
        value.Value.ft.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFF);
        value.Value.ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
        break;
      }
      default:
        value.Value.ul = static_cast<ULONG>(prop->number);
        break;
    }
  }
  return values;
}

// GetProps over an object's properties.
HRESULT GetPropsOf(const PropList& props, SPropTagArray* tags, ULONG* count, SPropValue** values) {
  if (count == nullptr || values == nullptr) return E_INVALIDARG;
  if (tags != nullptr && (tags->cValues == 0 || tags->cValues > kMaxTags)) return E_INVALIDARG;
  const ULONG wanted = tags != nullptr ? tags->cValues : static_cast<ULONG>(props.size());
  bool missing = false;
  SPropValue* packed =
      PackValues(props, tags != nullptr ? tags->aulPropTag : nullptr, wanted, &missing);
  if (packed == nullptr) return E_OUTOFMEMORY;
  *count = wanted;
  *values = packed;
  return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

// A row set of `rows`, each with the columns `tags` (every property the row
// has when null).
HRESULT PackRows(const std::vector<PropList>& rows, const ULONG* tags, ULONG count,
                 SRowSet** result) {
  const std::size_t extra = rows.size() > 1 ? rows.size() - 1 : 0;
  auto* set = static_cast<SRowSet*>(AllocateBuffer(sizeof(SRowSet) + extra * sizeof(SRow)));
  if (set == nullptr) return E_OUTOFMEMORY;
  SRow* out = set->aRow;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ULONG columns = tags != nullptr ? count : static_cast<ULONG>(rows[i].size());
    bool missing = false;
    SPropValue* values = PackValues(rows[i], tags, columns, &missing);
    if (values == nullptr) {
      FreeProws(set);
      return E_OUTOFMEMORY;
    }
    out[i].cValues = columns;
    out[i].lpProps = values;
    set->cRows = static_cast<ULONG>(i + 1);
  }
  *result = set;
  return S_OK;
}

// Null both outputs of an OpenEntry and copy the entry id.
HRESULT StartOpen(ULONG entryIdBytes, LPENTRYID entryId, ULONG* objectType, IUnknown** object,
                  std::string* id) {
  if (objectType != nullptr) *objectType = 0;
  if (object != nullptr) *object = nullptr;
  if (object == nullptr) return E_INVALIDARG;
  if (entryId == nullptr || entryIdBytes == 0 || entryIdBytes > kMaxEntryIdBytes) {
    return MAPI_E_INVALID_ENTRYID;
  }
  id->assign(reinterpret_cast<const char*>(entryId), entryIdBytes);
  return S_OK;
}

template <typename T>
HRESULT Hand(T* created, ULONG type, ULONG* objectType, IUnknown** object) {
  if (created == nullptr) return E_OUTOFMEMORY;
  *object = created;
  if (objectType != nullptr) *objectType = type;
  return S_OK;
}

template <typename T>
HRESULT HandTable(T* created, IMAPITable** table) {
  if (created == nullptr) return E_OUTOFMEMORY;
  *table = created;
  return S_OK;
}

// --- Tables -----------------------------------------------------------------

// Fault points, arguments and row packing of every table; the subclass
// keeps the rows and the cursor.
class Table : public ComObject<IMAPITable> {
 public:
  HRESULT SetColumns(SPropTagArray* columns, ULONG /*flags*/) override {
    if (auto fault = FaultAt("IMAPITable::SetColumns")) return *fault;
    if (columns == nullptr || columns->cValues == 0 || columns->cValues > kMaxTags) {
      return E_INVALIDARG;
    }
    return Guarded([&] {
      const ULONG* tags = columns->aulPropTag;
      columns_.assign(tags, tags + columns->cValues);
      every_property_ = false;
      return S_OK;
    });
  }

  HRESULT QueryRows(LONG rowCount, ULONG /*flags*/, SRowSet** rows) override {
    if (rows != nullptr) *rows = nullptr;
    if (auto fault = FaultAt("IMAPITable::QueryRows")) return *fault;
    if (rows == nullptr || rowCount == 0) return E_INVALIDARG;
    // Rows that cannot be handed out are not passed either.
    const std::int64_t cursor = cursor_;
    HRESULT hr = Guarded([&] {
      std::vector<PropList> found;
      if (HRESULT fetched = Fetch(rowCount, &found); FAILED(fetched)) return fetched;
      return PackRows(found, every_property_ ? nullptr : columns_.data(),
                      static_cast<ULONG>(columns_.size()), rows);
    });
    if (FAILED(hr)) cursor_ = cursor;
    return hr;
  }

  HRESULT GetRowCount(ULONG /*flags*/, ULONG* count) override {
    if (count != nullptr) *count = 0;
    if (auto fault = FaultAt("IMAPITable::GetRowCount")) return *fault;
    if (count == nullptr) return E_INVALIDARG;
    return Count(count);
  }

  HRESULT SeekRow(BOOKMARK origin, LONG rowCount, LONG* rowsSought) override {
    if (rowsSought != nullptr) *rowsSought = 0;
    if (auto fault = FaultAt("IMAPITable::SeekRow")) return *fault;
    if (origin != BOOKMARK_BEGINNING && origin != BOOKMARK_CURRENT && origin != BOOKMARK_END) {
      return E_INVALIDARG;
    }
    LONG sought = 0;
    HRESULT hr = Seek(origin, rowCount, &sought);
    if (SUCCEEDED(hr) && rowsSought != nullptr) *rowsSought = sought;
    return hr;
  }

 protected:
  // Columns given; with `everything` a row carries every property it has.
  Table(std::vector<ULONG> columns, bool everything)
      : columns_(std::move(columns)), every_property_(everything) {}

  // Up to |count| rows after the cursor (before it when negative, still in
  // table order), moving the cursor past them.
  virtual HRESULT Fetch(LONG count, std::vector<PropList>* rows) = 0;
  virtual HRESULT Count(ULONG* count) = 0;
  virtual HRESULT Seek(BOOKMARK origin, LONG count, LONG* sought) = 0;

  const std::vector<ULONG>& columns() const { return columns_; }

  // Where the subclass keeps its cursor.
  std::int64_t cursor_ = 0;

 private:
  std::vector<ULONG> columns_;
  bool every_property_;
};

// Rows read when the table was made: the stores and recipient tables.
class SnapshotTable final : public Table {
 public:
  SnapshotTable(std::vector<PropList> rows, std::vector<ULONG> columns, bool everything)
      : Table(std::move(columns), everything), rows_(std::move(rows)) {}

 protected:
  HRESULT Fetch(LONG count, std::vector<PropList>* rows) override {
    const auto size = static_cast<std::int64_t>(rows_.size());
    std::int64_t from = cursor_, to = std::clamp<std::int64_t>(cursor_ + count, 0, size);
    if (to < from) std::swap(from, to);
    rows->assign(rows_.begin() + from, rows_.begin() + to);
    cursor_ = count > 0 ? to : from;
    return S_OK;
  }

  HRESULT Count(ULONG* count) override {
    *count = static_cast<ULONG>(rows_.size());
    return S_OK;
  }

  HRESULT Seek(BOOKMARK origin, LONG count, LONG* sought) override {
    const auto size = static_cast<std::int64_t>(rows_.size());
    std::int64_t base = origin == BOOKMARK_BEGINNING ? 0 : origin == BOOKMARK_END ? size : cursor_;
    cursor_ = std::clamp<std::int64_t>(base + count, 0, size);
    *sought = static_cast<LONG>(cursor_ - base);
    return S_OK;
  }

 private:
  std::vector<PropList> rows_;  // the cursor is the index of the next row
};

// Message properties in the order of MESSAGE_COLUMNS, which a query selects
// from its column `first` on.
constexpr ULONG kMessageProps[] = {PR_ENTRYID,
                                   PR_SUBJECT_W,
                                   PR_MESSAGE_FLAGS,
                                   PR_MESSAGE_DELIVERY_TIME,
                                   PR_LAST_MODIFICATION_TIME,
                                   PR_SENDER_EMAIL_ADDRESS_W,
                                   PR_OBJECT_TYPE};
#define MESSAGE_COLUMNS "m.entry_id, m.subject, m.flags, m.delivery_time, m.modified_time, m.sender"

// Adds the message property with the id of `tag`, if the row has it.
void AddMessageProp(const Statement& row, int first, ULONG tag, PropList* props) {
  for (int i = 0; i < static_cast<int>(std::size(kMessageProps)); ++i) {
    const ULONG known = kMessageProps[i];
    if (PROP_ID(known) != PROP_ID(tag)) continue;
    if (known == PR_OBJECT_TYPE) {
      props->push_back(NumberProp(known, MAPI_MESSAGE));
      return;
    }
    const int column = first + i;
    if (row.IsNull(column)) return;
    switch (PROP_TYPE(known)) {
      case PT_UNICODE:
        props->push_back(TextProp(known, row.Text16(column)));
        break;
      case PT_BINARY:
        props->push_back(BytesProp(known, row.Blob(column)));
        break;
      default:
        props->push_back(NumberProp(known, row.Int(column)));
        break;
    }
    return;
  }
}

PropList MessageProps(const Statement& row, int first) {
  PropList props;
  for (ULONG tag : kMessageProps) AddMessageProp(row, first, tag, &props);
  return props;
}

// A folder's messages in id order, read when asked. The cursor is the id of
// the last row passed, so rows added or deleted under it never make it skip
// or repeat one.
class ContentsTable final : public Table {
 public:
  ContentsTable(std::shared_ptr<Device> device, std::int64_t folder)
      : Table({PR_ENTRYID}, false), device_(std::move(device)), folder_(folder) {}

 protected:
  HRESULT Fetch(LONG count, std::vector<PropList>* rows) override {
    auto lock = device_->Lock();
    const bool forward = count > 0;
    Statement statement(*device_, forward ? "SELECT id, " MESSAGE_COLUMNS
                                            " FROM messages m WHERE folder = ?1 AND id > ?2 "
                                            "ORDER BY id LIMIT ?3"
                                          : "SELECT id, " MESSAGE_COLUMNS
                                            " FROM messages m WHERE folder = ?1 AND id <= ?2 "
                                            "ORDER BY id DESC LIMIT ?3");
    if (!statement.ok()) return E_FAIL;
    statement.Bind(1, folder_);
    statement.Bind(2, cursor_);
    statement.Bind(3, Magnitude(count));
    std::int64_t last = cursor_;
    int rc;
    while ((rc = statement.Step()) == SQLITE_ROW) {
      PropList& props = rows->emplace_back();
      for (ULONG tag : columns()) {
        if (FindProp(props, tag) == nullptr) AddMessageProp(statement, 1, tag, &props);
      }
      last = statement.Int(0);
    }
    if (rc != SQLITE_DONE) return E_FAIL;
    if (forward) {
      cursor_ = last;
    } else {
      std::reverse(rows->begin(), rows->end());
      if (!rows->empty()) cursor_ = last - 1;  // just before the first row returned
    }
    return S_OK;
  }

  HRESULT Count(ULONG* count) override {
    auto lock = device_->Lock();
    Statement statement(*device_, "SELECT count(*) FROM messages WHERE folder = ?1");
    statement.Bind(1, folder_);
    if (statement.Step() != SQLITE_ROW) return E_FAIL;
    *count = static_cast<ULONG>(statement.Int(0));
    return S_OK;
  }

  HRESULT Seek(BOOKMARK origin, LONG count, LONG* sought) override {
    auto lock = device_->Lock();
    std::int64_t base = cursor_;
    if (origin == BOOKMARK_BEGINNING) {
      base = 0;
    } else if (origin == BOOKMARK_END) {
      Statement statement(*device_, "SELECT ifnull(max(id), 0) FROM messages WHERE folder = ?1");
      statement.Bind(1, folder_);
      if (statement.Step() != SQLITE_ROW) return E_FAIL;
      base = statement.Int(0);
    }
    if (count == 0) {
      cursor_ = base;
      return S_OK;
    }
    const bool forward = count > 0;
    Statement statement(*device_, forward
                                      ? "SELECT id FROM messages WHERE folder = ?1 AND id > ?2 "
                                        "ORDER BY id LIMIT ?3"
                                      : "SELECT id FROM messages WHERE folder = ?1 AND id <= ?2 "
                                        "ORDER BY id DESC LIMIT ?3");
    statement.Bind(1, folder_);
    statement.Bind(2, base);
    statement.Bind(3, Magnitude(count));
    LONG passed = 0;
    std::int64_t last = base;
    int rc;
    while ((rc = statement.Step()) == SQLITE_ROW) {
      last = statement.Int(0);
      ++passed;
    }
    if (rc != SQLITE_DONE) return E_FAIL;
    cursor_ = passed == 0 ? base : forward ? last : last - 1;
    *sought = forward ? passed : -passed;
    return S_OK;
  }

 private:
  static std::int64_t Magnitude(LONG count) {
    return count < 0 ? -static_cast<std::int64_t>(count) : count;
  }

  std::shared_ptr<Device> device_;
  std::int64_t folder_;
};

// --- Objects ----------------------------------------------------------------

class Message final : public ComObject<IMessage> {
 public:
  Message(std::shared_ptr<Device> device, std::int64_t id, PropList props)
      : device_(std::move(device)), id_(id), props_(std::move(props)) {}

  HRESULT GetProps(SPropTagArray* tags, ULONG /*flags*/, ULONG* count,
                   SPropValue** values) override {
    if (count != nullptr) *count = 0;
    if (values != nullptr) *values = nullptr;
    if (auto fault = FaultAt("IMessage::GetProps")) return *fault;
    return GetPropsOf(props_, tags, count, values);
  }

  HRESULT GetRecipientTable(ULONG /*flags*/, IMAPITable** table) override {
    if (table != nullptr) *table = nullptr;
    if (auto fault = FaultAt("IMessage::GetRecipientTable")) return *fault;
    if (table == nullptr) return E_INVALIDARG;
    return Guarded([&] {
      std::vector<PropList> rows;
      {
        auto lock = device_->Lock();
        Statement statement(*device_,
                            "SELECT display_name, address_type, recipient_type, email "
                            "FROM recipients WHERE message = ?1 ORDER BY position");
        statement.Bind(1, id_);
        int rc;
        while ((rc = statement.Step()) == SQLITE_ROW) {
          PropList& row = rows.emplace_back();
          if (!statement.IsNull(0)) row.push_back(TextProp(PR_DISPLAY_NAME_W, statement.Text16(0)));
          if (!statement.IsNull(1)) row.push_back(TextProp(PR_ADDRTYPE_W, statement.Text16(1)));
          if (!statement.IsNull(2)) row.push_back(NumberProp(PR_RECIPIENT_TYPE, statement.Int(2)));
          if (!statement.IsNull(3))
            row.push_back(TextProp(PR_EMAIL_ADDRESS_W, statement.Text16(3)));
        }
        if (rc != SQLITE_DONE) return E_FAIL;
      }
      return HandTable(NewObject<SnapshotTable>(std::move(rows), std::vector<ULONG>{}, true),
                       table);
    });
  }

 private:
  std::shared_ptr<Device> device_;
  std::int64_t id_;
  PropList props_;
};

// Opens the message `id` of the store `store`, and of the folder `folder`
// when that is not 0.
HRESULT OpenMessage(const std::shared_ptr<Device>& device, std::int64_t store, std::int64_t folder,
                    const std::string& id, ULONG* objectType, IUnknown** object) {
  std::int64_t row = 0;
  PropList props;
  {
    auto lock = device->Lock();
    Statement statement(*device, "SELECT m.id, m.folder, f.store, " MESSAGE_COLUMNS
                                 " FROM messages m JOIN msg_folders f ON f.id = m.folder "
                                 "WHERE m.entry_id = ?1");
    statement.BindBlob(1, id.data(), static_cast<int>(id.size()));
    int rc = statement.Step();
    if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
    if (rc != SQLITE_ROW) return E_FAIL;
    if (statement.Int(2) != store || (folder != 0 && statement.Int(1) != folder)) {
      return MAPI_E_NOT_FOUND;
    }
    row = statement.Int(0);
    props = MessageProps(statement, 3);
  }
  return Hand(NewObject<Message>(device, row, std::move(props)), MAPI_MESSAGE, objectType, object);
}

class Folder final : public ComObject<IMAPIFolder> {
 public:
  Folder(std::shared_ptr<Device> device, std::int64_t id, std::int64_t store, PropList props)
      : device_(std::move(device)), id_(id), store_(store), props_(std::move(props)) {}

  HRESULT GetProps(SPropTagArray* tags, ULONG /*flags*/, ULONG* count,
                   SPropValue** values) override {
    if (count != nullptr) *count = 0;
    if (values != nullptr) *values = nullptr;
    if (auto fault = FaultAt("IMAPIFolder::GetProps")) return *fault;
    return GetPropsOf(props_, tags, count, values);
  }

  HRESULT GetContentsTable(ULONG /*flags*/, IMAPITable** table) override {
    if (table != nullptr) *table = nullptr;
    if (auto fault = FaultAt("IMAPIFolder::GetContentsTable")) return *fault;
    if (table == nullptr) return E_INVALIDARG;
    return HandTable(NewObject<ContentsTable>(device_, id_), table);
  }

  HRESULT OpenEntry(ULONG entryIdBytes, LPENTRYID entryId, const IID* /*iid*/, ULONG /*flags*/,
                    ULONG* objectType, IUnknown** object) override {
    if (objectType != nullptr) *objectType = 0;
    if (object != nullptr) *object = nullptr;
    if (auto fault = FaultAt("IMAPIFolder::OpenEntry")) return *fault;
    return Guarded([&] {
      std::string id;
      if (HRESULT hr = StartOpen(entryIdBytes, entryId, objectType, object, &id); FAILED(hr)) {
        return hr;
      }
      return OpenMessage(device_, store_, id_, id, objectType, object);
    });
  }

  HRESULT DeleteMessages(SBinaryArray* messages, ULONG_PTR /*window*/, IMAPIProgress* /*progress*/,
                         ULONG /*flags*/) override {
    if (auto fault = FaultAt("IMAPIFolder::DeleteMessages")) return *fault;
    if (messages == nullptr || (messages->cValues != 0 && messages->lpbin == nullptr)) {
      return E_INVALIDARG;
    }
    if (messages->cValues == 0) return S_OK;
    WriteTransaction transaction(*device_);
    if (!transaction.ok()) return E_FAIL;
    ULONG deleted = 0;
    for (ULONG i = 0; i < messages->cValues; ++i) {
      const SBinary& id = messages->lpbin[i];
      if (id.lpb == nullptr || id.cb == 0 || id.cb > kMaxEntryIdBytes) continue;
      std::int64_t row = 0;
      {
        Statement find(*device_, "SELECT id FROM messages WHERE entry_id = ?1 AND folder = ?2");
        find.BindBlob(1, id.lpb, static_cast<int>(id.cb));
        find.Bind(2, id_);
        int rc = find.Step();
        if (rc == SQLITE_DONE) continue;
        if (rc != SQLITE_ROW) return E_FAIL;
        row = find.Int(0);
      }
      if (!DeleteRows(row)) return E_FAIL;
      ++deleted;
    }
    if (!transaction.Commit()) return E_FAIL;
    if (deleted == 0) return MAPI_E_NOT_FOUND;
    return deleted == messages->cValues ? S_OK : MAPI_W_PARTIAL_COMPLETION;
  }

  HRESULT EmptyFolder(ULONG_PTR /*window*/, IMAPIProgress* /*progress*/, ULONG /*flags*/) override {
    if (auto fault = FaultAt("IMAPIFolder::EmptyFolder")) return *fault;
    WriteTransaction transaction(*device_);
    if (!transaction.ok()) return E_FAIL;
    Statement recipients(*device_,
                         "DELETE FROM recipients WHERE message IN "
                         "(SELECT id FROM messages WHERE folder = ?1)");
    recipients.Bind(1, id_);
    Statement messages(*device_, "DELETE FROM messages WHERE folder = ?1");
    messages.Bind(1, id_);
    if (recipients.Step() != SQLITE_DONE || messages.Step() != SQLITE_DONE) return E_FAIL;
    return transaction.Commit() ? S_OK : E_FAIL;
  }

 private:
  bool DeleteRows(std::int64_t message) {
    Statement recipients(*device_, "DELETE FROM recipients WHERE message = ?1");
    recipients.Bind(1, message);
    Statement row(*device_, "DELETE FROM messages WHERE id = ?1");
    row.Bind(1, message);
    return recipients.Step() == SQLITE_DONE && row.Step() == SQLITE_DONE;
  }

  std::shared_ptr<Device> device_;
  std::int64_t id_;
  std::int64_t store_;
  PropList props_;
};

// The five standard folders' entry-id properties, by role.
constexpr ULONG kFolderTags[] = {PR_CE_IPM_INBOX_ENTRYID, PR_IPM_OUTBOX_ENTRYID,
                                 PR_IPM_SENTMAIL_ENTRYID, PR_CE_IPM_DRAFTS_ENTRYID,
                                 PR_IPM_WASTEBASKET_ENTRYID};

class Store final : public ComObject<IMsgStore> {
 public:
  Store(std::shared_ptr<Device> device, std::int64_t id, PropList props)
      : device_(std::move(device)), id_(id), props_(std::move(props)) {}

  HRESULT GetProps(SPropTagArray* tags, ULONG /*flags*/, ULONG* count,
                   SPropValue** values) override {
    if (count != nullptr) *count = 0;
    if (values != nullptr) *values = nullptr;
    if (auto fault = FaultAt("IMsgStore::GetProps")) return *fault;
    return GetPropsOf(props_, tags, count, values);
  }

  HRESULT OpenEntry(ULONG entryIdBytes, LPENTRYID entryId, const IID* /*iid*/, ULONG /*flags*/,
                    ULONG* objectType, IUnknown** object) override {
    if (objectType != nullptr) *objectType = 0;
    if (object != nullptr) *object = nullptr;
    if (auto fault = FaultAt("IMsgStore::OpenEntry")) return *fault;
    return Guarded([&] {
      std::string id;
      if (HRESULT hr = StartOpen(entryIdBytes, entryId, objectType, object, &id); FAILED(hr)) {
        return hr;
      }
      std::int64_t folder = 0;
      PropList props;
      {
        auto lock = device_->Lock();
        Statement statement(*device_,
                            "SELECT id, name FROM msg_folders WHERE entry_id = ?1 AND store = ?2");
        statement.BindBlob(1, id.data(), static_cast<int>(id.size()));
        statement.Bind(2, id_);
        int rc = statement.Step();
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) return E_FAIL;
        if (rc == SQLITE_ROW) {
          folder = statement.Int(0);
          props = {TextProp(PR_DISPLAY_NAME_W, statement.Text16(1)), BytesProp(PR_ENTRYID, id),
                   NumberProp(PR_OBJECT_TYPE, MAPI_FOLDER)};
        }
      }
      if (folder == 0) return OpenMessage(device_, id_, 0, id, objectType, object);
      return Hand(NewObject<Folder>(device_, folder, id_, std::move(props)), MAPI_FOLDER,
                  objectType, object);
    });
  }

  HRESULT Advise(ULONG entryIdBytes, LPENTRYID entryId, ULONG eventMask, IMAPIAdviseSink* sink,
                 ULONG* connection) override {
    if (connection != nullptr) *connection = 0;
    if (auto fault = FaultAt("IMsgStore::Advise")) return *fault;
    // Only the whole store can be watched.
    if (entryIdBytes != 0 || entryId != nullptr) return MAPI_E_NO_SUPPORT;
    return Guarded([&] { return AdviseSink(device_, id_, eventMask, sink, connection); });
  }

  HRESULT Unadvise(ULONG connection) override {
    if (auto fault = FaultAt("IMsgStore::Unadvise")) return *fault;
    return UnadviseSink(connection);
  }

 private:
  std::shared_ptr<Device> device_;
  std::int64_t id_;
  PropList props_;
};

class Session final : public ComObject<IMAPISession> {
 public:
  explicit Session(std::shared_ptr<Device> device) : device_(std::move(device)) {}

  HRESULT GetMsgStoresTable(ULONG /*flags*/, IMAPITable** table) override {
    if (table != nullptr) *table = nullptr;
    if (auto fault = FaultAt("IMAPISession::GetMsgStoresTable")) return *fault;
    if (table == nullptr) return E_INVALIDARG;
    return Guarded([&] {
      std::vector<PropList> rows;
      {
        auto lock = device_->Lock();
        Statement statement(*device_, "SELECT entry_id, name FROM msg_stores ORDER BY id");
        int rc;
        while ((rc = statement.Step()) == SQLITE_ROW) {
          rows.push_back({BytesProp(PR_ENTRYID, statement.Blob(0)),
                          TextProp(PR_DISPLAY_NAME_W, statement.Text16(1)),
                          NumberProp(PR_OBJECT_TYPE, MAPI_STORE)});
        }
        if (rc != SQLITE_DONE) return E_FAIL;
      }
      return HandTable(
          NewObject<SnapshotTable>(std::move(rows),
                                   std::vector<ULONG>{PR_ENTRYID, PR_DISPLAY_NAME_W}, false),
          table);
    });
  }

  HRESULT OpenEntry(ULONG entryIdBytes, LPENTRYID entryId, const IID* /*iid*/, ULONG /*flags*/,
                    ULONG* objectType, IUnknown** object) override {
    if (objectType != nullptr) *objectType = 0;
    if (object != nullptr) *object = nullptr;
    if (auto fault = FaultAt("IMAPISession::OpenEntry")) return *fault;
    return Guarded([&] {
      std::string id;
      if (HRESULT hr = StartOpen(entryIdBytes, entryId, objectType, object, &id); FAILED(hr)) {
        return hr;
      }
      std::int64_t store = 0;
      PropList props;
      {
        auto lock = device_->Lock();
        Statement statement(*device_, "SELECT id, name FROM msg_stores WHERE entry_id = ?1");
        statement.BindBlob(1, id.data(), static_cast<int>(id.size()));
        int rc = statement.Step();
        if (rc == SQLITE_DONE) return MAPI_E_NOT_FOUND;
        if (rc != SQLITE_ROW) return E_FAIL;
        store = statement.Int(0);
        props = {TextProp(PR_DISPLAY_NAME_W, statement.Text16(1)), BytesProp(PR_ENTRYID, id),
                 NumberProp(PR_OBJECT_TYPE, MAPI_STORE)};
        Statement folders(*device_,
                          "SELECT role, entry_id FROM msg_folders WHERE store = ?1 "
                          "AND role BETWEEN 0 AND 4 ORDER BY role");
        folders.Bind(1, store);
        while ((rc = folders.Step()) == SQLITE_ROW) {
          props.push_back(BytesProp(kFolderTags[folders.Int(0)], folders.Blob(1)));
        }
        if (rc != SQLITE_DONE) return E_FAIL;
      }
      return Hand(NewObject<Store>(device_, store, std::move(props)), MAPI_STORE, objectType,
                  object);
    });
  }

  HRESULT Logoff(ULONG_PTR /*window*/, ULONG /*flags*/, ULONG /*reserved*/) override {
    if (auto fault = FaultAt("IMAPISession::Logoff")) return *fault;
    return S_OK;
  }

 private:
  std::shared_ptr<Device> device_;
};

std::mutex g_mapi_mutex;
int g_mapi_users = 0;

}  // namespace
}  // namespace platform

HRESULT MAPIInitialize(void* /*init*/) {
  if (auto fault = platform::FaultAt("MAPIInitialize")) return *fault;
  std::lock_guard lock(platform::g_mapi_mutex);
  ++platform::g_mapi_users;
  return S_OK;
}

void MAPIUninitialize() {
  {
    std::lock_guard lock(platform::g_mapi_mutex);
    if (platform::g_mapi_users == 0 || --platform::g_mapi_users > 0) return;
  }
  // Outside the lock: the notifier may be inside a sink that calls in here.
  platform::StopNotifier();
}

HRESULT MAPILogonEx(ULONG_PTR /*window*/, WCHAR* /*profile*/, WCHAR* /*password*/, ULONG /*flags*/,
                    IMAPISession** session) {
  if (session != nullptr) *session = nullptr;
  if (auto fault = platform::FaultAt("MAPILogonEx")) return *fault;
  if (session == nullptr) return E_INVALIDARG;
  {
    std::lock_guard lock(platform::g_mapi_mutex);
    if (platform::g_mapi_users == 0) return MAPI_E_NOT_INITIALIZED;
  }
  auto device = platform::CurrentDevice();
  if (!device) return E_FAIL;
  auto* created = platform::NewObject<platform::Session>(std::move(device));
  if (created == nullptr) return E_OUTOFMEMORY;
  *session = created;
  return S_OK;
}

ULONG MAPIFreeBuffer(void* buffer) {
  if (buffer != nullptr) {
    std::free(buffer);
    platform::CountBuffer(-1);
  }
  return S_OK;
}

void FreeProws(SRowSet* rows) {
  if (rows == nullptr) return;
  SRow* row = rows->aRow;
  for (ULONG i = 0; i < rows->cRows; ++i) MAPIFreeBuffer(row[i].lpProps);
  MAPIFreeBuffer(rows);
}
