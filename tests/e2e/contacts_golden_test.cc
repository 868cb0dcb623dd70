// The contact golden files: each tests/data/contacts/NAME.vcf is added with
// MZ_AddContact on a fresh device; NAME.stored is the contact the store then
// holds and NAME.exported the exact text MZ_GetContactInfo gives for it (the
// formats are in that folder's README.md). With MZ_REGEN_GOLDEN=1 the test
// rewrites both from the current build instead (scripts/regen-golden).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "program.h"
#include "table.h"

namespace {

namespace fs = std::filesystem;

// Every card, sorted.
std::vector<fs::path> CardFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(CONTACTS_DATA_DIR)) {
    if (entry.path().extension() == ".vcf") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string TestName(const testing::TestParamInfo<fs::path>& info) {
  return ::TestName(info.param.stem().string());
}

// A value on one line: backslash, CR and LF as \\, \r and \n.
std::string Escaped(const std::string& value) {
  std::string line;
  for (char c : value) {
    line += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  }
  return line;
}

// The contact as its .stored file shows it.
std::string StoredText(std::uint32_t oid) {
  e2e::Properties properties = e2e::Stored(oid);
  if (const double birthday = e2e::Birthday(oid); birthday != 0.0) {
    char number[32];
    properties["Birthday"] =
        std::string(number, std::to_chars(number, number + sizeof number, birthday).ptr);
  }
  std::string text;
  for (const auto& [name, value] : properties) text += name + "=" + Escaped(value) + "\n";
  return text;
}

class ContactsGoldenE2e : public E2eTest, public testing::WithParamInterface<fs::path> {};

// gtest prints a line diff of two texts that differ.
TEST_P(ContactsGoldenE2e, AddedCardIsStoredAndExportedAsItsFilesSay) {
  const fs::path card = GetParam();
  ASSERT_EQ(Init(), MZ_OK);
  const ContactTransfer transfer = e2e::Transfer(FileContents(card));
  char id[MZ_NEW_ID_SIZE] = {};
  ASSERT_EQ(mz().MZ_AddContact(&transfer, id, sizeof id), MZ_OK);
  EXPECT_FALSE(e2e::ScratchFileExists()) << "the scratch file outlived the call";
  const std::vector<std::uint32_t> oids = emulator::ContactOids();
  ASSERT_EQ(oids.size(), 1u) << "one contact per card";
  const std::string oid = std::to_string(oids[0]);
  EXPECT_EQ(e2e::Field(id), oid);

  ContactTransfer out{};
  ASSERT_EQ(mz().MZ_GetContactInfo(1, &out), MZ_OK);
  EXPECT_EQ(e2e::Field(out.contactId), oid);
  std::string exported = e2e::Field(out.vcard);
  const std::string luid = "\r\nX-IRMC-LUID:" + oid + "\r\n";
  if (const auto at = exported.find(luid); at != std::string::npos) {
    exported.replace(at, luid.size(), "\r\nX-IRMC-LUID:{id}\r\n");
  }

  const std::string stored = StoredText(oids[0]);
  fs::path storedFile = card, exportedFile = card;
  storedFile.replace_extension(".stored");
  exportedFile.replace_extension(".exported");
  if (const char* value = std::getenv("MZ_REGEN_GOLDEN"); value && std::string(value) == "1") {
    std::ofstream(storedFile, std::ios::binary) << stored;
    std::ofstream(exportedFile, std::ios::binary) << exported;
    return;
  }
  const char* regen = "; MZ_REGEN_GOLDEN=1 (scripts/regen-golden) rewrites it";
  ASSERT_TRUE(fs::exists(storedFile) && fs::exists(exportedFile))
      << card << ": a file is missing" << regen;
  EXPECT_EQ(stored, FileContents(storedFile)) << storedFile << regen;
  EXPECT_EQ(exported, FileContents(exportedFile)) << exportedFile << regen;
}

INSTANTIATE_TEST_SUITE_P(Files, ContactsGoldenE2e, testing::ValuesIn(CardFiles()), TestName);

}  // namespace
