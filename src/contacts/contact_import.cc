// MZ_WriteContact, MZ_AddContact, MZ_DeleteContact and MZ_DeleteAllContacts:
// the contact store changed from vCard text and ids. A vCard goes through
// the scratch file into a ContactRecord, whose slots are applied to the
// contact one by one before it is saved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/com_ref.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/scratch.h"
#include "contacts/contact_mapping.h"
#include "contacts/contact_session.h"
#include "contacts/scratch_file.h"
#include "mz/mz.h"
#include "stream/file_stream.h"
#include "vobject/contact_record.h"

namespace mz {
namespace {

// One past the largest id: what an id text whose digits exceed 32 bits reads
// as, so that it equals no stored Oid instead of wrapping onto one.
constexpr uint64_t kIdOutOfRange = uint64_t{UINT32_MAX} + 1;

// The id number of an id text of at most `limit` bytes: leading white space
// skipped, then decimal digits; whatever follows them is ignored and no
// digits read as 0.
uint64_t ReadContactId(const char* text, std::size_t limit = SIZE_MAX) {
  const char* const end = text + strnlen(text, limit);
  while (text < end && (*text == ' ' || (*text >= '\t' && *text <= '\r'))) ++text;
  uint64_t id = 0;
  for (; text < end && *text >= '0' && *text <= '9'; ++text) {
    id = id * 10 + static_cast<uint64_t>(*text - '0');
    if (id > UINT32_MAX) id = kIdOutOfRange;
  }
  return id;
}

bool OidMatches(LONG oid, uint64_t id) {
  return static_cast<uint32_t>(oid) == id;
}

struct RecordFreer {
  void operator()(ContactRecord* record) const { std::free(record); }
};
using RecordHolder = std::unique_ptr<ContactRecord, RecordFreer>;

// Writes the vCard text into the freshly opened scratch stream and rewinds
// it. The text ends at its zero or after 1023 bytes, so that an area the
// host left unterminated is never read past. False when a byte may not have
// reached the file (a full disk): nothing may be stored from it then.
bool WriteCardText(CharStream* stream, const char* vcard) {
  std::size_t length = strnlen(vcard, MZ_VCARD_SIZE);
  if (length == MZ_VCARD_SIZE) length = MZ_VCARD_SIZE - 1;
  stream->Write(stream, vcard, static_cast<int32_t>(length));
  stream->Flush(stream);
  stream->Seek(stream, 0, 0);
  return !FileStream_failed(stream);
}

// Reads the scratch stream into `record` and applies every filled slot to
// `contact`, short ones first, then saves it. MZ_OK, or MZ_E_FAILED when
// Save fails or when a failed read cut the text short, which would store a
// contact with fields missing: the contact is not saved then.
int32_t ApplyVCardToContact(CharStream* stream, IContact* contact, ContactRecord* record) {
  ObjectType type = kObjectNone;
  // Whatever was read before the reader stopped is applied.
  ReadObject(stream, &type, record, 0, nullptr);
  if (FileStream_failed(stream)) return MZ_E_FAILED;
  for (int32_t i = 0; i < kShortSlotCount && record->shortSlots[i].code[0] != 0; ++i) {
    ApplySlotToContact(contact, record, i, kSlotShort);
  }
  for (int32_t i = 0; i < kMediumSlotCount && record->mediumSlots[i].code[0] != 0; ++i) {
    ApplySlotToContact(contact, record, i, kSlotMedium);
  }
  for (int32_t i = 0; i < kLongSlotCount && record->longSlots[i].code[0] != 0; ++i) {
    ApplySlotToContact(contact, record, i, kSlotLong);
  }
  return FAILED(contact->Save()) ? MZ_E_FAILED : MZ_OK;
}

// The contact whose Oid is `id`, for the caller to release, found by a scan
// over positions 1 to the count; null when the count fails or no position
// matches.
IContact* FindContactByOid(IPOutlookItemCollection* items, uint64_t id) {
  int32_t count = 0;
  if (MZ_GetContactsCount(&count) != MZ_OK) return nullptr;
  for (int32_t position = 1; position <= count; ++position) {
    IDispatch* item = nullptr;
    const HRESULT hr = items->Item(position, &item);
    // The store's items are its contacts.
    ComRef<IContact> contact(static_cast<IContact*>(item));
    if (FAILED(hr) || !contact) continue;
    LONG oid = 0;
    if (SUCCEEDED(contact->get_Oid(&oid)) && OidMatches(oid, id)) {
      contact->AddRef();
      return contact.get();
    }
  }
  return nullptr;
}

// The record an import reads into, or null.
RecordHolder NewRecord() {
  return RecordHolder(static_cast<ContactRecord*>(Allocate(sizeof(ContactRecord))));
}

}  // namespace
}  // namespace mz

extern "C" MZ_API int32_t MZ_WriteContact(const ContactTransfer* contact) {
  using mz::ComRef;
  if (contact == nullptr || contact->contactId[0] == 0) return MZ_E_BAD_ARGUMENT;
  const mz::ScratchFile scratch;
  if (scratch.stream() == nullptr || !mz::WriteCardText(scratch.stream(), contact->vcard)) {
    return MZ_E_FAILED;
  }
  // Allocated before the store is touched, so that its failure changes
  // nothing there.
  const mz::RecordHolder record = mz::NewRecord();
  if (!record) return MZ_E_FAILED;
  // Never past the declared area, also when the host left it unterminated.
  const uint64_t id = mz::ReadContactId(contact->contactId, sizeof contact->contactId);

  ComRef<IFolder> folder;
  if (FAILED(mz::GetContactsFolder(folder.put()))) return MZ_E_NO_CONTACT;
  ComRef<IPOutlookItemCollection> items;
  if (FAILED(folder->get_Items(items.put()))) return MZ_E_NO_CONTACT;
  const ComRef<IContact> target(mz::FindContactByOid(items.get(), id));
  if (!target) return MZ_E_NO_CONTACT;
  return mz::ApplyVCardToContact(scratch.stream(), target.get(), record.get());
}

extern "C" MZ_API int32_t MZ_AddContact(const ContactTransfer* contact, char* newId,
                                        uint32_t newIdSize) {
  using mz::ComRef;
  if (contact == nullptr || newId == nullptr || newIdSize != MZ_NEW_ID_SIZE) {
    return MZ_E_BAD_ARGUMENT;
  }
  const mz::ScratchFile scratch;
  if (scratch.stream() == nullptr || !mz::WriteCardText(scratch.stream(), contact->vcard)) {
    return MZ_E_FAILED;
  }
  const mz::RecordHolder record = mz::NewRecord();
  if (!record) return MZ_E_FAILED;

  ComRef<IFolder> folder;
  if (FAILED(mz::GetContactsFolder(folder.put()))) return MZ_E_NO_CONTACT;
  ComRef<IPOutlookItemCollection> items;
  if (FAILED(folder->get_Items(items.put()))) return MZ_E_NO_CONTACT;
  IDispatch* item = nullptr;
  const HRESULT added = items->Add(&item);
  ComRef<IContact> created(static_cast<IContact*>(item));
  if (FAILED(added) || !created) return MZ_E_NO_CONTACT;
  const int32_t result = mz::ApplyVCardToContact(scratch.stream(), created.get(), record.get());
  // A card that could not be read back was never saved (a contact is stored
  // only by its Save), so there is no id to report.
  if (mz::FileStream_failed(scratch.stream())) return MZ_E_FAILED;
  // Also after a failed Save: the host learns which id the contact has.
  LONG oid = 0;
  created->get_Oid(&oid);
  std::snprintf(newId, MZ_NEW_ID_SIZE, "%u", static_cast<unsigned>(static_cast<uint32_t>(oid)));
  return result;
}

extern "C" MZ_API int32_t MZ_DeleteContact(const char* contactId) {
  using mz::ComRef;
  mz::DiagnosticLog(">>>>>>>enter MZ_DeleteContact!>>>>>>>>>\r\n");
  if (contactId == nullptr) return MZ_E_BAD_ARGUMENT;
  const uint64_t id = mz::ReadContactId(contactId);
  // An id out of range is logged as -1.
  mz::DiagnosticLog("pszContactID is %d!\r\n",
                    id > UINT32_MAX ? -1 : static_cast<int>(static_cast<uint32_t>(id)));

  int32_t result = MZ_E_NO_CONTACT;
  {
    ComRef<IFolder> folder;
    ComRef<IPOutlookItemCollection> items;
    int32_t count = 0;
    if (SUCCEEDED(mz::GetContactsFolder(folder.put())) &&
        SUCCEEDED(folder->get_Items(items.put())) && MZ_GetContactsCount(&count) == MZ_OK) {
      for (int32_t position = 1; position <= count; ++position) {
        IDispatch* item = nullptr;
        const HRESULT hr = items->Item(position, &item);
        const ComRef<IContact> contact(static_cast<IContact*>(item));
        if (FAILED(hr) || !contact) continue;
        LONG oid = 0;
        // A contact whose Oid cannot be read matches no id.
        const bool known = SUCCEEDED(contact->get_Oid(&oid));
        mz::DiagnosticLog("lOid is %d!\r\n", static_cast<int>(oid));
        if (!known || !mz::OidMatches(oid, id)) continue;
        if (SUCCEEDED(contact->Delete())) {
          mz::DiagnosticLog("delete contact ok!\r\n");
          result = MZ_OK;
        } else {
          result = MZ_E_FAILED;
        }
        break;
      }
    }
  }
  mz::DiagnosticLog("<<<<<<<<<<leave MZ_DeleteContact<<<<<<<<<<<<<<<<<<\r\n");
  return result;
}

extern "C" MZ_API int32_t MZ_DeleteAllContacts(void) {
  using mz::ComRef;
  ComRef<IFolder> folder;
  if (FAILED(mz::GetContactsFolder(folder.put()))) return MZ_E_NO_CONTACT;
  ComRef<IPOutlookItemCollection> items;
  if (FAILED(folder->get_Items(items.put()))) return MZ_E_NO_CONTACT;
  int32_t count = 0;
  if (MZ_GetContactsCount(&count) != MZ_OK) return MZ_E_NO_CONTACT;
  int32_t result = MZ_E_NO_CONTACT;
  for (int32_t round = 0; round < count; ++round) {
    // Always position 1: each deletion moves the rest down.
    IDispatch* item = nullptr;
    const HRESULT hr = items->Item(1, &item);
    const ComRef<IContact> contact(static_cast<IContact*>(item));
    if (FAILED(hr) || !contact) continue;
    if (FAILED(contact->Delete())) return MZ_E_FAILED;
    result = MZ_OK;
  }
  return result;
}
