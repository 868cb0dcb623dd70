#include "device/device.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <system_error>

#include "device/message_rows.h"
#include "device/registry_rows.h"
#include "platform/device_folder.h"
#include "platform/emulator.h"
#include "platform/registry.h"
#include "platform/text_codec.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Each entry moves the schema one version up; the index plus one is the
// version it produces. Entries are never edited once released: a change is a
// new entry.
constexpr const char* kMigrations[] = {
    // 1: contacts and the registry.
    R"sql(
    CREATE TABLE contacts (
      oid INTEGER PRIMARY KEY AUTOINCREMENT,
      FirstName TEXT, MiddleName TEXT, LastName TEXT, Title TEXT, Suffix TEXT,
      JobTitle TEXT, CompanyName TEXT, Department TEXT, OfficeLocation TEXT,
      HomeTelephoneNumber TEXT, BusinessTelephoneNumber TEXT, MobileTelephoneNumber TEXT,
      HomeFaxNumber TEXT, BusinessFaxNumber TEXT, Email1Address TEXT, WebPage TEXT,
      Body TEXT, Categories TEXT,
      HomeAddressStreet TEXT, HomeAddressCity TEXT, HomeAddressState TEXT,
      HomeAddressPostalCode TEXT, HomeAddressCountry TEXT,
      BusinessAddressStreet TEXT, BusinessAddressCity TEXT, BusinessAddressState TEXT,
      BusinessAddressPostalCode TEXT, BusinessAddressCountry TEXT,
      OtherAddressStreet TEXT, OtherAddressCity TEXT, OtherAddressState TEXT,
      OtherAddressPostalCode TEXT, OtherAddressCountry TEXT,
      Birthday REAL NOT NULL DEFAULT 0
    );
    -- Collections snapshot the ordered ids; this narrow index lets them do so
    -- without reading every row.
    CREATE INDEX contacts_by_oid ON contacts (oid);
    CREATE TABLE registry_keys (
      root TEXT NOT NULL,
      path TEXT NOT NULL COLLATE NOCASE,
      PRIMARY KEY (root, path)
    );
    CREATE TABLE registry_values (
      root TEXT NOT NULL,
      path TEXT NOT NULL COLLATE NOCASE,
      name TEXT NOT NULL COLLATE NOCASE,
      type INTEGER NOT NULL,
      data BLOB NOT NULL,
      PRIMARY KEY (root, path, name)
    );
    )sql",
    // 2: message stores, the SMS radio's log, launches, device settings.
    R"sql(
    CREATE TABLE msg_stores (
      id INTEGER PRIMARY KEY,
      name TEXT NOT NULL UNIQUE COLLATE NOCASE,
      entry_id BLOB NOT NULL UNIQUE
    );
    CREATE TABLE msg_folders (
      id INTEGER PRIMARY KEY,
      store INTEGER NOT NULL REFERENCES msg_stores (id),
      name TEXT NOT NULL COLLATE NOCASE,
      role INTEGER,  -- 0 Inbox, 1 Outbox, 2 Sent Items, 3 Drafts, 4 Deleted Items
      entry_id BLOB NOT NULL UNIQUE,
      UNIQUE (store, name)
    );
    -- Every property may be missing (NULL), as on the phone. Times are file
    -- times.
    CREATE TABLE messages (
      id INTEGER PRIMARY KEY AUTOINCREMENT,
      folder INTEGER NOT NULL REFERENCES msg_folders (id),
      entry_id BLOB NOT NULL UNIQUE,
      subject TEXT,
      flags INTEGER,
      delivery_time INTEGER,
      modified_time INTEGER,
      sender TEXT
    );
    CREATE INDEX messages_by_folder ON messages (folder, id);
    CREATE TABLE recipients (
      message INTEGER NOT NULL REFERENCES messages (id) ON DELETE CASCADE,
      position INTEGER NOT NULL,
      display_name TEXT,
      address_type TEXT,
      email TEXT,
      recipient_type INTEGER,
      PRIMARY KEY (message, position)
    );
    -- Object events of the message stores, read in order by each process's
    -- notifier.
    CREATE TABLE msg_events (
      id INTEGER PRIMARY KEY AUTOINCREMENT,
      store INTEGER NOT NULL,
      event INTEGER NOT NULL,
      object_type INTEGER NOT NULL,
      entry_id BLOB NOT NULL,
      parent_id BLOB
    );
    CREATE TABLE sms_sent (
      id INTEGER PRIMARY KEY AUTOINCREMENT,
      address_type INTEGER NOT NULL,
      address TEXT NOT NULL,
      text TEXT NOT NULL,
      data_bytes INTEGER NOT NULL,
      message_class INTEGER NOT NULL,
      encoding INTEGER NOT NULL,
      options INTEGER NOT NULL,
      sent_time INTEGER NOT NULL
    );
    CREATE TABLE launches (
      id INTEGER PRIMARY KEY AUTOINCREMENT,
      application TEXT NOT NULL,
      command_line TEXT NOT NULL,
      launch_time INTEGER NOT NULL,
      started INTEGER NOT NULL
    );
    CREATE TABLE settings (
      key TEXT PRIMARY KEY,
      value TEXT
    );
    )sql",
};
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

// Folders every phone has.
constexpr const char* kStandardFolders[] = {"Windows", "My Documents", "My Documents/My Ringtones",
                                            "Temp"};

// Sound files of a fresh phone: short tones, so that a copied ringtone is a
// real file a player accepts.
struct SoundFile {
  const char* path;
  double hertz;
};
constexpr SoundFile kSounds[] = {
    {"Windows/Ring1.wav", 440.0},
    {"Windows/Alert1.wav", 880.0},
    {"My Documents/My Ringtones/Chime.wav", 660.0},
};

// The number a fresh phone answers to.
constexpr const char kOwnNumber[] = "+15550199";

struct DefaultString {
  const char* key;
  const char* name;
  const char* value;
};
constexpr DefaultString kDefaultRegistry[] = {
    {"ControlPanel\\Notifications\\{A877D65B-239C-47a7-9304-0D347F580408}", "Wave",
     "\\Windows\\Alert1.wav"},
    {"ControlPanel\\Sounds\\RingTone0", "Sound", "\\Windows\\Ring1.wav"},
};

std::string Wav(double hertz) {
  constexpr std::uint32_t kRate = 8000, kSamples = 1600;  // 0.2 s, 8-bit mono
  std::string wav;
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) wav.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto put16 = [&](std::uint16_t v) {
    wav.push_back(static_cast<char>(v & 0xFF));
    wav.push_back(static_cast<char>(v >> 8));
  };
  wav += "RIFF";
  put32(36 + kSamples);
  wav += "WAVEfmt ";
  put32(16);
  put16(1);      // PCM
  put16(1);      // mono
  put32(kRate);  // sample rate
  put32(kRate);  // byte rate
  put16(1);      // block align
  put16(8);      // bits per sample
  wav += "data";
  put32(kSamples);
  for (std::uint32_t i = 0; i < kSamples; ++i) {
    double s = std::sin(2 * M_PI * hertz * i / kRate);
    wav.push_back(static_cast<char>(static_cast<unsigned char>(128 + 60 * s)));
  }
  return wav;
}

// The temporary name under which a seeded file is made before it is
// published under its own (a device database takes emulator::kNewDevicePrefix).
constexpr char kNewFileSuffix[] = ".new-XXXXXX";

// Removes a temporary database and what SQLite may have left beside it.
void RemoveDatabaseFiles(const fs::path& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    fs::remove(path.string() + suffix, ec);
  }
}

// Gives the complete file at `temp` its name `path`, unless a file of that
// name exists already (made by another process meanwhile); `temp` goes
// either way. False with errno set for any other failure.
bool Publish(const fs::path& temp, const fs::path& path) {
  const bool linked = link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  const int error = errno;
  unlink(temp.c_str());
  errno = error;
  return linked;
}

// A file named from `pattern` (ending in XXXXXX), made and closed; empty with
// errno set when it cannot be made.
std::string MakeTempFile(std::string pattern) {
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return {};
  close(fd);
  return pattern;
}

fs::path DefaultDir() {
  return emulator::DefaultDeviceDir();
}

// "what 'path': detail", built by appending (gcc 12 misreports
// `literal + std::string&&` chains under -O3).
std::string Describe(std::string_view what, const fs::path& path, std::string_view detail) {
  std::string message(what);
  message += " '";
  message += path.string();
  message += "'";
  if (!detail.empty()) {
    message += ": ";
    message += detail;
  }
  return message;
}

std::mutex g_current_mutex;
std::shared_ptr<Device> g_current;

// The reason of the last failed open, kept among every reason given so far:
// those are few, and a pointer handed out stays valid for good.
std::mutex g_error_mutex;
const char* g_last_error = nullptr;

void RecordOpenFailure(const std::string& message) {
  static auto* reasons = new std::set<std::string>;  // never destroyed: pointers escape
  std::lock_guard lock(g_error_mutex);
  g_last_error = reasons->insert(message).first->c_str();
}

}  // namespace

std::shared_ptr<Device> Device::Open(const fs::path& dir, std::string* error) {
  std::shared_ptr<Device> device = Load(dir, error);
  if (!device) RecordOpenFailure(*error);
  return device;
}

std::shared_ptr<Device> Device::Load(const fs::path& dir, std::string* error) {
  std::error_code ec;
  const fs::path db_path = dir / "device.db";
  if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) {
    *error = Describe("not a device folder:", dir, "it is a file, not a folder");
    return nullptr;
  }
  bool made = false;
  if (!fs::exists(db_path, ec)) {
    if (fs::exists(dir, ec) && !emulator::IsFreshFolder(dir)) {
      *error = Describe("not a device folder (it holds files but no device.db):", dir, "");
      return nullptr;
    }
    fs::create_directories(dir, ec);
    if (ec) {
      *error = Describe("cannot create", dir, ec.message());
      return nullptr;
    }
    if (!Make(dir, db_path, error)) return nullptr;
    made = true;
  }
  const auto bytes = fs::file_size(db_path, ec);
  if (ec) {
    *error = Describe("cannot read", db_path, ec.message());
    return nullptr;
  }
  if (bytes == 0) {
    *error = db_path.string() +
             " is empty (0 bytes), so it holds no phone; remove it to make a fresh phone here";
    return nullptr;
  }
  std::shared_ptr<Device> device(new Device);
  bool upgraded = false;
  if (!device->Connect(db_path, error) || !device->Migrate(&upgraded, error)) return nullptr;
  fs::create_directories(dir / "fs", ec);
  if (ec) {
    *error = Describe("cannot create", dir / "fs", ec.message());
    return nullptr;
  }
  device->dir_ = fs::absolute(dir, ec);
  device->fs_root_ = fs::canonical(dir / "fs", ec);
  if (ec) {
    *error = Describe("cannot resolve", dir / "fs", ec.message());
    return nullptr;
  }
  for (const char* folder : kStandardFolders) fs::create_directories(device->fs_root_ / folder, ec);
  if (made || upgraded) device->SeedFiles();
  return device;
}

// Builds a complete device database under a temporary name in `dir` and
// publishes it as `db_path`, so that no process ever sees a device.db that
// is empty or half made. When another process publishes first, theirs is
// kept. The WAL is checkpointed and gone before the database is published.
bool Device::Make(const fs::path& dir, const fs::path& db_path, std::string* error) {
  error->clear();
  const std::string temp = MakeTempFile((dir / emulator::kNewDevicePrefix).string() + "XXXXXX");
  if (temp.empty()) {
    *error = Describe("cannot create a device in", dir, std::strerror(errno));
    return false;
  }
  bool built = false;
  {
    Device building;
    bool upgraded = false;
    // The encoding applies only while the file is still empty; text is kept
    // as UTF-16 so that the store hands back exactly the code units it was
    // given.
    built = building.Connect(temp, error) && building.Exec("PRAGMA encoding = 'UTF-16le'") &&
            building.Migrate(&upgraded, error);
    if (!built && error->empty())
      *error = Describe("cannot set up", temp, sqlite3_errmsg(building.db_));
  }
  if (!built) {
    RemoveDatabaseFiles(temp);
    return false;
  }
  if (!Publish(temp, db_path)) {
    *error = Describe("cannot create", db_path, std::strerror(errno));
    RemoveDatabaseFiles(temp);
    return false;
  }
  return true;
}

// Opens the database at `path`, which exists, and sets up the connection.
// Changes nothing in a database already set up.
bool Device::Connect(const fs::path& path, std::string* error) {
  int rc =
      sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    *error = Describe("cannot open", path, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    return false;
  }
  sqlite3_busy_timeout(db_, 10000);
  if (!Exec("PRAGMA journal_mode = WAL") || !Exec("PRAGMA synchronous = NORMAL")) {
    const int code = sqlite3_errcode(db_);
    *error = code == SQLITE_NOTADB
                 ? path.string() + " is not a phone's database (not an SQLite file)"
                 : Describe("cannot set up", path, sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

Device::~Device() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  if (db_ != nullptr) sqlite3_close(db_);
}

sqlite3_stmt* Device::Prepare(const char* sql) {
  auto found = statements_.find(sql);
  if (found != statements_.end()) return found->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    return nullptr;
  }
  statements_.emplace(sql, stmt);
  return stmt;
}

bool Device::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The schema version the database records; false on a read error.
bool Device::ReadVersion(int* version) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &stmt, nullptr);
  const bool read = stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW;
  if (read) *version = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return read;
}

// Brings the schema to kSchemaVersion in one write transaction, so that two
// processes upgrading a device at once do it exactly once. A device whose
// schema is current is only read: opening it works on a full disk and while
// another process writes.
bool Device::Migrate(bool* upgraded, std::string* error) {
  *upgraded = false;
  auto fail = [&](const std::string& what) {
    *error = what + ": " + sqlite3_errmsg(db_);
    Exec("ROLLBACK");
    return false;
  };
  auto newer = [&](int version) {
    *error = "the device was made by a newer version (schema " + std::to_string(version) +
             ", this build knows " + std::to_string(kSchemaVersion) + ")";
    return false;
  };
  int version = 0;
  if (!ReadVersion(&version)) return fail("cannot read the device schema");
  if (version > kSchemaVersion) return newer(version);
  if (version == kSchemaVersion) return true;
  if (!Exec("BEGIN IMMEDIATE")) return fail("cannot lock the device database");
  if (!ReadVersion(&version)) return fail("cannot read the device schema");
  if (version > kSchemaVersion) {
    Exec("ROLLBACK");
    return newer(version);
  }
  for (int v = version; v < kSchemaVersion; ++v) {
    if (!Exec(kMigrations[v]) || !SeedVersion(v + 1)) {
      return fail("cannot upgrade the device to schema " + std::to_string(v + 1));
    }
  }
  if (version < kSchemaVersion) {
    std::string set_version = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    if (!Exec(set_version.c_str())) return fail("cannot record the schema version");
  }
  if (!Exec("COMMIT")) return fail("cannot commit the device schema");
  *upgraded = version < kSchemaVersion;
  return true;
}

// What a phone has from the start, for the tables that schema `version`
// brought.
bool Device::SeedVersion(int version) {
  switch (version) {
    case 1:
      return SeedRegistry();
    case 2: {
      Statement own(*this, "INSERT INTO settings (key, value) VALUES ('own_number', ?1)");
      own.Bind(1, std::string_view(kOwnNumber));
      return own.Step() == SQLITE_DONE && SeedMessageStores(*this);
    }
    default:
      return true;
  }
}

bool Device::SeedRegistry() {
  for (const auto& entry : kDefaultRegistry) {
    std::u16string key = textcodec::ToUtf16(entry.key);
    std::u16string data = textcodec::ToUtf16(entry.value);
    data.push_back(0);
    bool created = false;
    if (!StoreKey(*this, "HKCU", &key, &created) ||
        !StoreValue(*this, "HKCU", key, textcodec::ToUtf16(entry.name), REG_SZ, data.data(),
                    static_cast<int>(data.size() * sizeof(char16_t)))) {
      return false;
    }
  }
  return true;
}

// Files a new schema brings; those already there are left alone. Each is
// written under a temporary name and published whole, since a process that
// made the same device at the same moment may be writing it too.
void Device::SeedFiles() {
  auto write = [&](const char* path, const std::string& bytes) {
    std::error_code ec;
    const fs::path target = fs_root_ / path;
    if (fs::exists(target, ec)) return;
    const std::string temp = MakeTempFile(target.string() + kNewFileSuffix);
    if (temp.empty()) return;
    std::ofstream(temp, std::ios::binary) << bytes;
    Publish(temp, target);
  };
  for (const auto& sound : kSounds) write(sound.path, Wav(sound.hertz));
  // The theme tool only has to be there: launches are emulated.
  write("Windows/cusTSK.exe", "theme tool\n");
}

std::shared_ptr<Device> CurrentDevice() {
  std::lock_guard lock(g_current_mutex);
  if (!g_current) {
    std::string error;
    g_current = Device::Open(DefaultDir(), &error);
  }
  return g_current;
}

void SetCurrentDevice(std::shared_ptr<Device> device) {
  std::lock_guard lock(g_current_mutex);
  g_current = std::move(device);
}

std::shared_ptr<Device> RequireDevice() {
  auto device = CurrentDevice();
  if (!device) throw std::runtime_error("no device can be opened");
  return device;
}

}  // namespace platform

extern "C" const char* PhoneDeviceError(void) {
  std::lock_guard lock(platform::g_error_mutex);
  return platform::g_last_error;
}
