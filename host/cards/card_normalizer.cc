#include "cards/card_normalizer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <set>

#include "cards/card_reader.h"

namespace mzhost {
namespace {

constexpr std::size_t kMostBytes = 1023;  // the library's vcard area, less its zero

struct SlotInfo {
  const char* head;   // the 2.1 name and types the library maps onto the slot
  const char* exact;  // the types, sorted and joined by spaces, that name the slot exactly
  const char* what;   // in the report's reasons
};

constexpr SlotInfo kSlots[kSlotCount] = {
    {"N", "", "name"},
    {"BDAY", "", "birthday"},
    {"ORG", "", "organisation"},
    {"TITLE", "", "title"},
    {"NOTE", "", "note"},
    {"TEL;CELL", "CELL", "mobile number"},
    {"TEL;HOME;VOICE", "HOME", "home number"},
    {"TEL;WORK;VOICE", "WORK", "work number"},
    {"TEL;HOME;FAX", "FAX HOME", "home fax"},
    {"TEL;WORK;FAX", "FAX WORK", "work fax"},
    {"EMAIL;INTERNET", "", "e-mail address"},
    {"URL", "", "web page"},
    {"ADR;HOME", "HOME", "home address"},
    {"ADR;WORK", "WORK", "work address"},
    {"ADR", "", "other address"},
};

// Slots given up, in this order, when a card without its NOTE is still too
// long.
constexpr Slot kGivenUp[] = {
    Slot::kUrl,         Slot::kEmail,   Slot::kTitle,    Slot::kOtherAddress, Slot::kWorkAddress,
    Slot::kHomeAddress, Slot::kOrg,     Slot::kBirthday, Slot::kWorkFax,      Slot::kHomeFax,
    Slot::kWorkTel,     Slot::kHomeTel, Slot::kMobile,   Slot::kName};

const SlotInfo& Info(Slot slot) {
  return kSlots[static_cast<std::size_t>(slot)];
}

bool IsStructured(Slot slot) {
  return slot == Slot::kName || slot == Slot::kOrg || slot == Slot::kHomeAddress ||
         slot == Slot::kWorkAddress || slot == Slot::kOtherAddress;
}

bool IsOneLine(Slot slot) {
  return slot == Slot::kBirthday || slot == Slot::kEmail || slot == Slot::kUrl ||
         (slot >= Slot::kMobile && slot <= Slot::kWorkFax);
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Every line break as CR LF; for a one-line slot, as one space.
std::string Lines(std::string_view text, bool oneLine) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      out.push_back(text[i]);
      continue;
    }
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    out += oneLine ? " " : "\r\n";
  }
  return oneLine ? std::string(Trim(out)) : out;
}

// A date as YYYY-MM-DD: from YYYY-MM-DD, YYYYMMDD or the library's own
// YYYY-M-D, a time after it ignored.
std::optional<std::string> Date(std::string_view text) {
  text = text.substr(0, text.find_first_of("Tt "));
  int year = 0, month = 0, day = 0, used = 0;
  const std::string date(text);
  const bool read =
      date.find('-') != std::string::npos
          ? std::sscanf(date.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used) == 3
          : date.size() == 8 &&
                std::sscanf(date.c_str(), "%4d%2d%2d%n", &year, &month, &day, &used) == 3;
  if (!read || used != static_cast<int>(date.size()) || date[0] < '0' || date[0] > '9') return {};
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 100 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap)) {
    return {};
  }
  char out[40];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d", year, month, day);
  return out;
}

// The types of a property that tell its slot, sorted and joined by spaces.
std::string Meaningful(const CardProperty& property) {
  // Capabilities (PREF, VOICE, MSG, TEXT) and kinds of address that do not
  // change where the phone keeps a value.
  static const std::set<std::string> kIgnored = {"PREF",   "VOICE",  "MSG", "TEXT", "INTERNET",
                                                 "POSTAL", "PARCEL", "DOM", "INTL", "OTHER"};
  std::string types;
  for (const std::string& type : property.types) {
    if (kIgnored.count(type) != 0 || type.starts_with("X-")) continue;
    types += (types.empty() ? "" : " ") + type;
  }
  return types;
}

bool Has(const std::string& types, std::string_view type) {
  return (" " + types + " ").find(" " + std::string(type) + " ") != std::string::npos;
}

// The slots a property's types name, best first.
std::vector<Slot> Named(const std::string& name, const std::string& types) {
  const bool home = Has(types, "HOME"), work = Has(types, "WORK");
  const auto located = [&](Slot h, Slot w) {
    return home && work ? std::vector<Slot>{h, w}
           : home       ? std::vector<Slot>{h}
           : work       ? std::vector<Slot>{w}
                        : std::vector<Slot>{};
  };
  if (name == "TEL") {
    if (Has(types, "FAX")) {
      return home || work ? located(Slot::kHomeFax, Slot::kWorkFax)
                          : std::vector<Slot>{Slot::kWorkFax, Slot::kHomeFax};
    }
    if (Has(types, "CELL")) return {Slot::kMobile};
    return located(Slot::kHomeTel, Slot::kWorkTel);
  }
  if (name == "ADR") {
    const std::vector<Slot> slots = located(Slot::kHomeAddress, Slot::kWorkAddress);
    return slots.empty() ? std::vector<Slot>{Slot::kOtherAddress} : slots;
  }
  static const std::pair<const char*, Slot> kSingle[] = {
      {"N", Slot::kName},      {"BDAY", Slot::kBirthday}, {"ORG", Slot::kOrg},
      {"TITLE", Slot::kTitle}, {"NOTE", Slot::kNote},     {"EMAIL", Slot::kEmail},
      {"URL", Slot::kUrl}};
  for (const auto& [single, slot] : kSingle) {
    if (name == single) return {slot};
  }
  return {};
}

// Where a number or an address goes when its own slots are taken or none.
std::vector<Slot> Fallback(const std::string& name) {
  if (name == "TEL") return {Slot::kMobile, Slot::kHomeTel, Slot::kWorkTel};
  if (name == "ADR") return {Slot::kOtherAddress, Slot::kHomeAddress, Slot::kWorkAddress};
  return {};
}

// Why the phone keeps nothing of a property it has no slot for.
std::string NoSlotReason(const CardProperty& property) {
  const std::string& name = property.name;
  if (name.starts_with("X-")) return "the phone keeps no X- properties";
  if (name == "PHOTO" || name == "LOGO") return "the phone keeps no pictures";
  if (name == "AGENT") return "a nested card: the phone keeps none";
  if (name == "GRP" || name == "CATEGORIES") return "the library cannot write categories";
  return "the phone keeps no " + name;
}

// The value parts a slot keeps from a property.
std::vector<std::string> SlotParts(Slot slot, const CardProperty& property, std::string* note) {
  const bool oneLine = IsOneLine(slot);
  auto part = [&](std::size_t i) {
    return i < property.parts.size() ? Lines(property.parts[i], oneLine) : std::string();
  };
  if (slot == Slot::kName) return {part(0), part(1), part(2), part(3), part(4)};
  if (slot == Slot::kOrg) {
    if (property.parts.size() > 2) *note = "units after the first dropped";
    if (Trim(part(1)).empty()) return {part(0)};
    return {part(0), part(1)};
  }
  if (slot >= Slot::kHomeAddress) {
    // The phone has no post office box or extended address: they join the street.
    std::string street = part(2);
    for (std::size_t i : {1, 0}) {
      if (Trim(part(i)).empty()) continue;
      street += (street.empty() ? "" : ", ") + part(i);
      *note = "post office box and extended address joined to the street";
    }
    return {street, part(3), part(4), part(5), part(6)};
  }
  std::string value = Lines(property.text, oneLine);
  if (slot >= Slot::kMobile && slot <= Slot::kWorkFax && value.size() > 4 &&
      (value.starts_with("tel:") || value.starts_with("TEL:"))) {
    // A tel: URI: its number, and an extension after " x".
    const std::string uri = value.substr(4);
    value = uri.substr(0, uri.find(';'));
    if (const std::size_t ext = uri.find(";ext="); ext != std::string::npos) {
      value += " x" + uri.substr(ext + 5, uri.find(';', ext + 5) - ext - 5);
    }
    *note = "a tel: URI, read as its number";
  }
  if (slot == Slot::kBirthday) value = Date(value).value_or("");
  return {value};
}

bool IsEmpty(const std::vector<std::string>& parts) {
  return std::all_of(parts.begin(), parts.end(),
                     [](const std::string& part) { return Trim(part).empty(); });
}

// One property the phone may keep.
struct Claim {
  std::size_t fate;
  std::string name;
  std::string types;        // Meaningful()
  std::vector<Slot> named;  // the slots its types name
  const CardProperty* property;
};

class Normalizer {
 public:
  Normalizer(TypePolicy policy, NormalizedCard* card) : policy_(policy), card_(card) {}

  void Add(const CardProperty& property) {
    PropertyFate fate;
    fate.line = property.line;
    fate.property = property.group.empty() ? property.name : property.group + "." + property.name;
    fate.reason = property.problem;
    card_->fates.push_back(fate);
    const std::size_t index = card_->fates.size() - 1;
    if (property.name == "GRP") card_->contact.categories = property.text;
    if (property.name == "X-IRMC-LUID") card_->contact.luid = property.text;
    if (property.name == "ADR") sawAddress_ = true;
    if (property.name == "LABEL" && property.problem.empty() && !IsEmpty(property.parts)) {
      labels_.push_back({index, &property});
      return;
    }
    if (property.name == "FN") {
      if (fn_) {
        card_->fates[index].reason = "the phone keeps one name";
      } else {
        fn_ = Claim{index, property.name, "", {}, &property};
      }
      return;
    }
    // Only numbers, addresses, e-mail addresses and web pages have types that
    // matter.
    const bool typed =
        !Fallback(property.name).empty() || property.name == "EMAIL" || property.name == "URL";
    const std::string types = typed ? Meaningful(property) : "";
    Claim claim{index, property.name, types, Named(property.name, types), &property};
    if (claim.named.empty() && Fallback(property.name).empty()) {
      card_->fates[index].reason = NoSlotReason(property);
    } else if (!property.problem.empty()) {
      card_->fates[index].reason = property.problem;
    } else if (IsEmpty(property.parts)) {
      card_->fates[index].reason = "empty";
    } else {
      claims_.push_back(claim);
    }
  }

  void Place() {
    std::vector<const Claim*> left;
    for (const Claim& claim : claims_) {
      if (!TakeNamed(claim)) left.push_back(&claim);
    }
    for (const Claim* claim : left) TakeFallback(*claim);
    if (fn_) TakeFn(*fn_);
    for (const auto& [fate, label] : labels_) TakeLabel(fate, *label);
  }

 private:
  PropertyFate& FateOf(const Claim& claim) { return card_->fates[claim.fate]; }

  bool Exact(const Claim& claim) const {
    return claim.named.size() == 1 && claim.types == Info(claim.named[0]).exact;
  }

  bool Free(Slot slot) const { return card_->contact[slot].empty(); }

  // Puts the claim's value into `slot`, or reports it dropped when nothing
  // of it is left for that slot (a BDAY that is no date). True either way:
  // the claim is settled.
  bool Fill(const Claim& claim, Slot slot, PropertyFate::Action action, std::string reason) {
    std::string note;
    std::vector<std::string> parts = SlotParts(slot, *claim.property, &note);
    PropertyFate& fate = FateOf(claim);
    if (IsEmpty(parts)) {
      fate.reason = slot == Slot::kBirthday ? "not a full date" : "empty";
      return true;
    }
    card_->contact[slot] = std::move(parts);
    fate.action = action;
    fate.as = Info(slot).head;
    for (const std::string& more :
         {note, claim.property->group.empty() ? "" : "group " + claim.property->group + " dropped",
          claim.property->charsetNote}) {
      if (!more.empty()) reason += (reason.empty() ? "" : "; ") + more;
    }
    fate.reason = reason;
    return true;
  }

  bool TakeNamed(const Claim& claim) {
    if (policy_ == TypePolicy::kStrict && !Exact(claim)) return false;
    for (Slot slot : claim.named) {
      if (!Free(slot)) continue;
      if (Exact(claim)) return Fill(claim, slot, PropertyFate::kKept, "");
      const bool single = Fallback(claim.name).empty();
      return Fill(
          claim, slot, PropertyFate::kRetyped,
          single ? "the phone keeps one " + std::string(Info(slot).what) + " of any type"
                 : "the phone has no slot for " + claim.types + ": took the " + Info(slot).what);
    }
    return false;
  }

  // Why a claim did not get one of the slots its types name.
  std::string Missed(const Claim& claim) const {
    const bool strict = policy_ == TypePolicy::kStrict;
    if (!claim.named.empty() && Fallback(claim.name).empty() && (!strict || Exact(claim))) {
      return "the phone keeps one " + std::string(Info(claim.named[0]).what);
    }
    if (claim.named.empty() || (strict && !Exact(claim))) {
      return (claim.types.empty() ? "no type" : "the phone has no slot for " + claim.types) +
             (strict ? ": --strict keeps types as written" : "");
    }
    return "the " + std::string(Info(claim.named[0]).what) + " was taken";
  }

  void TakeFallback(const Claim& claim) {
    const std::string missed = Missed(claim);
    if (policy_ == TypePolicy::kFill) {
      for (Slot slot : Fallback(claim.name)) {
        if (Free(slot)) {
          Fill(claim, slot, PropertyFate::kRetyped, missed + ": took the free " + Info(slot).what);
          return;
        }
      }
      if (!Fallback(claim.name).empty()) {
        FateOf(claim).reason = missed + ": no free slot left";
        return;
      }
    }
    FateOf(claim).reason = missed;
  }

  // FN gives the name when there is no N: family and given split at its
  // last space.
  void TakeFn(const Claim& claim) {
    PropertyFate& fate = FateOf(claim);
    const std::string full(Trim(Lines(claim.property->text, true)));
    if (!Free(Slot::kName)) {
      fate.reason = "the phone keeps the name as N";
    } else if (full.empty()) {
      fate.reason = "empty";
    } else {
      const std::size_t space = full.rfind(' ');
      const std::string given =
          space == std::string::npos ? "" : std::string(Trim(full.substr(0, space)));
      const std::string family = space == std::string::npos ? full : full.substr(space + 1);
      card_->contact[Slot::kName] = {family, given, "", "", ""};
      fate.action = PropertyFate::kRetyped;
      fate.as = "N";
      fate.reason = "no N: split at its last space into family and given name";
    }
  }

  // An address label gives the street of an address when the card has no
  // ADR at all.
  void TakeLabel(std::size_t index, const CardProperty& label) {
    PropertyFate& fate = card_->fates[index];
    if (sawAddress_) {
      fate.reason = "the phone keeps the address from ADR";
      return;
    }
    CardProperty& address = labelAddresses_.emplace_back(label);
    address.parts = {"", "", label.text};
    const std::string types = Meaningful(address);
    const Claim claim{index, "ADR", types, Named("ADR", types), &address};
    if (!TakeNamed(claim)) TakeFallback(claim);
    if (fate.action == PropertyFate::kDropped) return;
    fate.action = PropertyFate::kRetyped;
    fate.reason =
        "no ADR: the label is the street" + (fate.reason.empty() ? "" : "; " + fate.reason);
  }

  TypePolicy policy_;
  NormalizedCard* card_;
  bool sawAddress_ = false;
  std::vector<std::pair<std::size_t, const CardProperty*>> labels_;
  std::deque<CardProperty> labelAddresses_;
  std::vector<Claim> claims_;
  std::optional<Claim> fn_;
};

// One line of 2.1 text as the library reads it: structured parts escaped
// with backslashes (the library resolves them only there), UTF-8 declared,
// quoted-printable only for line breaks and control bytes, on one line.
std::string Line(Slot slot, const std::vector<std::string>& parts) {
  std::string value;
  if (slot >= Slot::kHomeAddress) value = ";;";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) value.push_back(';');
    for (char c : parts[i]) {
      if (IsStructured(slot) && (c == ';' || c == '\\')) value.push_back('\\');
      value.push_back(c);
    }
  }
  std::string line = Info(slot).head;
  const auto byte = [](char c) { return static_cast<unsigned char>(c); };
  if (std::any_of(value.begin(), value.end(), [&](char c) { return byte(c) > 0x7F; })) {
    line += ";CHARSET=UTF-8";
  }
  if (std::any_of(value.begin(), value.end(),
                  [&](char c) { return byte(c) < 0x20 && c != '\t'; })) {
    line += ";ENCODING=QUOTED-PRINTABLE";
    std::string encoded;
    for (char c : value) {
      if (c == '=' || (byte(c) < 0x20 && c != '\t')) {
        char escape[4];
        std::snprintf(escape, sizeof escape, "=%02X", byte(c));
        encoded += escape;
      } else {
        encoded.push_back(c);
      }
    }
    value = encoded;
  }
  return line + ":" + value + "\r\n";
}

std::string Render(const PhoneContact& contact) {
  std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  bool any = false;
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    if (contact.slots[i].empty()) continue;
    text += Line(static_cast<Slot>(i), contact.slots[i]);
    any = true;
  }
  return any ? text + "END:VCARD\r\n" : std::string();
}

bool CutsBetween(std::string_view text, std::size_t at) {
  if (at == 0 || at == text.size()) return true;
  const bool continuation = (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  return !continuation && !(text[at - 1] == '\r' && text[at] == '\n');
}

// Shortens the NOTE, then gives up whole slots, until the text fits.
void Fit(NormalizedCard* card, const std::array<std::size_t, kSlotCount>& fateOf) {
  PhoneContact& contact = card->contact;
  card->text = Render(contact);
  if (card->text.size() > kMostBytes && !contact[Slot::kNote].empty()) {
    const std::string full = contact[Slot::kNote][0];
    auto noteOf = [&](std::size_t size) { return std::string(Trim(full.substr(0, size))); };
    auto fits = [&](std::size_t size) {
      contact[Slot::kNote] = {noteOf(size)};
      return Render(contact).size() <= kMostBytes;
    };
    std::size_t low = 0, high = full.size();  // fits(low) is assumed, fits(high) is false
    while (high - low > 1) {
      const std::size_t mid = low + (high - low) / 2;
      (fits(mid) ? low : high) = mid;
    }
    while (!CutsBetween(full, low)) --low;
    PropertyFate& fate = card->fates[fateOf[static_cast<std::size_t>(Slot::kNote)]];
    const std::string kept = noteOf(low);
    if (kept.empty()) {
      contact[Slot::kNote].clear();
      fate = PropertyFate{fate.line, fate.property, PropertyFate::kDropped, "",
                          "the card was over 1023 bytes"};
    } else {
      contact[Slot::kNote] = {kept};
      fate.reason = "shortened at a character from " + std::to_string(full.size()) + " to " +
                    std::to_string(kept.size()) + " bytes: the card was over 1023 bytes";
    }
    card->text = Render(contact);
  }
  for (Slot slot : kGivenUp) {
    if (card->text.size() <= kMostBytes) break;
    if (contact[slot].empty()) continue;
    contact[slot].clear();
    PropertyFate& fate = card->fates[fateOf[static_cast<std::size_t>(slot)]];
    fate = PropertyFate{fate.line, fate.property, PropertyFate::kDropped, "",
                        "the card was over 1023 bytes even without its NOTE"};
    card->text = Render(contact);
  }
}

}  // namespace

const char* ActionName(PropertyFate::Action action) {
  switch (action) {
    case PropertyFate::kKept:
      return "kept";
    case PropertyFate::kRetyped:
      return "re-typed";
    case PropertyFate::kDropped:
      break;
  }
  return "dropped";
}

NormalizedCard NormalizeCard(std::string_view card, TypePolicy policy, bool complete) {
  NormalizedCard result;
  if (!complete) result.notes.push_back("no END:VCARD: read to the end of the file");
  const std::vector<CardProperty> properties = ReadCard(card);
  Normalizer normalizer(policy, &result);
  for (const CardProperty& property : properties) normalizer.Add(property);
  normalizer.Place();
  std::array<std::size_t, kSlotCount> fateOf{};
  for (std::size_t i = 0; i < result.fates.size(); ++i) {
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
      if (result.fates[i].action != PropertyFate::kDropped &&
          result.fates[i].as == kSlots[slot].head) {
        fateOf[slot] = i;
      }
    }
  }
  Fit(&result, fateOf);
  return result;
}

}  // namespace mzhost
