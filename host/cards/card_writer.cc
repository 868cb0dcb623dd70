#include "cards/card_writer.h"

#include "cards/card_normalizer.h"

namespace mzhost {
namespace {

constexpr std::size_t kMostLineBytes = 75;  // without the CR LF

// Each slot's name and type parameter, in 3.0 and in 4.0.
constexpr const char* kHeads[kSlotCount][2] = {
    {"N", "N"},
    {"BDAY", "BDAY"},
    {"ORG", "ORG"},
    {"TITLE", "TITLE"},
    {"NOTE", "NOTE"},
    {"TEL;TYPE=CELL", "TEL;TYPE=cell"},
    {"TEL;TYPE=HOME,VOICE", "TEL;TYPE=home,voice"},
    {"TEL;TYPE=WORK,VOICE", "TEL;TYPE=work,voice"},
    {"TEL;TYPE=HOME,FAX", "TEL;TYPE=home,fax"},
    {"TEL;TYPE=WORK,FAX", "TEL;TYPE=work,fax"},
    {"EMAIL;TYPE=INTERNET", "EMAIL"},
    {"URL", "URL"},
    {"ADR;TYPE=HOME", "ADR;TYPE=home"},
    {"ADR;TYPE=WORK", "ADR;TYPE=work"},
    {"ADR", "ADR"},
};

// A text value with \\ \, \; and \n for a line break.
std::string Escaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\\n";
      continue;
    }
    if (c == '\\' || c == ',' || c == ';') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The line cut into pieces of at most 75 bytes, never inside a UTF-8
// sequence, each after the first starting with a space.
std::string Folded(const std::string& line) {
  std::string out;
  std::size_t start = 0;
  std::size_t room = kMostLineBytes;
  while (line.size() - start > room) {
    std::size_t end = start + room;
    while (end > start + 1 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
    out += line.substr(start, end - start) + "\r\n ";
    start = end;
    room = kMostLineBytes - 1;
  }
  return out + line.substr(start) + "\r\n";
}

// The formatted name: the name's parts in reading order, else the company.
std::string FormattedName(const PhoneContact& contact) {
  std::string fn;
  if (const auto& n = contact[Slot::kName]; !n.empty()) {
    for (std::size_t i : {3, 1, 2, 0, 4}) {
      if (!n[i].empty()) fn += (fn.empty() ? "" : " ") + n[i];
    }
  }
  if (fn.empty() && !contact[Slot::kOrg].empty()) fn = contact[Slot::kOrg][0];
  return fn;
}

std::string Value(Slot slot, const std::vector<std::string>& parts, bool v4) {
  if (slot == Slot::kUrl) return parts[0];  // a URI: no escapes
  if (slot == Slot::kBirthday) {
    std::string date = parts[0];
    if (v4) std::erase(date, '-');  // RFC 6350 dates are in the basic form
    return date;
  }
  std::string value = slot >= Slot::kHomeAddress ? ";;" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    value += (i > 0 ? ";" : "") + Escaped(parts[i]);
  }
  return value;
}

}  // namespace

std::optional<CardFormat> ParseCardFormat(std::string_view text) {
  if (text == "2.1") return CardFormat::k21;
  if (text == "3.0") return CardFormat::k30;
  if (text == "4.0") return CardFormat::k40;
  return {};
}

std::string WriteCard(std::string_view card, CardFormat format) {
  if (format == CardFormat::k21) return std::string(card);
  const bool v4 = format == CardFormat::k40;
  const PhoneContact contact = NormalizeCard(card, TypePolicy::kFill).contact;
  std::string text = "BEGIN:VCARD\r\n";
  text += v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n";
  text += Folded("FN:" + Escaped(FormattedName(contact)));
  for (std::size_t i = 0; i < kSlotCount; ++i) {
    if (contact.slots[i].empty()) continue;
    text += Folded(std::string(kHeads[i][v4 ? 1 : 0]) + ":" +
                   Value(static_cast<Slot>(i), contact.slots[i], v4));
  }
  if (!contact.categories.empty()) {
    std::string list;
    std::string_view rest = contact.categories;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      std::string_view one = rest.substr(0, comma);
      while (!one.empty() && one.front() == ' ') one.remove_prefix(1);
      while (!one.empty() && one.back() == ' ') one.remove_suffix(1);
      if (!one.empty()) list += (list.empty() ? "" : ",") + Escaped(one);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    if (!list.empty()) text += Folded("CATEGORIES:" + list);
  }
  if (!contact.luid.empty()) text += Folded("X-IRMC-LUID:" + contact.luid);
  return text + "END:VCARD\r\n";
}

}  // namespace mzhost
