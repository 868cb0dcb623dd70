// The registry's rows, shared by the registry calls and by the phone's own
// services (sound settings, the theme tool, a new device's defaults), which
// write settings without passing the registry calls' fault points. Roots are
// stored by their short names; key paths have single backslashes and no
// leading or trailing one, "" being the root itself.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "device/device.h"
#include "platform/types.h"

namespace platform {

// The stored spelling of key `path` under `root` in *stored, or nullopt when
// there is no such key; ERROR_REGISTRY_IO_FAILED on a database error. The
// caller holds device.Lock().
LONG FindKey(Device& device, const std::string& root, const std::u16string& path,
             std::optional<std::u16string>* stored);

// A value's type and bytes; ERROR_FILE_NOT_FOUND when there is none.
LONG ReadValue(Device& device, const std::string& root, std::u16string_view path,
               std::u16string_view name, DWORD* type, std::string* data);

// Creates key `*path` under `root` ("HKCU", ...) and every missing key above
// it; a new name joins the stored spelling of its parent, and *path becomes
// the stored spelling. *created tells whether the key itself is new. The
// caller holds device.Lock() inside a write transaction.
bool StoreKey(Device& device, std::string_view root, std::u16string* path, bool* created);

// Sets a value of an existing key; a value already there keeps the spelling
// of its name. The caller holds device.Lock().
bool StoreValue(Device& device, std::string_view root, std::u16string_view path,
                std::u16string_view name, DWORD type, const void* data, int bytes);

// Sets REG_SZ and REG_DWORD values under an HKCU key, created when missing,
// in one transaction.
bool WriteUserValues(
    Device& device, std::u16string_view key,
    std::initializer_list<std::pair<std::u16string_view, std::u16string_view>> strings,
    std::initializer_list<std::pair<std::u16string_view, DWORD>> numbers = {});

}  // namespace platform
