// Cards through mzhost, the library and back, on the test's fresh device.
#include <string>
#include <vector>

#include "mzhost_fixture.h"

namespace {

// data/round-trip-3.0.vcf is written as the 3.0 writer writes, with every
// value the phone keeps: each of its lines comes back from an import and a
// 3.0 export as it was, but for the ORG's department, which the library's
// text does not carry and the store keeps.
TEST_F(MzhostTest, A30CardComesBackFromThePhoneAs30ByteForByte) {
  const std::string path = TEST_DATA_DIR "/round-trip-3.0.vcf";
  ASSERT_EQ(Mzhost({"contacts", "import", path}).status, 0);
  const ProgramRun exported = Mzhost({"contacts", "export", "--format", "3.0"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const std::string card = FileContents(path);
  for (std::size_t at = 0, end; (end = card.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::string line = card.substr(at, end - at + 2);
    if (line.starts_with("ORG:")) line = line.substr(0, line.find(';')) + "\r\n";
    EXPECT_NE(("\r\n" + exported.out).find("\r\n" + line), std::string::npos) << line;
  }
  const auto stored = emulator::ReadContact(emulator::ContactOids().at(0));
  EXPECT_EQ(stored->text.at("Department"), "Research");
}

// The library writes a note of several lines in quoted-printable with a
// soft break and a tab after each line end; shown and updated back, the
// contact stays as it was, time after time.
TEST_F(MzhostTest, ShowThenUpdateOfTheShownCardChangesNothing) {
  ASSERT_EQ(Mzhost({"contacts", "import", TEST_DATA_DIR "/show-update.vcf"}).status, 0);
  const std::string id = std::to_string(emulator::ContactOids().at(0));
  const std::string before = DeviceSnapshot();
  EXPECT_NE(before.find("Gate code 4412\r\nBring"), std::string::npos) << before;
  for (int round = 1; round <= 3; ++round) {
    const ProgramRun shown = Mzhost({"contacts", "show", "1"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    Write(File("c.vcf"), shown.out);
    const ProgramRun updated = Mzhost({"contacts", "update", id, File("c.vcf")});
    ASSERT_EQ(updated.status, 0) << updated.err;
    EXPECT_EQ(DeviceSnapshot(), before) << "round " << round << " after\n" << shown.out;
  }
}

}  // namespace
