// Turns the paths the file calls receive into host paths confined to the
// device's fs/ folder; the accepted forms are described in platform/files.h.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/types.h"

namespace platform {

class Device;

// The host path `path` names, or nullopt when it is refused, with *error
// (when given) set to ERROR_ACCESS_DENIED for a path that leads outside fs/
// and ERROR_INVALID_PARAMETER for a malformed one (empty, a NUL, a ":" in a
// name, text that is not valid UTF). Symbolic links are resolved, so the
// result names the file that an open would reach; a missing tail is kept as
// given (with the case of existing entries for phone paths).
std::optional<std::filesystem::path> ResolvePath(const Device& device, std::u16string_view path,
                                                 DWORD* error = nullptr);
std::optional<std::filesystem::path> ResolvePath(const Device& device, std::string_view utf8,
                                                 DWORD* error = nullptr);

}  // namespace platform
