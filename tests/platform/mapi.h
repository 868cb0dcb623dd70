// Helpers of the store tests: MAPI buffers freed with their scope, counted
// tag lists, entry ids, a session with the SMS store open, and the contacts
// collection open.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "base/com_ref.h"
#include "platform/contact_store.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

namespace mapi {

using mz::ComRef;

// Property values and row sets a call hands out, freed with the scope.
struct Values {
  ULONG count = 0;
  SPropValue* v = nullptr;
  ~Values() { MAPIFreeBuffer(v); }
  const SPropValue& operator[](ULONG i) const { return v[i]; }
};
struct Rows {
  SRowSet* set = nullptr;
  ~Rows() { FreeProws(set); }
  SRowSet* operator->() const { return set; }
};

// A counted tag list, passed where calls take an SPropTagArray*.
struct Tags {
  std::vector<ULONG> v;
  Tags(std::initializer_list<ULONG> tags) : v{static_cast<ULONG>(tags.size())} {
    v.insert(v.end(), tags);
  }
  operator SPropTagArray*() { return reinterpret_cast<SPropTagArray*>(v.data()); }
  ULONG operator[](std::size_t i) const { return v[i + 1]; }
};

inline std::string Bytes(const SBinary& bin) {
  return std::string(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

inline BYTE* AsBytes(const std::string& id) {
  return reinterpret_cast<BYTE*>(const_cast<char*>(id.data()));
}
inline LPENTRYID AsEntryId(const std::string& id) {
  return reinterpret_cast<LPENTRYID>(AsBytes(id));
}

inline std::u16string Text(const SPropValue& value) {
  return value.Value.lpszW != nullptr ? std::u16string(value.Value.lpszW) : std::u16string();
}

// Opens entry `id` of a session, store or folder.
template <class From>
HRESULT Open(From* from, const std::string& id, IUnknown** to, ULONG flags = MAPI_BEST_ACCESS,
             ULONG* type = nullptr) {
  return from->OpenEntry(static_cast<ULONG>(id.size()), AsEntryId(id), nullptr, flags, type, to);
}

// Stores a message with that subject (announced to sinks); its entry id.
inline std::string Seed(const std::string& folder, const std::string& subject,
                        const std::string& store = "SMS") {
  emulator::MessageSeed seed;
  seed.store = store;
  seed.folder = folder;
  seed.subject = subject;
  return emulator::SeedMessage(seed);
}

// A binary property of a store, folder or message; empty when missing.
inline std::string BinaryProp(IMAPIProp* object, ULONG tag) {
  Values values;
  return object->GetProps(Tags{tag}, MAPI_UNICODE, &values.count, &values.v) == S_OK &&
                 values[0].ulPropTag == tag
             ? Bytes(values[0].Value.bin)
             : "";
}

// MAPI initialised, a session, and the SMS store (the store table's first)
// open on the current device; released, and MAPI uninitialised, at the end.
struct SmsSession {
  SmsSession() {
    EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
    ComRef<IMAPITable> stores;
    Rows rows;
    if (MAPILogonEx(0, nullptr, nullptr, 0, session.put()) == S_OK &&
        session->GetMsgStoresTable(MAPI_UNICODE, stores.put()) == S_OK &&
        stores->QueryRows(1, 0, &rows.set) == S_OK && rows->cRows == 1) {
      EXPECT_EQ(
          Open(session.get(), Bytes(rows->aRow[0].lpProps[0].Value.bin), store.put_as<IUnknown>()),
          S_OK);
    }
    EXPECT_TRUE(store) << "no SMS store";
  }
  ~SmsSession() {
    store.Reset();
    session.Reset();
    MAPIUninitialize();
  }

  ComRef<IMAPISession> session;
  ComRef<IMsgStore> store;
};

// The contacts collection opened the way an application opens it, released
// in reverse order (COM uninitialised last).
struct Contacts {
  Contacts() {
    EXPECT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IPOutlookApp, app.put_as<void>())) &&
                SUCCEEDED(app->Logon(0)) &&
                SUCCEEDED(app->GetDefaultFolder(olFolderContacts, folder.put())) &&
                SUCCEEDED(folder->get_Items(items.put())));
  }
  // The contact at `index`, or a new one when it is 0.
  ComRef<IContact> Item(int index) const {
    IDispatch* item = nullptr;
    EXPECT_EQ(index ? items->Item(index, &item) : items->Add(&item), S_OK) << index;
    return ComRef<IContact>(static_cast<IContact*>(item));
  }

  struct Com {
    Com() { EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    ~Com() { CoUninitialize(); }
  } com;
  ComRef<IPOutlookApp> app;
  ComRef<IFolder> folder;
  ComRef<IPOutlookItemCollection> items;
};

}  // namespace mapi
