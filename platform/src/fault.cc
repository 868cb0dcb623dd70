#include "fault.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emulator.h"

namespace platform {
namespace {

struct Fault {
  int nth = 0;
  std::int32_t result = 0;
  bool persistent = false;
};

// The notifier thread of the message store passes fault points too, so the
// table is guarded.
struct FaultTable {
  std::mutex mutex;
  std::map<std::string, int, std::less<>> calls;
  std::map<std::string, Fault, std::less<>> faults;
  bool tracing = false;
  std::vector<std::string> trace;
};

FaultTable& Table() {
  static FaultTable* table = new FaultTable;  // never destroyed: used until exit
  return *table;
}

std::atomic<long> g_buffers{0};

}  // namespace

std::optional<std::int32_t> FaultAt(const char* operation) {
  FaultTable& table = Table();
  std::lock_guard lock(table.mutex);
  if (table.tracing) table.trace.emplace_back(operation);
  auto call = table.calls.find(operation);
  if (call == table.calls.end()) call = table.calls.emplace(operation, 0).first;
  int count = ++call->second;
  auto fault = table.faults.find(operation);
  if (fault == table.faults.end()) return std::nullopt;
  const Fault& f = fault->second;
  if (count == f.nth || (f.persistent && count > f.nth)) return f.result;
  return std::nullopt;
}

void CountBuffer(int delta) {
  g_buffers += delta;
}

}  // namespace platform

namespace emulator {

void InjectFault(const std::string& operation, int nth, std::int32_t result, bool persistent) {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  // Calls are counted from the injection on.
  table.calls[operation] = 0;
  table.faults[operation] = {nth, result, persistent};
}

void ClearFaults() {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  table.faults.clear();
  table.calls.clear();
}

int CallCount(const std::string& operation) {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  auto call = table.calls.find(operation);
  return call == table.calls.end() ? 0 : call->second;
}

void StartTrace() {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  table.trace.clear();
  table.tracing = true;
}

std::vector<std::string> StopTrace() {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  table.tracing = false;
  return std::move(table.trace);
}

long OutstandingBuffers() {
  return platform::g_buffers.load();
}

}  // namespace emulator
