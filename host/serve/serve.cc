// mzhost serve: the phone's contacts as a CardDAV address book.
#include "serve.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "assets.h"
#include "carddav.h"
#include "device_lock.h"
#include "http_server.h"

namespace mzhost {
namespace {

constexpr const char kServeUsage[] =
    "usage: mzhost serve [--listen HOST:PORT] [--user NAME] [--password-file FILE]\n"
    "                    [--tls-cert FILE --tls-key FILE]";

std::string RandomPassword() {
  unsigned char bytes[24] = {};
  if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes) throw Failure{"no random bytes"};
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string password;
  for (const unsigned char b : bytes) password.push_back(kAlphabet[b % 64]);
  return password;  // 24 characters of 6 random bits: 144 bits
}

// The password in `path`, its first line; made on first start when `make`.
std::string Password(const std::string& path, bool make) {
  if (make) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      const std::string line = RandomPassword() + "\n";
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
  // FNV-1a of the bytes: the same build serves the same tag.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : asset->bytes)
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char etag[24];
  std::snprintf(etag, sizeof etag, "\"%016llx\"", static_cast<unsigned long long>(hash));
  const std::string* none = request.Header("if-none-match");
  if (none != nullptr && none->find(etag) != std::string::npos) {
    return HttpResponse{304, {{"ETag", etag}}, {}};
  }
  return HttpResponse{
      200, {{"Content-Type", std::string(asset->type)}, {"ETag", etag}}, std::string(asset->bytes)};
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
  Worker worker;
  DeviceLock lock(deviceDir, "mzhost serve", std::nullopt);
  std::unique_ptr<CardDav> dav;
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

  HttpServer server(options, worker, [&](const HttpRequest& request) {
    if (auto page = ServePage(request)) return std::move(*page);
    if (!lock.Reacquire()) return HttpResponse{503, {{"Retry-After", "1"}}, {}};
    struct Unlock {
      DeviceLock& lock;
      ~Unlock() { lock.Release(); }
    } unlock{lock};
    return dav->Handle(request);
  });
  const unsigned port = server.Start();
  std::printf("listening on %s://%s:%u/\n", options.tlsCert.empty() ? "http" : "https",
              options.host.c_str(), port);
  std::fflush(stdout);
  while (!Interruption()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::fprintf(stderr, "mzhost: stopping the server\n");
  server.Stop();
  worker.RunNow([&] { dav.reset(); });
}

}  // namespace mzhost
