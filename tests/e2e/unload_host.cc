// A host that unloads libmz.so (argv[1]) without MZ_Done and then lives on:
// a message reaches the device afterwards, and the process must neither
// crash nor hear of it through the unloaded library. It links the platform
// only to deliver that message and to watch the SMS store with a sink of its
// own, advised after the library's: sinks for one event are called in
// order, so once its sink has the message, the library's registration has
// been passed over. With MODE (argv[2]) "callback" a callback was
// registered, which must not be called. Exit status 0 when all went so.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "frame/com_ref.h"
#include "mz/mz.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

namespace {

std::atomic<int> g_callbacks{0};

void Receive(MessageRecord* record) {
  ++g_callbacks;
  std::free(record);
}

// Counts the object-created events of messages it hears of.
class Watcher final : public IMAPIAdviseSink {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = this;
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  ULONG OnNotify(ULONG count, NOTIFICATION*) override {
    std::lock_guard lock(mutex_);
    heard_ += count;
    heard_changed_.notify_all();
    return 0;
  }
  // The deadline only guards against a hang.
  bool WaitForOne() {
    std::unique_lock lock(mutex_);
    return heard_changed_.wait_for(lock, std::chrono::seconds(30), [&] { return heard_ > 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable heard_changed_;
  ULONG heard_ = 0;
};

int Fail(const std::string& what) {
  std::fprintf(stderr, "unload_host: %s\n", what.c_str());
  return 1;
}

// The SMS store, the first of the session's stores; null when it cannot be
// opened.
IMsgStore* OpenSmsStore(IMAPISession* session) {
  mz::ComRef<IMAPITable> stores;
  if (FAILED(session->GetMsgStoresTable(MAPI_UNICODE, stores.put()))) return nullptr;
  SRowSet* rows = nullptr;
  IMsgStore* store = nullptr;
  if (SUCCEEDED(stores->QueryRows(1, 0, &rows)) && rows != nullptr && rows->cRows == 1) {
    const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
    session->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS,
                       nullptr, reinterpret_cast<IUnknown**>(&store));
  }
  FreeProws(rows);
  return store;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: unload_host LIBRARY unload|callback");
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Fail(dlerror());
  auto init = reinterpret_cast<int32_t (*)()>(dlsym(library, "MZ_Init"));
  auto reg = reinterpret_cast<int32_t (*)(MessageCallback)>(dlsym(library, "MZ_RegisterCallback"));
  if (init == nullptr || reg == nullptr) return Fail("the library lacks its exports");
  if (std::strcmp(argv[2], "callback") == 0) reg(&Receive);
  if (init() != MZ_OK) return Fail("MZ_Init failed");
  if (dlclose(library) != 0) return Fail(dlerror());

  Watcher watcher;
  mz::ComRef<IMAPISession> session;
  if (FAILED(MAPIInitialize(nullptr)) ||
      FAILED(MAPILogonEx(0, nullptr, nullptr, 0, session.put()))) {
    return Fail("no messaging session");
  }
  bool heard = false;
  {
    mz::ComRef<IMsgStore> store(OpenSmsStore(session.get()));
    ULONG connection = 0;
    if (!store || FAILED(store->Advise(0, nullptr, fnevObjectCreated, &watcher, &connection))) {
      return Fail("cannot watch the SMS store");
    }
    emulator::ReceiveSms("+15550123", "after the unload");
    heard = watcher.WaitForOne();
    store->Unadvise(connection);
  }
  session->Logoff(0, 0, 0);
  session.Reset();
  MAPIUninitialize();
  if (!heard) return Fail("the message never arrived");
  if (g_callbacks != 0) return Fail("the unloaded library's callback was called");
  return 0;
}
