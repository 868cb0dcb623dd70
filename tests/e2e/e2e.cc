#include "e2e.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/emulator.h"
#include "table.h"

namespace e2e {

std::vector<std::vector<std::string>> Table(const std::string& file, std::size_t columns) {
  std::vector<std::vector<std::string>> rows = ReadTable(E2E_DATA_DIR "/" + file);
  for (std::vector<std::string>& cells : rows) cells.resize(columns);
  return rows;
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

std::string VCard(const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + lines + "END:VCARD\r\n";
}

std::uint32_t SeedContact(Properties properties) {
  const auto birthday = properties.extract("Birthday");
  return emulator::SeedContact(properties, birthday ? std::stod(birthday.mapped()) : 0.0);
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

void WriteHostFile(const std::string& phonePath, const std::string& content) {
  const std::filesystem::path path = emulator::HostPath(phonePath);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string U32(std::uint32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), 4);
}

std::string Utf16(const std::string& text) {
  std::string bytes;
  for (const char c : text) bytes += std::string{c, '\0'};
  return bytes;
}

Record::Record(const std::string& bytes) : bytes_(new unsigned char[bytes.size()]) {
  std::memcpy(bytes_.get(), bytes.data(), bytes.size());
}

Record Input(const std::string& description) {
  std::string bytes;
  std::istringstream fields(description);
  for (std::string field; std::getline(fields, field, '|');) {
    const std::size_t colon = field.find(':');
    const auto size = static_cast<std::uint32_t>(std::stoul(field.substr(0, colon)));
    bytes += U32(size);
    if (colon == std::string::npos) continue;
    std::string text = field.substr(colon + 1);
    std::replace(text.begin(), text.end(), '^', '\0');
    bytes += (Utf16(text) + std::string(size, '\0')).substr(0, size);
  }
  return Record(bytes);
}

}  // namespace e2e

void E2eTest::SetUp() {
  DeviceTest::SetUp();
  if (HasFatalFailure()) return;
  setenv("TZ", "UTC0", 1);
  // Loaded once per process: its new-message sink lives until unload.
  static e2e::Library library;
  static const std::string error = [] {
    std::string why;
    return mzhost::LoadLibrary(MZ_LIBRARY, &library, &why) ? std::string() : why;
  }();
  ASSERT_EQ(error, "") << "cannot load " << MZ_LIBRARY;
  library_ = &library;
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

void E2eTest::NewDevice() {
  emulator::CloseDevice();
  std::string error;
  ASSERT_TRUE(emulator::OpenDevice(dir() + "-" + std::to_string(++devices_), &error)) << error;
}
