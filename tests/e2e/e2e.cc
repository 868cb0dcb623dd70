#include "e2e.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/emulator.h"
#include "platform/sound.h"

namespace e2e {

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

std::string VCard(const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + lines + "END:VCARD\r\n";
}

const Properties kFullContact = Props({"FirstName=Ann",
                                       "MiddleName=B",
                                       "LastName=Example",
                                       "Title=Dr.",
                                       "Suffix=Jr.",
                                       "JobTitle=Engineer",
                                       "CompanyName=Example; Ltd",
                                       "Department=Research",
                                       "OfficeLocation=B2",
                                       "HomeTelephoneNumber=+1 555 0100",
                                       "BusinessTelephoneNumber=+1 555 0101",
                                       "MobileTelephoneNumber=+1 555 0102",
                                       "HomeFaxNumber=+1 555 0103",
                                       "BusinessFaxNumber=+1 555 0104",
                                       "Email1Address=ann@example.com",
                                       "WebPage=http://example.com/ann",
                                       "Body=Met at the fair",
                                       "Categories=Friends",
                                       "HomeAddressStreet=1 Main St",
                                       "HomeAddressCity=Springfield",
                                       "HomeAddressState=IL",
                                       "HomeAddressPostalCode=62701",
                                       "HomeAddressCountry=USA",
                                       "BusinessAddressStreet=2 Work Rd",
                                       "BusinessAddressCity=Shelbyville",
                                       "BusinessAddressState=IL",
                                       "BusinessAddressPostalCode=62565",
                                       "BusinessAddressCountry=USA",
                                       "OtherAddressStreet=3 Side Ln",
                                       "OtherAddressCity=Capital City",
                                       "OtherAddressState=IL",
                                       "OtherAddressPostalCode=62702",
                                       "OtherAddressCountry=USA"});

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

Record SmsRecord(const std::string& directory, const std::string& name) {
  return Record(U32(2 * directory.size()) + Utf16(directory) + U32(2 * name.size()) + Utf16(name));
}

Record TelRecord(std::uint32_t event, const std::string& path, std::uint32_t flag) {
  SNDFILEINFO sound{};
  for (std::size_t i = 0; i < path.size(); ++i) sound.szPathName[i] = path[i];
  sound.szDisplayName[0] = u'R';
  sound.sstType = SND_SOUNDTYPE_FILE;
  return Record(U32(event) + std::string(reinterpret_cast<const char*>(&sound), sizeof sound) +
                U32(flag));
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

void E2eTest::NewDevice() {
  emulator::CloseDevice();
  std::string error;
  ASSERT_TRUE(emulator::OpenDevice(dir() + "-" + std::to_string(++devices_), &error)) << error;
}

void E2eTest::ExpectNothingHeld() const {
  EXPECT_EQ(emulator::LiveObjects(), objects_at_start_) << "COM objects held";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers_at_start_) << "platform buffers held";
}
