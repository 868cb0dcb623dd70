// The JSON API under /api/: the message folders, sending an SMS, the
// contacts (through the CardDAV server's resources) and the sound settings.
// Like CardDav, it runs on the server's one worker thread.
#pragma once

#include <string_view>

#include "carddav.h"
#include "host.h"
#include "http_server.h"

namespace mzhost {

// Every route the API serves ({name}: one path segment); where two patterns
// match, the one with more literal segments wins. The handlers in api.cc
// follow this order.
struct ApiRoute {
  std::string_view method;
  std::string_view path;
};
inline constexpr ApiRoute kApiRoutes[] = {
    {"GET", "/api/openapi.json"},
    {"GET", "/api/messages"},
    {"GET", "/api/messages/{folder}"},
    {"DELETE", "/api/messages/{folder}"},
    {"GET", "/api/messages/{folder}/{id}"},
    {"DELETE", "/api/messages/{folder}/{id}"},
    {"GET", "/api/sms/limits"},
    {"POST", "/api/sms"},
    {"GET", "/api/contacts"},
    {"POST", "/api/contacts"},
    {"POST", "/api/contacts/import"},
    {"GET", "/api/contacts/export"},
    {"GET", "/api/contacts/{id}"},
    {"PUT", "/api/contacts/{id}"},
    {"DELETE", "/api/contacts/{id}"},
    {"GET", "/api/contacts/{id}/vcard"},
    {"GET", "/api/sounds"},
    {"PUT", "/api/ringtone"},
    {"PUT", "/api/sms-sound"},
    {"PUT", "/api/theme"},
};

class Api {
 public:
  Api(Host& host, CardDav& dav);
  // Answers a request whose path starts with /api/; errors are JsonError's.
  HttpResponse Handle(const HttpRequest& request);

  struct Call;  // a routed request: its path parameters and query, and what serves it

 private:
  Host& host_;
  CardDav& dav_;
};

}  // namespace mzhost
