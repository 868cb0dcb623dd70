// mzhost serve: the phone's contacts as a CardDAV address book.
#include "serve.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "api.h"
#include "assets.h"
#include "carddav.h"
#include "device_lock.h"
#include "events.h"
#include "http_server.h"
#include "sessions.h"
#include "text.h"

namespace mzhost {
namespace {

constexpr const char kServeUsage[] =
    "usage: mzhost serve [--listen HOST:PORT] [--user NAME] [--password-file FILE]\n"
    "                    [--tls-cert FILE --tls-key FILE]";

// The password in `path`, its first line; made on first start when `make`.
std::string Password(const std::string& path, bool make) {
  if (make) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      const std::string line = RandomToken(24) + "\n";  // 192 bits
      const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
      close(fd);
      if (!written) throw Failure{"cannot write the password file " + path};
      std::fprintf(stderr, "mzhost: made a password for the server; it is in %s\n", path.c_str());
    }
  }
  std::string text = ReadFile(path);
  text = text.substr(0, text.find_first_of("\r\n"));
  if (text.empty()) throw Failure{path + " holds no password"};
  return text;
}

// GET or HEAD of the page's files: `/` is index.html, `/NAME` the asset of
// that name. Nothing for the API's and CardDAV's paths, or other methods.
std::optional<HttpResponse> ServePage(const HttpRequest& request) {
  const std::string& path = request.path;
  if ((request.method != "GET" && request.method != "HEAD") || path.starts_with("/api/") ||
      path.starts_with("/dav") || path.starts_with("/.well-known/")) {
    return std::nullopt;
  }
  const Asset* asset = FindAsset(path == "/" ? "index.html" : std::string_view(path).substr(1));
  if (asset == nullptr) {
    return HttpResponse{404, {{"Content-Type", "text/plain; charset=utf-8"}}, "not found\n"};
  }
  // The same build serves the same tag.
  const std::string etag = "\"" + TextTag(asset->bytes) + "\"";
  const std::string* none = request.Header("if-none-match");
  if (none != nullptr && none->find(etag) != std::string::npos) {
    return HttpResponse{304, {{"ETag", etag}}, {}};
  }
  return HttpResponse{
      200, {{"Content-Type", std::string(asset->type)}, {"ETag", etag}}, std::string(asset->bytes)};
}

// A new message as the API shows one.
std::string MessageJson(const Message& message) {
  const unsigned folder = message.folder <= 4 ? message.folder : 0;
  return JsonObject({{"id", JsonText(message.entryId)},
                     {"folder", JsonText(FolderName(static_cast<MessageFolder>(folder)))},
                     {"time", JsonText(message.isoTime)},
                     {"address", JsonText(message.address)},
                     {"text", JsonText(message.text)}});
}

// Hands each new message to the event streams until the hub stops.
void PumpArrivals(EventHub& events) {
  Message message;
  while (!events.Stopped()) {
    try {
      if (NextArrival(&message, std::chrono::milliseconds(200))) {
        events.Publish("message", MessageJson(message));
      }
    } catch (const Interrupted&) {
      // the server is stopping: the hub stops next
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
}

constexpr std::chrono::seconds kHeartbeat{15};

// GET /api/events: the event stream, answered on the connection's thread.
std::optional<HttpResponse> EventStream(EventHub& events, const HttpRequest& request) {
  if (request.path != "/api/events") return std::nullopt;
  if (request.method != "GET") {
    HttpResponse wrong = JsonError(405, "/api/events takes GET");
    wrong.headers.emplace_back("Allow", "GET");
    return wrong;
  }
  const std::shared_ptr<EventHub::Client> client = events.Join();
  if (client == nullptr) {
    HttpResponse busy = JsonError(503, "too many event streams are open");
    busy.headers.emplace_back("Retry-After", "5");
    return busy;
  }
  HttpResponse stream{200, {{"Content-Type", "text/event-stream"}}, {}};
  // The first bytes go out at once, so that the client knows it is connected.
  auto first = std::make_shared<bool>(true);
  stream.stream = [client, first] {
    if (std::exchange(*first, false)) return std::string(": connected\n\n");
    return client->Next(kHeartbeat);
  };
  return stream;
}

}  // namespace

void RunServe(Host& host, const std::vector<std::string>& args, const std::string& deviceDir) {
  ServerOptions options;
  std::string passwordFile, certFile, keyFile;
  for (std::size_t i = 0; i < args.size(); ++i) {
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{args[i] + " needs a value; " + kServeUsage};
      return args[++i];
    };
    if (args[i] == "--listen") {
      const std::string& listen = value();
      const auto colon = listen.rfind(':');
      if (colon == std::string::npos) throw UsageError{"--listen takes HOST:PORT"};
      options.host = listen.substr(0, colon);
      // An IPv6 address goes in brackets: [::1]:8181.
      if (options.host.size() >= 2 && options.host.front() == '[' && options.host.back() == ']') {
        options.host = options.host.substr(1, options.host.size() - 2);
      } else if (options.host.find(':') != std::string::npos) {
        throw UsageError{"--listen takes HOST:PORT, an IPv6 address in brackets ([::1]:8181)"};
      }
      const std::string port = listen.substr(colon + 1);
      options.port = port == "0" ? 0 : ParseNumber(port, "port", 65535);
    } else if (args[i] == "--user") {
      options.user = value();
      if (options.user.empty() || options.user.find(':') != std::string::npos) {
        throw UsageError{"--user takes a name without ':'"};
      }
    } else if (args[i] == "--password-file") {
      passwordFile = value();
    } else if (args[i] == "--tls-cert") {
      certFile = value();
    } else if (args[i] == "--tls-key") {
      keyFile = value();
    } else {
      throw UsageError{std::string(kServeUsage)};
    }
  }
  if (certFile.empty() != keyFile.empty()) {
    throw UsageError{"--tls-cert and --tls-key go together"};
  }
  if (certFile.empty() && !IsLoopback(options.host)) {
    throw UsageError{"listening on " + options.host +
                     " needs --tls-cert and --tls-key; without them only loopback is served"};
  }
  if (!certFile.empty()) {
    options.tlsCert = ReadFile(certFile);
    options.tlsKey = ReadFile(keyFile);
  }

  // Every library call, MZ_Init and MZ_Done included, runs on the worker,
  // each request's under the device lock, taken for that request only.
  xmlInitParser();
  // The C library sets up its time zone state on first use and guards it with
  // a lock of its own, which a race detector cannot see; set up here, before
  // any thread, the state is only ever replaced under that lock.
  tzset();
  Worker worker;
  DeviceLock lock(deviceDir, "mzhost serve", std::nullopt);
  std::unique_ptr<CardDav> dav;
  std::unique_ptr<Api> api;
  bool opened = false;
  std::string failure;
  worker.RunNow([&] {
    try {
      lock.Acquire();
      opened = host.mz.MZ_Init() == MZ_OK;
      if (opened) {
        const std::filesystem::path dir = deviceDir;
        if (passwordFile.empty()) {
          passwordFile = (dir / "carddav-password").string();
          options.password = Password(passwordFile, true);
        } else {
          options.password = Password(passwordFile, false);
        }
        std::string name = std::filesystem::absolute(dir).lexically_normal().filename().string();
        if (name.empty()) name = std::filesystem::absolute(dir).parent_path().filename().string();
        dav = std::make_unique<CardDav>(host.mz, (dir / "carddav.db").string(), name, options.user);
        api = std::make_unique<Api>(host, *dav);
      }
    } catch (const Failure& e) {
      failure = e.message;
    } catch (const Interrupted&) {
      failure = "interrupted";
    }
    lock.Release();
  });
  // MZ_Done runs on the worker too, however serving ends.
  struct Session {
    Worker& worker;
    DeviceLock& lock;
    Library& mz;
    ~Session() {
      worker.RunNow([this] {
        lock.Reacquire();
        mz.MZ_Done();
        lock.Release();
      });
    }
  } session{worker, lock, host.mz};
  if (!failure.empty()) throw Failure{failure};
  if (!opened) Refused("MZ_Init", MZ_E_FAILED, "MZ_Init failed: the phone would not open");

  // New messages: the library's callback queues them (StartWatching), and a
  // thread of their own hands each to every event stream.
  EventHub events;
  worker.RunNow([&] { StartWatching(host); });
  std::thread pump([&events] { PumpArrivals(events); });
  struct StopEvents {
    EventHub& events;
    std::thread& pump;
    ~StopEvents() {
      events.Stop();
      pump.join();
    }
  } stopEvents{events, pump};

  uint64_t generation = lock.generation();  // of the latest take; used on the worker only
  HttpServer server(
      options, worker,
      [&](const HttpRequest& request) {
        if (!lock.Reacquire()) return HttpResponse{503, {{"Retry-After", "1"}}, {}};
        struct Unlock {
          DeviceLock& lock;
          ~Unlock() { lock.Release(); }
        } unlock{lock};
        // Another host had the phone since this server's last request.
        if (lock.generation() != generation + 1) dav->Invalidate();
        generation = lock.generation();
        if (request.path.rfind("/api/", 0) == 0) return api->Handle(request);
        return dav->Handle(request);
      },
      // The page's files and the event stream need no library call: they are
      // answered at once, whatever the worker is doing.
      [&events](const HttpRequest& request) {
        if (auto page = ServePage(request)) return page;
        return EventStream(events, request);
      });
  const unsigned port = server.Start();
  const bool ipv6 = options.host.find(':') != std::string::npos;
  std::printf("listening on %s://%s%s%s:%u/\n", options.tlsCert.empty() ? "http" : "https",
              ipv6 ? "[" : "", options.host.c_str(), ipv6 ? "]" : "", port);
  std::fflush(stdout);
  while (!Interruption()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::fprintf(stderr, "mzhost: stopping the server\n");
  if (const uint64_t dropped = events.Dropped()) {
    std::fprintf(stderr, "mzhost: %llu events were dropped for clients that read too slowly\n",
                 static_cast<unsigned long long>(dropped));
  }
  events.Stop();
  server.Stop();
  worker.RunNow([&] {
    api.reset();
    dav.reset();
  });
}

}  // namespace mzhost
