// Adding, updating and deleting contacts from vCard text and ids through
// libmz.so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

using e2e::Birthday;
using e2e::Properties;
using e2e::Props;
using e2e::ScratchFile;
using e2e::ScratchFileExists;
using e2e::Stored;
using e2e::Transfer;

constexpr char kPattern = 'Z';
constexpr double k19900512 = 33005.0;

std::string VCard(const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + lines + "END:VCARD\r\n";
}

class ContactsImportE2e : public E2eTest {
 protected:
  struct Added {
    int32_t result = 0;
    std::string id;
    bool idUntouched = false;
  };

  // MZ_AddContact into a kPattern-filled id area one byte longer than it
  // needs, to catch writes past it.
  Added AddRaw(const ContactTransfer& transfer, uint32_t size = MZ_NEW_ID_SIZE,
               bool scratchGone = true) {
    char area[MZ_NEW_ID_SIZE + 1];
    std::memset(area, kPattern, sizeof area);
    Added out;
    out.result = mz().MZ_AddContact(&transfer, area, size);
    out.idUntouched = std::all_of(area, area + sizeof area, [](char c) { return c == kPattern; });
    if (!out.idUntouched) out.id = std::string(area, strnlen(area, MZ_NEW_ID_SIZE));
    EXPECT_EQ(area[MZ_NEW_ID_SIZE], kPattern) << "written past the area";
    EXPECT_FALSE(scratchGone && ScratchFileExists()) << "the scratch file outlived the call";
    return out;
  }
  Added Add(const std::string& vcard) { return AddRaw(Transfer(vcard)); }

  int32_t Write(const std::string& vcard, const std::string& id, bool scratchGone = true) {
    const ContactTransfer transfer = Transfer(vcard, id);
    const int32_t result = mz().MZ_WriteContact(&transfer);
    EXPECT_FALSE(scratchGone && ScratchFileExists()) << "the scratch file outlived the call";
    return result;
  }
};

// --- Adding ------------------------------------------------------------------

// What a card stores and exports is in the golden files under
// tests/data/contacts (contacts_golden_test.cc).

TEST_F(ContactsImportE2e, UnterminatedCardAreaIsReadForItsFirst1023BytesOnly) {
  ASSERT_EQ(Init(), MZ_OK);
  const std::string head = "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE:";
  ContactTransfer transfer;
  std::memset(&transfer, 'y', sizeof transfer);
  std::memcpy(transfer.vcard, head.data(), head.size());
  std::memset(transfer.vcard + head.size(), 'x', sizeof transfer.vcard - head.size());
  const Added added = AddRaw(transfer);
  ASSERT_EQ(added.result, MZ_OK);
  EXPECT_EQ(Stored(emulator::ContactOids().back()),
            (Properties{{"Body", std::string(MZ_VCARD_SIZE - 1 - head.size(), 'x')}}));
}

TEST_F(ContactsImportE2e, ImportsAndDeletionsNeedASessionAndValidArguments) {
  const std::uint32_t oid = emulator::SeedContact({{"FirstName", "Ann"}});
  const std::string id = std::to_string(oid);
  const ContactTransfer transfer = Transfer(VCard("N:Doe\r\n"));
  // Without a session no contact is found.
  EXPECT_EQ(Write(VCard("N:Doe\r\n"), id), MZ_E_NO_CONTACT);
  const Added added = AddRaw(transfer);
  EXPECT_EQ(added.result, MZ_E_NO_CONTACT);
  EXPECT_TRUE(added.idUntouched);
  EXPECT_EQ(mz().MZ_DeleteContact(id.c_str()), MZ_E_NO_CONTACT);
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_E_NO_CONTACT);

  ASSERT_EQ(Init(), MZ_OK);
  char area[MZ_NEW_ID_SIZE];
  EXPECT_EQ(mz().MZ_AddContact(nullptr, area, MZ_NEW_ID_SIZE), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_AddContact(&transfer, nullptr, MZ_NEW_ID_SIZE), MZ_E_BAD_ARGUMENT);
  for (const uint32_t size : {0u, 63u, 65u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    const Added wrongSize = AddRaw(transfer, size);
    EXPECT_EQ(wrongSize.result, MZ_E_BAD_ARGUMENT);
    EXPECT_TRUE(wrongSize.idUntouched);
  }
  EXPECT_EQ(mz().MZ_WriteContact(nullptr), MZ_E_BAD_ARGUMENT);
  const auto trace =
      e2e::TraceFaultPoints([&] { EXPECT_EQ(Write("N:Doe\r\n", ""), MZ_E_BAD_ARGUMENT); });
  EXPECT_TRUE(trace.empty()) << "an empty id reached the scratch file or the store";
  EXPECT_EQ(emulator::ContactOids(), std::vector<std::uint32_t>{oid});
  EXPECT_EQ(Stored(oid), (Properties{{"FirstName", "Ann"}}));
}

// --- Updating ----------------------------------------------------------------

TEST_F(ContactsImportE2e, UpdateChangesOnlyWhatTheCardCarries) {
  Properties stored = Props({"FirstName=Ann", "LastName=Example", "Title=Dr.", "Suffix=Jr.",
                             "Body=old note", "MobileTelephoneNumber=100", "HomeAddressCity=Rome",
                             "BusinessAddressCountry=Italy", "BusinessAddressCity=Milan"});
  const std::uint32_t oid = emulator::SeedContact(stored, k19900512);
  const std::string id = std::to_string(oid);
  const std::string f40(40, 'f'), g40(40, 'g'), note(100, 'n');
  const struct {
    const char* what;
    std::string lines;
    Properties changes;  // an empty value: the property is cleared
  } steps[] = {
      {"a telephone number only", "TEL;CELL:200\r\n", Props({"MobileTelephoneNumber=200"})},
      {"a medium name keeps the affixes", "N:" + f40 + ";" + g40 + "\r\n",
       Props({"LastName=" + f40, "FirstName=" + g40})},
      {"a short name clears them", "N:Doe;John\r\n",
       Props({"LastName=Doe", "FirstName=John", "Title=", "Suffix="})},
      {"medium note after a short one", "NOTE:short\r\nNOTE:" + note + "\r\n",
       Props({"Body=" + note})},
      {"medium note before a short one", "NOTE:" + note + "x\r\nNOTE:short\r\n",
       Props({"Body=" + note + "x"})},
      {"work address without a country in a short slot", "ADR;WORK:;;;Turin;;;\r\n",
       Props({"BusinessAddressCity=Turin"})},
      {"no card at all", "", {}},
  };
  ASSERT_EQ(Init(), MZ_OK);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    ASSERT_EQ(Write(VCard(step.lines), id), MZ_OK);
    for (const auto& [name, value] : step.changes) stored[name] = value;
    std::erase_if(stored, [](const auto& entry) { return entry.second.empty(); });
    EXPECT_EQ(Stored(oid), stored);
    EXPECT_EQ(Birthday(oid), k19900512);
  }
  EXPECT_EQ(emulator::ContactOids(), std::vector<std::uint32_t>{oid});
}

TEST_F(ContactsImportE2e, UpdateFindsTheContactByItsIdText) {
  emulator::SetNextContactOid(5);
  const std::uint32_t five = emulator::SeedContact({{"FirstName", "Five"}});
  emulator::SetNextContactOid(4294967295u);
  const std::uint32_t last = emulator::SeedContact({{"FirstName", "Last"}});
  const struct {
    std::string id;
    int32_t result;
    std::uint32_t changed;  // 0: none
  } cases[] = {
      {"5", MZ_OK, five},
      {" \t5abc", MZ_OK, five},
      {"0005", MZ_OK, five},
      {"4294967295", MZ_OK, last},
      {"6", MZ_E_NO_CONTACT, 0},
      {"abc", MZ_E_NO_CONTACT, 0},
      {"4294967296", MZ_E_NO_CONTACT, 0},
      {"4294967301", MZ_E_NO_CONTACT, 0},  // 2^32 + 5
  };
  ASSERT_EQ(Init(), MZ_OK);
  int serial = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    Properties fiveAfter = Stored(five), lastAfter = Stored(last);
    const std::string number = std::to_string(++serial);
    EXPECT_EQ(Write(VCard("TEL;CELL:" + number + "\r\n"), c.id), c.result);
    if (c.changed == five) fiveAfter["MobileTelephoneNumber"] = number;
    if (c.changed == last) lastAfter["MobileTelephoneNumber"] = number;
    EXPECT_EQ(Stored(five), fiveAfter);
    EXPECT_EQ(Stored(last), lastAfter);
  }
  // An id area without a terminator is read within its 11 bytes.
  ContactTransfer transfer = Transfer(VCard("TEL;CELL:unterminated\r\n"));
  std::memcpy(transfer.contactId, "00000000005", sizeof transfer.contactId);
  EXPECT_EQ(mz().MZ_WriteContact(&transfer), MZ_OK);
  EXPECT_EQ(Stored(five).at("MobileTelephoneNumber"), "unterminated");
}

// --- Deleting ----------------------------------------------------------------

TEST_F(ContactsImportE2e, DeleteRemovesTheContactWhoseIdTheTextStartsWith) {
  emulator::SetNextContactOid(12);
  for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  ASSERT_EQ(emulator::ContactOids(), (std::vector<std::uint32_t>{12, 13, 14}));
  const struct {
    const char* id;
    int32_t result;
    std::vector<std::uint32_t> left;
  } steps[] = {
      {"12abc", MZ_OK, {13, 14}},
      {"12", MZ_E_NO_CONTACT, {13, 14}},
      {"4294967309", MZ_E_NO_CONTACT, {13, 14}},  // 2^32 + 13
      {nullptr, MZ_E_BAD_ARGUMENT, {13, 14}},
      {"14", MZ_OK, {13}},
      {" 13", MZ_OK, {}},
      {"13", MZ_E_NO_CONTACT, {}},
  };
  ASSERT_EQ(Init(), MZ_OK);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.id == nullptr ? "null" : step.id);
    EXPECT_EQ(mz().MZ_DeleteContact(step.id), step.result);
    EXPECT_EQ(emulator::ContactOids(), step.left);
  }
}

TEST_F(ContactsImportE2e, DeleteAllEmptiesTheFolderAndStopsAtAFailedDeletion) {
  for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_OK);
  EXPECT_TRUE(emulator::ContactOids().empty());
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_E_NO_CONTACT);

  for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  const std::vector<std::uint32_t> oids = emulator::ContactOids();
  emulator::InjectFault("IContact::Delete", 2, E_FAIL);
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_E_FAILED);
  emulator::ClearFaults();
  EXPECT_EQ(emulator::ContactOids(), (std::vector<std::uint32_t>{oids[1], oids[2]}));
}

// A link planted where the scratch file goes, leading out of the device,
// fails every vCard export and is never followed: no card reaches the file
// it names, nothing is stored, and no text is handed over.
TEST_F(ContactsImportE2e, AScratchFileLinkedOutOfTheDeviceIsNeverWrittenThrough) {
  const std::uint32_t oid = emulator::SeedContact({{"FirstName", "Ann"}});
  const std::filesystem::path outside = std::filesystem::path(dir()).parent_path() / "outside";
  { std::ofstream(outside) << "keep"; }
  std::filesystem::create_symlink(outside, ScratchFile());
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(AddRaw(Transfer(VCard("N:Doe\r\n")), MZ_NEW_ID_SIZE, false).result, MZ_E_FAILED);
  EXPECT_EQ(Write(VCard("N:Doe\r\n"), std::to_string(oid), false), MZ_E_FAILED);
  ContactTransfer out{};
  EXPECT_EQ(mz().MZ_GetContactInfo(1, &out), MZ_E_FAILED);
  EXPECT_EQ(emulator::ContactOids(), std::vector<std::uint32_t>{oid});
  EXPECT_EQ(Stored(oid), Props({"FirstName=Ann"}));
  std::ifstream in(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

}  // namespace
