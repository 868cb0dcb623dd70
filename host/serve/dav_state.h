// What the CardDAV server remembers in the device folder (carddav.db): each
// card resource with its contact, the client's UID and the hash of the text
// last seen, and a log of changed resource names for collection sync.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace mzhost {

struct Resource {
  std::string name;       // the last path segment, decoded
  std::string contactId;  // the library's id
  std::string uid;        // the client's UID, or one made for a phone-born contact
  std::string hash;       // of the library's text when last seen
};

class DavState {
 public:
  explicit DavState(const std::string& path);  // Failure when it cannot be opened
  ~DavState();
  DavState(const DavState&) = delete;
  DavState& operator=(const DavState&) = delete;

  std::optional<Resource> ByName(const std::string& name);
  std::optional<Resource> ByContact(const std::string& contactId);
  std::optional<Resource> ByUid(const std::string& uid);
  std::vector<Resource> All();

  // Stores a resource, new or changed, and logs its name.
  void Save(const Resource& resource);
  // Forgets a resource and logs its name.
  void Remove(const std::string& name);

  // Random per database, so that tokens of another database never match.
  const std::string& Id() const { return id_; }
  // The newest change's number: the current sync token.
  int64_t Latest();
  // Names changed after change `since`; none when the log no longer reaches
  // back that far or `since` is ahead of it.
  std::optional<std::vector<std::string>> ChangedSince(int64_t since);

  void Begin();
  void Commit();

 private:
  void Exec(const char* sql);
  void Log(const std::string& name);
  std::vector<Resource> Select(const char* sql, const std::string& key);

  sqlite3* db_ = nullptr;
  std::string id_;
};

}  // namespace mzhost
