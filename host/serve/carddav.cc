#include "carddav.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "cards/card_normalizer.h"
#include "cards/card_reader.h"
#include "cards/card_writer.h"
#include "host.h"
#include "text.h"
#include "vcf.h"

namespace mzhost {
namespace {

constexpr const char kDav[] = "DAV:";
constexpr const char kCard[] = "urn:ietf:params:xml:ns:carddav";
constexpr const char kServer[] = "http://calendarserver.org/ns/";
constexpr const char kTokenBase[] = "http://mzhost.invalid/sync/";

enum Kind { kNone, kRoot, kPrincipal, kHome, kBook, kCardFile };

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

// A property or parameter name as compared: upper case.
std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// --- XML in ----------------------------------------------------------------

struct XmlDocument {
  xmlDocPtr doc = nullptr;
  ~XmlDocument() { xmlFreeDoc(doc); }
  xmlNode* Root() const { return doc ? xmlDocGetRootElement(doc) : nullptr; }
};

// Parses a request body: no network, no entity expansion, no DTD at all.
bool ParseXml(const std::string& body, XmlDocument* document) {
  document->doc = xmlReadMemory(body.data(), static_cast<int>(body.size()), "request.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  return document->doc != nullptr && document->doc->intSubset == nullptr &&
         document->Root() != nullptr;
}

bool Is(const xmlNode* node, const char* ns, const char* local) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         std::strcmp(reinterpret_cast<const char*>(node->ns->href), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(node->name), local) == 0;
}

std::vector<xmlNode*> Elements(const xmlNode* parent) {
  std::vector<xmlNode*> out;
  for (xmlNode* child = parent ? parent->children : nullptr; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) out.push_back(child);
  }
  return out;
}

xmlNode* Child(const xmlNode* parent, const char* ns, const char* local) {
  for (xmlNode* child : Elements(parent)) {
    if (Is(child, ns, local)) return child;
  }
  return nullptr;
}

std::string Attr(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  std::string out = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  return out;
}

std::string Text(const xmlNode* node) {
  xmlChar* value = xmlNodeGetContent(node);
  std::string out = value ? reinterpret_cast<const char*>(value) : "";
  xmlFree(value);
  const auto first = out.find_first_not_of(" \t\r\n");
  const auto last = out.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? "" : out.substr(first, last - first + 1);
}

// A property asked for: namespace and local name.
struct PropName {
  std::string ns;
  std::string local;
  const xmlNode* node = nullptr;  // address-data's parameters live here
  bool operator==(const PropName& other) const { return ns == other.ns && local == other.local; }
};

std::vector<PropName> PropNames(const xmlNode* prop) {
  std::vector<PropName> names;
  for (xmlNode* child : Elements(prop)) {
    names.push_back({child->ns ? reinterpret_cast<const char*>(child->ns->href) : "",
                     reinterpret_cast<const char*>(child->name), child});
  }
  return names;
}

// --- XML out ---------------------------------------------------------------

std::string Element(const PropName& name, const std::string& inner) {
  std::string tag;
  std::string declare;
  if (name.ns == kDav) {
    tag = "d:" + name.local;
  } else if (name.ns == kCard) {
    tag = "card:" + name.local;
  } else if (name.ns == kServer) {
    tag = "cs:" + name.local;
  } else {
    tag = "x:" + name.local;
    declare = " xmlns:x=\"" + XmlEscape(name.ns) + "\"";
  }
  if (inner.empty()) return "<" + tag + declare + "/>";
  return "<" + tag + declare + ">" + inner + "</" + tag + ">";
}

std::string Href(const std::string& path) {
  return "<d:href>" + XmlEscape(path) + "</d:href>";
}

const char* StatusLine(int status) {
  switch (status) {
    case 200:
      return "HTTP/1.1 200 OK";
    case 403:
      return "HTTP/1.1 403 Forbidden";
    default:
      return "HTTP/1.1 404 Not Found";
  }
}

std::string Propstat(const std::string& props, int status) {
  return "<d:propstat><d:prop>" + props + "</d:prop><d:status>" + StatusLine(status) +
         "</d:status></d:propstat>";
}

std::string Multistatus(const std::string& responses, const std::string& tail = {}) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:multistatus xmlns:d=\"DAV:\" "
         "xmlns:card=\"urn:ietf:params:xml:ns:carddav\" "
         "xmlns:cs=\"http://calendarserver.org/ns/\">" +
         responses + tail + "</d:multistatus>\n";
}

HttpResponse Xml(int status, std::string body) {
  return {status, {{"Content-Type", "application/xml; charset=utf-8"}}, std::move(body)};
}

// A DAV error body naming the condition that failed.
HttpResponse DavError(int status, const std::string& condition) {
  return Xml(status,
             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<d:error xmlns:d=\"DAV:\" "
             "xmlns:card=\"urn:ietf:params:xml:ns:carddav\" xmlns:mz=\"urn:mzhost:dav\">" +
                 condition + "</d:error>\n");
}

HttpResponse BadXml() {
  return DavError(400, "<mz:readable-xml/>");
}

HttpResponse Status(int status, std::vector<std::pair<std::string, std::string>> headers = {}) {
  return {status, std::move(headers), {}};
}

constexpr const char kAllow[] = "OPTIONS, GET, HEAD, PUT, DELETE, PROPFIND, REPORT";

// --- Cards -----------------------------------------------------------------

// The library's text as a client gets it, with the client's UID.
std::string CardText(const std::string& text, const std::string& uid, CardFormat format) {
  std::string card = WriteCard(text, format);
  std::string clean;
  for (const char c : uid) {
    if (static_cast<unsigned char>(c) >= 0x20) clean.push_back(c);
  }
  const auto end = card.rfind("END:VCARD");
  if (end != std::string::npos) card.insert(end, "UID:" + clean + "\r\n");
  return card;
}

// The version an address-data element (or a GET's Accept) asks for.
CardFormat AskedFormat(const xmlNode* addressData) {
  return addressData != nullptr && Attr(addressData, "version") == "4.0" ? CardFormat::k40
                                                                         : CardFormat::k30;
}

// The card with only the properties an address-data element names in its
// prop children (and the lines that frame a card); the whole card when it
// names none or asks for all of them.
std::string OnlyAsked(const std::string& card, const xmlNode* addressData) {
  if (addressData == nullptr || Child(addressData, kCard, "allprop") != nullptr) return card;
  std::set<std::string> wanted;
  for (const xmlNode* prop : Elements(addressData)) {
    if (!Is(prop, kCard, "prop")) continue;
    wanted.insert(Upper(Attr(prop, "name")));
  }
  if (wanted.empty()) return card;
  wanted.insert({"BEGIN", "END", "VERSION"});
  std::string out;
  bool keep = false;
  for (std::size_t at = 0; at < card.size();) {
    const std::size_t end = std::min(card.find("\r\n", at), card.size());
    const std::string line = card.substr(at, end - at);
    // A folded line goes with the property it continues.
    if (line.empty() || (line[0] != ' ' && line[0] != '\t')) {
      const std::string name = line.substr(0, line.find_first_of(";:"));
      keep = wanted.contains(Upper(name.substr(name.find('.') + 1)));  // not the group's name
    }
    if (keep) out += line + "\r\n";
    at = end + 2;
  }
  return out;
}

// Whether a text-match's value is found in `value`.
bool TextMatches(const xmlNode* match, const std::string& value) {
  const std::string collation = Attr(match, "collation");
  const bool fold = collation != "i;octet";
  const std::string wanted = fold ? FoldCase(Text(match)) : Text(match);
  const std::string have = fold ? FoldCase(value) : value;
  const std::string type = Attr(match, "match-type");
  bool found;
  if (type == "equals") {
    found = have == wanted;
  } else if (type == "starts-with") {
    found = have.starts_with(wanted);
  } else if (type == "ends-with") {
    found = have.ends_with(wanted);
  } else {
    found = have.find(wanted) != std::string::npos;
  }
  return Attr(match, "negate-condition") == "yes" ? !found : found;
}

// Whether a card passes an addressbook-query filter.
bool PassesFilter(const xmlNode* filter, const std::string& card) {
  const std::vector<CardProperty> properties = ReadCard(card);
  const bool all = Attr(filter, "test") == "allof";
  const std::vector<xmlNode*> tests = Elements(filter);
  if (tests.empty()) return true;
  for (const xmlNode* propFilter : tests) {
    if (!Is(propFilter, kCard, "prop-filter")) continue;
    const std::string name = Upper(Attr(propFilter, "name"));
    std::vector<std::string> values;
    for (const CardProperty& property : properties) {
      if (property.name != name) continue;
      std::string joined;
      for (const std::string& part : property.parts) {
        if (part.empty()) continue;
        joined += (joined.empty() ? "" : " ") + part;
      }
      values.push_back(joined);
    }
    bool pass;
    std::vector<bool> results;
    for (const xmlNode* match : Elements(propFilter)) {
      if (!Is(match, kCard, "text-match")) continue;
      results.push_back(std::any_of(values.begin(), values.end(),
                                    [&](const std::string& v) { return TextMatches(match, v); }));
    }
    if (Child(propFilter, kCard, "is-not-defined")) {
      pass = values.empty();
    } else if (results.empty()) {
      pass = !values.empty();
    } else if (Attr(propFilter, "test") == "allof") {
      pass = std::all_of(results.begin(), results.end(), [](bool r) { return r; });
    } else {
      pass = std::any_of(results.begin(), results.end(), [](bool r) { return r; });
    }
    if (all && !pass) return false;
    if (!all && pass) return true;
  }
  return all;
}

// The contact id's resource made for a contact born on the phone.
Resource PhoneBorn(const std::string& databaseId, const std::string& contactId) {
  const std::string uid = "mz-" + databaseId + "-" + contactId;
  return {uid + ".vcf", contactId, uid, {}};
}

// Whether a precondition of the request fails for a resource (`etag` empty
// when the resource does not exist).
bool PreconditionFails(const HttpRequest& request, const std::string& etag) {
  auto listed = [&](const std::string& header) {
    if (header == "*" || header.find('*') != std::string::npos) return !etag.empty();
    if (etag.empty()) return false;
    std::size_t start = 0;
    while (start < header.size()) {
      std::size_t end = header.find(',', start);
      if (end == std::string::npos) end = header.size();
      std::string one = header.substr(start, end - start);
      one.erase(0, one.find_first_not_of(" \t"));
      one.erase(one.find_last_not_of(" \t") + 1);
      if (one == etag) return true;
      start = end + 1;
    }
    return false;
  };
  if (const std::string* match = request.Header("if-match"); match && !listed(*match)) return true;
  if (const std::string* none = request.Header("if-none-match"); none && listed(*none)) return true;
  return false;
}

// An export's refusal (Refused and its words live with the commands, which
// this library does not link).
[[noreturn]] void Refusal(const char* exportName, int32_t result) {
  throw Failure{
      std::string("the phone refused ") + exportName + " (result " + std::to_string(result) + ")",
      exportName, result};
}

// Whether the phone keeps other than `card` asked for: a property not kept
// as it was (the UID, FN, PRODID and REV aside, which it never keeps), or a
// slot it holds differently from the card's.
bool Differs(const NormalizedCard& card, const std::string& stored) {
  for (const PropertyFate& fate : card.fates) {
    const std::string property = Upper(fate.property.substr(fate.property.find('.') + 1));
    if (fate.action != PropertyFate::kKept && property != "UID" && property != "FN" &&
        property != "PRODID" && property != "REV") {
      return true;
    }
  }
  return NormalizeCard(stored, TypePolicy::kStrict).contact.slots != card.contact.slots;
}

}  // namespace

std::optional<std::string> CardName(const std::string& segment) {
  std::string name;
  if (!PercentDecode(segment, &name, false)) return std::nullopt;
  if (name.empty() || name == "." || name == ".." || name.size() > 255 ||
      name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) {
    return std::nullopt;
  }
  return name;
}

std::string EncodeSegment(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~' || c == '@') {
      out.push_back(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", u);
      out += escaped;
    }
  }
  return out;
}

CardDav::CardDav(Library& mz, const std::string& statePath, std::string bookName, std::string user)
    : mz_(mz), state_(statePath), bookName_(std::move(bookName)), user_(std::move(user)) {}

bool CardDav::ReadAt(int32_t position, Stored* stored) {
  ContactTransfer transfer{};
  if (mz_.MZ_GetContactInfo(position, &transfer) != MZ_OK) return false;
  const void* zero = std::memchr(transfer.vcard, 0, sizeof transfer.vcard);
  stored->text.assign(transfer.vcard, zero ? static_cast<const char*>(zero) - transfer.vcard
                                           : sizeof transfer.vcard);
  stored->id.assign(transfer.contactId, strnlen(transfer.contactId, sizeof transfer.contactId));
  return true;
}

bool CardDav::Fresh() const {
  return fresh_ && std::chrono::steady_clock::now() - readAt_ <= kMostStale;
}

const std::map<std::string, std::string>& CardDav::Refresh() {
  int32_t count = 0;
  if (mz_.MZ_GetContactsCount(&count) != MZ_OK) throw Failure{"the phone gave no contact count"};
  if (Fresh() && static_cast<std::size_t>(count) == texts_.size()) return texts_;
  fresh_ = false;
  const auto now = std::chrono::steady_clock::now();
  std::map<std::string, std::string> texts;
  positions_.clear();
  Stored stored;
  for (int32_t position = 1; position <= count && ReadAt(position, &stored); ++position) {
    positions_[stored.id] = position;
    texts[stored.id] = stored.text;
  }
  state_.Begin();
  std::set<std::string> known;
  for (Resource& resource : state_.All()) {
    const auto it = texts.find(resource.contactId);
    if (it == texts.end()) {
      state_.Remove(resource.name);
      continue;
    }
    known.insert(resource.contactId);
    const std::string hash = TextTag(it->second);
    if (hash != resource.hash) {
      resource.hash = hash;
      state_.Save(resource);
    }
  }
  for (const auto& [id, text] : texts) {
    if (known.contains(id)) continue;
    Resource resource = PhoneBorn(state_.Id(), id);
    resource.hash = TextTag(text);
    state_.Save(resource);
  }
  state_.Commit();
  texts_ = std::move(texts);
  fresh_ = true;
  readAt_ = now;
  return texts_;
}

std::optional<std::string> CardDav::Fetch(Resource* resource) {
  Stored stored;
  const auto hint = positions_.find(resource->contactId);
  bool found = false;
  const auto cached = texts_.find(resource->contactId);
  if (Fresh() && cached != texts_.end()) {
    stored.text = cached->second;
    found = true;
  } else if (hint != positions_.end()) {
    // Positions shift by one around an addition or a deletion.
    for (const int32_t shift : {0, -1, 1}) {
      if (ReadAt(hint->second + shift, &stored) && stored.id == resource->contactId) {
        hint->second += shift;
        if (fresh_) texts_[stored.id] = stored.text;
        found = true;
        break;
      }
    }
  }
  if (!found) {
    const auto texts = Refresh();
    const auto it = texts.find(resource->contactId);
    if (it == texts.end()) return std::nullopt;
    stored.text = it->second;
  }
  const std::string hash = TextTag(stored.text);
  if (hash != resource->hash) {
    resource->hash = hash;
    state_.Save(*resource);
  }
  return stored.text;
}

std::string CardDav::ETag(const Resource& resource) const {
  return "\"" + TextTag(resource.hash + "/" + resource.uid) + "\"";
}

std::string CardDav::SyncToken() {
  return kTokenBase + state_.Id() + "/" + std::to_string(state_.Latest());
}

HttpResponse CardDav::Handle(const HttpRequest& request) {
  const std::string& path = request.path;
  const std::string& method = request.method;
  if (path == "/.well-known/carddav" || path == "/.well-known/carddav/") {
    return Status(301, {{"Location", "/dav/"}});
  }
  int kind = kNone;
  std::string name;
  if (path == "/" || path == "/dav" || path == "/dav/") {
    kind = kRoot;
  } else if (path + "/" == kPrincipalPath || path == kPrincipalPath) {
    kind = kPrincipal;
  } else if (path + "/" == kHomePath || path == kHomePath) {
    kind = kHome;
  } else if (path + "/" == kBookPath || path == kBookPath) {
    kind = kBook;
  } else if (path.starts_with(kBookPath)) {
    const std::string segment = path.substr(std::strlen(kBookPath));
    if (segment.find('/') != std::string::npos) return Status(404);
    const auto decoded = CardName(segment);
    if (!decoded) return Status(400);
    kind = kCardFile;
    name = *decoded;
  }
  if (kind == kNone) return Status(404);
  if (method == "OPTIONS") {
    return Status(200, {{"DAV", "1, 3, addressbook"}, {"Allow", kAllow}});
  }
  if (method == "PROPFIND") return Propfind(request, kind, name);
  if (kind == kCardFile) {
    if (method == "GET" || method == "HEAD") return Get(request, name);
    if (method == "PUT") return Put(request, name);
    if (method == "DELETE") return Delete(request, name);
  } else if (kind == kBook && method == "REPORT") {
    return Report(request);
  } else if (method == "GET" || method == "HEAD") {
    return {200,
            {{"Content-Type", "text/plain; charset=utf-8"}},
            "mzhost: the phone's contacts over CardDAV at " + std::string(kBookPath) + "\n"};
  }
  return Status(405, {{"Allow", kAllow}});
}

HttpResponse CardDav::Propfind(const HttpRequest& request, int kind, const std::string& name) {
  std::vector<PropName> asked;
  bool names = false;
  bool all = true;
  XmlDocument document;
  if (request.body.find_first_not_of(" \t\r\n") != std::string::npos) {
    if (!ParseXml(request.body, &document) || !Is(document.Root(), kDav, "propfind")) {
      return BadXml();
    }
    if (const xmlNode* prop = Child(document.Root(), kDav, "prop")) {
      asked = PropNames(prop);
      all = false;
    } else if (Child(document.Root(), kDav, "propname")) {
      names = true;
    }
  }
  const std::string* depthHeader = request.Header("depth");
  const bool deep = depthHeader == nullptr || *depthHeader != "0";

  // Each resource to describe: its href, kind and (for a card) resource.
  struct Target {
    std::string href;
    int kind;
    std::optional<Resource> card;
  };
  std::vector<Target> targets;
  if (kind == kBook) Refresh();
  switch (kind) {
    case kRoot:
      targets.push_back({request.path, kRoot, {}});
      if (deep) targets.push_back({kPrincipalPath, kPrincipal, {}});
      break;
    case kPrincipal:
      targets.push_back({kPrincipalPath, kPrincipal, {}});
      break;
    case kHome:
      targets.push_back({kHomePath, kHome, {}});
      if (deep) targets.push_back({kBookPath, kBook, {}});
      break;
    case kBook:
      targets.push_back({kBookPath, kBook, {}});
      if (deep) {
        for (const Resource& resource : state_.All()) {
          targets.push_back({kBookPath + EncodeSegment(resource.name), kCardFile, resource});
        }
      }
      break;
    default: {
      auto resource = state_.ByName(name);
      if (!resource || !Fetch(&*resource)) return Status(404);
      targets.push_back({kBookPath + EncodeSegment(name), kCardFile, resource});
    }
  }

  const std::string token = SyncToken();
  auto value = [&](const Target& target, const PropName& prop) -> std::optional<std::string> {
    const std::string& p = prop.local;
    if (prop.ns == kDav) {
      if (p == "current-user-principal") return Href(kPrincipalPath);
      if (p == "resourcetype") {
        switch (target.kind) {
          case kCardFile:
            return "";
          case kPrincipal:
            return "<d:collection/><d:principal/>";
          case kBook:
            return "<d:collection/><card:addressbook/>";
          default:
            return "<d:collection/>";
        }
      }
      if (p == "current-user-privilege-set") {
        return "<d:privilege><d:read/></d:privilege><d:privilege><d:write/></d:privilege>"
               "<d:privilege><d:write-content/></d:privilege><d:privilege><d:bind/>"
               "</d:privilege><d:privilege><d:unbind/></d:privilege>";
      }
      if (p == "displayname") {
        switch (target.kind) {
          case kBook:
            return XmlEscape(bookName_);
          case kPrincipal:
            return XmlEscape(user_);
          case kCardFile:
            return std::nullopt;
          default:
            return "mzhost";
        }
      }
      if (p == "principal-URL" && target.kind == kPrincipal) return Href(kPrincipalPath);
      if (p == "sync-token" && target.kind == kBook) return XmlEscape(token);
      if (p == "supported-report-set" && target.kind == kBook) {
        std::string reports;
        for (const char* report :
             {"card:addressbook-multiget", "card:addressbook-query", "d:sync-collection"}) {
          reports += std::string("<d:supported-report><d:report><") + report +
                     "/></d:report></d:supported-report>";
        }
        return reports;
      }
      if (target.kind == kCardFile && (p == "getetag" || p == "getcontenttype")) {
        if (p == "getcontenttype") return "text/vcard; charset=utf-8";
        return XmlEscape(ETag(*target.card));
      }
    } else if (prop.ns == kCard) {
      if (p == "addressbook-home-set" && (target.kind == kPrincipal || target.kind == kRoot)) {
        return Href(kHomePath);
      }
      if (p == "supported-address-data" && target.kind == kBook) {
        return "<card:address-data-type content-type=\"text/vcard\" version=\"3.0\"/>"
               "<card:address-data-type content-type=\"text/vcard\" version=\"4.0\"/>";
      }
      if (p == "max-resource-size" && target.kind == kBook) {
        return std::to_string(kMostBodyBytes);
      }
    } else if (prop.ns == kServer && p == "getctag" && target.kind == kBook) {
      return XmlEscape(token);
    }
    return std::nullopt;
  };
  // What allprop and propname list.
  const std::vector<PropName> everything = {{kDav, "resourcetype"},
                                            {kDav, "displayname"},
                                            {kDav, "getetag"},
                                            {kDav, "getcontenttype"},
                                            {kServer, "getctag"},
                                            {kDav, "sync-token"},
                                            {kCard, "supported-address-data"},
                                            {kDav, "supported-report-set"},
                                            {kDav, "current-user-principal"},
                                            {kDav, "current-user-privilege-set"},
                                            {kDav, "principal-URL"},
                                            {kCard, "addressbook-home-set"},
                                            {kCard, "max-resource-size"}};

  std::string responses;
  for (const Target& target : targets) {
    std::string found, missing;
    for (const PropName& prop : all || names ? everything : asked) {
      const auto v = value(target, prop);
      if (v) {
        found += Element(prop, names ? "" : *v);
      } else if (!all && !names) {
        missing += Element(prop, "");
      }
    }
    responses += "<d:response>" + Href(target.href);
    if (!found.empty() || missing.empty()) responses += Propstat(found, 200);
    if (!missing.empty()) responses += Propstat(missing, 404);
    responses += "</d:response>";
  }
  return Xml(207, Multistatus(responses));
}

HttpResponse CardDav::Report(const HttpRequest& request) {
  XmlDocument document;
  if (!ParseXml(request.body, &document)) return BadXml();
  const xmlNode* root = document.Root();
  const xmlNode* prop = Child(root, kDav, "prop");
  const std::vector<PropName> asked = PropNames(prop);

  // One card's response with the properties asked for.
  auto describe = [&](const Resource& resource, const std::string& text) {
    std::string found, missing;
    for (const PropName& name : asked) {
      if (name.ns == kDav && name.local == "getetag") {
        found += Element(name, XmlEscape(ETag(resource)));
      } else if (name.ns == kDav && name.local == "getcontenttype") {
        found += Element(name, "text/vcard; charset=utf-8");
      } else if (name.ns == kCard && name.local == "address-data") {
        found += Element(
            name,
            XmlEscape(OnlyAsked(CardText(text, resource.uid, AskedFormat(name.node)), name.node)));
      } else {
        missing += Element(name, "");
      }
    }
    std::string out =
        "<d:response>" + Href(kBookPath + EncodeSegment(resource.name)) + Propstat(found, 200);
    if (!missing.empty()) out += Propstat(missing, 404);
    return out + "</d:response>";
  };
  auto gone = [](const std::string& href) {
    return "<d:response>" + Href(href) + "<d:status>HTTP/1.1 404 Not Found</d:status></d:response>";
  };

  std::string responses;
  if (Is(root, kCard, "addressbook-multiget")) {
    for (const xmlNode* href : Elements(root)) {
      if (!Is(href, kDav, "href")) continue;
      std::string path = Text(href);
      // An absolute URL counts by its path.
      if (const auto scheme = path.find("://"); scheme != std::string::npos) {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "/" : path.substr(slash);
      }
      std::optional<Resource> resource;
      if (path.starts_with(kBookPath)) {
        const std::string segment = path.substr(std::strlen(kBookPath));
        const auto name = segment.find('/') == std::string::npos ? CardName(segment) : std::nullopt;
        if (name) resource = state_.ByName(*name);
      }
      std::optional<std::string> text;
      if (resource) text = Fetch(&*resource);
      responses += text ? describe(*resource, *text) : gone(Text(href));
    }
    return Xml(207, Multistatus(responses));
  }
  if (Is(root, kCard, "addressbook-query")) {
    const auto texts = Refresh();
    const xmlNode* filter = Child(root, kCard, "filter");
    std::size_t most = SIZE_MAX;
    if (const xmlNode* limit = Child(root, kCard, "limit")) {
      if (const xmlNode* n = Child(limit, kCard, "nresults")) {
        most = static_cast<std::size_t>(std::strtoul(Text(n).c_str(), nullptr, 10));
      }
    }
    std::size_t matched = 0;
    for (const Resource& resource : state_.All()) {
      const auto it = texts.find(resource.contactId);
      if (it == texts.end()) continue;
      if (filter && !PassesFilter(filter, CardText(it->second, resource.uid, CardFormat::k30))) {
        continue;
      }
      if (++matched > most) break;
      responses += describe(resource, it->second);
    }
    return Xml(207, Multistatus(responses));
  }
  if (Is(root, kDav, "sync-collection")) {
    const xmlNode* tokenNode = Child(root, kDav, "sync-token");
    const std::string token = tokenNode ? Text(tokenNode) : "";
    const auto texts = Refresh();
    std::optional<std::vector<std::string>> names;
    if (token.empty()) {
      names.emplace();
      for (const Resource& resource : state_.All()) names->push_back(resource.name);
    } else {
      const std::string prefix = kTokenBase + state_.Id() + "/";
      if (token.starts_with(prefix) && token.size() > prefix.size() &&
          token.size() < prefix.size() + 19 &&
          token.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
        names = state_.ChangedSince(std::stoll(token.substr(prefix.size())));
      }
    }
    if (!names) return DavError(403, "<d:valid-sync-token/>");
    for (const std::string& name : *names) {
      const auto resource = state_.ByName(name);
      const auto it = resource ? texts.find(resource->contactId) : texts.end();
      responses += it != texts.end() ? describe(*resource, it->second)
                                     : gone(kBookPath + EncodeSegment(name));
    }
    return Xml(
        207, Multistatus(responses, "<d:sync-token>" + XmlEscape(SyncToken()) + "</d:sync-token>"));
  }
  return DavError(403, "<d:supported-report/>");
}

HttpResponse CardDav::Get(const HttpRequest& request, const std::string& name) {
  auto resource = state_.ByName(name);
  std::optional<std::string> text;
  if (resource) text = Fetch(&*resource);
  if (!text) return Status(404);
  const std::string etag = ETag(*resource);
  if (const std::string* none = request.Header("if-none-match");
      none && (*none == "*" || none->find(etag) != std::string::npos)) {
    return Status(304, {{"ETag", etag}});
  }
  const std::string* accept = request.Header("accept");
  const CardFormat format = accept && accept->find("version=4.0") != std::string::npos
                                ? CardFormat::k40
                                : CardFormat::k30;
  return {200,
          {{"Content-Type", "text/vcard; charset=utf-8"}, {"ETag", etag}},
          CardText(*text, resource->uid, format)};
}

HttpResponse CardDav::Put(const HttpRequest& request, const std::string& name) {
  auto resource = state_.ByName(name);
  if (resource && !Fetch(&*resource)) resource.reset();
  if (PreconditionFails(request, resource ? ETag(*resource) : "")) return Status(412);
  if (const std::string media = request.MediaType(); !media.empty()) {
    if (media.find("vcard") == std::string::npos && media != "text/directory") {
      return DavError(415, "<card:supported-address-data/>");
    }
  }
  const std::vector<Card> cards = SplitCards(FileAsUtf8(request.body));
  if (cards.size() != 1 || !cards[0].complete) return DavError(400, "<card:valid-address-data/>");
  const NormalizedCard normal = NormalizeCard(cards[0].text, TypePolicy::kFill);
  if (normal.text.empty() || normal.text.size() >= MZ_VCARD_SIZE) {
    return DavError(400, "<card:valid-address-data/>");
  }
  std::string uid;
  for (const CardProperty& property : ReadCard(cards[0].text)) {
    if (property.name == "UID") uid = property.text;
  }
  if (uid.empty()) uid = name.ends_with(".vcf") ? name.substr(0, name.size() - 4) : name;
  if (const auto owner = state_.ByUid(uid); owner && owner->name != name) {
    return DavError(409, "<card:no-uid-conflict>" + Href(kBookPath + EncodeSegment(owner->name)) +
                             "</card:no-uid-conflict>");
  }

  Resource saved{name, resource ? resource->contactId : "", uid, resource ? resource->hash : ""};
  std::string stored;
  try {
    stored = Write(&saved, normal);
  } catch (const Failure&) {
    return Status(500);
  }
  const bool differs = Differs(normal, stored);
  HttpResponse response = Status(resource ? 204 : 201);
  if (!differs) response.headers.emplace_back("ETag", ETag(saved));
  return response;
}

HttpResponse CardDav::Delete(const HttpRequest& request, const std::string& name) {
  auto resource = state_.ByName(name);
  if (resource && !Fetch(&*resource)) resource.reset();
  if (!resource) return Status(404);
  if (PreconditionFails(request, ETag(*resource))) return Status(412);
  try {
    Erase(*resource);
  } catch (const Failure&) {
    return Status(500);
  }
  return Status(204);
}

std::string CardDav::Write(Resource* saved, const NormalizedCard& card) {
  ContactTransfer transfer{};
  if (card.text.empty() || card.text.size() >= sizeof transfer.vcard) {
    throw BadInput{{"the card holds nothing the phone keeps"}};
  }
  std::memcpy(transfer.vcard, card.text.data(), card.text.size());
  std::string& id = saved->contactId;
  // A card replaces the contact, but the library only sets what a text
  // names: a card that leaves out what the contact holds goes in as a new
  // contact, which takes the old one's place (added first, so that a refusal
  // leaves the old one as it was).
  const std::string replaced = !id.empty() && LeavesOut(*saved, card) ? id : "";
  if (!id.empty() && replaced.empty()) {
    std::memcpy(transfer.contactId, id.data(), std::min(id.size(), sizeof transfer.contactId - 1));
    fresh_ = false;
    const int32_t result = mz_.MZ_WriteContact(&transfer);
    if (result != MZ_OK) Refusal("MZ_WriteContact", result);
  } else {
    char newId[MZ_NEW_ID_SIZE] = {};
    fresh_ = false;
    const int32_t result = mz_.MZ_AddContact(&transfer, newId, sizeof newId);
    if (result != MZ_OK) Refusal("MZ_AddContact", result);
    id.assign(newId, strnlen(newId, sizeof newId));
    if (!replaced.empty()) {
      const int32_t removed = mz_.MZ_DeleteContact(replaced.c_str());
      if (removed != MZ_OK && removed != MZ_E_NO_CONTACT) {
        mz_.MZ_DeleteContact(id.c_str());  // back to the old contact alone
        Refusal("MZ_DeleteContact", removed);
      }
      Forget(replaced);
    }
    int32_t count = 0;
    mz_.MZ_GetContactsCount(&count);
    positions_[id] = count;  // where an added contact lands, checked on reading
    if (saved->name.empty()) *saved = PhoneBorn(state_.Id(), id);
  }
  state_.Save(*saved);  // before reading back, so that a refresh knows the contact
  const auto stored = Fetch(saved);
  if (!stored) throw Failure{"the phone lost contact " + id + " as it was stored"};
  return *stored;
}

void CardDav::Erase(const Resource& resource) {
  fresh_ = false;
  const int32_t result = mz_.MZ_DeleteContact(resource.contactId.c_str());
  if (result != MZ_OK && result != MZ_E_NO_CONTACT) {
    Refusal("MZ_DeleteContact", result);
  }
  Forget(resource.contactId);
  state_.Remove(resource.name);
}

void CardDav::Forget(const std::string& contactId) {
  const auto at = positions_.find(contactId);
  if (at != positions_.end()) {
    for (auto& [id, position] : positions_) {
      if (position > at->second) --position;
    }
    positions_.erase(at);
  }
  texts_.erase(contactId);
}

bool CardDav::LeavesOut(Resource& resource, const NormalizedCard& card) {
  const auto current = Fetch(&resource);
  if (!current) return false;
  const PhoneContact stored = NormalizeCard(*current, TypePolicy::kStrict).contact;
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    if (!stored.slots[i].empty() && card.contact.slots[i].empty()) return true;
  }
  return false;
}

std::optional<Resource> CardDav::Find(const std::string& contactId) {
  auto resource = state_.ByContact(contactId);
  if (!resource) {
    Refresh();  // a contact added by another host gets its resource here
    resource = state_.ByContact(contactId);
  }
  if (resource && !Fetch(&*resource)) resource.reset();
  return resource;
}

std::vector<StoredContact> CardDav::Contacts() {
  const auto& texts = Refresh();
  std::vector<StoredContact> contacts;
  for (const Resource& resource : state_.All()) {
    const auto it = texts.find(resource.contactId);
    if (it != texts.end()) contacts.push_back({resource.contactId, it->second, ETag(resource)});
  }
  return contacts;
}

std::optional<StoredContact> CardDav::Contact(const std::string& contactId) {
  auto resource = Find(contactId);
  if (!resource) return std::nullopt;
  auto text = Fetch(&*resource);
  if (!text) return std::nullopt;
  return StoredContact{contactId, *text, ETag(*resource)};
}

StoreOutcome CardDav::Store(const std::string& contactId, const NormalizedCard& card,
                            const HttpRequest& conditions) {
  StoreOutcome outcome;
  std::optional<Resource> resource;
  if (!contactId.empty()) {
    resource = Find(contactId);
    if (!resource) {
      outcome.status = 404;
      return outcome;
    }
  }
  if (PreconditionFails(conditions, resource ? ETag(*resource) : "")) {
    outcome.status = 412;
    return outcome;
  }
  Resource saved = resource ? *resource : Resource{};
  const std::string text = Write(&saved, card);
  outcome.status = resource ? 200 : 201;
  outcome.contact = {saved.contactId, text, ETag(saved)};
  outcome.differs = Differs(card, text);
  return outcome;
}

int CardDav::Remove(const std::string& contactId, const HttpRequest& conditions) {
  const auto resource = Find(contactId);
  if (!resource) return 404;
  if (PreconditionFails(conditions, ETag(*resource))) return 412;
  Erase(*resource);
  return 204;
}

}  // namespace mzhost
