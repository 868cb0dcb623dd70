// The message side of the session: the messaging subsystem, the logon, the
// store named "SMS", and its five standard folders with their contents
// tables.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/message_store.h"

namespace mz {

inline constexpr int kFolderCount = 5;

// What OpenMessageSession opens and CloseMessageSession closes. One per
// process, empty when the library is loaded, used from the host's thread;
// only the SMS store is also read on the store's notifier thread, by the
// new-message sink.
struct MessageSession {
  IMAPISession* logon = nullptr;
  // Read by the notifier thread while the host's thread may set or clear it.
  std::atomic<IMsgStore*> smsStore{nullptr};
  IMAPIFolder* folders[kFolderCount] = {};
  IMAPITable* folderTables[kFolderCount] = {};
  // Whether the subsystem was started, so that a repeated MZ_Init starts it
  // once.
  bool started = false;
};

extern MessageSession g_messages;

// Holders for what the store hands out: property values (MAPIFreeBuffer) and
// row sets (FreeProws), freed when the holder goes out of scope.
struct PropValueFree {
  void operator()(SPropValue* values) const { MAPIFreeBuffer(values); }
};
struct RowSetFree {
  void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using PropValues = std::unique_ptr<SPropValue, PropValueFree>;
using RowSet = std::unique_ptr<SRowSet, RowSetFree>;

// One property of `object` (GetProps with MAPI_UNICODE). Null when the call
// fails or the value carries another tag: a property the object lacks comes
// back as an error value under a success status.
PropValues ReadProp(IMAPIProp* object, ULONG tag);

// The first value of `row` that carries `tag`, or null.
const SPropValue* FindValue(const SRow& row, ULONG tag);

// Starts the subsystem, logs on, finds the SMS store and opens the five
// folders (a folder that cannot be opened stays empty). Returns the first
// failing status of the first three steps, else S_OK. Steps already done by
// an earlier call are not repeated: a folder is reopened only when it has no
// table. Runs on the host's thread; the SMS store is published to the
// notifier thread only once it is open.
HRESULT OpenMessageSession();

// Releases the store, the five tables, the five folders, logs off and
// releases the session (each only when open), then shuts the subsystem down
// (always).
void CloseMessageSession();

// The first store whose display name is "SMS" (any letter case), opened
// through the session. E_FAIL without a session, E_INVALIDARG without a
// place, E_NOINTERFACE when no store matches or the table cannot be read.
// Success once a store matched, even when it then could not be opened:
// *store is null then.
HRESULT FindSmsStore(IMsgStore** store);

// Opens the folder whose entry id is the store's `property` and its contents
// table with the single column PR_ENTRYID. Leaves both places empty when the
// property cannot be read or the folder cannot be opened (or there is no
// store), and the table place alone when the folder gives no table.
void OpenFolder(IMsgStore* store, ULONG property, IMAPIFolder** folder, IMAPITable** table);

// The session's folder object or contents table for an index, or null for an
// index above 4 or a folder that is not open.
IMAPIFolder* GetFolder(std::uint32_t index);
IMAPITable* GetFolderTable(std::uint32_t index);

}  // namespace mz
