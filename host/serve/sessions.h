// Signed-in browser sessions: a random id in an HttpOnly cookie, and a
// random CSRF token the page sends back with every change.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace mzhost {

// `bytes` random bytes as base64url text without padding.
std::string RandomToken(std::size_t bytes);

// The value of cookie `name` in a Cookie header, if it is there.
std::optional<std::string> CookieValue(const std::string& header, const std::string& name);

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kMostSessions = 64;
  static constexpr std::chrono::hours kIdleLimit{12};

  struct Session {
    std::string id;
    std::string csrf;
    Clock::time_point lastUsed;
  };

  // A new session; the least recently used one goes when the table is full.
  Session Open();
  // The live session `id`, marked used now; none when unknown or idle too long.
  std::optional<Session> Find(const std::string& id);
  void Close(const std::string& id);

 private:
  static constexpr std::size_t kIndexLength = 8;
  std::mutex mutex_;
  std::map<std::string, Session> table_;
};

}  // namespace mzhost
