// The message store's rows, shared by the store's objects, the radio's
// delivery to the device's own number, and the emulator.
#pragma once

#include <cstdint>
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

}  // namespace platform
