// End-to-end harness: libmz.so loaded with dlopen and driven only through its
// exports, the way a host on the phone drives it, on a fresh emulated device
// per test; and the texts, cards and input records the tests hand it.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "library.h"
#include "mz/mz.h"

namespace e2e {

// The library as a host loads it: every export resolved with dlsym.
using Library = mzhost::Library;

// The rows of a table in tests/data/e2e as ReadTable (table.h) reads them,
// `columns` cells each.
std::vector<std::vector<std::string>> Table(const std::string& file, std::size_t columns);

using ::Hex;

// A contact's stored text properties by name.
using Properties = std::map<std::string, std::string>;

// Properties from "Name=value" texts: the name ends at the first '='.
Properties Props(std::initializer_list<std::string> entries);

// A contact's stored texts that are not empty (the store may keep a cleared
// text as an empty one); {"<missing>": ""} when there is no such contact.
Properties Stored(std::uint32_t oid);

// A contact's stored birthday, -1 when there is no such contact.
double Birthday(std::uint32_t oid);

// A vCard 2.1 with `lines` between VERSION and END.
std::string VCard(const std::string& lines);

// Stores a contact; a "Birthday" entry is its birthday as a day number.
std::uint32_t SeedContact(Properties properties);

// A transfer area holding `vcard` and `id` (cut to fit, zero-terminated),
// its other bytes 'Z'.
ContactTransfer Transfer(const std::string& vcard, const std::string& id = "");

// Where the vCard calls keep their scratch file on the host, and whether it
// is there.
std::filesystem::path ScratchFile();
bool ScratchFileExists();

// Writes a file at a phone path of the current device.
void WriteHostFile(const std::string& phonePath, const std::string& content);

// Little-endian bytes of a 32-bit number.
std::string U32(std::uint32_t value);

// ASCII text as UTF-16LE bytes.
std::string Utf16(const std::string& text);

// An input record in a heap block exactly its own size, so that reading past
// it is caught.
class Record {
 public:
  explicit Record(const std::string& bytes);
  const void* data() const { return bytes_.get(); }

 private:
  std::unique_ptr<unsigned char[]> bytes_;
};

// An input record of length-prefixed texts, fields separated by '|': "N" is
// the 32-bit number N alone, "N:TEXT" is N followed by the ASCII TEXT as
// UTF-16LE cut or zero-padded to N bytes, '^' in it a zero character.
Record Input(const std::string& description);

// A fixed-size text field up to its first zero byte.
template <std::size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

}  // namespace e2e

// A fresh device and the loaded library. A session opened with Init is
// closed at teardown even when the test stops early, and the device fixture
// then fails the test if COM objects or platform buffers outlive it.
// Local time is UTC ("UTC0") unless a test sets TZ before its first call.
class E2eTest : public DeviceTest {
 public:
  const e2e::Library& mz() const { return *library_; }

  // MZ_Init and its result. Whatever it returns, MZ_Done follows at Done or
  // at teardown, since a failed MZ_Init leaves what it opened open.
  int32_t Init();
  void Done();
  bool SessionOpen() const { return session_open_; }

 protected:
  void SetUp() override;
  void TearDown() override;

  // Closes the device and opens a fresh one in a new folder beside it.
  void NewDevice();

 private:
  const e2e::Library* library_ = nullptr;
  bool session_open_ = false;
  int devices_ = 0;
};
