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
// match, the one with more literal segments wins. Api::Route's handlers
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

  struct Call;  // a routed request: its path parameters and query

 private:
  HttpResponse Route(std::size_t route, const Call& call);
  HttpResponse Description(const Call& call);
  HttpResponse Folders(const Call& call);
  HttpResponse Folder(const Call& call);
  HttpResponse ClearOne(const Call& call);
  HttpResponse GetMessage(const Call& call);
  HttpResponse DropMessage(const Call& call);
  HttpResponse OneMessage(const Call& call, bool remove);
  HttpResponse Limits(const Call& call);
  HttpResponse Send(const Call& call);
  HttpResponse ContactList(const Call& call);
  HttpResponse OneContact(const Call& call);
  HttpResponse ContactCard(const Call& call);
  HttpResponse AddContact(const Call& call);
  HttpResponse PutContact(const Call& call);
  HttpResponse StoreContact(const Call& call, const std::string& id);
  HttpResponse RemoveContact(const Call& call);
  HttpResponse Import(const Call& call);
  HttpResponse Export(const Call& call);
  HttpResponse Sounds(const Call& call);
  HttpResponse Ringtone(const Call& call);
  HttpResponse SmsSound(const Call& call);
  HttpResponse Theme(const Call& call);

  Host& host_;
  CardDav& dav_;
};

}  // namespace mzhost
