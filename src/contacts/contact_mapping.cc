// ApplySlotToContact: one record slot onto the contact's setters.
#include "contacts/contact_mapping.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/system.h"
#include "platform/text.h"
#include "vobject/values.h"

namespace mz {
namespace {

using TextSetter = HRESULT (IContact::*)(BSTR);

// Buffer sizes in 16-bit characters. Each is one more than the longest text
// the record or the splitters can hand over (a UTF-8 text never needs more
// 16-bit units than it has bytes), so a conversion always fits.
constexpr int kNameChars = 256;
constexpr int kAffixChars = 32;
constexpr int kCompanyChars = 384;
constexpr int kOrgPartChars = 128;
constexpr int kStreetChars = 384;
constexpr int kAddressPartChars = 128;

// A zero-filled 16-bit buffer from the platform's local heap, released when
// it goes out of scope. A failed allocation leaves it null.
class WideBuffer {
 public:
  explicit WideBuffer(int chars) : chars_(chars) {
    data_ = static_cast<WCHAR*>(LocalAlloc(LPTR, static_cast<SIZE_T>(chars) * sizeof(WCHAR)));
  }
  ~WideBuffer() {
    if (data_ != nullptr) LocalFree(data_);
  }
  WideBuffer(const WideBuffer&) = delete;
  WideBuffer& operator=(const WideBuffer&) = delete;

  bool valid() const { return data_ != nullptr; }

  // Zero-fills the buffer and converts `text` into it, NUL included.
  void Convert(const char* text) {
    std::memset(data_, 0, static_cast<std::size_t>(chars_) * sizeof(WCHAR));
    MultiByteToWideChar(CP_UTF8, 0, text, -1, data_, chars_);
  }

  // Converts `text` and hands it to `setter`; the result is not examined.
  void Put(IContact* contact, TextSetter setter, const char* text) {
    Convert(text);
    (contact->*setter)(data_);
  }

 private:
  WCHAR* data_ = nullptr;
  int chars_ = 0;
};

// `text` in a buffer of its own, then to `setter`; a failed allocation
// skips the setter.
void PutText(IContact* contact, TextSetter setter, const char* text, int chars) {
  WideBuffer buffer(chars);
  if (buffer.valid()) buffer.Put(contact, setter, text);
}

void ApplyName(IContact* contact, const char* value, SlotClass slotClass) {
  NameParts parts;
  SplitName(&parts, value);
  {
    WideBuffer buffer(kNameChars);
    if (buffer.valid()) {
      buffer.Put(contact, &IContact::put_FirstName, parts.given);
      buffer.Put(contact, &IContact::put_LastName, parts.family);
      buffer.Put(contact, &IContact::put_MiddleName, parts.middle);
    }
  }
  // Only a medium slot keeps the stored title and suffix when the name has
  // none.
  const bool always = slotClass != kSlotMedium;
  WideBuffer buffer(kAffixChars);
  if (!buffer.valid()) return;
  if (always || parts.prefix[0] != 0) buffer.Put(contact, &IContact::put_Title, parts.prefix);
  if (always || parts.suffix[0] != 0) buffer.Put(contact, &IContact::put_Suffix, parts.suffix);
}

// The date part only; a value that is no valid date gives 0.0 (no
// birthday).
void ApplyBirthday(IContact* contact, const char* value) {
  DateTimeFields fields;
  ParseDateTime(&fields, value);
  SYSTEMTIME date{};
  date.wYear = static_cast<WORD>(fields.year);
  date.wMonth = static_cast<WORD>(fields.month);
  date.wDay = static_cast<WORD>(fields.day);
  DATE birthday = 0.0;
  SystemTimeToVariantTime(&date, &birthday);
  contact->put_Birthday(birthday);
}

void ApplyOrg(IContact* contact, const char* value) {
  OrgParts parts;
  SplitOrg(&parts, value);
  PutText(contact, &IContact::put_CompanyName, parts.company, kCompanyChars);
  PutText(contact, &IContact::put_Department, parts.department, kOrgPartChars);
  PutText(contact, &IContact::put_OfficeLocation, parts.office, kOrgPartChars);
}

struct AddressSetters {
  TextSetter country;
  TextSetter state;
  TextSetter city;
  TextSetter street;
  TextSetter postalCode;
};

constexpr AddressSetters kOtherAddress = {
    &IContact::put_OtherAddressCountry, &IContact::put_OtherAddressState,
    &IContact::put_OtherAddressCity, &IContact::put_OtherAddressStreet,
    &IContact::put_OtherAddressPostalCode};
constexpr AddressSetters kHomeAddress = {
    &IContact::put_HomeAddressCountry, &IContact::put_HomeAddressState,
    &IContact::put_HomeAddressCity, &IContact::put_HomeAddressStreet,
    &IContact::put_HomeAddressPostalCode};
constexpr AddressSetters kBusinessAddress = {
    &IContact::put_BusinessAddressCountry, &IContact::put_BusinessAddressState,
    &IContact::put_BusinessAddressCity, &IContact::put_BusinessAddressStreet,
    &IContact::put_BusinessAddressPostalCode};

// The post office box and extended parts are dropped.
void ApplyAddress(IContact* contact, const char* value, const AddressSetters& setters,
                  bool keepEmptyCountry) {
  AddressParts parts;
  SplitAddress(&parts, value);
  if (!keepEmptyCountry || parts.country[0] != 0) {
    PutText(contact, setters.country, parts.country, kAddressPartChars);
  }
  PutText(contact, setters.state, parts.region, kAddressPartChars);
  PutText(contact, setters.city, parts.locality, kAddressPartChars);
  PutText(contact, setters.street, parts.street, kStreetChars);
  PutText(contact, setters.postalCode, parts.postalCode, kAddressPartChars);
}

// Codes whose whole value goes to one setter.
struct WholeValueCode {
  const char* code;
  TextSetter setter;
};

constexpr WholeValueCode kWholeValueCodes[] = {
    {"L", &IContact::put_JobTitle},
    {"M", &IContact::put_Body},
    {"THV", &IContact::put_HomeTelephoneNumber},
    {"TWV", &IContact::put_BusinessTelephoneNumber},
    {"THF", &IContact::put_HomeFaxNumber},
    {"TWF", &IContact::put_BusinessFaxNumber},
    {"TPC", &IContact::put_MobileTelephoneNumber},
    {"EP", &IContact::put_Email1Address},
    {"WP", &IContact::put_WebPage},
};

// Exact match: the code's bytes and its terminator, within the field.
bool CodeIs(const char (&field)[kCodeSize], const char* code) {
  const std::size_t length = std::strlen(code);
  return length < kCodeSize && std::memcmp(field, code, length + 1) == 0;
}

}  // namespace

int32_t ApplySlotToContact(IContact* contact, const ContactRecord* record, int32_t index,
                           SlotClass slotClass) {
  if (contact == nullptr || record == nullptr) return 0;
  SlotView slot;
  if (SlotAt(record, slotClass, index, &slot) == 0) return 0;

  char code[kCodeSize];
  std::memcpy(code, slot.code, kCodeSize);
  // The reader terminates every value; the last byte is forced anyway so a
  // damaged record cannot run the splitters past the slot.
  char value[kLongValueSize];
  std::memcpy(value, slot.value, static_cast<std::size_t>(slot.valueSize));
  value[slot.valueSize - 1] = 0;

  for (const WholeValueCode& entry : kWholeValueCodes) {
    if (CodeIs(code, entry.code)) {
      PutText(contact, entry.setter, value, slot.valueSize);
      return 0;
    }
  }
  if (CodeIs(code, "N")) {
    ApplyName(contact, value, slotClass);
  } else if (CodeIs(code, "B")) {
    ApplyBirthday(contact, value);
  } else if (CodeIs(code, "O")) {
    ApplyOrg(contact, value);
  } else if (CodeIs(code, "AP")) {
    ApplyAddress(contact, value, kOtherAddress, false);
  } else if (CodeIs(code, "AH")) {
    ApplyAddress(contact, value, kHomeAddress, false);
  } else if (CodeIs(code, "AW")) {
    ApplyAddress(contact, value, kBusinessAddress, slotClass == kSlotShort);
  }
  return 0;
}

}  // namespace mz
