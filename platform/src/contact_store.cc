// The contact store: application, contacts folder, item collection and
// contact objects over the device's contacts table, and the emulator's
// control of that table.
#include "platform/contact_store.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "contact_store.h"
#include "core/com_object.h"
#include "core/fault.h"
#include "device/device.h"
#include "platform/emulator.h"
#include "platform/text_codec.h"

namespace platform {

namespace {

// Text property indexes; each is also the property's column in the SQL below.
enum TextProperty : int {
#define PLATFORM_TEXT_INDEX(Name) k##Name,
  PLATFORM_CONTACT_TEXT_PROPERTIES(PLATFORM_TEXT_INDEX)
#undef PLATFORM_TEXT_INDEX
      kTextCount
};

constexpr const char* kTextNames[] = {
#define PLATFORM_TEXT_NAME(Name) #Name,
    PLATFORM_CONTACT_TEXT_PROPERTIES(PLATFORM_TEXT_NAME)
#undef PLATFORM_TEXT_NAME
};

using TextValues = std::array<std::optional<std::u16string>, kTextCount>;

constexpr int kBirthdayColumn = kTextCount;  // 0-based result column
constexpr int kBirthdayParameter = kTextCount + 1;

std::string ColumnList() {
  std::string columns;
  for (const char* name : kTextNames) (columns += name) += ", ";
  return columns + "Birthday";
}

std::string Parameters(int count) {
  std::string list;
  for (int i = 1; i <= count; ++i) list += (i > 1 ? ", ?" : "?") + std::to_string(i);
  return list;
}

// The statement cache is keyed by the SQL pointer, so each generated text is
// built once and kept.
const char* SelectSql() {
  static const std::string sql = "SELECT " + ColumnList() + " FROM contacts WHERE oid = ?1";
  return sql.c_str();
}

// Adds nothing when the next oid would not fit 32 bits, which the caller sees
// as no change.
const char* InsertSql() {
  static const std::string sql =
      "INSERT INTO contacts (" + ColumnList() + ") SELECT " + Parameters(kTextCount + 1) +
      " WHERE max(ifnull((SELECT seq FROM sqlite_sequence WHERE name = 'contacts'), 0),"
      " ifnull((SELECT max(oid) FROM contacts), 0)) < 4294967295";
  return sql.c_str();
}

const char* UpdateSql() {
  static const std::string sql = [] {
    std::string text = "UPDATE contacts SET ";
    for (int i = 0; i < kTextCount; ++i) {
      text += std::string(kTextNames[i]) + " = ?" + std::to_string(i + 1) + ", ";
    }
    return text + "Birthday = ?" + std::to_string(kBirthdayParameter) + " WHERE oid = ?" +
           std::to_string(kBirthdayParameter + 1);
  }();
  return sql.c_str();
}

void BindValues(Statement& statement, const TextValues& text, DATE birthday) {
  for (int i = 0; i < kTextCount; ++i) {
    if (text[i]) {
      statement.Bind(i + 1, std::u16string_view(*text[i]));
    } else {
      statement.BindNull(i + 1);
    }
  }
  statement.Bind(kBirthdayParameter, birthday);
}

using OidList = std::shared_ptr<const std::vector<std::uint32_t>>;

// What the store keeps with each device: a count of the changes this process
// made to the contacts table, so that live collections know when to take a
// new snapshot, and the ordered ids as last read, with the versions they were
// read at (guarded by the device's Lock()).
struct ContactCache {
  std::atomic<std::uint64_t> version{0};
  std::uint64_t read_version = 0;
  std::int64_t data_version = 0;
  OidList oids;
};

// Records a change this process made to the contacts table. The shared id
// list stays current (a new oid is the largest, so it goes at the end), so
// that the next collection need not read every id again; the caller holds
// the lock. A device without a cache has no collection to tell.
void NoteChange(Device& device, std::uint32_t oid, bool inserted) {
  ContactCache* cache = device.Attached<ContactCache>();
  if (cache == nullptr) return;
  const std::uint64_t before = cache->version++;
  if (cache->oids == nullptr || cache->read_version != before) return;
  try {
    const auto& old = *cache->oids;
    auto next = std::make_shared<std::vector<std::uint32_t>>();
    next->reserve(old.size() + 1);
    if (inserted) {
      *next = old;
      next->push_back(oid);
    } else {
      std::remove_copy(old.begin(), old.end(), std::back_inserter(*next), oid);
    }
    cache->oids = std::move(next);
    cache->read_version = before + 1;
  } catch (const std::bad_alloc&) {
    cache->oids.reset();
  }
}

// Appends a row. E_FAIL on a database error or when the store has no 32-bit
// oid left.
HRESULT InsertContact(Device& device, const TextValues& text, DATE birthday, std::uint32_t* oid) {
  auto lock = device.Lock();
  Statement statement(device, InsertSql());
  if (!statement.ok()) return E_FAIL;
  BindValues(statement, text, birthday);
  if (statement.Step() != SQLITE_DONE || sqlite3_changes(device.Db()) == 0) return E_FAIL;
  *oid = static_cast<std::uint32_t>(sqlite3_last_insert_rowid(device.Db()));
  NoteChange(device, *oid, true);
  return S_OK;
}

// S_OK with the row's values, S_FALSE when there is no such row, E_FAIL or
// E_OUTOFMEMORY otherwise.
HRESULT ReadRow(Device& device, std::uint32_t oid, TextValues* text, DATE* birthday) {
  try {
    auto lock = device.Lock();
    Statement statement(device, SelectSql());
    if (!statement.ok()) return E_FAIL;
    statement.Bind(1, static_cast<std::int64_t>(oid));
    int rc = statement.Step();
    if (rc == SQLITE_DONE) return S_FALSE;
    if (rc != SQLITE_ROW) return E_FAIL;
    for (int i = 0; i < kTextCount; ++i) {
      std::u16string value = statement.IsNull(i) ? std::u16string() : statement.Text16(i);
      if (value.empty()) {
        (*text)[i].reset();
      } else {
        (*text)[i] = std::move(value);
      }
    }
    *birthday = statement.Double(kBirthdayColumn);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// The ordered ids, as of the cache's `version`. A list read before is shared
// while neither this process (the cache's version) nor another (the
// connection's data_version) has changed the database since, so that opening
// a collection costs one small query instead of a scan of the store.
HRESULT ReadOids(Device& device, ContactCache& cache, std::uint64_t version, OidList* oids) {
  try {
    auto lock = device.Lock();
    Statement changes(device, "PRAGMA data_version");
    if (changes.Step() != SQLITE_ROW) return E_FAIL;
    const std::int64_t data_version = changes.Int(0);
    if (cache.oids != nullptr && cache.read_version == version &&
        cache.data_version == data_version) {
      *oids = cache.oids;
      return S_OK;
    }
    Statement statement(device, "SELECT oid FROM contacts ORDER BY oid");
    if (!statement.ok()) return E_FAIL;
    auto fresh = std::make_shared<std::vector<std::uint32_t>>();
    int rc;
    while ((rc = statement.Step()) == SQLITE_ROW) {
      fresh->push_back(static_cast<std::uint32_t>(statement.Int(0)));
    }
    if (rc != SQLITE_DONE) return E_FAIL;
    cache.read_version = version;
    cache.data_version = data_version;
    cache.oids = fresh;
    *oids = std::move(fresh);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

class Contact final : public ComObject<IContact> {
 public:
  // Oid 0 is a new contact: nothing to load, stored at its first Save.
  Contact(std::shared_ptr<Device> device, std::uint32_t oid)
      : device_(std::move(device)), oid_(oid), loaded_(oid == 0) {}

#define PLATFORM_DEFINE_TEXT_PROPERTY(Name)                          \
  HRESULT get_##Name(BSTR* value) override {                         \
    if (auto fault = FaultAt("IContact::get_" #Name)) {              \
      if (value != nullptr) *value = nullptr;                        \
      return *fault;                                                 \
    }                                                                \
    return GetText(k##Name, value);                                  \
  }                                                                  \
  HRESULT put_##Name(BSTR value) override {                          \
    if (auto fault = FaultAt("IContact::put_" #Name)) return *fault; \
    return PutText(k##Name, value);                                  \
  }
  PLATFORM_CONTACT_TEXT_PROPERTIES(PLATFORM_DEFINE_TEXT_PROPERTY)
#undef PLATFORM_DEFINE_TEXT_PROPERTY

  HRESULT get_Birthday(DATE* value) override {
    if (auto fault = FaultAt("IContact::get_Birthday")) {
      if (value != nullptr) *value = 0.0;
      return *fault;
    }
    if (value == nullptr) return E_POINTER;
    *value = 0.0;
    if (HRESULT hr = Load(); FAILED(hr)) return hr;
    *value = birthday_;
    return S_OK;
  }

  HRESULT put_Birthday(DATE value) override {
    if (auto fault = FaultAt("IContact::put_Birthday")) return *fault;
    if (HRESULT hr = Load(); FAILED(hr)) return hr;
    birthday_ = value;
    return S_OK;
  }

  HRESULT get_Oid(LONG* oid) override {
    if (auto fault = FaultAt("IContact::get_Oid")) {
      if (oid != nullptr) *oid = 0;
      return *fault;
    }
    if (oid == nullptr) return E_POINTER;
    *oid = static_cast<LONG>(oid_);
    return S_OK;
  }

  HRESULT Save() override {
    if (auto fault = FaultAt("IContact::Save")) return *fault;
    if (oid_ == 0) return InsertContact(*device_, text_, birthday_, &oid_);
    auto lock = device_->Lock();
    if (!loaded_) {
      // Nothing read or changed: there is nothing to write, only the row to
      // find.
      Statement statement(*device_, "SELECT 1 FROM contacts WHERE oid = ?1");
      if (!statement.ok()) return E_FAIL;
      statement.Bind(1, static_cast<std::int64_t>(oid_));
      return statement.Step() == SQLITE_ROW ? S_OK : E_FAIL;
    }
    Statement statement(*device_, UpdateSql());
    if (!statement.ok()) return E_FAIL;
    BindValues(statement, text_, birthday_);
    statement.Bind(kBirthdayParameter + 1, static_cast<std::int64_t>(oid_));
    if (statement.Step() != SQLITE_DONE || sqlite3_changes(device_->Db()) == 0) return E_FAIL;
    return S_OK;
  }

  HRESULT Delete() override {
    if (auto fault = FaultAt("IContact::Delete")) return *fault;
    if (oid_ == 0) return E_FAIL;
    auto lock = device_->Lock();
    Statement statement(*device_, "DELETE FROM contacts WHERE oid = ?1");
    if (!statement.ok()) return E_FAIL;
    statement.Bind(1, static_cast<std::int64_t>(oid_));
    if (statement.Step() != SQLITE_DONE || sqlite3_changes(device_->Db()) == 0) return E_FAIL;
    NoteChange(*device_, oid_, false);
    return S_OK;
  }

 private:
  HRESULT Load() {
    if (loaded_) return S_OK;
    HRESULT hr = ReadRow(*device_, oid_, &text_, &birthday_);
    if (hr == S_FALSE) return E_FAIL;  // deleted by another process
    if (FAILED(hr)) return hr;
    loaded_ = true;
    return S_OK;
  }

  HRESULT GetText(int index, BSTR* value) {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    if (HRESULT hr = Load(); FAILED(hr)) return hr;
    const auto& text = text_[index];
    if (!text) return S_OK;
    *value = SysAllocStringByteLen(reinterpret_cast<const char*>(text->data()),
                                   static_cast<UINT>(text->size() * sizeof(WCHAR)));
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT PutText(int index, const WCHAR* value) {
    if (HRESULT hr = Load(); FAILED(hr)) return hr;
    if (value == nullptr || value[0] == 0) {
      text_[index].reset();
      return S_OK;
    }
    try {
      text_[index] = std::u16string(value);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  std::shared_ptr<Device> device_;
  std::uint32_t oid_;
  bool loaded_;
  TextValues text_;
  DATE birthday_ = 0.0;
};

class ItemCollection final : public ComObject<IPOutlookItemCollection> {
 public:
  explicit ItemCollection(std::shared_ptr<Device> device) : device_(std::move(device)) {}

  HRESULT TakeSnapshot() {
    if (cache_ == nullptr) cache_ = device_->Attached<ContactCache>();
    if (cache_ == nullptr) return E_OUTOFMEMORY;
    std::uint64_t version = cache_->version.load();
    if (HRESULT hr = ReadOids(*device_, *cache_, version, &oids_); FAILED(hr)) return hr;
    version_ = version;
    return S_OK;
  }

  HRESULT get_Count(int* count) override {
    if (auto fault = FaultAt("IPOutlookItemCollection::get_Count")) {
      if (count != nullptr) *count = 0;
      return *fault;
    }
    if (count == nullptr) return E_POINTER;
    *count = 0;
    if (HRESULT hr = Refresh(); FAILED(hr)) return hr;
    *count = static_cast<int>(oids_->size());
    return S_OK;
  }

  HRESULT Item(int index, IDispatch** item) override {
    if (auto fault = FaultAt("IPOutlookItemCollection::Item")) {
      if (item != nullptr) *item = nullptr;
      return *fault;
    }
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (HRESULT hr = Refresh(); FAILED(hr)) return hr;
    if (index < 1 || static_cast<std::size_t>(index) > oids_->size()) return E_INVALIDARG;
    Contact* contact = NewObject<Contact>(device_, (*oids_)[static_cast<std::size_t>(index) - 1]);
    if (contact == nullptr) return E_OUTOFMEMORY;
    *item = static_cast<IContact*>(contact);
    return S_OK;
  }

  HRESULT Add(IDispatch** item) override {
    if (auto fault = FaultAt("IPOutlookItemCollection::Add")) {
      if (item != nullptr) *item = nullptr;
      return *fault;
    }
    if (item == nullptr) return E_POINTER;
    Contact* contact = NewObject<Contact>(device_, 0u);
    *item = contact;
    return contact != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  // Follows the Saves and Deletes made in this process since the snapshot.
  HRESULT Refresh() {
    if (cache_->version.load() == version_) return S_OK;
    return TakeSnapshot();
  }

  std::shared_ptr<Device> device_;
  ContactCache* cache_ = nullptr;  // lives as long as device_
  OidList oids_;
  std::uint64_t version_ = 0;
};

class ContactsFolder final : public ComObject<IFolder> {
 public:
  explicit ContactsFolder(std::shared_ptr<Device> device) : device_(std::move(device)) {}

  HRESULT get_Items(IPOutlookItemCollection** items) override {
    if (auto fault = FaultAt("IFolder::get_Items")) {
      if (items != nullptr) *items = nullptr;
      return *fault;
    }
    if (items == nullptr) return E_POINTER;
    *items = nullptr;
    ItemCollection* collection = NewObject<ItemCollection>(device_);
    if (collection == nullptr) return E_OUTOFMEMORY;
    if (HRESULT hr = collection->TakeSnapshot(); FAILED(hr)) {
      collection->Release();
      return hr;
    }
    *items = collection;
    return S_OK;
  }

 private:
  std::shared_ptr<Device> device_;
};

class Application final : public ComObject<IPOutlookApp> {
 public:
  explicit Application(std::shared_ptr<Device> device) : device_(std::move(device)) {}

  HRESULT Logon(long /*window*/) override {
    if (auto fault = FaultAt("IPOutlookApp::Logon")) return *fault;
    logged_on_ = true;
    return S_OK;
  }

  HRESULT Logoff() override {
    if (auto fault = FaultAt("IPOutlookApp::Logoff")) return *fault;
    logged_on_ = false;
    return S_OK;
  }

  HRESULT GetDefaultFolder(int folder, IFolder** result) override {
    if (auto fault = FaultAt("IPOutlookApp::GetDefaultFolder")) {
      if (result != nullptr) *result = nullptr;
      return *fault;
    }
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (!logged_on_) return E_FAIL;
    if (folder != olFolderContacts) return E_INVALIDARG;
    ContactsFolder* contacts = NewObject<ContactsFolder>(device_);
    *result = contacts;
    return contacts != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 protected:
  const IID* Iid() const override { return &IID_IPOutlookApp; }

 private:
  std::shared_ptr<Device> device_;
  bool logged_on_ = false;
};

}  // namespace

HRESULT CreateContactApplication(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  auto device = CurrentDevice();
  if (!device) return E_FAIL;
  Application* app = NewObject<Application>(std::move(device));
  if (app == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = app->QueryInterface(riid, object);
  app->Release();
  return hr;
}

}  // namespace platform

namespace emulator {

const std::vector<std::string>& ContactPropertyNames() {
  static const std::vector<std::string> names(std::begin(platform::kTextNames),
                                              std::end(platform::kTextNames));
  return names;
}

std::uint32_t SeedContact(const std::map<std::string, std::string>& text, double birthday) {
  platform::TextValues values;
  for (const auto& [name, value] : text) {
    const auto& names = ContactPropertyNames();
    auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) throw std::invalid_argument("no contact property '" + name + "'");
    if (!value.empty()) values[found - names.begin()] = textcodec::ToUtf16(value);
  }
  auto device = platform::RequireDevice();
  std::uint32_t oid = 0;
  if (FAILED(platform::InsertContact(*device, values, birthday, &oid))) {
    throw std::runtime_error("cannot add a contact: " + std::string(sqlite3_errmsg(device->Db())));
  }
  return oid;
}

std::optional<StoredContact> ReadContact(std::uint32_t oid) {
  auto device = platform::RequireDevice();
  platform::TextValues values;
  StoredContact contact;
  HRESULT hr = platform::ReadRow(*device, oid, &values, &contact.birthday);
  if (hr == S_FALSE) return std::nullopt;
  if (FAILED(hr)) throw std::runtime_error("cannot read contact " + std::to_string(oid));
  contact.oid = oid;
  for (int i = 0; i < platform::kTextCount; ++i) {
    if (values[i]) contact.text[platform::kTextNames[i]] = textcodec::ToUtf8(*values[i]);
  }
  return contact;
}

std::vector<std::uint32_t> ContactOids() {
  auto device = platform::RequireDevice();
  auto* cache = device->Attached<platform::ContactCache>();
  platform::OidList oids;
  if (cache == nullptr ||
      FAILED(platform::ReadOids(*device, *cache, cache->version.load(), &oids))) {
    throw std::runtime_error("cannot list contacts");
  }
  return *oids;
}

void SetNextContactOid(std::uint32_t oid) {
  using platform::Statement;
  auto device = platform::RequireDevice();
  auto lock = device->Lock();
  if (!device->Exec("BEGIN IMMEDIATE")) throw std::runtime_error("cannot lock the contact store");
  auto fail = [&](auto error) {
    device->Exec("ROLLBACK");
    throw error;
  };
  std::int64_t highest = -1;
  {
    Statement statement(*device,
                        "SELECT max(ifnull((SELECT seq FROM sqlite_sequence WHERE name = "
                        "'contacts'), 0), ifnull((SELECT max(oid) FROM contacts), 0))");
    if (statement.Step() == SQLITE_ROW) highest = statement.Int(0);
  }
  if (highest < 0) fail(std::runtime_error("cannot read the contact store's last oid"));
  if (oid <= highest) {
    fail(std::invalid_argument("oid " + std::to_string(oid) + " is not above the last one given (" +
                               std::to_string(highest) + ")"));
  }
  bool written = false;
  {
    Statement update(*device, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'contacts'");
    update.Bind(1, static_cast<std::int64_t>(oid) - 1);
    written = update.Step() == SQLITE_DONE && sqlite3_changes(device->Db()) > 0;
  }
  if (!written) {
    Statement insert(*device, "INSERT INTO sqlite_sequence (name, seq) VALUES ('contacts', ?1)");
    insert.Bind(1, static_cast<std::int64_t>(oid) - 1);
    written = insert.Step() == SQLITE_DONE;
  }
  if (!written || !device->Exec("COMMIT")) fail(std::runtime_error("cannot set the next oid"));
}

}  // namespace emulator
