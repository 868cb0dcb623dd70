// The emulated device: a folder with device.db (SQLite, WAL) and fs/, the
// phone's file-system root. Platform objects hold a shared reference to the
// device they were made on, so closing or switching devices never leaves
// them dangling.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>

namespace platform {

class Device {
 public:
  // Opens or creates the device in `dir`; null with a message in *error,
  // which PhoneDeviceError then gives too.
  static std::shared_ptr<Device> Open(const std::filesystem::path& dir, std::string* error);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }
  // Canonical path of fs/, the root every phone path resolves under.
  const std::filesystem::path& FsRoot() const { return fs_root_; }

  // Serialises use of the connection and of the statement cache. Hold it
  // around every Statement.
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  sqlite3* Db() const { return db_; }

  // A prepared statement for `sql` (a string literal), cached for the
  // device's life. The caller holds Lock().
  sqlite3_stmt* Prepare(const char* sql);

  // Runs SQL without results; false on error.
  bool Exec(const char* sql);

  // What a service keeps with this device (a cache, say): one T, made on
  // first use and destroyed with the device, which knows nothing of it. Null
  // when it cannot be made.
  template <typename T>
  T* Attached() {
    std::lock_guard lock(mutex_);
    try {
      auto& slot = attached_[std::type_index(typeid(T))];
      if (slot == nullptr) slot = std::make_shared<T>();
      return static_cast<T*>(slot.get());
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

 private:
  Device() = default;
  static std::shared_ptr<Device> Load(const std::filesystem::path& dir, std::string* error);
  static bool Make(const std::filesystem::path& dir, const std::filesystem::path& db_path,
                   std::string* error);
  bool Connect(const std::filesystem::path& path, std::string* error);
  bool ReadVersion(int* version);
  bool Migrate(bool* upgraded, std::string* error);
  bool SeedVersion(int version);
  bool SeedRegistry();
  void SeedFiles();

  std::filesystem::path dir_;
  std::filesystem::path fs_root_;
  sqlite3* db_ = nullptr;
  std::recursive_mutex mutex_;
  std::map<const char*, sqlite3_stmt*> statements_;
  std::map<std::type_index, std::shared_ptr<void>> attached_;
};

// The current device, opened on first use from PHONE_DEVICE_DIR or the
// default folder; null when it cannot be opened.
std::shared_ptr<Device> CurrentDevice();

// Makes `device` the current one; null closes it, so that the next use
// opens the default folder again.
void SetCurrentDevice(std::shared_ptr<Device> device);

// The current device for the emulator's calls, which throw
// std::runtime_error when no device can be opened.
std::shared_ptr<Device> RequireDevice();

// A statement from the device's cache, reset and unbound when it goes out of
// scope. Text is bound and read as UTF-16, the database's encoding.
class Statement {
 public:
  Statement(Device& device, const char* sql) : stmt_(device.Prepare(sql)) {}
  ~Statement() {
    if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }

  void Bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void Bind(int index, double value) { sqlite3_bind_double(stmt_, index, value); }
  void Bind(int index, std::u16string_view text) {
    sqlite3_bind_text16(stmt_, index, text.data(), static_cast<int>(text.size() * 2),
                        SQLITE_TRANSIENT);
  }
  void Bind(int index, std::string_view utf8) {
    sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
  }
  void BindBlob(int index, const void* data, int bytes) {
    sqlite3_bind_blob(stmt_, index, bytes ? data : "", bytes, SQLITE_TRANSIENT);
  }
  void BindNull(int index) { sqlite3_bind_null(stmt_, index); }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }

  bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Double(int column) const { return sqlite3_column_double(stmt_, column); }
  std::u16string Text16(int column) const {
    auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt_, column));
    int bytes = sqlite3_column_bytes16(stmt_, column);
    return text ? std::u16string(text, static_cast<std::size_t>(bytes) / 2) : std::u16string();
  }
  std::string Blob(int column) const {
    auto* data = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    int bytes = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(data, static_cast<std::size_t>(bytes)) : std::string();
  }

 private:
  sqlite3_stmt* stmt_;
};

// Holds the device lock and a write transaction, rolled back unless
// committed. Check ok() before writing.
class WriteTransaction {
 public:
  explicit WriteTransaction(Device& device)
      : device_(device), lock_(device.Lock()), open_(device.Exec("BEGIN IMMEDIATE")) {}
  ~WriteTransaction() {
    if (open_) device_.Exec("ROLLBACK");
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  bool ok() const { return open_; }
  bool Commit() {
    if (!open_ || !device_.Exec("COMMIT")) return false;
    open_ = false;
    return true;
  }

 private:
  Device& device_;
  std::unique_lock<std::recursive_mutex> lock_;
  bool open_;
};

}  // namespace platform
