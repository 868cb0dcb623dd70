// Store events and their delivery to advise sinks.
//
// Whoever creates a folder or message in a message store records an event
// row in the device database (RecordEvent). Each process runs at most one
// notifier thread; it reads new event rows in order and calls the sinks
// advised for that store and event. Events recorded in this process wake it
// at once; events from other processes are noticed when the database
// changes, without a busy loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "device/device.h"
#include "platform/message_store.h"

namespace platform {

// Appends an event for the object `entryId` (type `objectType`) created in
// `parentId` of store `store`. The caller holds device.Lock() and may be
// inside a transaction: the notifier reads the row only once that lock is
// free. Returns false on a database error.
bool RecordEvent(Device& device, std::int64_t store, ULONG eventType, ULONG objectType,
                 std::string_view entryId, std::string_view parentId);

// Registers `sink` (one reference is taken) for the events of `eventMask` in
// `store` and starts the notifier thread if it is not running. Only events
// recorded after this call reach the sink. Fills a nonzero connection.
HRESULT AdviseSink(const std::shared_ptr<Device>& device, std::int64_t store, ULONG eventMask,
                   IMAPIAdviseSink* sink, ULONG* connection);

// Cancels a registration and releases the sink. When it returns, no call
// reaches the sink any more (a call in progress on the notifier thread has
// finished), unless it is called from the sink itself on that thread.
// MAPI_E_NOT_FOUND for an unknown connection.
HRESULT UnadviseSink(ULONG connection);

// Cancels every registration and stops and joins the notifier thread.
void StopNotifier();

}  // namespace platform
