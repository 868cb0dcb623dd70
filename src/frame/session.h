// The session: the module-level handles that MZ_Init opens and MZ_Done
// closes. Each side keeps its own part (contacts/contact_session.h,
// messages/message_session.h); this part holds what the entry points start
// themselves: COM and the sink's registration with the SMS store. One per
// process, empty when the library is loaded, used from the host's thread.
#pragma once

#include "platform/message_store.h"

namespace mz {

struct Session {
  ULONG adviseConnection = 0;
  IMAPIAdviseSink* sink = nullptr;
  // What this session started, so that a repeated MZ_Init starts nothing
  // twice.
  bool comStarted = false;
  bool adviseRegistered = false;
};

extern Session g_session;

}  // namespace mz
