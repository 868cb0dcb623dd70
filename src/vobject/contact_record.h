// The contact record a vCard is read into, and the object reader that fills
// it (or, for vCalendar text, a CalendarRecord).
//
// A ContactRecord is a fixed block of coded text slots in three size
// classes. Each vCard property the contact mapping understands becomes one
// slot: a short code naming the contact field, a preferred flag and the
// value text (UTF-8, as decoded, backslash escapes still in place). The
// record is the only thing that passes from the reader to the mapping, so
// its layout and code vocabulary are fixed here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/result.h"
#include "stream/char_stream.h"
#include "vobject/properties.h"

namespace mz {

struct CalendarRecord;

inline constexpr int32_t kCodeSize = 4;  // up to three characters and a NUL
inline constexpr int32_t kShortSlotCount = 16;
inline constexpr int32_t kMediumSlotCount = 8;
inline constexpr int32_t kLongSlotCount = 2;
inline constexpr int32_t kShortValueSize = 80;
inline constexpr int32_t kMediumValueSize = 256;
inline constexpr int32_t kLongValueSize = 1024;

// RecordSlot.flags: the property carried the PREF type parameter.
inline constexpr uint32_t kSlotPreferred = 1;

// Which array of the record a slot belongs to.
using SlotClass = int32_t;
inline constexpr SlotClass kSlotShort = 1;
inline constexpr SlotClass kSlotMedium = 2;
inline constexpr SlotClass kSlotLong = 3;

// A free slot has an empty code (first byte 0).
template <int32_t ValueSize>
struct RecordSlot {
  char code[kCodeSize];
  uint32_t flags;
  char value[ValueSize];
};

// Zero-filled by ReadObject. Within each array the used slots are the first
// ones; slots are taken in order and never freed, so a reader may stop at
// the first free slot of each array.
struct ContactRecord {
  RecordSlot<kShortValueSize> shortSlots[kShortSlotCount];
  RecordSlot<kMediumValueSize> mediumSlots[kMediumSlotCount];
  RecordSlot<kLongValueSize> longSlots[kLongSlotCount];
};

static_assert(offsetof(RecordSlot<kShortValueSize>, code) == 0);
static_assert(offsetof(RecordSlot<kShortValueSize>, flags) == 4);
static_assert(offsetof(RecordSlot<kShortValueSize>, value) == 8);
static_assert(sizeof(RecordSlot<kShortValueSize>) == 88);
static_assert(sizeof(RecordSlot<kMediumValueSize>) == 264);
static_assert(sizeof(RecordSlot<kLongValueSize>) == 1032);
static_assert(offsetof(ContactRecord, shortSlots) == 0);
static_assert(offsetof(ContactRecord, mediumSlots) == 1408);
static_assert(offsetof(ContactRecord, longSlots) == 3520);
static_assert(sizeof(ContactRecord) == 5584);

// One slot of any class, as pointers into the record.
struct SlotView {
  const char* code;
  const uint32_t* flags;
  const char* value;
  int32_t valueSize;
};

// Fills `view` for slot `index` of class `slotClass` and returns 1; 0 (the
// view zeroed) for a null record or view, or a class or index out of range.
int SlotAt(const ContactRecord* record, SlotClass slotClass, int32_t index, SlotView* view);

// Locations of RecordCodeRow; kLocationNone for the properties that have no
// location letter.
inline constexpr int32_t kLocationNone = 0;
inline constexpr int32_t kLocationHome = 1;
inline constexpr int32_t kLocationWork = 2;
inline constexpr int32_t kLocationOther = 3;

struct RecordCodeRow {
  PropertyId propertyId;
  int32_t location;
  int32_t kind;  // TYPE value of a TEL kind; 0 outside TEL
  const char* code;
};

// Every code the reader produces. A pager or message number has one code
// whatever its location.
inline constexpr RecordCodeRow RecordCodeTable[] = {
    {kPropertyN, kLocationNone, 0, "N"},
    {kPropertyBday, kLocationNone, 0, "B"},
    {kPropertyOrg, kLocationNone, 0, "O"},
    {kPropertyTitle, kLocationNone, 0, "L"},
    {kPropertyNote, kLocationNone, 0, "M"},
    {kPropertyTel, kLocationOther, kTypeVoice, "TPV"},
    {kPropertyTel, kLocationHome, kTypeVoice, "THV"},
    {kPropertyTel, kLocationWork, kTypeVoice, "TWV"},
    {kPropertyTel, kLocationOther, kTypeFax, "TPF"},
    {kPropertyTel, kLocationHome, kTypeFax, "THF"},
    {kPropertyTel, kLocationWork, kTypeFax, "TWF"},
    {kPropertyTel, kLocationOther, kTypeCell, "TPC"},
    {kPropertyTel, kLocationHome, kTypeCell, "THC"},
    {kPropertyTel, kLocationWork, kTypeCell, "TWC"},
    {kPropertyTel, kLocationOther, kTypePager, "TPP"},
    {kPropertyTel, kLocationOther, kTypeMsg, "TPM"},
    {kPropertyEmail, kLocationOther, 0, "EP"},
    {kPropertyEmail, kLocationHome, 0, "EH"},
    {kPropertyEmail, kLocationWork, 0, "EW"},
    {kPropertyUrl, kLocationOther, 0, "WP"},
    {kPropertyUrl, kLocationHome, 0, "WH"},
    {kPropertyUrl, kLocationWork, 0, "WW"},
    {kPropertyAdr, kLocationOther, 0, "AP"},
    {kPropertyAdr, kLocationHome, 0, "AH"},
    {kPropertyAdr, kLocationWork, 0, "AW"},
};
static_assert(sizeof(RecordCodeTable) / sizeof(RecordCodeTable[0]) == 25);

// The row of `code`, or null.
const RecordCodeRow* FindRecordCode(const char* code);

// What ReadObject found.
using ObjectType = int32_t;
inline constexpr ObjectType kObjectNone = 0;
inline constexpr ObjectType kObjectVCard = 1;
inline constexpr ObjectType kObjectTodo = 2;
inline constexpr ObjectType kObjectEvent = 3;

// Reads one BEGIN..END object from `stream`. Sets `*type` (null allowed) and
// zeroes `contact` and `calendar` (each null allowed) first. vCard
// properties go to `contact`, those of a VEVENT or VTODO to `calendar`;
// nested objects are not kept apart. `unused` has no effect (pass 0).
// Returns 0 when the object was read to its closing END or the data ended
// (a malformed line also ends it, keeping what was read), a hard stream
// error as it came, or, when reading stopped at once (the first line is not
// BEGIN:VCARD or BEGIN:VCALENDAR, or a property came before the object type
// was known), that line's ReadContentLine result. Null stream:
// kStreamInvalidArgument.
int32_t ReadObject(CharStream* stream, ObjectType* type, ContactRecord* contact, int32_t unused,
                   CalendarRecord* calendar);

// Adds one content line of a vCard to the record: URL, N, BDAY, ADR, TEL,
// EMAIL, TITLE, ORG and NOTE are kept, every other property and every empty
// value (length 0) is ignored, and a value that finds no room is lost.
void AddContactProperty(const PropertyName* property, const ParamList* params, const char* value,
                        int32_t length, ContactRecord* record);

// Stores `value` under `code` in the first free slot of the smallest class
// whose value field holds `length` bytes and a NUL, moving on to the larger
// classes when that class is full. Returns 0, or kRecordNoRoom (nothing
// stored) for a length of 1024 or more, or when no fitting slot is free.
int32_t PlaceValue(ContactRecord* record, const char* code, const char* value, int32_t length,
                   uint32_t flags);

// Stores a TEL value under T + location (H for HOME, else W for WORK, else
// P) + kind (F for FAX, else C for CELL, else V), except that a pager
// (without FAX or CELL) is "TPP" and a message number (without those or
// PAGER) "TPM"; preferred with PREF. Returns PlaceValue's result.
int32_t AddTelValue(ContactRecord* record, const ParamList* params, const char* value);

// Stores a value under `letter` + H (HOME), else W (WORK), else P;
// preferred with PREF. Returns PlaceValue's result.
int32_t AddTypedValue(ContactRecord* record, const ParamList* params, const char* value,
                      int32_t length, char letter);

}  // namespace mz
