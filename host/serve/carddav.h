// The phone's contacts as one CardDAV address book: discovery, PROPFIND,
// REPORT (multiget, query, sync-collection), GET, PUT, DELETE and OPTIONS.
// Everything here runs on the server's one worker thread, the only caller
// of the library.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cards/card_normalizer.h"
#include "dav_state.h"
#include "http_server.h"
#include "library.h"

namespace mzhost {

// Where the server's resources live.
inline constexpr const char kPrincipalPath[] = "/dav/principal/";
inline constexpr const char kHomePath[] = "/dav/ab/";
inline constexpr const char kBookPath[] = "/dav/ab/contacts/";

// The last segment of a card's path, decoded; none when it is not one plain
// segment (an encoded slash or zero byte, ".", "..", empty, over 255 bytes,
// a bad escape).
std::optional<std::string> CardName(const std::string& encodedSegment);
// `name` as a path segment, every byte but the unreserved ones escaped.
std::string EncodeSegment(const std::string& name);

// A contact as the JSON API sees it: the library's 2.1 text with the ETag of
// its CardDAV resource.
struct StoredContact {
  std::string id;
  std::string text;
  std::string etag;
};

// What storing a card into a contact did.
struct StoreOutcome {
  int status = 0;         // 201 added, 200 replaced, 404 no such contact, 412 a precondition failed
  StoredContact contact;  // as the phone keeps it now
  bool differs = false;   // the phone keeps other than what was sent
};

class CardDav {
 public:
  // `statePath`: the server's SQLite file; `bookName`: the address book's
  // display name; `user`: the principal's name.
  CardDav(Library& mz, const std::string& statePath, std::string bookName, std::string user);
  HttpResponse Handle(const HttpRequest& request);
  // Another process may have changed the contacts: the next request that
  // lists the address book reads every contact again.
  void Invalidate() { fresh_ = false; }

  // The same contacts for the JSON API, through the same resources, ETags
  // and change log. Failures name the export that refused.
  std::vector<StoredContact> Contacts();
  std::optional<StoredContact> Contact(const std::string& contactId);
  // Stores `card` (normalized, not empty) in contact `contactId`, or in a
  // new one when it is empty; `conditions` carries If-Match/If-None-Match.
  StoreOutcome Store(const std::string& contactId, const NormalizedCard& card,
                     const HttpRequest& conditions);
  // 204 deleted, 404 no such contact, 412 a precondition failed.
  int Remove(const std::string& contactId, const HttpRequest& conditions);

 private:
  struct Stored {
    std::string id;
    std::string text;  // the library's 2.1 text
  };
  HttpResponse Propfind(const HttpRequest& request, int kind, const std::string& name);
  HttpResponse Report(const HttpRequest& request);
  HttpResponse Get(const HttpRequest& request, const std::string& name);
  HttpResponse Put(const HttpRequest& request, const std::string& name);
  HttpResponse Delete(const HttpRequest& request, const std::string& name);

  // Reads every contact and brings the resources in line: new, changed and
  // removed contacts are logged. Returns the texts by contact id. What the
  // last read gave serves again while nothing can have changed: no other
  // process took the device lock (Invalidate), this server changed no
  // contact, the count is the same, and the read is at most kMostStale old.
  // The last two catch what is changed without the lock (on the phone
  // itself): an addition or deletion at once, an edit within kMostStale.
  const std::map<std::string, std::string>& Refresh();
  bool Fresh() const;
  // The current text of a resource's contact; the resource's hash follows it
  // (and the change is logged). None, and the resource forgotten, when the
  // contact is gone.
  std::optional<std::string> Fetch(Resource* resource);
  bool ReadAt(int32_t position, Stored* stored);
  // Drops what is known of a contact that is gone: its position (those after
  // it move up) and its text.
  void Forget(const std::string& contactId);
  // Whether the phone's contact holds something `card` leaves out.
  bool LeavesOut(Resource& resource, const NormalizedCard& card);
  // The resource of a contact, made for one the phone has but no resource
  // names yet; none when the phone has no such contact (then or now).
  std::optional<Resource> Find(const std::string& contactId);
  // Writes `card` into `saved`'s contact (a new one when its id is empty),
  // records the resource and returns the text the phone now holds.
  std::string Write(Resource* saved, const NormalizedCard& card);
  // Deletes a resource's contact and forgets the resource.
  void Erase(const Resource& resource);
  std::string ETag(const Resource& resource) const;
  std::string SyncToken();

  Library& mz_;
  DavState state_;
  std::string bookName_;
  std::string user_;
  std::map<std::string, int32_t> positions_;  // by contact id, as last read
  static constexpr std::chrono::seconds kMostStale{60};
  std::map<std::string, std::string> texts_;  // by contact id, as last read
  bool fresh_ = false;
  std::chrono::steady_clock::time_point readAt_;
};

}  // namespace mzhost
