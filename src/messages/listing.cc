// The message exports: counting, listing, reading and deleting the messages
// of the SMS store's five folders.
#include "base/com_ref.h"
#include "base/wide_text.h"
#include "messages/message_session.h"
#include "messages/message_text.h"
#include "mz/mz.h"

namespace mz {
namespace {

static_assert(sizeof(MessageRecord::timeText) == kMessageTimeSize);

// The id buffer a deletion starts from: a text that is rejected deletes
// this many zero bytes.
constexpr std::uint32_t kDeleteIdBytes = 64;

// Writes the message time read from `tag`; -1 when it cannot be read.
int32_t ReadTime(IMessage* message, ULONG tag, MessageRecord* record) {
  const PropValues time = ReadProp(message, tag);
  if (time == nullptr) return MZ_E_FAILED;
  FormatMessageTime(&time->Value.ft, record->timeText);
  return MZ_OK;
}

// A received message: delivery time and the sender, normalised.
int32_t ReadReceived(IMessage* message, MessageRecord* record) {
  if (ReadTime(message, PR_MESSAGE_DELIVERY_TIME, record) != MZ_OK) return MZ_E_FAILED;
  const PropValues sender = ReadProp(message, PR_SENDER_EMAIL_ADDRESS_W);
  if (sender == nullptr) return MZ_E_FAILED;
  NormalizeAddress(sender->Value.lpszW, record->address, sizeof record->address);
  return MZ_OK;
}

// The first recipient row that has an address gives `address`; a table
// that cannot be read further, or has none, leaves it as it was.
void ReadFirstRecipient(IMAPITable* recipients, MessageRecord* record) {
  for (;;) {
    SRowSet* raw = nullptr;
    const HRESULT hr = recipients->QueryRows(1, 0, &raw);
    const RowSet rows(raw);
    if (FAILED(hr) || rows == nullptr || rows->cRows == 0) return;
    if (const SPropValue* email = FindValue(rows->aRow[0], PR_EMAIL_ADDRESS_W)) {
      CopyUtf8(email->Value.lpszW, record->address, sizeof record->address);
      return;
    }
  }
}

// The user's own message: last change when unsent, else delivery time, and
// the first recipient.
int32_t ReadOwn(IMessage* message, ULONG flags, MessageRecord* record) {
  const ULONG timeTag =
      (flags & MSGFLAG_UNSENT) != 0 ? PR_LAST_MODIFICATION_TIME : PR_MESSAGE_DELIVERY_TIME;
  if (ReadTime(message, timeTag, record) != MZ_OK) return MZ_E_FAILED;
  ComRef<IMAPITable> recipients;
  if (FAILED(message->GetRecipientTable(0, recipients.put()))) return MZ_E_FAILED;
  ReadFirstRecipient(recipients.get(), record);
  return MZ_OK;
}

// Text, flags, then time and address by who wrote the message. Fields
// written before a failure stay written.
int32_t ReadMessage(IMessage* message, MessageRecord* record) {
  {
    const PropValues subject = ReadProp(message, PR_SUBJECT_W);
    if (subject == nullptr) return MZ_E_FAILED;
    CopyUtf8(subject->Value.lpszW, record->text, sizeof record->text);
  }
  ULONG flags = 0;
  {
    const PropValues read = ReadProp(message, PR_MESSAGE_FLAGS);
    if (read == nullptr) return MZ_E_FAILED;
    flags = read->Value.ul;
  }
  if ((flags & MSGFLAG_FROMME) == 0) return ReadReceived(message, record);
  return ReadOwn(message, flags, record);
}

}  // namespace
}  // namespace mz

extern "C" MZ_API int32_t MZ_GetMessagesCount(MessageFolder folder, uint32_t* count) {
  if (count == nullptr) return MZ_E_BAD_ARGUMENT;
  ULONG rows = 0;
  if (IMAPITable* table = mz::GetFolderTable(folder)) {
    if (FAILED(table->GetRowCount(0, &rows))) rows = 0;
  }
  *count = rows;
  return MZ_OK;
}

extern "C" MZ_API int32_t MZ_StartGetMessage(MessageFolder folder) {
  if (IMAPITable* table = mz::GetFolderTable(folder))
    table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
  return MZ_OK;
}

extern "C" MZ_API int32_t MZ_GetMessageInfo(MessageFolder folder, MessageRecord* record) {
  using namespace mz;
  if (record == nullptr) return MZ_E_BAD_ARGUMENT;
  IMAPIFolder* source = GetFolder(folder);
  IMAPITable* table = GetFolderTable(folder);
  if (source == nullptr || table == nullptr) return MZ_E_BAD_ARGUMENT;

  SRowSet* raw = nullptr;
  const HRESULT hr = table->QueryRows(1, 0, &raw);
  const RowSet rows(raw);
  if (FAILED(hr)) return MZ_E_FAILED;
  if (rows == nullptr || rows->cRows == 0) return MZ_E_NO_MORE;
  // From here on the cursor stands after this row, whatever follows.
  const SPropValue* id = FindValue(rows->aRow[0], PR_ENTRYID);
  if (id == nullptr) return MZ_E_FAILED;

  ComRef<IMessage> message;
  ULONG type = 0;
  if (FAILED(source->OpenEntry(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                               nullptr, MAPI_BEST_ACCESS, &type, message.put_as<IUnknown>())) ||
      !message) {
    return MZ_E_FAILED;
  }
  EntryIdToHex(id->Value.bin.lpb, id->Value.bin.cb, record->entryIdHex, sizeof record->entryIdHex);
  record->folder = static_cast<uint16_t>(folder);
  return ReadMessage(message.get(), record);
}

extern "C" MZ_API int32_t MZ_DeleteMessage(MessageFolder folder, const char* entryIdHex) {
  IMAPIFolder* target = mz::GetFolder(folder);
  if (target == nullptr) return MZ_E_BAD_ARGUMENT;
  BYTE id[mz::kDeleteIdBytes] = {};
  uint32_t length = sizeof id;
  // Not examined: a rejected text deletes the zero id, which names no
  // message, and the store's answer decides the result.
  mz::HexToEntryId(entryIdHex, id, &length);
  SBinary entry{length, id};
  SBinaryArray list{1, &entry};
  return FAILED(target->DeleteMessages(&list, 0, nullptr, 0)) ? MZ_E_FAILED : MZ_OK;
}

extern "C" MZ_API int32_t MZ_DeleteAllMessages(MessageFolder folder) {
  IMAPIFolder* target = mz::GetFolder(folder);
  if (target == nullptr) return MZ_E_BAD_ARGUMENT;
  return FAILED(target->EmptyFolder(0, nullptr, 0)) ? MZ_E_FAILED : MZ_OK;
}
