#include "sessions.h"

#include <sys/random.h>

#include <algorithm>
#include <vector>

#include "host.h"
#include "http_server.h"

namespace mzhost {

std::string RandomToken(std::size_t bytes) {
  std::vector<unsigned char> random(bytes);
  for (std::size_t got = 0; got < bytes;) {
    const ssize_t n = getrandom(random.data() + got, bytes - got, 0);
    if (n <= 0) throw Failure{"no random bytes"};
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string token;
  unsigned bits = 0;
  int count = 0;
  for (const unsigned char b : random) {
    bits = (bits << 8) | b;
    count += 8;
    while (count >= 6) {
      count -= 6;
      token.push_back(kAlphabet[(bits >> count) & 63]);
    }
  }
  if (count > 0) token.push_back(kAlphabet[(bits << (6 - count)) & 63]);
  return token;
}

std::optional<std::string> CookieValue(const std::string& header, const std::string& name) {
  std::size_t at = 0;
  while (at < header.size()) {
    const std::size_t end = std::min(header.find(';', at), header.size());
    std::size_t start = header.find_first_not_of(' ', at);
    if (start < end) {
      const std::size_t equals = header.find('=', start);
      if (equals < end && header.compare(start, equals - start, name) == 0) {
        return header.substr(equals + 1, end - equals - 1);
      }
    }
    at = end + 1;
  }
  return std::nullopt;
}

Sessions::Session Sessions::Open() {
  Session session{RandomToken(32), RandomToken(32), Clock::now()};
  std::lock_guard<std::mutex> lock(mutex_);
  if (table_.size() >= kMostSessions) {
    table_.erase(std::min_element(table_.begin(), table_.end(), [](auto& a, auto& b) {
      return a.second.lastUsed < b.second.lastUsed;
    }));
  }
  table_[session.id.substr(0, kIndexLength)] = session;
  return session;
}

std::optional<Sessions::Session> Sessions::Find(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Found by its first characters, then compared whole in constant time, so
  // that the look-up's timing says nothing about the secret part.
  const auto it = table_.find(id.substr(0, kIndexLength));
  if (it == table_.end() || !SameSecret(it->second.id, id)) return std::nullopt;
  const Clock::time_point now = Clock::now();
  if (now - it->second.lastUsed > kIdleLimit) {
    table_.erase(it);
    return std::nullopt;
  }
  it->second.lastUsed = now;
  return it->second;
}

void Sessions::Close(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = table_.find(id.substr(0, kIndexLength));
  if (it != table_.end() && SameSecret(it->second.id, id)) table_.erase(it);
}

}  // namespace mzhost
