#include "core/accounting.h"

#include <atomic>

#include "platform/emulator.h"

namespace platform {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_buffers{0};

}  // namespace

void CountObject(int delta) {
  g_objects += delta;
}

void CountBuffer(int delta) {
  g_buffers += delta;
}

}  // namespace platform

long emulator::LiveObjects() {
  return platform::g_objects.load();
}

long emulator::OutstandingBuffers() {
  return platform::g_buffers.load();
}
