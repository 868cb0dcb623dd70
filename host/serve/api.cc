#include "api.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <span>

#include "assets.h"
#include "cards/card_normalizer.h"
#include "cards/card_reader.h"
#include "cards/card_writer.h"
#include "contact_import.h"
#include "json_reader.h"
#include "message_export.h"
#include "text.h"
#include "vcf.h"

namespace mzhost {

struct Api::Call {
  Host& host;
  CardDav& dav;
  const HttpRequest& request;
  std::vector<std::string> parameters;  // the path's {name} segments, decoded, in order
  std::map<std::string, std::string> query;
};

namespace {

using Call = Api::Call;

// A body of a media type the route does not take: 415.
struct WrongType {
  std::string message;
};

constexpr std::size_t kDefaultLimit = 50;
constexpr uint32_t kMostLimit = 500;
constexpr MessageFolder kFolderCount = 5;

HttpResponse Json(int status, std::string body) {
  return {status, {{"Content-Type", "application/json"}}, body + "\n"};
}

std::vector<std::string> Segments(std::string_view path) {
  std::vector<std::string> segments;
  for (std::size_t start = 1; start <= path.size();) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    segments.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return segments;
}

// The parameters of `route` when `segments` match it, else none.
std::optional<std::vector<std::string>> Match(std::string_view route,
                                              const std::vector<std::string>& segments) {
  const std::vector<std::string> pattern = Segments(route);
  if (pattern.size() != segments.size()) return std::nullopt;
  std::vector<std::string> parameters;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i].starts_with("{")) {
      parameters.push_back(segments[i]);
    } else if (pattern[i] != segments[i]) {
      return std::nullopt;
    }
  }
  return parameters;
}

// A JSON object body; BadInput when there is none.
JsonValue ObjectBody(const HttpRequest& request) {
  const std::string media = request.MediaType();
  if (!media.empty() && media != "application/json") {
    throw WrongType{"the body must be application/json, not " + media};
  }
  std::string error;
  std::optional<JsonValue> body = ReadJson(request.body, &error);
  if (!body) throw BadInput{{error}};
  if (body->kind != JsonValue::kObject) throw BadInput{{"the body must be a JSON object"}};
  return *body;
}

const std::string& Required(const JsonValue& body, const char* name) {
  const std::string* value = body.String(name);
  if (value == nullptr) throw BadInput{{std::string("missing field \"") + name + "\" (a string)"}};
  return *value;
}

// A paging parameter: `fallback` when absent, else a number from `least`
// to `most`.
std::size_t Paging(const Call& call, const char* name, std::size_t fallback, uint32_t least,
                   uint32_t most) {
  const auto it = call.query.find(name);
  if (it == call.query.end()) return fallback;
  const uint32_t value = ParseNumber(it->second, name, most);
  if (value < least) throw UsageError{"'" + it->second + "' is not a valid " + name};
  return value;
}

std::string JsonStrings(const std::vector<std::string>& texts) {
  std::vector<std::string> values;
  for (const std::string& text : texts) values.push_back(JsonText(text));
  return JsonArray(values);
}

// --- Messages --------------------------------------------------------------

MessageFolder FolderOf(const std::string& name) {
  for (MessageFolder folder = 0; folder < kFolderCount; ++folder) {
    if (name == FolderName(folder)) return folder;
  }
  throw NotFound{{"unknown folder '" + name + "' (inbox, outbox, sent, drafts or deleted)"}};
}

std::string MessageJson(const Message& m) {
  return JsonObject({{"id", JsonText(m.entryId)},
                     {"folder", JsonText(FolderName(m.folder))},
                     {"time", JsonText(IsoTime(m.time))},
                     {"address", JsonText(m.address)},
                     {"text", JsonText(m.text)}});
}

// --- Contacts --------------------------------------------------------------

constexpr const char* kNameParts[] = {"family", "given", "middle", "prefix", "suffix"};
constexpr const char* kOrgParts[] = {"company", "department"};
constexpr const char* kAddressParts[] = {"street", "locality", "region", "postal_code", "country"};

// A slot of the phone's contact as a JSON field and as the card property
// that fills it.
struct Field {
  Slot slot;
  const char* name;
  const char* property;  // vCard 3.0 name and types; an ADR's value starts with two empty parts
  std::span<const char* const> parts;  // none: one value
};
const Field kFields[] = {
    {Slot::kName, "name", "N", kNameParts},
    {Slot::kBirthday, "birthday", "BDAY", {}},
    {Slot::kOrg, "org", "ORG", kOrgParts},
    {Slot::kTitle, "title", "TITLE", {}},
    {Slot::kNote, "note", "NOTE", {}},
    {Slot::kMobile, "mobile", "TEL;TYPE=CELL", {}},
    {Slot::kHomeTel, "home_tel", "TEL;TYPE=HOME;TYPE=VOICE", {}},
    {Slot::kWorkTel, "work_tel", "TEL;TYPE=WORK;TYPE=VOICE", {}},
    {Slot::kHomeFax, "home_fax", "TEL;TYPE=HOME;TYPE=FAX", {}},
    {Slot::kWorkFax, "work_fax", "TEL;TYPE=WORK;TYPE=FAX", {}},
    {Slot::kEmail, "email", "EMAIL;TYPE=INTERNET", {}},
    {Slot::kUrl, "url", "URL", {}},
    {Slot::kHomeAddress, "home_address", "ADR;TYPE=HOME", kAddressParts},
    {Slot::kWorkAddress, "work_address", "ADR;TYPE=WORK", kAddressParts},
    {Slot::kOtherAddress, "other_address", "ADR", kAddressParts},
};

std::string FieldsJson(const PhoneContact& contact) {
  std::string out = "{";
  auto add = [&](const char* name, const std::string& value) {
    out += (out.size() > 1 ? "," : "") + JsonText(name) + ":" + value;
  };
  for (const Field& field : kFields) {
    const std::vector<std::string>& parts = contact[field.slot];
    if (parts.empty()) continue;
    if (field.parts.empty()) {
      add(field.name, JsonText(parts[0]));
      continue;
    }
    std::string object = "{";
    for (std::size_t i = 0; i < field.parts.size(); ++i) {
      object += (i ? "," : "") + JsonText(field.parts[i]) + ":" +
                JsonText(i < parts.size() ? parts[i] : "");
    }
    add(field.name, object + "}");
  }
  if (!contact.categories.empty()) add("categories", JsonText(contact.categories));
  return out + "}";
}

std::string DisplayName(const std::string& text) {
  return Summarize(text).name;
}

std::string ContactJson(const StoredContact& c) {
  return JsonObject({{"id", JsonText(c.id)},
                     {"etag", JsonText(c.etag)},
                     {"name", JsonText(DisplayName(c.text))},
                     {"fields", FieldsJson(NormalizeCard(c.text, TypePolicy::kStrict).contact)}});
}

std::string Escaped(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\' || c == ';' || c == ',') out.push_back('\\');
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out.push_back(c);
    }
  }
  return out;
}

// The JSON fields as a vCard 3.0 card; BadInput for a field it does not know.
std::string CardOfFields(const JsonValue& fields) {
  if (fields.kind != JsonValue::kObject) throw BadInput{{"\"fields\" must be an object"}};
  std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  for (const auto& [name, value] : fields.members) {
    const auto field = std::find_if(std::begin(kFields), std::end(kFields),
                                    [&](const Field& f) { return name == f.name; });
    if (name == "categories") {
      if (value.kind != JsonValue::kString) throw BadInput{{"\"categories\" must be a string"}};
      card += "CATEGORIES:" + Escaped(value.text) + "\r\n";
      continue;
    }
    if (field == std::end(kFields)) throw BadInput{{"unknown field \"" + name + "\""}};
    std::string line = std::string(field->property) + ":";
    if (field->parts.empty()) {
      if (value.kind != JsonValue::kString) throw BadInput{{"\"" + name + "\" must be a string"}};
      line += Escaped(value.text);
    } else {
      if (value.kind != JsonValue::kObject) throw BadInput{{"\"" + name + "\" must be an object"}};
      for (const auto& [part, unused] : value.members) {
        if (std::find_if(field->parts.begin(), field->parts.end(),
                         [&](const char* p) { return part == p; }) == field->parts.end()) {
          throw BadInput{{"\"" + name + "\" has no part \"" + part + "\""}};
        }
      }
      if (field->slot >= Slot::kHomeAddress) line += ";;";
      for (std::size_t i = 0; i < field->parts.size(); ++i) {
        const std::string* part = value.String(field->parts[i]);
        line += (i ? ";" : "") + (part ? Escaped(*part) : "");
      }
    }
    card += line + "\r\n";
  }
  return card + "END:VCARD\r\n";
}

// The card a POST or PUT sends, normalized: a vCard, or JSON fields.
NormalizedCard CardOfBody(const HttpRequest& request) {
  const std::string media = request.MediaType();
  const bool vcard = media.find("vcard") != std::string::npos || media == "text/directory" ||
                     (media.empty() && request.body.find("BEGIN:VCARD") != std::string::npos);
  NormalizedCard card;
  if (vcard) {
    const std::vector<Card> cards = SplitCards(FileAsUtf8(request.body));
    if (cards.size() != 1 || !cards[0].complete) {
      throw BadInput{{"the body must hold exactly one whole vCard"}};
    }
    card = NormalizeCard(cards[0].text, TypePolicy::kFill);
  } else if (media.empty() || media == "application/json") {
    const JsonValue body = ObjectBody(request);
    const JsonValue* fields = body.Member("fields");
    if (fields == nullptr) throw BadInput{{"missing field \"fields\" (an object)"}};
    card = NormalizeCard(CardOfFields(*fields), TypePolicy::kFill);
  } else {
    throw WrongType{"the body must be text/vcard or application/json, not " + media};
  }
  if (card.text.empty()) throw BadInput{{"the card holds nothing the phone keeps"}};
  return card;
}

// What became of a card's properties: counts, and words for each one not kept.
struct Fates {
  std::size_t of[3] = {};
  std::vector<std::string> dropped, retyped, notes;

  explicit Fates(const NormalizedCard& card) : notes(card.notes) {
    for (const PropertyFate& fate : card.fates) {
      ++of[fate.action];
      if (fate.action == PropertyFate::kDropped) {
        dropped.push_back(fate.property);
        notes.push_back(fate.property + " dropped: " + fate.reason);
      } else if (fate.action == PropertyFate::kRetyped) {
        retyped.push_back(fate.property + " -> " + fate.as);
        notes.push_back(fate.property + " kept as " + fate.as + ": " + fate.reason);
      }
    }
  }
  std::string Report() const {
    return JsonObject({{"kept", JsonNumber(static_cast<long long>(of[PropertyFate::kKept]))},
                       {"retyped", JsonNumber(static_cast<long long>(of[PropertyFate::kRetyped]))},
                       {"dropped", JsonNumber(static_cast<long long>(of[PropertyFate::kDropped]))},
                       {"notes", JsonStrings(notes)}});
  }
};

std::string Digits(const std::string& text) {
  std::string digits;
  for (const char c : text) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

// Whether a contact matches a search: its name or e-mail holds `q` (case
// folded, in any script), or one of its numbers holds q's digits.
bool Matches(const std::string& text, const std::string& q) {
  if (q.empty()) return true;
  const std::string lower = FoldCase(q);
  const PhoneContact contact = NormalizeCard(text, TypePolicy::kStrict).contact;
  if (FoldCase(DisplayName(text)).find(lower) != std::string::npos) return true;
  const auto& email = contact[Slot::kEmail];
  if (!email.empty() && FoldCase(email[0]).find(lower) != std::string::npos) return true;
  const std::string digits = Digits(q);
  if (digits.empty()) return false;
  for (Slot slot :
       {Slot::kMobile, Slot::kHomeTel, Slot::kWorkTel, Slot::kHomeFax, Slot::kWorkFax}) {
    if (!contact[slot].empty() && Digits(contact[slot][0]).find(digits) != std::string::npos) {
      return true;
    }
  }
  return false;
}

CardFormat FormatOf(const Call& call) {
  const auto it = call.query.find("version");
  if (it == call.query.end()) return CardFormat::k30;
  const auto format = ParseCardFormat(it->second);
  if (!format) throw UsageError{"version takes 2.1, 3.0 or 4.0"};
  return *format;
}

HttpResponse Vcard(std::string body) {
  return {200, {{"Content-Type", "text/vcard; charset=utf-8"}}, std::move(body)};
}

// The OpenAPI document, built in from host/web/.
HttpResponse Description(const Call&) {
  const Asset* document = FindAsset("openapi.json");
  if (document == nullptr) return JsonError(404, "the API's description is not built in");
  return {200, {{"Content-Type", std::string(document->type)}}, std::string(document->bytes)};
}

HttpResponse Limits(const Call&) {
  return Json(200, JsonObject({{"number", JsonNumber(kMostNumberChars)},
                               {"text", JsonNumber(kMostTextChars)},
                               {"charset", JsonText("windows-1252")}}));
}

HttpResponse Folders(const Call& call) {
  std::vector<std::string> folders;
  for (MessageFolder folder = 0; folder < kFolderCount; ++folder) {
    folders.push_back(JsonObject({{"name", JsonText(FolderName(folder))},
                                  {"count", JsonNumber(CountMessages(call.host, folder))}}));
  }
  return Json(200, JsonObject({{"folders", JsonArray(folders)}}));
}

HttpResponse Folder(const Call& call) {
  const MessageFolder folder = FolderOf(call.parameters[0]);
  const std::size_t offset = Paging(call, "offset", 0, 0, UINT32_MAX);
  const std::size_t limit = Paging(call, "limit", kDefaultLimit, 1, kMostLimit);
  const std::vector<Message> messages = ReadFolder(call.host, folder);
  std::vector<std::string> page;
  for (std::size_t i = offset; i < messages.size() && i < offset + limit; ++i) {
    page.push_back(MessageJson(messages[i]));
  }
  return Json(200, JsonObject({{"folder", JsonText(FolderName(folder))},
                               {"total", JsonNumber(static_cast<long long>(messages.size()))},
                               {"offset", JsonNumber(static_cast<long long>(offset))},
                               {"limit", JsonNumber(static_cast<long long>(limit))},
                               {"messages", JsonArray(page)}}));
}

HttpResponse ClearOne(const Call& call) {
  const uint32_t count = ClearFolder(call.host, FolderOf(call.parameters[0]));
  return Json(200, JsonObject({{"deleted", JsonNumber(count)}}));
}

HttpResponse OneMessage(const Call& call, bool remove) {
  const MessageFolder folder = FolderOf(call.parameters[0]);
  const std::string& id = call.parameters[1];
  if (!IsEntryId(id)) throw UsageError{"'" + id + "' is not an entry id (hex digits)"};
  if (remove) {
    DeleteMessage(call.host, folder, id);
    return {204, {}, {}};
  }
  for (const Message& m : ReadFolder(call.host, folder)) {
    if (strcasecmp(m.entryId.c_str(), id.c_str()) == 0) return Json(200, MessageJson(m));
  }
  throw NotFound{{"no message in '" + std::string(FolderName(folder)) + "' has entry id " + id}};
}

HttpResponse Send(const Call& call) {
  const JsonValue body = ObjectBody(call.request);
  SendSms(call.host, Required(body, "number"), Required(body, "text"));
  return Json(200, JsonObject({{"sent", JsonBool(true)}}));
}

HttpResponse ContactList(const Call& call) {
  const std::size_t offset = Paging(call, "offset", 0, 0, UINT32_MAX);
  const std::size_t limit = Paging(call, "limit", kDefaultLimit, 1, kMostLimit);
  const auto q = call.query.find("q");
  std::vector<std::pair<std::string, StoredContact>> found;
  for (StoredContact& contact : call.dav.Contacts()) {
    if (q != call.query.end() && !Matches(contact.text, q->second)) continue;
    found.emplace_back(FoldCase(DisplayName(contact.text)), std::move(contact));
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first
                              : std::stoull(a.second.id) < std::stoull(b.second.id);
  });
  std::vector<std::string> page;
  for (std::size_t i = offset; i < found.size() && i < offset + limit; ++i) {
    page.push_back(ContactJson(found[i].second));
  }
  return Json(200, JsonObject({{"total", JsonNumber(static_cast<long long>(found.size()))},
                               {"offset", JsonNumber(static_cast<long long>(offset))},
                               {"limit", JsonNumber(static_cast<long long>(limit))},
                               {"contacts", JsonArray(page)}}));
}

HttpResponse OneContact(const Call& call) {
  const std::string id = ParseContactId(call.parameters[0]);
  const auto contact = call.dav.Contact(id);
  if (!contact) throw NotFound{{"no contact with id " + id}};
  HttpResponse response = Json(200, ContactJson(*contact));
  response.headers.emplace_back("ETag", contact->etag);
  return response;
}

HttpResponse ContactCard(const Call& call) {
  const std::string id = ParseContactId(call.parameters[0]);
  const CardFormat format = FormatOf(call);
  const auto contact = call.dav.Contact(id);
  if (!contact) throw NotFound{{"no contact with id " + id}};
  HttpResponse response = Vcard(WriteCard(contact->text, format));
  response.headers.emplace_back("ETag", contact->etag);
  return response;
}

HttpResponse StoreContact(const Call& call, const std::string& id) {
  const NormalizedCard card = CardOfBody(call.request);
  const StoreOutcome outcome = call.dav.Store(id, card, call.request);
  if (outcome.status == 404) throw NotFound{{"no contact with id " + id}};
  if (outcome.status == 412) return JsonError(412, "the contact changed: its ETag differs");
  HttpResponse response =
      Json(outcome.status, JsonObject({{"contact", ContactJson(outcome.contact)},
                                       {"report", Fates(card).Report()},
                                       {"changed", JsonBool(outcome.differs)}}));
  response.headers.emplace_back("ETag", outcome.contact.etag);
  if (outcome.status == 201) {
    response.headers.emplace_back("Location", "/api/contacts/" + outcome.contact.id);
  }
  return response;
}

HttpResponse RemoveContact(const Call& call) {
  const std::string id = ParseContactId(call.parameters[0]);
  const int status = call.dav.Remove(id, call.request);
  if (status == 404) throw NotFound{{"no contact with id " + id}};
  if (status == 412) return JsonError(412, "the contact changed: its ETag differs");
  return {204, {}, {}};
}

HttpResponse Import(const Call& call) {
  const std::string media = call.request.MediaType();
  if (!media.empty() && media.find("vcard") == std::string::npos && media != "text/directory") {
    throw WrongType{"an import takes text/vcard, not " + media};
  }
  const std::vector<Card> cards = SplitCards(FileAsUtf8(call.request.body));
  if (cards.empty()) throw BadInput{{"the body holds no vCard"}};
  call.dav.Invalidate();  // the contacts change behind the address book's back
  std::vector<std::string> rows;
  std::size_t imported = 0, counts[3] = {};
  for (const Card& card : cards) {
    const ImportedCard added = ImportCard(call.host, card, TypePolicy::kFill, false);
    const Fates fates(added.normal);
    if (added.refusal.empty()) {
      ++imported;
      for (int i = 0; i < 3; ++i) counts[i] += fates.of[i];
    }
    rows.push_back(JsonObject({{"index", JsonNumber(static_cast<long long>(card.index))},
                               {"name", JsonText(DisplayName(card.text))},
                               {"status", JsonText(added.refusal.empty() ? "imported" : "refused")},
                               {"id", added.id.empty() ? "null" : JsonText(added.id)},
                               {"reason", added.refusal.empty() ? "null" : JsonText(added.refusal)},
                               {"dropped", JsonStrings(fates.dropped)},
                               {"retyped", JsonStrings(fates.retyped)}}));
  }
  auto number = [](std::size_t n) { return JsonNumber(static_cast<long long>(n)); };
  return Json(200, JsonObject({{"total", number(cards.size())},
                               {"imported", number(imported)},
                               {"refused", number(cards.size() - imported)},
                               {"kept", number(counts[PropertyFate::kKept])},
                               {"retyped", number(counts[PropertyFate::kRetyped])},
                               {"dropped", number(counts[PropertyFate::kDropped])},
                               {"cards", JsonArray(rows)}}));
}

HttpResponse Export(const Call& call) {
  const CardFormat format = FormatOf(call);
  std::string body;
  for (const StoredContact& contact : call.dav.Contacts()) body += WriteCard(contact.text, format);
  HttpResponse response = Vcard(std::move(body));
  response.headers.emplace_back("Content-Disposition", "attachment; filename=\"contacts.vcf\"");
  return response;
}

HttpResponse Sounds(const Call& call) {
  const auto event = call.query.find("event");
  if (event == call.query.end()) throw UsageError{"missing parameter event"};
  const auto given = call.query.find("locations");
  const std::string locations = given == call.query.end() ? "all" : given->second;
  std::vector<std::string> rows;
  for (const std::string& directory :
       SoundDirectories(call.host, ParseEvent(event->second), ParseLocations(locations))) {
    rows.push_back(JsonObject(
        {{"path", JsonText(directory)}, {"files", JsonStrings(SoundFiles(call.host, directory))}}));
  }
  return Json(200, JsonObject({{"event", JsonText(event->second)},
                               {"locations", JsonText(locations)},
                               {"directories", JsonArray(rows)}}));
}

HttpResponse Ringtone(const Call& call) {
  const JsonValue body = ObjectBody(call.request);
  const std::string& event = Required(body, "event");
  const std::string& path = Required(body, "path");
  SetRingtone(call.host, ParseEvent(event), path);
  return Json(200, JsonObject({{"event", JsonText(event)}, {"sound", JsonText(path)}}));
}

HttpResponse SmsSound(const Call& call) {
  const JsonValue body = ObjectBody(call.request);
  const std::string& directory = Required(body, "directory");
  const std::string& file = Required(body, "file");
  const std::string sound = SetSmsSound(call.host, directory, file);
  return Json(
      200, JsonObject({{"sound", JsonText(sound)}, {"source", JsonText(directory + "\\" + file)}}));
}

HttpResponse Theme(const Call& call) {
  const JsonValue body = ObjectBody(call.request);
  const std::string& command = Required(body, "command");
  SetTheme(call.host, command);
  return Json(200, JsonObject({{"theme", JsonText(command)}}));
}

HttpResponse GetMessage(const Call& call) {
  return OneMessage(call, false);
}

HttpResponse DropMessage(const Call& call) {
  return OneMessage(call, true);
}

HttpResponse AddContact(const Call& call) {
  return StoreContact(call, {});
}

HttpResponse PutContact(const Call& call) {
  return StoreContact(call, ParseContactId(call.parameters[0]));
}

// The handlers in the order of kApiRoutes.
using Handler = HttpResponse (*)(const Call&);
constexpr Handler kHandlers[] = {Description, Folders, Folder,     ClearOne,    GetMessage,
                                 DropMessage, Limits,  Send,       ContactList, AddContact,
                                 Import,      Export,  OneContact, PutContact,  RemoveContact,
                                 ContactCard, Sounds,  Ringtone,   SmsSound,    Theme};
static_assert(std::size(kHandlers) == std::size(kApiRoutes));

}  // namespace

Api::Api(Host& host, CardDav& dav) : host_(host), dav_(dav) {}

HttpResponse Api::Handle(const HttpRequest& request) {
  std::vector<std::string> segments;
  for (const std::string& segment : Segments(request.path)) {
    std::string decoded;
    if (!PercentDecode(segment, &decoded, false)) return JsonError(400, "a bad escape in the path");
    segments.push_back(std::move(decoded));
  }
  // The routes of the path's best pattern: the most literal segments.
  std::vector<std::size_t> routes;
  std::vector<std::string> parameters;
  std::size_t best = 0;
  for (std::size_t i = 0; i < std::size(kApiRoutes); ++i) {
    const auto found = Match(kApiRoutes[i].path, segments);
    if (!found) continue;
    const std::size_t literal = segments.size() - found->size();
    if (routes.empty() || literal > best) {
      routes.clear();
      best = literal;
      parameters = *found;
    }
    if (literal == best) routes.push_back(i);
  }
  if (routes.empty()) return JsonError(404, "no such route: " + request.path);
  std::string allow;
  for (const std::size_t route : routes) {
    if (kApiRoutes[route].method == request.method) {
      const auto query = ParseQuery(request.query);
      if (!query) return JsonError(400, "the query is malformed or too long");
      try {
        return kHandlers[route](Call{host_, dav_, request, parameters, *query});
      } catch (const NotFound& e) {
        return JsonError(404, e.message, e.exportName.empty() ? nullptr : e.exportName.c_str(),
                         e.code);
      } catch (const WrongType& e) {
        return JsonError(415, e.message);
      } catch (const BadInput& e) {
        return JsonError(400, e.message);
      } catch (const UsageError& e) {
        return JsonError(400, e.message);
      } catch (const Failure& e) {
        // The phone failed: an export refused, or did not do what it said.
        return JsonError(502, e.message, e.exportName.empty() ? nullptr : e.exportName.c_str(),
                         e.code);
      } catch (const Interrupted&) {
        return JsonError(503, "the server is stopping");
      } catch (const std::exception& e) {
        std::fprintf(stderr, "mzhost: %s\n", e.what());
        return JsonError(500, "the request failed");
      }
    }
    allow += (allow.empty() ? "" : ", ") + std::string(kApiRoutes[route].method);
  }
  HttpResponse wrong = JsonError(405, request.path + " takes " + allow);
  wrong.headers.emplace_back("Allow", allow);
  return wrong;
}

}  // namespace mzhost
