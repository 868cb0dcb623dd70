#include "http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "host.h"
#include "json_reader.h"
#include "sessions.h"
#include "text.h"

namespace mzhost {

// --- Worker ----------------------------------------------------------------

struct Worker::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> jobs;
  bool stopping = false;
  std::thread thread;
};

Worker::Worker() : state_(std::make_unique<State>()) {
  state_->thread = std::thread([state = state_.get()] {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
        if (state->jobs.empty()) return;
        job = std::move(state->jobs.front());
        state->jobs.pop_front();
      }
      job();
    }
  });
}

Worker::~Worker() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_one();
  state_->thread.join();
}

bool Worker::Submit(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->stopping || state_->jobs.size() >= kQueueDepth) return false;
    state_->jobs.push_back(std::move(job));
  }
  state_->wake.notify_one();
  return true;
}

void Worker::RunNow(std::function<void()> job) {
  std::packaged_task<void()> task(std::move(job));
  std::future<void> done = task.get_future();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->jobs.push_back([&task] { task(); });
  }
  state_->wake.notify_one();
  done.get();
}

// --- Helpers ---------------------------------------------------------------

bool IsLoopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr address{};
  in6_addr address6{};
  return (inet_pton(AF_INET, host.c_str(), &address) == 1 &&
          (ntohl(address.s_addr) >> 24) == 127) ||
         (inet_pton(AF_INET6, host.c_str(), &address6) == 1 && IN6_IS_ADDR_LOOPBACK(&address6));
}

bool SameSecret(const std::string& a, const std::string& b) {
  const std::size_t n = std::max(a.size(), b.size());
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    differ |= static_cast<unsigned char>(x ^ y);
  }
  return differ == 0;
}

std::string Base64Decode(const std::string& text) {
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else if (c == '=') {
      break;
    } else {
      return {};
    }
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

std::string HttpRequest::MediaType() const {
  const std::string* type = Header("content-type");
  if (type == nullptr) return {};
  std::string media = type->substr(0, type->find(';'));
  media.erase(media.find_last_not_of(" \t") + 1);
  for (char& c : media) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return media;
}

HttpResponse JsonError(int status, const std::string& words, const char* exportName, int32_t code) {
  std::string body = "{\"error\":";
  AppendJsonString(&body, words);
  body += ",\"export\":";
  if (exportName != nullptr) {
    AppendJsonString(&body, exportName);
    body += ",\"code\":" + std::to_string(code) + "}\n";
  } else {
    body += "null,\"code\":null}\n";
  }
  return HttpResponse{status, {{"Content-Type", "application/json"}}, std::move(body)};
}

namespace {

using Clock = std::chrono::steady_clock;

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool Changes(const std::string& method) {
  return method != "GET" && method != "HEAD" && method != "OPTIONS" && method != "PROPFIND" &&
         method != "REPORT";
}

// What may be asked without any credentials: the page's files (every GET
// outside the API and the address book), its sign-in, and the API's
// description.
bool IsPublic(const HttpRequest& request) {
  const std::string& path = request.path;
  if (request.method == "POST") return path == "/api/session";
  if (request.method != "GET" && request.method != "HEAD") return false;
  if (path == "/api/openapi.json") return true;
  return !StartsWith(path, "/api/") && !StartsWith(path, "/dav/") &&
         !StartsWith(path, "/.well-known/") && path != "/api";
}

// Whether a request that changes something comes from another origin: a
// browser names the page's origin in Origin, and says cross-site in
// Sec-Fetch-Site.
bool CrossOrigin(const HttpRequest& request, bool tls) {
  if (const std::string* site = request.Header("sec-fetch-site")) {
    if (*site == "cross-site" || *site == "same-site") return true;
  }
  const std::string* origin = request.Header("origin");
  if (origin == nullptr) return false;
  const std::string* host = request.Header("host");
  return host == nullptr || *origin != std::string(tls ? "https://" : "http://") + *host;
}

// Failed logins per client address, so that guessing slows down; the table
// forgets the least recent address when full.
class FailedLogins {
 public:
  std::chrono::milliseconds Delay(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = table_.find(address);
    const unsigned failures = it == table_.end() ? 0 : it->second.failures;
    return std::chrono::milliseconds(200) * std::min(failures, 10U);
  }
  void Failed(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (table_.size() >= kMostAddresses && !table_.contains(address)) {
      const auto oldest = std::min_element(table_.begin(), table_.end(), [](auto& a, auto& b) {
        return a.second.last < b.second.last;
      });
      table_.erase(oldest);
    }
    Entry& entry = table_[address];
    ++entry.failures;
    entry.last = Clock::now();
  }
  void Succeeded(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    table_.erase(address);
  }

 private:
  static constexpr std::size_t kMostAddresses = 1024;
  struct Entry {
    unsigned failures = 0;
    Clock::time_point last;
  };
  std::mutex mutex_;
  std::map<std::string, Entry> table_;
};

// One request as its connection thread sees it.
struct Exchange {
  HttpRequest request;
  Clock::time_point start = Clock::now();
  bool tooLarge = false;
  int status = 0;
};

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return "?";
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  }
  return text;
}

// The path for the log: printable ASCII only, and short.
std::string LoggedPath(const std::string& path) {
  std::string out;
  for (const char c : path.substr(0, 200)) {
    out.push_back(c > 0x20 && c < 0x7F ? c : '?');
  }
  return out;
}

}  // namespace

struct HttpServer::Impl {
  ServerOptions options;
  Worker& worker;
  Handler handle;
  DirectHandler direct;
  MHD_Daemon* daemon = nullptr;
  int socket = -1;
  FailedLogins failed;
  Sessions sessions;
  std::atomic<int> inFlight{0};

  // Headers every answer carries: no sniffing, no framing, no referrer, no
  // inline script; API answers are not cached.
  static void AddSafety(MHD_Response* response, const std::string& path) {
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'none'; script-src 'self'; style-src 'self'; "
                            "img-src 'self' data:; connect-src 'self'; form-action 'self'; "
                            "frame-ancestors 'none'; base-uri 'none'");
    if (StartsWith(path, "/api/")) MHD_add_response_header(response, "Cache-Control", "no-store");
  }

  // Pulls a streamed body: bytes left of the last piece, then the next.
  struct Streamed {
    std::function<std::string()> next;
    std::string pending;
    std::size_t at = 0;
  };
  static ssize_t ReadStream(void* cls, uint64_t, char* buffer, size_t most) {
    auto* streamed = static_cast<Streamed*>(cls);
    if (streamed->at == streamed->pending.size()) {
      streamed->pending = streamed->next();
      streamed->at = 0;
      if (streamed->pending.empty()) return MHD_CONTENT_READER_END_OF_STREAM;
    }
    const std::size_t n = std::min(most, streamed->pending.size() - streamed->at);
    std::memcpy(buffer, streamed->pending.data() + streamed->at, n);
    streamed->at += n;
    return static_cast<ssize_t>(n);
  }

  MHD_Result Queue(MHD_Connection* connection, Exchange* exchange, const HttpResponse& answer) {
    MHD_Response* response =
        answer.stream
            ? MHD_create_response_from_callback(
                  MHD_SIZE_UNKNOWN, 4096, &Impl::ReadStream, new Streamed{answer.stream, {}, 0},
                  [](void* cls) { delete static_cast<Streamed*>(cls); })
            : MHD_create_response_from_buffer(
                  answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    AddSafety(response, exchange->request.path);
    for (const auto& [name, value] : answer.headers) {
      MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    exchange->status = answer.status;
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
  }

  static HttpResponse Plain(int status, std::string text) {
    HttpResponse response{status, {{"Content-Type", "text/plain; charset=utf-8"}}, text + "\n"};
    return response;
  }

  // Whether the request carries the right Basic credentials.
  bool Authorized(const Exchange& exchange) const {
    const std::string* header = exchange.request.Header("authorization");
    if (header == nullptr || header->size() < 6 || strncasecmp(header->c_str(), "Basic ", 6) != 0) {
      return false;
    }
    return SameSecret(Base64Decode(header->substr(6)), options.user + ":" + options.password);
  }

  // 401. The page asks without a login dialog popping up: no challenge then.
  static HttpResponse Denied(const HttpRequest& request) {
    const std::string* by = request.Header("x-requested-with");
    HttpResponse denied = StartsWith(request.path, "/api/") ? JsonError(401, "sign in first")
                                                            : Plain(401, "authentication required");
    if (by == nullptr || *by != "mz-page") {
      denied.headers.emplace_back("WWW-Authenticate", "Basic realm=\"mzhost\", charset=\"UTF-8\"");
    }
    return denied;
  }

  HttpResponse SessionAnswer(const Sessions::Session& session, int status) const {
    std::string body = "{\"user\":";
    AppendJsonString(&body, options.user);
    body += ",\"csrf\":\"" + session.csrf + "\"}\n";
    HttpResponse answer{status, {{"Content-Type", "application/json"}}, std::move(body)};
    return answer;
  }

  std::string CookieHeader(const std::string& value, bool clear) const {
    std::string cookie =
        std::string(kSessionCookie) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict";
    if (!options.tlsCert.empty()) cookie += "; Secure";
    if (clear) cookie += "; Max-Age=0";
    return cookie;
  }

  // /api/session: sign in, the session's token, sign out.
  HttpResponse SessionRoute(const HttpRequest& request, const std::string& address) {
    const std::string* cookie = request.Header("cookie");
    const std::optional<std::string> id =
        cookie != nullptr ? CookieValue(*cookie, kSessionCookie) : std::nullopt;
    if (request.method == "GET") {
      const auto session = id ? sessions.Find(*id) : std::nullopt;
      if (!session) return Denied(request);
      return SessionAnswer(*session, 200);
    }
    if (request.method == "DELETE") {
      if (id) sessions.Close(*id);
      HttpResponse gone{204, {{"Set-Cookie", CookieHeader("", true)}}, {}};
      return gone;
    }
    if (request.method != "POST") {
      HttpResponse wrong = JsonError(405, "/api/session takes GET, POST and DELETE");
      wrong.headers.emplace_back("Allow", "GET, POST, DELETE");
      return wrong;
    }
    std::string error;
    const std::optional<JsonValue> login = ReadJson(request.body, &error);
    if (!login) return JsonError(400, error);
    const std::string* user = login->String("user");
    const std::string* password = login->String("password");
    if (user == nullptr || password == nullptr) {
      return JsonError(400, "sign in with {\"user\": ..., \"password\": ...}");
    }
    std::this_thread::sleep_for(failed.Delay(address));
    if (!SameSecret(*user + ":" + *password, options.user + ":" + options.password)) {
      failed.Failed(address);
      return JsonError(401, "wrong user name or password");
    }
    failed.Succeeded(address);
    if (id) sessions.Close(*id);  // a new sign-in never keeps an old id
    const Sessions::Session session = sessions.Open();
    HttpResponse answer = SessionAnswer(session, 200);
    answer.headers.emplace_back("Set-Cookie", CookieHeader(session.id, false));
    return answer;
  }

  MHD_Result First(MHD_Connection* connection, Exchange* exchange) {
    HttpRequest& request = exchange->request;
    std::size_t headers = 0;
    MHD_get_connection_values(
        connection, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
          auto* request = static_cast<HttpRequest*>(cls);
          std::string name = key;
          for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          std::string& slot = request->headers[name];
          slot =
              slot.empty() ? std::string(value ? value : "") : slot + ", " + (value ? value : "");
          return MHD_YES;
        },
        &request);
    // The arguments come as sent (escapes kept): joined again, they are the query.
    MHD_get_connection_values(
        connection, MHD_GET_ARGUMENT_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
          std::string& query = *static_cast<std::string*>(cls);
          if (!query.empty()) query.push_back('&');
          query += key;
          if (value != nullptr) query += std::string("=") + value;
          return MHD_YES;
        },
        &request.query);
    headers = static_cast<std::size_t>(
        MHD_get_connection_values(connection, MHD_HEADER_KIND, nullptr, nullptr));
    if (headers > kMostHeaders) {
      return Queue(connection, exchange, Plain(431, "too many header fields"));
    }
    const std::string address = ClientAddress(connection);
    const bool basic = Authorized(*exchange);
    std::optional<Sessions::Session> session;
    if (!basic && StartsWith(request.path, "/api/")) {
      if (const std::string* cookie = request.Header("cookie")) {
        if (const auto id = CookieValue(*cookie, kSessionCookie)) session = sessions.Find(*id);
      }
    }
    request.viaSession = session.has_value();
    if (!basic && !session && !IsPublic(request)) {
      if (request.Header("authorization") != nullptr) {
        std::this_thread::sleep_for(failed.Delay(address));
        failed.Failed(address);
      }
      return Queue(connection, exchange, Denied(request));
    }
    if (Changes(request.method) && CrossOrigin(request, !options.tlsCert.empty())) {
      return Queue(connection, exchange, JsonError(403, "a change from another origin"));
    }
    if (session && Changes(request.method)) {
      const std::string* token = request.Header("x-csrf-token");
      if (token == nullptr || !SameSecret(*token, session->csrf)) {
        return Queue(connection, exchange, JsonError(403, "missing or stale CSRF token"));
      }
    }
    if (basic) failed.Succeeded(address);
    if (const std::string* length = request.Header("content-length")) {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(length->c_str(), &end, 10);
      if (end == length->c_str() || *end != '\0' || n > kMostBodyBytes) {
        return Queue(connection, exchange, Plain(413, "the body is over 1 MiB"));
      }
      request.body.reserve(static_cast<std::size_t>(n));
    }
    return MHD_YES;
  }

  MHD_Result Last(MHD_Connection* connection, Exchange* exchange) {
    if (exchange->tooLarge)
      return Queue(connection, exchange, Plain(413, "the body is over 1 MiB"));
    if (exchange->request.path == "/api/session") {
      return Queue(connection, exchange,
                   SessionRoute(exchange->request, ClientAddress(connection)));
    }
    if (direct) {
      if (std::optional<HttpResponse> answer = direct(exchange->request)) {
        return Queue(connection, exchange, *answer);
      }
    }
    auto task = std::make_shared<std::packaged_task<HttpResponse()>>([this, exchange] {
      try {
        return handle(exchange->request);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "mzhost: %s\n", e.what());
      } catch (const Failure& e) {
        std::fprintf(stderr, "mzhost: %s\n", e.message.c_str());
      } catch (...) {
      }
      return Plain(500, "the request failed");
    });
    std::future<HttpResponse> answer = task->get_future();
    if (!worker.Submit([task] { (*task)(); })) {
      HttpResponse busy = Plain(503, "busy");
      busy.headers.emplace_back("Retry-After", "1");
      return Queue(connection, exchange, busy);
    }
    return Queue(connection, exchange, answer.get());
  }

  static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char* data, size_t* size,
                           void** state) {
    auto* self = static_cast<Impl*>(cls);
    auto* exchange = static_cast<Exchange*>(*state);
    if (exchange == nullptr) {
      exchange = new Exchange;
      *state = exchange;
      self->inFlight.fetch_add(1);
      exchange->request.method = method;
      exchange->request.path = url;
      return self->First(connection, exchange);
    }
    if (exchange->status != 0) {  // answered early: the body is not read
      *size = 0;
      return MHD_YES;
    }
    if (*size > 0) {
      if (exchange->request.body.size() + *size > kMostBodyBytes) {
        exchange->tooLarge = true;
        exchange->request.body.clear();
      } else if (!exchange->tooLarge) {
        exchange->request.body.append(data, *size);
      }
      *size = 0;
      return MHD_YES;
    }
    return self->Last(connection, exchange);
  }

  static void Completed(void* cls, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    auto* self = static_cast<Impl*>(cls);
    auto* exchange = static_cast<Exchange*>(*state);
    if (exchange == nullptr) return;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exchange->start);
    std::fprintf(stderr, "mzhost: %s %s %d %lld ms\n", LoggedPath(exchange->request.method).c_str(),
                 LoggedPath(exchange->request.path).c_str(), exchange->status,
                 static_cast<long long>(ms.count()));
    delete exchange;
    *state = nullptr;
    self->inFlight.fetch_sub(1);
  }

  // Keeps the path as sent: the handler decodes each segment itself, so that
  // an encoded slash or zero byte is seen as such.
  static size_t KeepEscapes(void*, MHD_Connection*, char* text) { return std::strlen(text); }
};

HttpServer::HttpServer(ServerOptions options, Worker& worker, Handler handle, DirectHandler direct)
    : impl_(new Impl{std::move(options),
                     worker,
                     std::move(handle),
                     std::move(direct),
                     nullptr,
                     -1,
                     {},
                     {},
                     {}}) {}

HttpServer::~HttpServer() {
  Stop();
}

unsigned HttpServer::Start() {
  const ServerOptions& options = impl_->options;
  sockaddr_storage address{};
  socklen_t length = 0;
  const std::string host = options.host == "localhost" ? "127.0.0.1" : options.host;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  const bool ipv6 = host.find(':') != std::string::npos;
  if (!ipv6 && inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(options.port));
    length = sizeof *v4;
  } else if (ipv6 && inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(options.port));
    length = sizeof *v6;
  } else {
    throw Failure{"cannot listen on " + options.host + ": not an IP address"};
  }
  impl_->socket = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(impl_->socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (ipv6) setsockopt(impl_->socket, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
  if (impl_->socket < 0 ||
      bind(impl_->socket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(impl_->socket, 64) != 0) {
    throw Failure{"cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " +
                  std::strerror(errno)};
  }
  getsockname(impl_->socket, reinterpret_cast<sockaddr*>(&address), &length);
  const uint16_t port = ntohs(ipv6 ? v6->sin6_port : v4->sin_port);

  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ITC |
                   MHD_USE_ERROR_LOG;
  const bool tls = !options.tlsCert.empty();
  if (tls) flags |= MHD_USE_TLS;
  if (ipv6) flags |= MHD_USE_IPv6;
  std::vector<MHD_OptionItem> items = {
      {MHD_OPTION_LISTEN_SOCKET, impl_->socket, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, 64, nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, 32, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, options.timeoutSeconds, nullptr},
      // Request line and headers must fit here; MHD answers 431 beyond it.
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 64 * 1024, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Impl::Completed), impl_.get()},
      {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&Impl::KeepEscapes), nullptr},
  };
  if (tls) {
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(options.tlsCert.c_str())});
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(options.tlsKey.c_str())});
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  impl_->daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::Access, impl_.get(),
                                   MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
  if (impl_->daemon == nullptr) {
    close(impl_->socket);
    impl_->socket = -1;
    throw Failure{tls ? "cannot start the server: check the TLS certificate and key"
                      : "cannot start the server"};
  }
  return port;
}

void HttpServer::Stop() {
  if (impl_->daemon == nullptr) return;
  const MHD_socket listening = MHD_quiesce_daemon(impl_->daemon);
  const auto until = Clock::now() + std::chrono::seconds(impl_->options.timeoutSeconds);
  while (impl_->inFlight.load() > 0 && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  MHD_stop_daemon(impl_->daemon);
  impl_->daemon = nullptr;
  if (listening != MHD_INVALID_SOCKET) close(listening);
  impl_->socket = -1;
}

bool PercentDecode(std::string_view text, std::string* out, bool plusIsSpace) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+' && plusIsSpace) {
      out->push_back(' ');
    } else if (text[i] != '%') {
      out->push_back(text[i]);
    } else if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out->push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

std::optional<std::map<std::string, std::string>> ParseQuery(const std::string& query) {
  constexpr std::size_t kMostParameters = 32;
  constexpr std::size_t kMostQueryBytes = 2048;
  if (query.size() > kMostQueryBytes) return std::nullopt;
  std::map<std::string, std::string> parameters;
  std::size_t count = 0;
  for (std::size_t start = 0; start < query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view pair = std::string_view(query).substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    if (++count > kMostParameters) return std::nullopt;
    const std::size_t equals = std::min(pair.find('='), pair.size());
    std::string name, value;
    if (!PercentDecode(pair.substr(0, equals), &name, true) ||
        !PercentDecode(pair.substr(std::min(equals + 1, pair.size())), &value, true)) {
      return std::nullopt;
    }
    parameters.emplace(std::move(name), std::move(value));
  }
  return parameters;
}

}  // namespace mzhost
