// The message store, reached through the messaging object model.
//
// MAPIInitialize, then MAPILogonEx for a session; the session's stores table
// lists the stores by entry id and display name, and OpenEntry opens one.
// A store gives its standard folders' entry ids as properties, folders give
// contents tables of their messages, messages give their properties and a
// recipient table. Every object is released by whoever got it; property
// arrays are freed with MAPIFreeBuffer and row sets with FreeProws.
#pragma once

#include "platform/com.h"

using ULONG_PTR = std::uintptr_t;
using SCODE = std::int32_t;
using BOOKMARK = ULONG;

// An entry id: a byte count travels beside it; the bytes start with four
// flag bytes.
struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[1];
};
using LPENTRYID = ENTRYID*;

struct SBinary {
  ULONG cb;
  BYTE* lpb;
};

struct SBinaryArray {
  ULONG cValues;
  SBinary* lpbin;
};

// Property tags: a 16-bit id over a 16-bit type.
constexpr ULONG PROP_TYPE(ULONG tag) {
  return tag & 0xFFFF;
}
constexpr ULONG PROP_ID(ULONG tag) {
  return tag >> 16;
}
constexpr ULONG PROP_TAG(ULONG type, ULONG id) {
  return (id << 16) | type;
}
constexpr ULONG CHANGE_PROP_TYPE(ULONG tag, ULONG type) {
  return (tag & 0xFFFF0000) | type;
}

inline constexpr ULONG PT_LONG = 0x0003;
inline constexpr ULONG PT_ERROR = 0x000A;
inline constexpr ULONG PT_BOOLEAN = 0x000B;
inline constexpr ULONG PT_I8 = 0x0014;
inline constexpr ULONG PT_STRING8 = 0x001E;
inline constexpr ULONG PT_UNICODE = 0x001F;
inline constexpr ULONG PT_SYSTIME = 0x0040;
inline constexpr ULONG PT_BINARY = 0x0102;

inline constexpr ULONG PR_ENTRYID = 0x0FFF0102;
inline constexpr ULONG PR_DISPLAY_NAME_W = 0x3001001F;
inline constexpr ULONG PR_ADDRTYPE_W = 0x3002001F;
inline constexpr ULONG PR_EMAIL_ADDRESS_W = 0x3003001F;
inline constexpr ULONG PR_RECIPIENT_TYPE = 0x0C150003;
inline constexpr ULONG PR_SUBJECT_W = 0x0037001F;
inline constexpr ULONG PR_MESSAGE_FLAGS = 0x0E070003;
inline constexpr ULONG PR_MESSAGE_DELIVERY_TIME = 0x0E060040;
inline constexpr ULONG PR_LAST_MODIFICATION_TIME = 0x30080040;
inline constexpr ULONG PR_SENDER_EMAIL_ADDRESS_W = 0x0C1F001F;
inline constexpr ULONG PR_OBJECT_TYPE = 0x0FFE0003;
// The store's standard folders.
inline constexpr ULONG PR_CE_IPM_INBOX_ENTRYID = 0x81060102;
inline constexpr ULONG PR_IPM_OUTBOX_ENTRYID = 0x35E20102;
inline constexpr ULONG PR_IPM_SENTMAIL_ENTRYID = 0x35E40102;
inline constexpr ULONG PR_CE_IPM_DRAFTS_ENTRYID = 0x81040102;
inline constexpr ULONG PR_IPM_WASTEBASKET_ENTRYID = 0x35E30102;

// PR_MESSAGE_FLAGS bits.
inline constexpr ULONG MSGFLAG_READ = 0x01;
inline constexpr ULONG MSGFLAG_UNSENT = 0x08;
inline constexpr ULONG MSGFLAG_FROMME = 0x20;

// PR_RECIPIENT_TYPE values.
inline constexpr ULONG MAPI_TO = 1;
inline constexpr ULONG MAPI_CC = 2;

// Flags.
inline constexpr ULONG MAPI_MODIFY = 0x00000001;
inline constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
inline constexpr ULONG MAPI_UNICODE = 0x80000000;

// Object types.
inline constexpr ULONG MAPI_STORE = 1;
inline constexpr ULONG MAPI_FOLDER = 3;
inline constexpr ULONG MAPI_MESSAGE = 5;

// Table bookmarks.
inline constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
inline constexpr BOOKMARK BOOKMARK_CURRENT = 1;
inline constexpr BOOKMARK BOOKMARK_END = 2;

// Event mask bits and notification types.
inline constexpr ULONG fnevObjectCreated = 0x00000004;
inline constexpr ULONG fnevObjectDeleted = 0x00000008;

// Results beyond the COM ones.
inline constexpr HRESULT MAPI_W_ERRORS_RETURNED = 0x00040380;  // success with warnings
inline constexpr HRESULT MAPI_E_NO_SUPPORT = static_cast<HRESULT>(0x80040102);
inline constexpr HRESULT MAPI_E_INVALID_ENTRYID = static_cast<HRESULT>(0x80040107);
inline constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010F);
inline constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = static_cast<HRESULT>(0x80040201);
inline constexpr HRESULT MAPI_E_NOT_INITIALIZED = static_cast<HRESULT>(0x80040605);
inline constexpr HRESULT MAPI_E_CALL_FAILED = E_FAIL;
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
inline constexpr HRESULT MAPI_E_INVALID_PARAMETER = E_INVALIDARG;

// One property value. The tag's type says which member is valid; a value of
// type PT_ERROR carries the reason in `err`.
union PropValueUnion {
  short int i;
  LONG l;
  ULONG ul;
  unsigned short int b;
  FILETIME ft;
  char* lpszA;
  WCHAR* lpszW;
  SBinary bin;
  SCODE err;
  std::int64_t li;
};

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  PropValueUnion Value;
};
using LPSPropValue = SPropValue*;

// A counted list of tags. Callers declare fixed-size ones with
// SizedSPropTagArray and pass them cast to SPropTagArray*.
struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
#define SizedSPropTagArray(count, name) \
  struct {                              \
    ULONG cValues;                      \
    ULONG aulPropTag[count];            \
  } name

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  SPropValue* lpProps;
};

// A counted list of rows; cRows 0 at the end of a table.
struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};

// An object event: the entry id of the object created, its type, and its
// parent folder.
struct OBJECT_NOTIFICATION {
  ULONG cbEntryID;
  LPENTRYID lpEntryID;
  ULONG ulObjType;
  ULONG cbParentID;
  LPENTRYID lpParentID;
  ULONG cbOldID;
  LPENTRYID lpOldID;
  ULONG cbOldParentID;
  LPENTRYID lpOldParentID;
};

struct NOTIFICATION {
  ULONG ulEventType;
  ULONG ulAlignPad;
  union {
    OBJECT_NOTIFICATION obj;
  } info;
};

// Reports progress of long operations; the library passes none.
struct IMAPIProgress;

// Receives the store's events on the store's notifier thread.
struct IMAPIAdviseSink : IUnknown {
  virtual ULONG OnNotify(ULONG count, NOTIFICATION* notifications) = 0;

 protected:
  ~IMAPIAdviseSink() = default;
};

inline constexpr IID IID_IMAPIAdviseSink = {
    0x00020302, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IMAPITable : IUnknown {
  // Later rows carry these columns, in this order.
  virtual HRESULT SetColumns(SPropTagArray* columns, ULONG flags) = 0;
  // Up to `rowCount` rows from the cursor, which moves past them; an empty
  // row set at the end. A negative count reads backwards (the rows still
  // come in table order). A column a row lacks comes back as a PT_ERROR
  // value. The caller frees the set with FreeProws.
  virtual HRESULT QueryRows(LONG rowCount, ULONG flags, SRowSet** rows) = 0;
  // The number of rows now.
  virtual HRESULT GetRowCount(ULONG flags, ULONG* count) = 0;
  // Moves the cursor `rowCount` rows (back when negative) from the
  // beginning, the cursor or the end, stopping at either end; *rowsSought
  // (when given) gets the rows actually moved.
  virtual HRESULT SeekRow(BOOKMARK origin, LONG rowCount, LONG* rowsSought) = 0;

 protected:
  ~IMAPITable() = default;
};

struct IMAPIProp : IUnknown {
  // The values of the asked tags, in order, in one buffer freed with
  // MAPIFreeBuffer. A property the object lacks comes back as a PT_ERROR
  // value with MAPI_E_NOT_FOUND, and the call then answers
  // MAPI_W_ERRORS_RETURNED (a success).
  virtual HRESULT GetProps(SPropTagArray* tags, ULONG flags, ULONG* count, SPropValue** values) = 0;

 protected:
  ~IMAPIProp() = default;
};

struct IMessage : IMAPIProp {
  virtual HRESULT GetRecipientTable(ULONG flags, IMAPITable** table) = 0;

 protected:
  ~IMessage() = default;
};

struct IMAPIFolder : IMAPIProp {
  // The folder's messages in store order, column PR_ENTRYID until set
  // otherwise. The table is live: GetRowCount counts now, and the cursor
  // stays between the same two messages while others are added or deleted,
  // so a listing never skips or repeats one.
  virtual HRESULT GetContentsTable(ULONG flags, IMAPITable** table) = 0;
  // Opens a message of this folder; MAPI_E_NOT_FOUND for any other id.
  virtual HRESULT OpenEntry(ULONG entryIdBytes, LPENTRYID entryId, const IID* iid, ULONG flags,
                            ULONG* objectType, IUnknown** object) = 0;
  // Deletes the listed messages. Ids that name no message of this folder are
  // skipped: the call answers MAPI_W_PARTIAL_COMPLETION (a success) when
  // some were deleted, MAPI_E_NOT_FOUND when none was.
  virtual HRESULT DeleteMessages(SBinaryArray* messages, ULONG_PTR window, IMAPIProgress* progress,
                                 ULONG flags) = 0;
  virtual HRESULT EmptyFolder(ULONG_PTR window, IMAPIProgress* progress, ULONG flags) = 0;

 protected:
  ~IMAPIFolder() = default;
};

inline constexpr HRESULT MAPI_W_PARTIAL_COMPLETION = 0x00040680;

struct IMsgStore : IMAPIProp {
  // Opens a folder (MAPI_FOLDER) or message (MAPI_MESSAGE) of this store;
  // MAPI_E_NOT_FOUND for any other id. The interface id is not checked.
  virtual HRESULT OpenEntry(ULONG entryIdBytes, LPENTRYID entryId, const IID* iid, ULONG flags,
                            ULONG* objectType, IUnknown** object) = 0;
  // Registers a sink for the events in `eventMask` of the whole store (an
  // entry id, to watch one object, gives MAPI_E_NO_SUPPORT). The sink is
  // called on the store's notifier thread, one event per call, in the order
  // the events happened, and may call back into the store from there.
  virtual HRESULT Advise(ULONG entryIdBytes, LPENTRYID entryId, ULONG eventMask,
                         IMAPIAdviseSink* sink, ULONG* connection) = 0;
  // After Unadvise returns, the sink is never called again and its
  // reference is released.
  virtual HRESULT Unadvise(ULONG connection) = 0;

 protected:
  ~IMsgStore() = default;
};

struct IMAPISession : IUnknown {
  // Columns PR_ENTRYID and PR_DISPLAY_NAME_W, one row per store.
  virtual HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) = 0;
  // Opens a store by its entry id; MAPI_E_NOT_FOUND for any other id.
  virtual HRESULT OpenEntry(ULONG entryIdBytes, LPENTRYID entryId, const IID* iid, ULONG flags,
                            ULONG* objectType, IUnknown** object) = 0;
  virtual HRESULT Logoff(ULONG_PTR window, ULONG flags, ULONG reserved) = 0;

 protected:
  ~IMAPISession() = default;
};

// Starts the messaging subsystem for the process; each success needs one
// MAPIUninitialize.
HRESULT MAPIInitialize(void* init);
// Stops the subsystem when the last user goes: the notifier thread is
// stopped and joined.
void MAPIUninitialize();
// A session; MAPI_E_NOT_INITIALIZED before MAPIInitialize.
HRESULT MAPILogonEx(ULONG_PTR window, WCHAR* profile, WCHAR* password, ULONG flags,
                    IMAPISession** session);
// Frees a buffer from GetProps (null is ignored).
ULONG MAPIFreeBuffer(void* buffer);
// Frees a row set and every row's values (null is ignored).
void FreeProws(SRowSet* rows);
