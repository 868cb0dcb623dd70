// MZ_Init and MZ_Done: opening and closing the session, step by step.
#include "contacts/contact_session.h"
#include "frame/session.h"
#include "messages/message_session.h"
#include "messages/sink.h"
#include "mz/mz.h"

namespace mz {
namespace {

// Registers the sink with the SMS store, creating the sink first if the
// session has none yet.
int32_t RegisterSink() {
  if (g_session.sink == nullptr) {
    g_session.sink = NewMessageSink_create();
    if (g_session.sink == nullptr) return MZ_E_NO_MEMORY;
  }
  IMsgStore* store = g_messages.smsStore.load();
  if (store == nullptr || FAILED(store->Advise(0, nullptr, fnevObjectCreated, g_session.sink,
                                               &g_session.adviseConnection))) {
    return MZ_E_FAILED;
  }
  g_session.adviseRegistered = true;
  return MZ_OK;
}

// Ends a session the host left open when the library is unloaded (dlclose)
// or the process exits, and then frees the sink. MZ_Done cancels the store
// registration first, waiting for a notification in progress, so that the
// notifier thread never calls into a sink that is gone, and stops that
// thread when no one else uses the message store. The platform is still
// whole here: it was loaded and initialised before the library, so its
// statics go after the library's, and it is never unmapped.
struct EndAtUnload {
  ~EndAtUnload() {
    if (g_session.comStarted || g_messages.started || g_session.sink != nullptr) {
      MZ_Done();
    }
    NewMessageSink_destroy();
  }
} g_endAtUnload;

}  // namespace
}  // namespace mz

extern "C" MZ_API int32_t MZ_Init(void) {
  using mz::g_session;
  // A session open in full is left as it is.
  if (g_session.adviseRegistered) return MZ_OK;
  if (!g_session.comStarted) {
    // Its result is not examined: later steps fail by themselves if COM is
    // unusable.
    g_session.comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  }
  const HRESULT contacts = mz::OpenContactSession();
  // The message side opens whether or not the contact side did.
  const HRESULT messages = mz::OpenMessageSession();
  if (FAILED(contacts) || FAILED(messages)) return MZ_E_FAILED;
  return mz::RegisterSink();
}

extern "C" MZ_API void MZ_Done(void) {
  using mz::g_messages;
  using mz::g_session;
  if (g_session.sink != nullptr) {
    if (g_session.adviseRegistered) {
      if (IMsgStore* store = g_messages.smsStore.load()) {
        store->Unadvise(g_session.adviseConnection);
      }
    }
    g_session.adviseRegistered = false;
    g_session.sink->Release();
    g_session.sink = nullptr;
  }
  mz::CloseContactSession();
  mz::CloseMessageSession();
  CoUninitialize();
  g_session.comStarted = false;
}
