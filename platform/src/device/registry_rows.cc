// The registry's rows in the device database (registry_keys and
// registry_values).
#include "device/registry_rows.h"

#include "platform/registry.h"

namespace platform {

LONG FindKey(Device& device, const std::string& root, const std::u16string& path,
             std::optional<std::u16string>* stored) {
  if (path.empty()) {
    *stored = path;
    return ERROR_SUCCESS;
  }
  Statement st(device, "SELECT path FROM registry_keys WHERE root = ?1 AND path = ?2");
  st.Bind(1, std::string_view(root));
  st.Bind(2, std::u16string_view(path));
  int rc = st.Step();
  if (rc == SQLITE_ROW) {
    *stored = st.Text16(0);
  } else if (rc == SQLITE_DONE) {
    stored->reset();
  } else {
    return ERROR_REGISTRY_IO_FAILED;
  }
  return ERROR_SUCCESS;
}

LONG ReadValue(Device& device, const std::string& root, std::u16string_view path,
               std::u16string_view name, DWORD* type, std::string* data) {
  auto lock = device.Lock();
  Statement st(
      device, "SELECT type, data FROM registry_values WHERE root = ?1 AND path = ?2 AND name = ?3");
  st.Bind(1, std::string_view(root));
  st.Bind(2, path);
  st.Bind(3, name);
  int rc = st.Step();
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return ERROR_REGISTRY_IO_FAILED;
  *type = static_cast<DWORD>(st.Int(0));
  *data = st.Blob(1);
  return ERROR_SUCCESS;
}

bool StoreKey(Device& device, std::string_view root, std::u16string* path, bool* created) {
  *created = false;
  std::u16string stored;
  std::size_t start = 0;
  while (start < path->size()) {
    std::size_t end = path->find(u'\\', start);
    if (end == std::u16string::npos) end = path->size();
    std::u16string wanted = stored;
    if (!wanted.empty()) wanted.push_back(u'\\');
    wanted.append(*path, start, end - start);
    std::optional<std::u16string> found;
    if (FindKey(device, std::string(root), wanted, &found) != ERROR_SUCCESS) return false;
    if (found) {
      stored = std::move(*found);
      *created = false;
    } else {
      Statement insert(device, "INSERT INTO registry_keys (root, path) VALUES (?1, ?2)");
      insert.Bind(1, root);
      insert.Bind(2, std::u16string_view(wanted));
      if (insert.Step() != SQLITE_DONE) return false;
      stored = std::move(wanted);
      *created = true;
    }
    start = end + 1;
  }
  *path = std::move(stored);
  return true;
}

bool StoreValue(Device& device, std::string_view root, std::u16string_view path,
                std::u16string_view name, DWORD type, const void* data, int bytes) {
  Statement st(device,
               "INSERT INTO registry_values (root, path, name, type, data) "
               "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (root, path, name) "
               "DO UPDATE SET type = excluded.type, data = excluded.data");
  st.Bind(1, root);
  st.Bind(2, path);
  st.Bind(3, name);
  st.Bind(4, std::int64_t{type});
  st.BindBlob(5, data, bytes);
  return st.Step() == SQLITE_DONE;
}

bool WriteUserValues(
    Device& device, std::u16string_view key,
    std::initializer_list<std::pair<std::u16string_view, std::u16string_view>> strings,
    std::initializer_list<std::pair<std::u16string_view, DWORD>> numbers) {
  WriteTransaction transaction(device);
  if (!transaction.ok()) return false;
  std::u16string stored(key);
  bool created = false;
  if (!StoreKey(device, "HKCU", &stored, &created)) return false;
  for (const auto& [name, text] : strings) {
    std::u16string data(text);
    data.push_back(0);
    if (!StoreValue(device, "HKCU", stored, name, REG_SZ, data.data(),
                    static_cast<int>(data.size() * sizeof(char16_t)))) {
      return false;
    }
  }
  for (const auto& [name, number] : numbers) {
    const BYTE data[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                          static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    if (!StoreValue(device, "HKCU", stored, name, REG_DWORD, data, sizeof data)) return false;
  }
  return transaction.Commit();
}

}  // namespace platform
