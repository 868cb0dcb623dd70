// Control of the emulated phone, for tests, tools and benchmarks. The library
// never calls anything declared here.
//
// The device: one folder holding device.db (SQLite, WAL) and fs/, the phone's
// file-system root. Platform calls made before a device is opened here open
// the folder named by PHONE_DEVICE_DIR, or the default folder
// ($XDG_DATA_HOME or ~/.local/share, then libmz/phone). A missing or empty
// folder becomes a fresh phone; a non-empty folder without device.db is
// refused, so that a mistyped path never fills a user's folder.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace emulator {

// Opens (creating when needed) the device in `dir` and makes it the current
// device, closing the one open before. False with a message in *error.
bool OpenDevice(const std::string& dir, std::string* error = nullptr);

// Creates and opens a fresh device in a new temporary folder; returns the
// folder. Throws std::runtime_error when that is impossible.
std::string OpenTempDevice();

// Closes the current device; the next platform call opens the default one.
void CloseDevice();

// Folder of the current device (opening the default one if none is open);
// empty when no device can be opened.
std::string DeviceDir();

// Removes a device folder and everything in it.
void RemoveDeviceDir(const std::string& dir);

// Host path of a phone path inside the current device, or empty when the
// path leads outside the device's fs/ folder.
std::string HostPath(const std::string& phonePath);

// --- Contacts -------------------------------------------------------------

// A stored contact: text properties by their IContact name ("FirstName",
// "HomeAddressCity", ...), UTF-8, only those that are set; birthday 0.0 when
// none.
struct StoredContact {
  std::uint32_t oid = 0;
  std::map<std::string, std::string> text;
  double birthday = 0.0;
};

// Names of the text properties, in store order.
const std::vector<std::string>& ContactPropertyNames();

// Adds a contact at the end of the store and returns its Oid. Unknown
// property names throw std::invalid_argument.
std::uint32_t SeedContact(const std::map<std::string, std::string>& text, double birthday = 0.0);

std::optional<StoredContact> ReadContact(std::uint32_t oid);

// Oids in store order (position 1 first).
std::vector<std::uint32_t> ContactOids();

// The Oid the next new contact receives; must exceed every Oid given before.
void SetNextContactOid(std::uint32_t oid);

// --- Registry -------------------------------------------------------------

struct RegistryValue {
  DWORD type = 0;
  std::vector<std::uint8_t> data;
};

// A value by root ("HKCU", "HKLM", "HKCR", "HKU"), key path and name.
std::optional<RegistryValue> ReadRegistryValue(const std::string& root, const std::string& key,
                                               const std::string& name);

// A REG_SZ value's text as UTF-8 (up to its first zero character).
std::optional<std::string> ReadRegistryString(const std::string& root, const std::string& key,
                                              const std::string& name);

// Every value as "ROOT\key\name" -> value, sorted.
std::map<std::string, RegistryValue> DumpRegistry();

// --- Fault injection ------------------------------------------------------

// Makes the nth call (counted from now, 1-based) of a platform operation fail
// with `result`: an HRESULT for COM methods, a system error number for calls
// that report through GetLastError or return one (registry). With
// `persistent` every call from the nth on fails. Names are "CoCreateInstance",
// "IContact::Save", "IContact::put_FirstName", "RegSetValueExW", ..., and
// "alloc" for every allocation the platform makes or hands out.
void InjectFault(const std::string& operation, int nth, std::int32_t result,
                 bool persistent = false);

// Removes every injected fault and resets the call counters.
void ClearFaults();

// Calls of an operation counted while a fault is injected or a trace runs
// (fault points are not counted otherwise, to keep them free); InjectFault
// restarts the count of its operation.
int CallCount(const std::string& operation);

// Records the name of every fault point passed, in order, until StopTrace.
void StartTrace();
std::vector<std::string> StopTrace();

// --- Accounting -----------------------------------------------------------

// COM objects alive in this process.
long LiveObjects();
// Platform buffers handed out and not yet freed (BSTRs, LocalAlloc blocks).
long OutstandingBuffers();

}  // namespace emulator
