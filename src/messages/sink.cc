// The new-message sink and the host's callback. OnNotify runs on the message
// store's notifier thread while the host may be inside any export, so it
// reads only the SMS store and the callback, both atomics, and never the
// folder tables whose cursors belong to the host's listings.
#include "messages/sink.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "base/com_ref.h"
#include "base/memory.h"
#include "base/wide_text.h"
#include "messages/message_session.h"
#include "messages/message_text.h"
#include "mz/mz.h"
#include "platform/system.h"

namespace mz {
namespace {

// Never cleared: the callback outlives MZ_Done.
std::atomic<MessageCallback> g_callback{nullptr};

struct FreeRecord {
  void operator()(MessageRecord* record) const { std::free(record); }
};
using RecordPtr = std::unique_ptr<MessageRecord, FreeRecord>;

// One property read in a call of its own, since each read's status decides
// on its own whether its field is filled. The values are freed with the
// reader, whatever the status.
class PropRead {
 public:
  PropRead(IMAPIProp* object, ULONG tag) : tag_(tag) {
    SizedSPropTagArray(1, tags) = {1, {tag}};
    SPropValue* values = nullptr;
    status_ =
        object->GetProps(reinterpret_cast<SPropTagArray*>(&tags), MAPI_UNICODE, &count_, &values);
    values_.reset(values);
  }

  HRESULT status() const { return status_; }

  // The value when one came back carrying the tag asked for, else null.
  const SPropValue* value() const {
    if (!values_ || count_ < 1 || values_->ulPropTag != tag_) return nullptr;
    return values_.get();
  }

  // Its text when the value is there and holds some, else null.
  const WCHAR* text() const {
    const SPropValue* found = value();
    return found != nullptr ? found->Value.lpszW : nullptr;
  }

 private:
  struct FreeValues {
    void operator()(SPropValue* values) const { MAPIFreeBuffer(values); }
  };

  ULONG tag_;
  HRESULT status_ = E_FAIL;
  ULONG count_ = 0;
  std::unique_ptr<SPropValue, FreeValues> values_;
};

RecordPtr NewRecord() {
  RecordPtr record(static_cast<MessageRecord*>(Allocate(sizeof(MessageRecord))));
  if (record) {
    std::memset(record.get(), 0, sizeof(MessageRecord));
    record->recordSize = sizeof(MessageRecord);
  }
  return record;
}

// Reads the message the store announced and hands its record to the
// callback. A notification is dropped, calling nothing, when the record
// cannot be made, the message cannot be opened or its sender cannot be read.
void HandleNewMessage(const OBJECT_NOTIFICATION& object) {
  RecordPtr record = NewRecord();
  if (!record) return;
  IMsgStore* store = g_messages.smsStore.load();
  if (store == nullptr) return;
  // Read through the property interface, the part every object the store
  // opens has, so that an id naming a folder does no harm.
  ComRef<IMAPIProp> message;
  ULONG objectType = 0;
  if (FAILED(store->OpenEntry(object.cbEntryID, object.lpEntryID, nullptr, 0, &objectType,
                              message.put_as<IUnknown>())) ||
      !message) {
    return;
  }

  // Unlike the listing, the sender is taken as written: quotes, name and
  // brackets arrive whole.
  const PropRead sender(message.get(), PR_SENDER_EMAIL_ADDRESS_W);
  if (FAILED(sender.status())) return;
  if (const WCHAR* address = sender.text()) {
    CopyAnsi(address, record->address, sizeof record->address);
  }

  // A warning status means the property is missing; only a clean read fills
  // the field.
  const PropRead subject(message.get(), PR_SUBJECT_W);
  if (subject.status() == S_OK) {
    if (const WCHAR* text = subject.text()) CopyAnsi(text, record->text, sizeof record->text);
  }
  const PropRead delivered(message.get(), PR_MESSAGE_DELIVERY_TIME);
  if (delivered.status() == S_OK) {
    if (const SPropValue* time = delivered.value()) {
      FormatMessageTime(&time->Value.ft, record->timeText);
    }
  }

  // Reported as new in the Inbox, whatever folder it was created in.
  record->folder = MZ_FOLDER_INBOX;
  EntryIdToHex(reinterpret_cast<const BYTE*>(object.lpEntryID), object.cbEntryID,
               record->entryIdHex, sizeof record->entryIdHex);

  if (MessageCallback callback = g_callback.load()) callback(record.release());
}

class NewMessageSink final : public IMAPIAdviseSink {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMAPIAdviseSink) {
      *object = static_cast<IMAPIAdviseSink*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

  // Reaching zero destroys nothing: the sink lives as long as the library.
  ULONG Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }

  ULONG OnNotify(ULONG count, NOTIFICATION* notifications) override {
    if (notifications == nullptr) return 0;
    for (ULONG i = 0; i < count; ++i) {
      const NOTIFICATION& notification = notifications[i];
      if (notification.ulEventType != fnevObjectCreated) continue;
      if (notification.info.obj.ulObjType != MAPI_MESSAGE) continue;
      HandleNewMessage(notification.info.obj);
    }
    return 0;
  }

  void RestartCount() { __atomic_store_n(&refs_, 1, __ATOMIC_SEQ_CST); }

 private:
  LONG volatile refs_ = 1;
};

// The one sink of the library's lifetime.
NewMessageSink* g_sink = nullptr;

}  // namespace

IMAPIAdviseSink* NewMessageSink_create() {
  if (g_sink != nullptr) {
    g_sink->RestartCount();
    return g_sink;
  }
  void* memory = Allocate(sizeof(NewMessageSink));
  if (memory == nullptr) return nullptr;
  g_sink = new (memory) NewMessageSink;
  return g_sink;
}

void NewMessageSink_destroy() {
  if (g_sink == nullptr) return;
  g_sink->~NewMessageSink();
  std::free(g_sink);
  g_sink = nullptr;
}

}  // namespace mz

extern "C" MZ_API int32_t MZ_RegisterCallback(MessageCallback callback) {
  mz::g_callback.store(callback);
  return MZ_CALLBACK_STORED;
}
