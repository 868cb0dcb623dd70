#include "vobject/contact_record.h"

#include <cstring>

#include "stream/text_buffer.h"
#include "vobject/calendar_record.h"
#include "vobject/values.h"

namespace mz {

namespace {

char LocationLetter(const ParamList* params) {
  if (HasParam(params, kParamType, kTypeHome)) return 'H';
  if (HasParam(params, kParamType, kTypeWork)) return 'W';
  return 'P';
}

uint32_t PreferredFlag(const ParamList* params) {
  return HasParam(params, kParamType, kTypePref) ? kSlotPreferred : 0;
}

template <int32_t Size, int32_t Count>
bool StoreInFirstFree(RecordSlot<Size> (&slots)[Count], const char* code, const char* value,
                      uint32_t flags) {
  for (RecordSlot<Size>& slot : slots) {
    if (slot.code[0] != 0) continue;
    CopyBounded(slot.code, code, kCodeSize);
    CopyBounded(slot.value, value, Size);
    slot.flags = flags;
    return true;
  }
  return false;
}

}  // namespace

int SlotAt(const ContactRecord* record, SlotClass slotClass, int32_t index, SlotView* view) {
  if (view == nullptr) return 0;
  *view = SlotView{};
  if (record == nullptr || index < 0) return 0;
  auto fill = [&](const auto& slots, int32_t count, int32_t size) {
    if (index >= count) return 0;
    *view = SlotView{slots[index].code, &slots[index].flags, slots[index].value, size};
    return 1;
  };
  switch (slotClass) {
    case kSlotShort:
      return fill(record->shortSlots, kShortSlotCount, kShortValueSize);
    case kSlotMedium:
      return fill(record->mediumSlots, kMediumSlotCount, kMediumValueSize);
    case kSlotLong:
      return fill(record->longSlots, kLongSlotCount, kLongValueSize);
    default:
      return 0;
  }
}

const RecordCodeRow* FindRecordCode(const char* code) {
  if (code == nullptr) return nullptr;
  for (const RecordCodeRow& row : RecordCodeTable) {
    if (std::strcmp(row.code, code) == 0) return &row;
  }
  return nullptr;
}

int32_t PlaceValue(ContactRecord* record, const char* code, const char* value, int32_t length,
                   uint32_t flags) {
  if (record == nullptr || code == nullptr || value == nullptr) return kRecordNoRoom;
  if (length < 0 || length >= kLongValueSize) return kRecordNoRoom;
  // A value that finds its own class full moves on to the larger ones.
  if (length < kShortValueSize && StoreInFirstFree(record->shortSlots, code, value, flags)) {
    return 0;
  }
  if (length < kMediumValueSize && StoreInFirstFree(record->mediumSlots, code, value, flags)) {
    return 0;
  }
  return StoreInFirstFree(record->longSlots, code, value, flags) ? 0 : kRecordNoRoom;
}

int32_t AddTelValue(ContactRecord* record, const ParamList* params, const char* value) {
  if (value == nullptr) return kRecordNoRoom;
  char code[kCodeSize] = {'T', LocationLetter(params), 'V', 0};
  // VOICE is the default and never looked at.
  if (HasParam(params, kParamType, kTypeFax)) {
    code[2] = 'F';
  } else if (HasParam(params, kParamType, kTypeCell)) {
    code[2] = 'C';
  } else if (HasParam(params, kParamType, kTypePager)) {
    CopyBounded(code, "TPP", kCodeSize);
  } else if (HasParam(params, kParamType, kTypeMsg)) {
    CopyBounded(code, "TPM", kCodeSize);
  }
  return PlaceValue(record, code, value, static_cast<int32_t>(std::strlen(value)),
                    PreferredFlag(params));
}

int32_t AddTypedValue(ContactRecord* record, const ParamList* params, const char* value,
                      int32_t length, char letter) {
  const char code[kCodeSize] = {letter, LocationLetter(params), 0, 0};
  return PlaceValue(record, code, value, length, PreferredFlag(params));
}

void AddContactProperty(const PropertyName* property, const ParamList* params, const char* value,
                        int32_t length, ContactRecord* record) {
  if (property == nullptr || value == nullptr || record == nullptr || length <= 0) return;
  // A value that finds no room is lost; the rest of the card still counts.
  switch (property->id) {
    case kPropertyUrl:
      AddTypedValue(record, params, value, length, 'W');
      break;
    case kPropertyN:
      PlaceValue(record, "N", value, length, 0);
      break;
    case kPropertyBday:
      PlaceValue(record, "B", value, length, 0);
      break;
    case kPropertyAdr:
      AddTypedValue(record, params, value, length, 'A');
      break;
    case kPropertyTel:
      AddTelValue(record, params, value);
      break;
    case kPropertyEmail:
      AddTypedValue(record, params, value, length, 'E');
      break;
    case kPropertyTitle:
      PlaceValue(record, "L", value, length, 0);
      break;
    case kPropertyOrg:
      PlaceValue(record, "O", value, length, 0);
      break;
    case kPropertyNote:
      PlaceValue(record, "M", value, length, 0);
      break;
    default:
      break;
  }
}

int32_t ReadObject(CharStream* stream, ObjectType* type, ContactRecord* contact, int32_t unused,
                   CalendarRecord* calendar) {
  (void)unused;
  ObjectType localType = kObjectNone;
  if (type == nullptr) type = &localType;
  *type = kObjectNone;
  if (contact != nullptr) std::memset(contact, 0, sizeof(*contact));
  if (calendar != nullptr) std::memset(calendar, 0, sizeof(*calendar));
  if (stream == nullptr) return kStreamInvalidArgument;

  // One working memory for every line of the object; without it each line
  // is read as ReadContentLine reads it alone.
  const LineBuffersHolder buffers(LineBuffers_create());
  PropertyName property;
  ParamList params;
  char value[kValueBufferSize];
  int32_t depth = 0;
  int32_t lines = 0;
  for (;;) {
    const int32_t result =
        buffers ? ReadContentLineWith(buffers.get(), stream, &property, &params, value,
                                      kValueBufferSize)
                : ReadContentLine(stream, &property, &params, value, kValueBufferSize);
    if (result < 0) return IsHardError(result) ? result : 0;
    if (lines++ == 0) {
      if (property.id != kPropertyBegin ||
          (CompareNoCase(value, "VCARD") != 0 && CompareNoCase(value, "VCALENDAR") != 0)) {
        return result;
      }
    }
    switch (property.id) {
      case kPropertyVersion:
        break;
      case kPropertyBegin:
        ++depth;
        if (*type != kObjectNone) break;
        if (CompareNoCase(value, "VCARD") == 0) {
          *type = kObjectVCard;
        } else if (CompareNoCase(value, "VTODO") == 0) {
          *type = kObjectTodo;
          if (calendar != nullptr) calendar->type = kCalendarTodo;
        } else if (CompareNoCase(value, "VEVENT") == 0) {
          *type = kObjectEvent;
          if (calendar != nullptr) calendar->type = kCalendarEvent;
        }
        break;
      case kPropertyEnd:
        // The END value is not matched against its BEGIN.
        if (--depth <= 0) return 0;
        break;
      default:
        if (*type == kObjectNone) return result;
        if (*type == kObjectVCard) {
          if (contact != nullptr) AddContactProperty(&property, &params, value, result, contact);
        } else if (calendar != nullptr) {
          AddCalendarProperty(&property, &params, value, result, kValueBufferSize, calendar);
        }
        break;
    }
  }
}

}  // namespace mz
