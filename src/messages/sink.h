// The library's new-message sink: registered with the SMS store for
// object-created events, it reads each new message and hands the host's
// callback a MessageRecord.
#pragma once

#include "platform/message_store.h"

namespace mz {

// The sink with its reference count set to 1. It is allocated once, on the
// first call, and lives until NewMessageSink_destroy: a count of zero never
// destroys it. Null when it cannot be allocated.
IMAPIAdviseSink* NewMessageSink_create();

// Frees the sink, when there is one. Only for the library's unload, once no
// store registration names the sink any more.
void NewMessageSink_destroy();

}  // namespace mz
