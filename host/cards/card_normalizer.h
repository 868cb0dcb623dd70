// Cards other programs wrote, made into the vCard 2.1 text the library maps
// onto a contact: only what the phone keeps, in the property and type forms
// its reader maps, at most 1023 bytes; with a report of what became of every
// property of the input.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mzhost {

// kFill: the first e-mail address and web page of any type take the phone's
// one of each, and a number whose types name no free slot of the phone takes
// the first free of mobile, home, work. kStrict: a property is kept only in
// the slot its types name exactly.
enum class TypePolicy { kFill, kStrict };

// What the phone keeps of a contact, in the order the 2.1 text lists it.
enum class Slot {
  kName,
  kBirthday,
  kOrg,
  kTitle,
  kNote,
  kMobile,
  kHomeTel,
  kWorkTel,
  kHomeFax,
  kWorkFax,
  kEmail,
  kUrl,
  kHomeAddress,
  kWorkAddress,
  kOtherAddress,
};
inline constexpr std::size_t kSlotCount = 15;

// A contact as the phone keeps it: each slot's value parts (N: family,
// given, middle, prefix, suffix; ADR: street, locality, region, postal code,
// country; ORG: company, department; the rest one part), none for an empty
// slot. Line breaks inside values are CR LF. Also what the library's own
// text carries besides: the categories (GRP) and the id (X-IRMC-LUID).
struct PhoneContact {
  std::array<std::vector<std::string>, kSlotCount> slots;
  std::string categories;
  std::string luid;

  std::vector<std::string>& operator[](Slot slot) { return slots[static_cast<std::size_t>(slot)]; }
  const std::vector<std::string>& operator[](Slot slot) const {
    return slots[static_cast<std::size_t>(slot)];
  }
};

// What became of one property of the input card.
struct PropertyFate {
  enum Action { kKept, kRetyped, kDropped };
  std::size_t line = 0;  // 1-based line of the card (its BEGIN:VCARD is 1)
  std::string property;  // the name as written, group included
  Action action = kDropped;
  std::string as;      // the 2.1 name and types it became; empty when dropped
  std::string reason;  // why, when it was not simply kept
};

const char* ActionName(PropertyFate::Action action);

struct NormalizedCard {
  std::string text;  // vCard 2.1 with CR LF line ends; empty when the phone keeps nothing
  PhoneContact contact;
  std::vector<PropertyFate> fates;  // one per property, in the card's order
  std::vector<std::string> notes;   // about the card as a whole
};

// `card` from its BEGIN:VCARD on; `complete` false when its file ended
// before its END:VCARD. Over 1023 bytes the NOTE is shortened at a character
// boundary, and should that not do, properties are dropped, the least
// telling first; nothing is refused for size.
NormalizedCard NormalizeCard(std::string_view card, TypePolicy policy, bool complete = true);

}  // namespace mzhost
