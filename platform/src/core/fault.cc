#include "core/fault.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
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

// True while a fault is injected or a trace runs; guarded writes, free reads.
std::atomic<bool> g_active{false};

void UpdateActive(const FaultTable& table) {
  g_active.store(!table.faults.empty() || table.tracing, std::memory_order_release);
}

}  // namespace

std::optional<std::int32_t> FaultAt(const char* operation) {
  // Most calls run with no fault injected and no trace: skip the table then,
  // so that fault points cost nothing on hot paths such as positional scans.
  if (!g_active.load(std::memory_order_acquire)) return std::nullopt;
  FaultTable& table = Table();
  std::lock_guard lock(table.mutex);
  if (table.tracing) table.trace.emplace_back(operation);
  int count = ++table.calls[operation];
  auto fault = table.faults.find(operation);
  if (fault == table.faults.end()) return std::nullopt;
  const Fault& f = fault->second;
  if (count == f.nth || (f.persistent && count > f.nth)) return f.result;
  return std::nullopt;
}

}  // namespace platform

namespace emulator {

void InjectFault(const std::string& operation, int nth, std::int32_t result, bool persistent) {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  // Calls are counted from the injection on.
  table.calls[operation] = 0;
  table.faults[operation] = {nth, result, persistent};
  platform::UpdateActive(table);
}

void ClearFaults() {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  table.faults.clear();
  table.calls.clear();
  platform::UpdateActive(table);
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
  platform::UpdateActive(table);
}

std::vector<std::string> StopTrace() {
  auto& table = platform::Table();
  std::lock_guard lock(table.mutex);
  table.tracing = false;
  platform::UpdateActive(table);
  return std::move(table.trace);
}

}  // namespace emulator

namespace {

// Faults another process asks for through the environment, injected as
// the library loads: PHONE_FAULTS="NAME=RESULT,..." makes every call of
// each point fail with its result (a decimal or 0x number).
[[maybe_unused]] const bool g_fromEnvironment = [] {
  const char* list = std::getenv("PHONE_FAULTS");
  if (list == nullptr) return false;
  const std::string text = list;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(',', start), text.size());
    const std::string fault = text.substr(start, end - start);
    const std::size_t equals = fault.find('=');
    if (equals != std::string::npos && equals > 0) {
      const auto result = std::strtoll(fault.c_str() + equals + 1, nullptr, 0);
      emulator::InjectFault(fault.substr(0, equals), 1, static_cast<std::int32_t>(result), true);
    }
    start = end + 1;
  }
  return true;
}();

}  // namespace
