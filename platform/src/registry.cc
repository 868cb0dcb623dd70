// The registry calls: key handles over the registry's rows in the device
// database (device/registry_rows.h).
#include "platform/registry.h"

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "core/fault.h"
#include "core/handles.h"
#include "device/device.h"
#include "device/registry_rows.h"
#include "platform/emulator.h"
#include "platform/text_codec.h"

// An open key. The path is spelled as stored, which is how the key was first
// created; the key keeps its device even after the emulator switches to
// another.
struct RegistryKey {
  std::string root;
  std::u16string path;
  std::shared_ptr<platform::Device> device;
};

namespace platform {
namespace {

// Name lengths the phone accepts, in UTF-16 units.
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;
constexpr std::size_t kMaxKeyPathChars = 32767;

LiveHandles<RegistryKey>& Live() {
  static auto* live = new LiveHandles<RegistryKey>;  // never destroyed: handles may outlive statics
  return *live;
}

const char* RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKCR";
  if (key == HKEY_CURRENT_USER) return "HKCU";
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == HKEY_USERS) return "HKU";
  return nullptr;
}

bool IsRootName(const std::string& root) {
  return root == "HKCR" || root == "HKCU" || root == "HKLM" || root == "HKU";
}

// What a handle refers to, copied so that a concurrent close cannot take it
// away mid-call.
struct KeyRef {
  std::shared_ptr<Device> device;
  std::string root;
  std::u16string path;
};

LONG Lookup(HKEY key, KeyRef* ref) {
  if (const char* root = RootName(key)) {
    ref->device = CurrentDevice();
    if (!ref->device) return ERROR_NOT_READY;
    ref->root = root;
    ref->path.clear();
    return ERROR_SUCCESS;
  }
  bool live = Live().With(key, [&](RegistryKey* open) {
    ref->device = open->device;
    ref->root = open->root;
    ref->path = open->path;
  });
  return live ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// The text at `text` (null reads as ""), or nullopt when longer than `limit`.
std::optional<std::u16string_view> Text(LPCWSTR text, std::size_t limit) {
  // Never a null view: SQLite binds a null pointer as NULL, not as "".
  if (text == nullptr) return std::u16string_view(u"");
  std::size_t length = 0;
  while (length <= limit && text[length] != 0) ++length;
  if (length > limit) return std::nullopt;
  return std::u16string_view(text, length);
}

// Appends the names in `sub` to the key path `*path`, ignoring empty ones;
// false when a name is too long.
bool AppendKeyPath(std::u16string_view sub, std::u16string* path) {
  std::size_t start = 0;
  while (start < sub.size()) {
    std::size_t end = sub.find(u'\\', start);
    if (end == std::u16string_view::npos) end = sub.size();
    if (end - start > kMaxKeyNameChars) return false;
    if (end > start) {
      if (!path->empty()) path->push_back(u'\\');
      path->append(sub.substr(start, end - start));
    }
    start = end + 1;
  }
  return true;
}

LONG AppendSubKey(LPCWSTR subKey, std::u16string* path) {
  auto sub = Text(subKey, kMaxKeyPathChars);
  if (!sub || !AppendKeyPath(*sub, path)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

// Creates the key and every missing key above it in a transaction of its
// own; *path becomes the stored spelling.
LONG CreateKey(Device& device, const std::string& root, std::u16string* path, bool* created) {
  *created = false;
  if (path->empty()) return ERROR_SUCCESS;
  WriteTransaction transaction(device);
  if (!transaction.ok()) return ERROR_REGISTRY_IO_FAILED;
  std::u16string stored = *path;
  if (!StoreKey(device, root, &stored, created) || !transaction.Commit()) {
    *created = false;
    return ERROR_REGISTRY_IO_FAILED;
  }
  *path = std::move(stored);
  return ERROR_SUCCESS;
}

// Allocates a handle for `path`, not yet live; passes "alloc".
RegistryKey* NewKey(const KeyRef& ref) {
  if (AllocationFails()) return nullptr;
  return new (std::nothrow) RegistryKey{ref.root, ref.path, ref.device};
}

// The start RegCreateKeyExW and RegOpenKeyExW share: the fault point, the
// result place, the root and the sub key checked, and the handle allocated
// first, so that running out of memory creates or opens nothing.
LONG PrepareKey(const char* point, HKEY root, LPCWSTR subKey, PHKEY result, KeyRef* ref,
                std::unique_ptr<RegistryKey>* key) {
  if (result != nullptr) *result = nullptr;
  if (auto fault = FaultAt(point)) return *fault;
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  if (LONG error = Lookup(root, ref)) return error;
  if (LONG error = AppendSubKey(subKey, &ref->path)) return error;
  key->reset(NewKey(*ref));
  return *key ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

void Publish(RegistryKey* key, PHKEY result) {
  Live().Add(key);
  *result = key;
}

}  // namespace

}  // namespace platform

LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD /*reserved*/, LPWSTR /*keyClass*/,
                     DWORD /*options*/, REGSAM /*samDesired*/, void* /*security*/, PHKEY result,
                     DWORD* disposition) {
  platform::KeyRef ref;
  std::unique_ptr<RegistryKey> key;
  if (LONG error = platform::PrepareKey("RegCreateKeyExW", root, subKey, result, &ref, &key)) {
    return error;
  }
  bool created = false;
  if (LONG error = platform::CreateKey(*ref.device, ref.root, &key->path, &created)) return error;
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  platform::Publish(key.release(), result);
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD /*options*/, REGSAM /*samDesired*/,
                   PHKEY result) {
  platform::KeyRef ref;
  std::unique_ptr<RegistryKey> key;
  if (LONG error = platform::PrepareKey("RegOpenKeyExW", root, subKey, result, &ref, &key)) {
    return error;
  }
  std::optional<std::u16string> stored;
  {
    auto lock = ref.device->Lock();
    if (LONG error = platform::FindKey(*ref.device, ref.root, ref.path, &stored)) return error;
  }
  if (!stored) return ERROR_FILE_NOT_FOUND;
  key->path = std::move(*stored);
  platform::Publish(key.release(), result);
  return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD dataBytes) {
  if (auto fault = platform::FaultAt("RegSetValueExW")) return *fault;
  if ((data == nullptr && dataBytes != 0) || dataBytes > INT_MAX) return ERROR_INVALID_PARAMETER;
  platform::KeyRef ref;
  if (LONG error = platform::Lookup(key, &ref)) return error;
  auto name = platform::Text(valueName, platform::kMaxValueNameChars);
  if (!name) return ERROR_INVALID_PARAMETER;
  auto lock = ref.device->Lock();
  return platform::StoreValue(*ref.device, ref.root, ref.path, *name, type, data,
                              static_cast<int>(dataBytes))
             ? ERROR_SUCCESS
             : ERROR_REGISTRY_IO_FAILED;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* dataBytes) {
  if (auto fault = platform::FaultAt("RegQueryValueExW")) return *fault;
  if (data != nullptr && dataBytes == nullptr) return ERROR_INVALID_PARAMETER;
  platform::KeyRef ref;
  if (LONG error = platform::Lookup(key, &ref)) return error;
  auto name = platform::Text(valueName, platform::kMaxValueNameChars);
  if (!name) return ERROR_INVALID_PARAMETER;
  DWORD stored_type = 0;
  std::string bytes;
  if (LONG error =
          platform::ReadValue(*ref.device, ref.root, ref.path, *name, &stored_type, &bytes))
    return error;
  if (type != nullptr) *type = stored_type;
  const auto size = static_cast<DWORD>(bytes.size());
  if (data != nullptr && *dataBytes < size) {
    *dataBytes = size;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) std::memcpy(data, bytes.data(), size);
  if (dataBytes != nullptr) *dataBytes = size;
  return ERROR_SUCCESS;
}

// A fault here returns its value and leaves the handle open.
LONG RegCloseKey(HKEY key) {
  if (auto fault = platform::FaultAt("RegCloseKey")) return *fault;
  if (platform::RootName(key) != nullptr) return ERROR_SUCCESS;
  if (!platform::Live().Remove(key)) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

namespace emulator {

std::optional<RegistryValue> ReadRegistryValue(const std::string& root, const std::string& key,
                                               const std::string& name) {
  if (!platform::IsRootName(root)) return std::nullopt;
  auto device = platform::CurrentDevice();
  if (!device) return std::nullopt;
  std::u16string path;
  if (!platform::AppendKeyPath(textcodec::ToUtf16(key), &path)) return std::nullopt;
  RegistryValue value;
  std::string bytes;
  if (platform::ReadValue(*device, root, path, textcodec::ToUtf16(name), &value.type, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.assign(bytes.begin(), bytes.end());
  return value;
}

std::optional<std::string> ReadRegistryString(const std::string& root, const std::string& key,
                                              const std::string& name) {
  auto value = ReadRegistryValue(root, key, name);
  if (!value || value->type != REG_SZ) return std::nullopt;
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value->data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return textcodec::ToUtf8(text);
}

std::map<std::string, RegistryValue> DumpRegistry() {
  std::map<std::string, RegistryValue> values;
  auto device = platform::CurrentDevice();
  if (!device) return values;
  auto lock = device->Lock();
  platform::Statement st(*device, "SELECT root, path, name, type, data FROM registry_values");
  while (st.Step() == SQLITE_ROW) {
    std::string name = textcodec::ToUtf8(st.Text16(0)) + "\\";
    std::u16string path = st.Text16(1);
    if (!path.empty()) name += textcodec::ToUtf8(path) + "\\";
    name += textcodec::ToUtf8(st.Text16(2));
    std::string bytes = st.Blob(4);
    values[name] = RegistryValue{static_cast<DWORD>(st.Int(3)), {bytes.begin(), bytes.end()}};
  }
  return values;
}

}  // namespace emulator
