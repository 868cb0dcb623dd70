#include "e2e.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/emulator.h"

namespace e2e {

const Library* LoadLibrary(std::string* error) {
  static Library library;
  static const std::string failure = [] {
    std::string why;
    return mzhost::LoadLibrary(MZ_LIBRARY, &library, &why) ? std::string() : why;
  }();
  if (error != nullptr) *error = failure;
  return failure.empty() ? &library : nullptr;
}

std::ostream& operator<<(std::ostream& out, const FaultPoint& point) {
  return out << point.name << " #" << point.nth << " (point " << point.position << ")";
}

std::vector<FaultPoint> TraceFaultPoints(const std::function<void()>& call) {
  emulator::StartTrace();
  call();
  std::vector<FaultPoint> points;
  std::map<std::string, int> seen;
  for (const std::string& name : emulator::StopTrace()) {
    points.push_back({name, ++seen[name], points.size()});
  }
  return points;
}

std::size_t PositionOf(const std::vector<FaultPoint>& trace, const std::string& name, int nth) {
  for (const FaultPoint& point : trace) {
    if (point.name == name && point.nth == nth) return point.position;
  }
  return trace.size();
}

std::int32_t FailureFor(const std::string& point) {
  // Free functions that return an HRESULT; interface methods all do.
  static const std::set<std::string> kHresultCalls = {
      "CoInitializeEx", "CoCreateInstance", "MAPIInitialize", "MAPILogonEx",
      "SmsOpen",        "SmsSendMessage",   "SmsClose"};
  if (point == "alloc") return E_OUTOFMEMORY;
  if (point == "fopen" || IsFileTransfer(point)) return ENOSPC;
  if (point.find("::") != std::string::npos || kHresultCalls.count(point) != 0) return E_FAIL;
  return static_cast<std::int32_t>(ERROR_INVALID_PARAMETER);
}

bool IsFileTransfer(const std::string& point) {
  return point == "fwrite" || point == "fread" || point == "fseek";
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) hex += {kDigits[b >> 4], kDigits[b & 0x0F]};
  return hex;
}

Properties Props(std::initializer_list<std::string> entries) {
  Properties set;
  for (const std::string& entry : entries) {
    const std::size_t equals = entry.find('=');
    set[entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  return set;
}

Properties Stored(std::uint32_t oid) {
  const auto contact = emulator::ReadContact(oid);
  if (!contact) return {{"<missing>", ""}};
  Properties set;
  for (const auto& [name, value] : contact->text) {
    if (!value.empty()) set[name] = value;
  }
  return set;
}

double Birthday(std::uint32_t oid) {
  const auto contact = emulator::ReadContact(oid);
  return contact ? contact->birthday : -1.0;
}

ContactTransfer Transfer(const std::string& vcard, const std::string& id) {
  ContactTransfer transfer;
  std::memset(&transfer, 'Z', sizeof transfer);
  std::memset(transfer.vcard, 0, sizeof transfer.vcard);
  std::memcpy(transfer.vcard, vcard.data(), std::min(vcard.size(), sizeof transfer.vcard - 1));
  std::memset(transfer.contactId, 0, sizeof transfer.contactId);
  std::memcpy(transfer.contactId, id.data(), std::min(id.size(), sizeof transfer.contactId - 1));
  return transfer;
}

std::filesystem::path ScratchFile() {
  return emulator::HostPath("\\Temp\\temp.txt");
}

bool ScratchFileExists() {
  std::error_code ignored;
  return std::filesystem::exists(ScratchFile(), ignored);
}

}  // namespace e2e

void E2eTest::SetUp() {
  DeviceTest::SetUp();
  if (HasFatalFailure()) return;
  setenv("TZ", "UTC0", 1);
  std::string error;
  library_ = e2e::LoadLibrary(&error);
  ASSERT_NE(library_, nullptr) << "cannot load " << e2e::LibraryPath() << ": " << error;
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

std::vector<e2e::FaultPoint> E2eTest::Trace(bool session, const std::function<void()>& call) {
  if (session) {
    EXPECT_EQ(Init(), MZ_OK);
  }
  const std::vector<e2e::FaultPoint> trace = e2e::TraceFaultPoints(call);
  if (session_open_) Done();
  return trace;
}

void E2eTest::Sweep(const std::vector<e2e::FaultPoint>& trace, bool session,
                    const PointCheck& faulted, const PointCheck& after) {
  for (const e2e::FaultPoint& point : trace) {
    SCOPED_TRACE(testing::Message() << point);
    if (session) {
      ASSERT_EQ(Init(), MZ_OK);
    }
    emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
    faulted(point);
    EXPECT_GE(emulator::CallCount(point.name), point.nth) << "the point was reached";
    emulator::ClearFaults();
    if (after) after(point);
    if (session_open_) Done();
    ExpectNothingHeld();
  }
}
