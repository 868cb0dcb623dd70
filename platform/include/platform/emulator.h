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

// --- Messages -------------------------------------------------------------

// Standard folder names of a store, in MessageFolder order: "Inbox",
// "Outbox", "Sent Items", "Drafts", "Deleted Items". Names are matched
// without regard to ASCII case.
const std::vector<std::string>& StandardFolderNames();

struct RecipientSeed {
  std::optional<std::string> displayName;  // PR_DISPLAY_NAME_W
  std::optional<std::string> addressType;  // PR_ADDRTYPE_W, such as "SMS"
  std::optional<std::string> email;        // PR_EMAIL_ADDRESS_W
  std::optional<std::uint32_t> type;       // PR_RECIPIENT_TYPE
};

// A message to store. Every property is optional, so that tests can make
// messages that lack any of them. Texts are UTF-8; times are file times
// (100-ns ticks since 1601 UTC).
struct MessageSeed {
  std::string store = "SMS";
  std::string folder = "Inbox";
  std::optional<std::string> subject;         // PR_SUBJECT_W
  std::optional<std::uint32_t> flags;         // PR_MESSAGE_FLAGS
  std::optional<std::uint64_t> deliveryTime;  // PR_MESSAGE_DELIVERY_TIME
  std::optional<std::uint64_t> modifiedTime;  // PR_LAST_MODIFICATION_TIME
  std::optional<std::string> sender;          // PR_SENDER_EMAIL_ADDRESS_W
  std::vector<RecipientSeed> recipients;
  std::optional<std::string> entryId;  // raw bytes; by default the store makes one
};

struct StoredMessage : MessageSeed {
  std::string entryId;  // raw bytes
};

// Stores a message (announced to sinks as created) and returns its entry id.
// Throws std::invalid_argument for an unknown store or folder, or an entry
// id already in use.
std::string SeedMessage(const MessageSeed& message);

// The messages of a folder, in the store's order.
std::vector<StoredMessage> ListMessages(const std::string& store, const std::string& folder);

// Adds a message store (with the five standard folders) and returns nothing;
// throws std::invalid_argument when the name is taken.
void AddStore(const std::string& name);

// Creates a folder in a store, announced to sinks with the folder object type.
void CreateFolder(const std::string& store, const std::string& name);

// An SMS arriving from `from`: stored in the SMS store's `folder` as a
// received message with the current time, and announced. Returns its entry id.
std::string ReceiveSms(const std::string& from, const std::string& text,
                       const std::string& folder = "Inbox");

// --- SMS radio ------------------------------------------------------------

struct SentSms {
  std::uint32_t addressType = 0;
  std::string address;  // UTF-8
  std::string text;     // UTF-8 of the UTF-16 data
  std::uint32_t dataBytes = 0;
  std::uint32_t messageClass = 0;
  std::uint32_t encoding = 0;
  std::uint32_t options = 0;
  std::uint64_t time = 0;  // file time
};

// What the radio sent, oldest first.
std::vector<SentSms> SentMessages();

// The device's own number; a message sent to it comes back into the Inbox.
std::string OwnNumber();
void SetOwnNumber(const std::string& number);

// --- Launches -------------------------------------------------------------

struct Launch {
  std::string application;  // UTF-8 phone path as given
  std::string commandLine;  // UTF-8
  std::uint64_t time = 0;   // file time
  bool started = false;
};

// Every CreateProcessW call, oldest first.
std::vector<Launch> Launches();

// --- Fault injection ------------------------------------------------------

// Makes the nth call (counted from now, 1-based) of a platform operation fail
// with `result`: an HRESULT for COM methods, a system error number for calls
// that report through GetLastError or return one (registry), an errno for
// the C runtime's file calls ("fopen", and the transfers "fwrite", "fread"
// and "fseek" of platform/crt.h). With
// `persistent` every call from the nth on fails. Names are "CoCreateInstance",
// "IContact::Save", "IContact::put_FirstName", "RegSetValueExW", ..., and
// "alloc" for every allocation the platform makes or hands out.
void InjectFault(const std::string& operation, int nth, std::int32_t result,
                 bool persistent = false);

// A process started with PHONE_FAULTS="NAME=RESULT,..." in its environment
// has each NAME fail with RESULT on every call, from the start: how a test
// makes the phone of another program refuse.

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

// Why the last device open in this process failed, in one line, or null when
// none has failed. A host that loads the library finds it with dlsym among
// the library's dependencies. Thread-safe; the text stays valid for the
// process's life.
extern "C" const char* PhoneDeviceError(void);
