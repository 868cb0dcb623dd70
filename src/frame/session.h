// The session: the module-level handles that MZ_Init opens and MZ_Done
// closes. One per process, empty when the library is loaded; the exports
// read it from the host's thread, and the new-message sink reads the SMS
// store from the store's notifier thread.
#pragma once

#include <atomic>

#include "platform/contact_store.h"
#include "platform/message_store.h"

namespace mz {

inline constexpr int kFolderCount = 5;

struct Session {
  IPOutlookApp* contactApp = nullptr;
  IMAPISession* messageSession = nullptr;
  // Read by the notifier thread while the host's thread may set or clear it.
  std::atomic<IMsgStore*> smsStore{nullptr};
  IMAPIFolder* folders[kFolderCount] = {};
  IMAPITable* folderTables[kFolderCount] = {};
  ULONG adviseConnection = 0;
  IMAPIAdviseSink* sink = nullptr;
  // What this session started, so that a repeated MZ_Init starts nothing
  // twice.
  bool comStarted = false;
  bool contactsLoggedOn = false;
  bool messagingStarted = false;
  bool adviseRegistered = false;
};

extern Session g_session;

}  // namespace mz
