// The HTTP side of mzhost serve: connections, Basic authentication, limits
// and the request log, with every request handed to one worker thread, the
// only one that may call the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mzhost {

struct HttpRequest {
  std::string method;
  std::string path;                            // as sent, still percent-encoded, without the query
  std::string query;                           // as sent after '?', still percent-encoded
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool viaSession = false;  // signed in with the page's session cookie, not Basic
  // The body's media type from Content-Type, lower case, without
  // parameters; empty when none is named.
  std::string MediaType() const;
  const std::string* Header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? nullptr : &it->second;
  }
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When set, the body is streamed instead: each call gives the next bytes
  // (it may wait), and an empty text ends the response.
  std::function<std::string()> stream = {};
};

// The API's error: one JSON object {"error", "export", "code"}; the export
// and its result are null unless an export refused.
HttpResponse JsonError(int status, const std::string& words, const char* exportName = nullptr,
                       int32_t code = 0);

// The page's session cookie.
inline constexpr const char kSessionCookie[] = "mz_session";

inline constexpr std::size_t kMostBodyBytes = 1 << 20;
inline constexpr std::size_t kMostHeaders = 64;
inline constexpr std::size_t kQueueDepth = 16;

struct ServerOptions {
  std::string host = "127.0.0.1";  // an IPv4 or IPv6 address (without brackets), or localhost
  unsigned port = 8181;
  std::string user = "mz";
  std::string password;
  std::string tlsCert;  // PEM text; both empty: plain HTTP
  std::string tlsKey;
  unsigned timeoutSeconds = 30;  // an idle or slow connection is closed after this
};

// Runs jobs one after another on its own thread; at most kQueueDepth wait.
class Worker {
 public:
  Worker();
  ~Worker();  // finishes the queued jobs, then joins
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  // False, and the job dropped, when the queue is full or the worker stops.
  bool Submit(std::function<void()> job);
  // Runs `job` on the worker and waits for it, whatever the queue holds.
  void RunNow(std::function<void()> job);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

using Handler = std::function<HttpResponse(const HttpRequest&)>;
// Answers the requests it knows without the library, on the connection's
// own thread; none for the rest.
using DirectHandler = std::function<std::optional<HttpResponse>(const HttpRequest&)>;

// Who may ask what. A request needs Basic credentials, or (under /api/ only)
// the page's session cookie; the page's own files, its sign-in and the API's
// description need neither. With a session, a change needs the session's
// CSRF token in X-CSRF-Token, and a change sent from another origin is
// refused whatever the credentials. The server itself answers
// /api/session: POST signs in with {"user", "password"}, GET tells the
// session's CSRF token, DELETE signs out.
class HttpServer {
 public:
  // `handle` runs on `worker` for each authenticated request within limits
  // that `direct` (if given) does not answer first.
  HttpServer(ServerOptions options, Worker& worker, Handler handle, DirectHandler direct = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  // Binds and starts serving; Failure when the address cannot be had.
  // Returns the port bound.
  unsigned Start();
  // Stops accepting, lets the requests in flight finish (at most the
  // connection timeout), then closes every connection.
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Appends `text` with its %XX escapes decoded (and "+" as a space when
// `plusIsSpace`); false at a malformed escape.
bool PercentDecode(std::string_view text, std::string* out, bool plusIsSpace);

// The parameters of a query ("a=b&c=d"), percent-decoded ("+" a space);
// none when it holds more than 32 parameters, is over 2 KiB or has a bad
// escape. A name given twice keeps its first value.
std::optional<std::map<std::string, std::string>> ParseQuery(const std::string& query);

// Whether `host` is a loopback address (127.0.0.0/8, ::1) or "localhost".
bool IsLoopback(const std::string& host);
// Equal texts, in a time that does not depend on where they differ.
bool SameSecret(const std::string& a, const std::string& b);
std::string Base64Decode(const std::string& text);

}  // namespace mzhost
