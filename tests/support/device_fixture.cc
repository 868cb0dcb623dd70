#include "device_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <sstream>

#include "platform/emulator.h"

namespace {

// Every test's device lives in a folder whose path is not plain ASCII and is
// 250 bytes long, so that no part of the system may assume either. Its own
// name stays short (tests name files after it); a folder between takes up
// the length.
constexpr std::size_t kDevicePathBytes = 250;
constexpr const char kDeviceName[] = "电话";

}  // namespace

void DeviceTest::SetUp() {
  emulator::ClearFaults();
  std::string top = (std::filesystem::temp_directory_path() / "téléphone-XXXXXX").string();
  ASSERT_NE(mkdtemp(top.data()), nullptr);
  top_ = top;
  const std::size_t fixed = top.size() + 2 + sizeof kDeviceName - 1;
  dir_ = top + "/" + std::string(fixed < kDevicePathBytes ? kDevicePathBytes - fixed : 1, 'x') +
         "/" + kDeviceName;
  std::string error;
  ASSERT_TRUE(emulator::OpenDevice(dir_, &error)) << error;
  objects_at_start_ = emulator::LiveObjects();
  buffers_at_start_ = emulator::OutstandingBuffers();
}

void DeviceTest::ExpectNothingHeld() const {
  EXPECT_EQ(emulator::LiveObjects(), objects_at_start_) << "COM objects held";
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers_at_start_) << "platform buffers held";
}

void DeviceTest::TearDown() {
  emulator::ClearFaults();
  ExpectNothingHeld();
  emulator::CloseDevice();
  emulator::RemoveDeviceDir(top_);
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) hex += {kDigits[b >> 4], kDigits[b & 0x0F]};
  return hex;
}

std::string DeviceSnapshot(const std::filesystem::path& skip) {
  std::ostringstream text;
  for (const std::uint32_t oid : emulator::ContactOids()) {
    const auto contact = emulator::ReadContact(oid);
    text << "contact " << oid << " " << contact->birthday;
    for (const auto& [name, value] : contact->text) {
      if (!value.empty()) text << " " << name << "=" << value;
    }
    text << "\n";
  }
  for (const std::string& folder : emulator::StandardFolderNames()) {
    for (const auto& message : emulator::ListMessages("SMS", folder)) {
      text << folder << " " << Hex(message.entryId) << " " << message.subject.value_or("") << "\n";
    }
  }
  for (const auto& [name, value] : emulator::DumpRegistry()) {
    std::string data = Hex({value.data.begin(), value.data.end()});
    if (value.type == 1) {  // REG_SZ
      data.clear();
      for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const bool ascii = value.data[i + 1] == 0 && value.data[i] < 0x80;
        data += !ascii ? '?' : value.data[i] == 0 ? '^' : static_cast<char>(value.data[i]);
      }
    }
    text << name << " " << value.type << " " << data << "\n";
  }
  for (const auto& sms : emulator::SentMessages())
    text << "sent " << sms.address << " " << sms.text << " /" << sms.dataBytes << " "
         << sms.addressType << " " << sms.messageClass << " " << sms.encoding << " " << sms.options
         << "\n";
  for (const auto& launch : emulator::Launches()) {
    text << "launch " << launch.application << ":" << launch.commandLine << "\n";
  }
  const std::filesystem::path fs = emulator::HostPath("\\");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(fs)) {
    if (entry.path() != skip)
      text << "file " << entry.path().lexically_relative(fs).string() << "\n";
  }
  return text.str();
}
