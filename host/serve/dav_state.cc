#include "dav_state.h"

#include <sqlite3.h>
#include <sys/random.h>

#include <cstdio>

#include "host.h"

namespace mzhost {
namespace {

// Changes kept in the log; a token older than these is expired.
constexpr int64_t kLogLength = 20000;

struct Statement {
  sqlite3_stmt* stmt = nullptr;
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      throw Failure{std::string("carddav.db: ") + sqlite3_errmsg(db)};
    }
  }
  ~Statement() { sqlite3_finalize(stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  void Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  bool Step() {
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      throw Failure{std::string("carddav.db: ") + sqlite3_errmsg(sqlite3_db_handle(stmt))};
    }
    return rc == SQLITE_ROW;
  }
  std::string Text(int i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))) : "";
  }
};

}  // namespace

DavState::DavState(const std::string& path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    throw Failure{"cannot open " + path + ": " + sqlite3_errmsg(db_)};
  }
  sqlite3_busy_timeout(db_, 5000);
  // The log may lose its last changes in a power cut, never its consistency;
  // a client then syncs once more than it needed.
  Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  Exec(
      "CREATE TABLE IF NOT EXISTS resources (name TEXT PRIMARY KEY, contact TEXT UNIQUE NOT NULL,"
      " uid TEXT NOT NULL, hash TEXT NOT NULL);"
      "CREATE INDEX IF NOT EXISTS resources_uid ON resources(uid);"
      "CREATE TABLE IF NOT EXISTS changes (seq INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT);"
      "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT);");
  {
    Statement get(db_, "SELECT value FROM meta WHERE key = 'id'");
    if (get.Step()) id_ = get.Text(0);
  }
  if (id_.empty()) {
    unsigned char bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes) throw Failure{"no random bytes"};
    for (const unsigned char b : bytes) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", b);
      id_ += hex;
    }
    Statement put(db_, "INSERT INTO meta VALUES ('id', ?)");
    put.Bind(1, id_);
    put.Step();
    // Token 0 stands for the empty collection.
    Exec("INSERT INTO changes (seq, name) VALUES (0, NULL)");
  }
}

DavState::~DavState() {
  sqlite3_close(db_);
}

void DavState::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string words = error ? error : "failed";
    sqlite3_free(error);
    throw Failure{"carddav.db: " + words};
  }
}

std::vector<Resource> DavState::Select(const char* sql, const std::string& key) {
  Statement select(db_, sql);
  if (!key.empty()) select.Bind(1, key);
  std::vector<Resource> found;
  while (select.Step()) {
    found.push_back({select.Text(0), select.Text(1), select.Text(2), select.Text(3)});
  }
  return found;
}

#define MZ_RESOURCE_COLUMNS "SELECT name, contact, uid, hash FROM resources "

std::optional<Resource> DavState::ByName(const std::string& name) {
  auto found = Select(MZ_RESOURCE_COLUMNS "WHERE name = ?", name);
  if (found.empty() || name.empty()) return std::nullopt;
  return found[0];
}

std::optional<Resource> DavState::ByContact(const std::string& contactId) {
  auto found = Select(MZ_RESOURCE_COLUMNS "WHERE contact = ?", contactId);
  if (found.empty() || contactId.empty()) return std::nullopt;
  return found[0];
}

std::optional<Resource> DavState::ByUid(const std::string& uid) {
  auto found = Select(MZ_RESOURCE_COLUMNS "WHERE uid = ?", uid);
  if (found.empty() || uid.empty()) return std::nullopt;
  return found[0];
}

std::vector<Resource> DavState::All() {
  return Select(MZ_RESOURCE_COLUMNS "ORDER BY name", "");
}

void DavState::Save(const Resource& resource) {
  Statement put(db_, "INSERT OR REPLACE INTO resources VALUES (?, ?, ?, ?)");
  put.Bind(1, resource.name);
  put.Bind(2, resource.contactId);
  put.Bind(3, resource.uid);
  put.Bind(4, resource.hash);
  put.Step();
  Log(resource.name);
}

void DavState::Remove(const std::string& name) {
  Statement remove(db_, "DELETE FROM resources WHERE name = ?");
  remove.Bind(1, name);
  remove.Step();
  Log(name);
}

void DavState::Log(const std::string& name) {
  Statement log(db_, "INSERT INTO changes (name) VALUES (?)");
  log.Bind(1, name);
  log.Step();
  const std::string trim =
      "DELETE FROM changes WHERE seq <= " + std::to_string(Latest() - kLogLength);
  Exec(trim.c_str());
}

int64_t DavState::Latest() {
  Statement latest(db_, "SELECT MAX(seq) FROM changes");
  latest.Step();
  return sqlite3_column_int64(latest.stmt, 0);
}

std::optional<std::vector<std::string>> DavState::ChangedSince(int64_t since) {
  Statement oldest(db_, "SELECT MIN(seq) FROM changes");
  oldest.Step();
  // The log must still hold change `since` itself to vouch for what followed.
  if (since < sqlite3_column_int64(oldest.stmt, 0) || since > Latest()) return std::nullopt;
  Statement select(db_, "SELECT DISTINCT name FROM changes WHERE seq > ? AND name IS NOT NULL");
  sqlite3_bind_int64(select.stmt, 1, since);
  std::vector<std::string> names;
  while (select.Step()) names.push_back(select.Text(0));
  return names;
}

void DavState::Begin() {
  Exec("BEGIN IMMEDIATE");
}
void DavState::Commit() {
  Exec("COMMIT");
}

}  // namespace mzhost
