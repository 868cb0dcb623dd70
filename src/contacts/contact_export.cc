// MZ_GetContactsCount and MZ_GetContactInfo: the contacts folder counted, and
// one contact written as vCard 2.1 text into the scratch file, then read back
// into the host's buffer.
#include <cstdio>
#include <cstring>

#include "base/com_ref.h"
#include "base/scratch.h"
#include "base/wide_text.h"
#include "contacts/contact_session.h"
#include "contacts/scratch_file.h"
#include "contacts/vcard_writer.h"
#include "mz/mz.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "stream/file_stream.h"

namespace mz {
namespace {

// Field sizes, terminator included, of the texts that are not part of a
// name or an address.
constexpr int kTextField = 100;
constexpr int kNoteField = 64;
// Years a birthday is written for.
constexpr int kFirstBirthdayYear = 1900;
constexpr int kLastBirthdayYear = 2999;

using TextGetter = HRESULT (IContact::*)(BSTR*);

// One text property into `field`; a property the store cannot read counts
// as empty. Returns whether the field holds text.
template <std::size_t N>
bool ReadText(IContact* contact, TextGetter getter, char (&field)[N]) {
  static_assert(N <= 0x7FFFFFFF);
  BSTR value = nullptr;
  const HRESULT hr = (contact->*getter)(&value);
  const bool present = ConvertText(SUCCEEDED(hr) ? value : nullptr, field, static_cast<int>(N));
  SysFreeString(value);
  return present;
}

struct TelLine {
  TextGetter getter;
  uint32_t flags;
};

constexpr TelLine kTelLines[] = {
    {&IContact::get_HomeTelephoneNumber, kTypeHome | kTypeVoice},
    {&IContact::get_BusinessTelephoneNumber, kTypeWork | kTypeVoice},
    {&IContact::get_MobileTelephoneNumber, kTypeCell},
    {&IContact::get_HomeFaxNumber, kTypeHome | kTypeFax},
    {&IContact::get_BusinessFaxNumber, kTypeWork | kTypeFax},
};

struct AddressLine {
  TextGetter street;
  TextGetter city;
  TextGetter state;
  TextGetter postalCode;
  TextGetter country;
  uint32_t flags;
};

constexpr AddressLine kAddressLines[] = {
    {&IContact::get_HomeAddressStreet, &IContact::get_HomeAddressCity,
     &IContact::get_HomeAddressState, &IContact::get_HomeAddressPostalCode,
     &IContact::get_HomeAddressCountry, kTypeHome},
    {&IContact::get_BusinessAddressStreet, &IContact::get_BusinessAddressCity,
     &IContact::get_BusinessAddressState, &IContact::get_BusinessAddressPostalCode,
     &IContact::get_BusinessAddressCountry, kTypeWork},
    {&IContact::get_OtherAddressStreet, &IContact::get_OtherAddressCity,
     &IContact::get_OtherAddressState, &IContact::get_OtherAddressPostalCode,
     &IContact::get_OtherAddressCountry, 0},
};

void PutName(VCardWriter* writer, IContact* contact) {
  NameFields name;
  ReadText(contact, &IContact::get_LastName, name.family);
  ReadText(contact, &IContact::get_FirstName, name.given);
  ReadText(contact, &IContact::get_MiddleName, name.middle);
  ReadText(contact, &IContact::get_Title, name.prefix);
  ReadText(contact, &IContact::get_Suffix, name.suffix);
  VCardWriter_putName(writer, &name);
}

// The date as "%d-%d-%d" without leading zeros, in 16-bit text like the
// store's own texts; only years 1900 to 2999 are written.
void PutBirthday(VCardWriter* writer, IContact* contact) {
  DATE birthday = 0.0;
  if (FAILED(contact->get_Birthday(&birthday)) || birthday == 0.0) return;
  SYSTEMTIME date{};
  if (!VariantTimeToSystemTime(birthday, &date)) return;
  if (date.wYear < kFirstBirthdayYear || date.wYear > kLastBirthdayYear) return;
  char digits[32];
  const int length =
      std::snprintf(digits, sizeof digits, "%d-%d-%d", date.wYear, date.wMonth, date.wDay);
  WCHAR wide[32] = {};
  for (int i = 0; i < length && i + 1 < 32; ++i) wide[i] = static_cast<WCHAR>(digits[i]);
  char text[kTextField];
  if (ConvertText(wide, text, sizeof text)) VCardWriter_putBirthday(writer, text);
}

// Every line between N and X-IRMC-LUID, in their order. The writer's results
// are not examined: a failed write only shortens the text.
void PutProperties(VCardWriter* writer, IContact* contact) {
  PutName(writer, contact);
  char text[kTextField];
  for (const TelLine& tel : kTelLines) {
    if (ReadText(contact, tel.getter, text)) VCardWriter_putTel(writer, tel.flags, text);
  }
  PutBirthday(writer, contact);
  if (ReadText(contact, &IContact::get_Email1Address, text)) {
    VCardWriter_putEmail(writer, kTypeInternet, text);
  }
  if (ReadText(contact, &IContact::get_WebPage, text)) {
    VCardWriter_putUrl(writer, kTypeInternet, text);
  }
  AddressFields address;
  for (const AddressLine& line : kAddressLines) {
    AddressFields_clear(&address);
    bool any = ReadText(contact, line.street, address.street);
    any = ReadText(contact, line.city, address.locality) || any;
    any = ReadText(contact, line.state, address.region) || any;
    any = ReadText(contact, line.postalCode, address.postalCode) || any;
    any = ReadText(contact, line.country, address.country) || any;
    if (any) VCardWriter_putAddress(writer, line.flags, &address);
  }
  if (ReadText(contact, &IContact::get_JobTitle, text)) VCardWriter_putTitle(writer, text);
  char note[kNoteField];
  if (ReadText(contact, &IContact::get_Body, note)) VCardWriter_putNote(writer, note);
  if (ReadText(contact, &IContact::get_CompanyName, text)) VCardWriter_putOrg(writer, text);
  if (ReadText(contact, &IContact::get_Categories, text)) VCardWriter_putGroup(writer, text);
}

// What one export produced, held back until it is known to have succeeded.
struct ExportedContact {
  char text[MZ_VCARD_SIZE];
  int32_t length;
  char id[MZ_CONTACT_ID_SIZE];
};

// Writes the contact at `position` through the writer into `stream` and
// reads the text back. MZ_OK, or the export's failure code.
int32_t ExportContact(int32_t position, CharStream* stream, ExportedContact* out) {
  ComRef<IFolder> folder;
  if (FAILED(GetContactsFolder(folder.put()))) return MZ_E_NO_CONTACT;
  ComRef<IPOutlookItemCollection> items;
  if (FAILED(folder->get_Items(items.put()))) return MZ_E_NO_CONTACT;
  IDispatch* item = nullptr;
  const HRESULT found = items->Item(position, &item);
  // The store's items are its contacts.
  ComRef<IContact> contact(static_cast<IContact*>(item));
  if (FAILED(found) || !contact) return MZ_E_NO_MORE;

  VCardWriter* writer = VCardWriter_create(stream);
  if (writer == nullptr) return MZ_E_FAILED;
  stream->Seek(stream, 0, 0);
  VCardWriter_begin(writer);
  PutProperties(writer, contact.get());
  LONG oid = 0;
  contact->get_Oid(&oid);
  const unsigned id = static_cast<uint32_t>(oid);
  stream->Printf(stream, "X-IRMC-LUID:%u\r\n", id);
  std::snprintf(out->id, sizeof out->id, "%u", id);
  VCardWriter_end(writer);
  VCardWriter_free(writer);
  contact.Reset();

  stream->Flush(stream);
  stream->Seek(stream, 0, 0);
  out->length = stream->Read(stream, out->text, MZ_VCARD_SIZE);
  // A text that did not wholly reach the file, or come back from it, would
  // hand the host a contact with lines missing.
  return FileStream_failed(stream) ? MZ_E_FAILED : MZ_OK;
}

}  // namespace
}  // namespace mz

extern "C" MZ_API int32_t MZ_GetContactsCount(int32_t* count) {
  using mz::ComRef;
  if (count == nullptr) return MZ_E_BAD_ARGUMENT;
  *count = 0;
  ComRef<IFolder> folder;
  if (FAILED(mz::GetContactsFolder(folder.put()))) return MZ_E_NO_CONTACT;
  ComRef<IPOutlookItemCollection> items;
  if (FAILED(folder->get_Items(items.put()))) return MZ_E_NO_CONTACT;
  // A count the store cannot give stays 0.
  int stored = 0;
  items->get_Count(&stored);
  *count = stored;
  return MZ_OK;
}

extern "C" MZ_API int32_t MZ_GetContactInfo(int32_t position, ContactTransfer* contact) {
  if (contact == nullptr || position < 1) return MZ_E_BAD_ARGUMENT;
  const mz::ScratchFile scratch;
  if (scratch.stream() == nullptr) return MZ_E_FAILED;

  mz::ExportedContact exported;
  const int32_t result = mz::ExportContact(position, scratch.stream(), &exported);
  if (result != MZ_OK) return result;
  // A text shorter than the area ends with a zero byte; one that fills it
  // has none.
  int32_t length = exported.length > 0 ? exported.length : 0;
  if (length > MZ_VCARD_SIZE) length = MZ_VCARD_SIZE;
  std::memcpy(contact->vcard, exported.text, static_cast<std::size_t>(length));
  if (length < MZ_VCARD_SIZE) contact->vcard[length] = 0;
  std::memcpy(contact->contactId, exported.id, std::strlen(exported.id) + 1);
  return MZ_OK;
}
