#include "e2e.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <set>

#include "platform/emulator.h"

namespace e2e {

bool Library::Has(const std::string& name) const {
#define E2E_CHECK_EXPORT(export_name) \
  if (name == #export_name) return export_name != nullptr;
  E2E_FOR_EACH_EXPORT(E2E_CHECK_EXPORT)
#undef E2E_CHECK_EXPORT
  return false;
}

const char* LibraryPath() {
  return MZ_LIBRARY;
}

const Library* LoadLibrary(std::string* error) {
  static Library library;
  static std::string failure;
  static const bool loaded = [] {
    void* handle = dlopen(MZ_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      failure = reason != nullptr ? reason : "dlopen failed";
      return false;
    }
#define E2E_RESOLVE_EXPORT(name) \
  library.name = reinterpret_cast<decltype(library.name)>(dlsym(handle, #name));
    E2E_FOR_EACH_EXPORT(E2E_RESOLVE_EXPORT)
#undef E2E_RESOLVE_EXPORT
    return true;
  }();
  if (!loaded) {
    if (error != nullptr) *error = failure;
    return nullptr;
  }
  return &library;
}

std::ostream& operator<<(std::ostream& out, const FaultPoint& point) {
  return out << point.name << " #" << point.nth << " (point " << point.position << ")";
}

std::vector<FaultPoint> TraceFaultPoints(const std::function<void()>& call) {
  emulator::StartTrace();
  call();
  const std::vector<std::string> names = emulator::StopTrace();
  std::vector<FaultPoint> points;
  std::map<std::string, int> seen;
  for (const std::string& name : names) {
    points.push_back({name, ++seen[name], points.size()});
  }
  return points;
}

std::int32_t FailureFor(const std::string& point) {
  // Free functions that return an HRESULT; interface methods all do.
  static const std::set<std::string> kHresultCalls = {
      "CoInitializeEx", "CoCreateInstance", "MAPIInitialize", "MAPILogonEx",
      "SmsOpen",        "SmsSendMessage",   "SmsClose",
  };
  if (point == "alloc") return E_OUTOFMEMORY;
  if (point.find("::") != std::string::npos || kHresultCalls.count(point) != 0) return E_FAIL;
  return static_cast<std::int32_t>(ERROR_INVALID_PARAMETER);
}

}  // namespace e2e

void E2eTest::SetUp() {
  DeviceTest::SetUp();
  if (HasFatalFailure()) return;
  setenv("TZ", "UTC0", 1);
  std::string error;
  library_ = e2e::LoadLibrary(&error);
  ASSERT_NE(library_, nullptr) << "cannot load " << e2e::LibraryPath() << ": " << error;
  for (const std::string& name : e2e::BuiltExports()) {
    ASSERT_TRUE(library_->Has(name)) << e2e::LibraryPath() << " does not export " << name;
  }
  objects_at_start_ = emulator::LiveObjects();
  buffers_at_start_ = emulator::OutstandingBuffers();
}

void E2eTest::TearDown() {
  if (session_open_) Done();
  DeviceTest::TearDown();
}

int32_t E2eTest::Init() {
  session_open_ = true;
  return mz().MZ_Init();
}

void E2eTest::Done() {
  session_open_ = false;
  mz().MZ_Done();
}

void E2eTest::ExpectNothingHeld() const {
  EXPECT_EQ(emulator::LiveObjects(), objects_at_start_) << "COM objects held";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers_at_start_) << "platform buffers held";
}
