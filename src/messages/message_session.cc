#include "messages/message_session.h"

#include "base/com_ref.h"

namespace mz {
namespace {

// The store properties that hold the five folders' entry ids, by
// MessageFolder index.
constexpr ULONG kFolderProperties[kFolderCount] = {
    PR_CE_IPM_INBOX_ENTRYID,     // 0 Inbox
    PR_IPM_OUTBOX_ENTRYID,       // 1 Outbox
    PR_IPM_SENTMAIL_ENTRYID,     // 2 Sent
    PR_CE_IPM_DRAFTS_ENTRYID,    // 3 Drafts
    PR_IPM_WASTEBASKET_ENTRYID,  // 4 Deleted
};

// Whether a display name is "SMS" in any letter case.
bool IsSmsName(const WCHAR* name) {
  static constexpr char kName[] = "SMS";
  for (int i = 0; kName[i] != 0; ++i) {
    WCHAR c = name[i];
    if (c >= u'a' && c <= u'z') c = static_cast<WCHAR>(c - u'a' + u'A');
    if (c != static_cast<WCHAR>(kName[i])) return false;
  }
  return name[3] == 0;
}

LPENTRYID EntryIdOf(const SPropValue& value) {
  return reinterpret_cast<LPENTRYID>(value.Value.bin.lpb);
}

template <typename T>
void ReleaseAndClear(T*& object) {
  if (object == nullptr) return;
  object->Release();
  object = nullptr;
}

}  // namespace

constinit MessageSession g_messages;

PropValues ReadProp(IMAPIProp* object, ULONG tag) {
  SizedSPropTagArray(1, tags) = {1, {tag}};
  ULONG count = 0;
  SPropValue* raw = nullptr;
  const HRESULT hr =
      object->GetProps(reinterpret_cast<SPropTagArray*>(&tags), MAPI_UNICODE, &count, &raw);
  PropValues values(raw);
  if (FAILED(hr) || values == nullptr || count < 1 || values->ulPropTag != tag) return nullptr;
  return values;
}

const SPropValue* FindValue(const SRow& row, ULONG tag) {
  if (row.lpProps == nullptr) return nullptr;
  for (ULONG i = 0; i < row.cValues; ++i) {
    if (row.lpProps[i].ulPropTag == tag) return &row.lpProps[i];
  }
  return nullptr;
}

HRESULT OpenMessageSession() {
  // Every step is skipped when an earlier MZ_Init did it already, so that
  // opening again after a partial opening neither leaks nor doubles.
  if (!g_messages.started) {
    const HRESULT hr = MAPIInitialize(nullptr);
    if (FAILED(hr)) return hr;
    g_messages.started = true;
  }
  if (g_messages.logon == nullptr) {
    const HRESULT hr = MAPILogonEx(0, nullptr, nullptr, 0, &g_messages.logon);
    if (FAILED(hr)) {
      g_messages.logon = nullptr;
      return hr;
    }
  }
  IMsgStore* store = g_messages.smsStore.load();
  if (store == nullptr) {
    const HRESULT hr = FindSmsStore(&store);
    if (FAILED(hr)) return hr;
    g_messages.smsStore.store(store);
  }
  for (int i = 0; i < kFolderCount; ++i) {
    if (g_messages.folderTables[i] != nullptr) continue;
    ReleaseAndClear(g_messages.folders[i]);
    OpenFolder(store, kFolderProperties[i], &g_messages.folders[i], &g_messages.folderTables[i]);
  }
  return S_OK;
}

void CloseMessageSession() {
  // Taken out of the session before it is released: the notifier thread
  // reads it.
  if (IMsgStore* store = g_messages.smsStore.exchange(nullptr)) store->Release();
  for (IMAPITable*& table : g_messages.folderTables) ReleaseAndClear(table);
  for (IMAPIFolder*& folder : g_messages.folders) ReleaseAndClear(folder);
  if (g_messages.logon != nullptr) {
    g_messages.logon->Logoff(0, 0, 0);
    ReleaseAndClear(g_messages.logon);
  }
  MAPIUninitialize();
  g_messages.started = false;
}

HRESULT FindSmsStore(IMsgStore** store) {
  if (g_messages.logon == nullptr) return E_FAIL;
  if (store == nullptr) return E_INVALIDARG;
  *store = nullptr;
  ComRef<IMAPITable> stores;
  if (FAILED(g_messages.logon->GetMsgStoresTable(MAPI_UNICODE, stores.put()))) {
    return E_NOINTERFACE;
  }
  SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
  if (FAILED(stores->SetColumns(reinterpret_cast<SPropTagArray*>(&columns), 0))) {
    return E_NOINTERFACE;
  }
  for (;;) {
    SRowSet* raw = nullptr;
    const HRESULT hr = stores->QueryRows(1, 0, &raw);
    const RowSet rows(raw);
    if (FAILED(hr) || rows == nullptr || rows->cRows == 0) return E_NOINTERFACE;
    const SPropValue* name = FindValue(rows->aRow[0], PR_DISPLAY_NAME_W);
    if (name == nullptr || name->Value.lpszW == nullptr || !IsSmsName(name->Value.lpszW)) continue;
    // The opening's own status is not examined: a store that cannot be
    // opened leaves *store null, and the caller finds no store.
    if (const SPropValue* id = FindValue(rows->aRow[0], PR_ENTRYID)) {
      ULONG type = 0;
      IUnknown* opened = nullptr;
      if (SUCCEEDED(g_messages.logon->OpenEntry(id->Value.bin.cb, EntryIdOf(*id), nullptr,
                                                MAPI_BEST_ACCESS, &type, &opened))) {
        *store = static_cast<IMsgStore*>(opened);
      }
    }
    return S_OK;
  }
}

void OpenFolder(IMsgStore* store, ULONG property, IMAPIFolder** folder, IMAPITable** table) {
  if (folder == nullptr || table == nullptr) return;
  *folder = nullptr;
  *table = nullptr;
  if (store == nullptr) return;
  IUnknown* opened = nullptr;
  {
    const PropValues id = ReadProp(store, property);
    if (id == nullptr) return;
    ULONG type = 0;
    if (FAILED(store->OpenEntry(id->Value.bin.cb, EntryIdOf(*id), nullptr, MAPI_MODIFY, &type,
                                &opened)) ||
        opened == nullptr) {
      return;
    }
  }
  *folder = static_cast<IMAPIFolder*>(opened);
  if (FAILED((*folder)->GetContentsTable(0, table))) {
    *table = nullptr;
    return;
  }
  // A failure is ignored: a contents table starts with this one column.
  SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
  (*table)->SetColumns(reinterpret_cast<SPropTagArray*>(&columns), 0);
}

IMAPIFolder* GetFolder(std::uint32_t index) {
  return index < static_cast<std::uint32_t>(kFolderCount) ? g_messages.folders[index] : nullptr;
}

IMAPITable* GetFolderTable(std::uint32_t index) {
  return index < static_cast<std::uint32_t>(kFolderCount) ? g_messages.folderTables[index]
                                                          : nullptr;
}

}  // namespace mz
