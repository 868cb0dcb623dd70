// What the platform has handed out and not yet taken back, for the
// emulator's accounting (emulator::LiveObjects, emulator::OutstandingBuffers).
#pragma once

namespace platform {

// COM objects made (+1) and destroyed (-1).
void CountObject(int delta);

// Buffers handed out to callers (BSTRs, LocalAlloc blocks, live handles)
// and freed.
void CountBuffer(int delta);

}  // namespace platform
