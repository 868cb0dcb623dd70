// The message store's rows, shared by the store's objects, the radio's
// delivery to the device's own number, and the emulator.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/device.h"
#include "platform/emulator.h"

namespace platform {

// Creates the stores, folders and sample messages of a fresh device. Runs
// inside the device's first schema transaction.
bool SeedMessageStores(Device& device);

// Stores a message as the seed describes and records its object-created
// event. Returns the new entry id, or nullopt when the store or folder does
// not exist, the seed's entry id is empty or taken, or the database fails.
// The caller does not hold the lock.
std::optional<std::string> InsertMessage(Device& device, const emulator::MessageSeed& seed);

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
