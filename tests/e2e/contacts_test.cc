// Contacts through libmz.so: counting, exporting, adding, updating and
// deleting. What a card stores and exports is in the golden files under
// tests/data/contacts (contacts_golden_test.cc); failures at each fault point
// are in the fault table (faults_test.cc).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

using e2e::Properties;
using e2e::Props;
using e2e::Stored;
using e2e::Transfer;
using e2e::VCard;
using Oids = std::vector<std::uint32_t>;

constexpr char kPattern = 'Z';  // what Transfer fills the unused bytes with
const std::string kNoName = "N:;;;;\r\n";

// The exported card of a contact with `lines` between VERSION and its id.
std::string Card(std::uint32_t oid, const std::string& lines) {
  return VCard(lines + "X-IRMC-LUID:" + std::to_string(oid) + "\r\n");
}

bool Untouched(const void* bytes, std::size_t size) {
  const auto* begin = static_cast<const char*>(bytes);
  return std::all_of(begin, begin + size, [](char c) { return c == kPattern; });
}

class ContactsE2e : public E2eTest {
 protected:
  // MZ_GetContactInfo into a pattern-filled area; the text and the id.
  int32_t Get(int32_t position, ContactTransfer* out) {
    *out = Transfer("");
    std::memset(out->vcard, kPattern, sizeof out->vcard);
    std::memset(out->contactId, kPattern, sizeof out->contactId);
    return mz().MZ_GetContactInfo(position, out);
  }
  // Stores a contact after the others and expects it to export as `lines`.
  void ExpectCard(const Properties& properties, double birthday, const std::string& lines) {
    const std::uint32_t oid = emulator::SeedContact(properties, birthday);
    ContactTransfer out;
    ASSERT_EQ(Get(static_cast<int32_t>(emulator::ContactOids().size()), &out), MZ_OK);
    EXPECT_EQ(e2e::Field(out.vcard), Card(oid, lines));
    EXPECT_EQ(e2e::Field(out.contactId), std::to_string(oid));
  }
  // MZ_AddContact into a pattern-filled id area one byte longer than it
  // needs; its result, and the id or "untouched".
  std::pair<int32_t, std::string> Add(const ContactTransfer& card, uint32_t size = MZ_NEW_ID_SIZE) {
    char area[MZ_NEW_ID_SIZE + 1];
    std::memset(area, kPattern, sizeof area);
    const int32_t result = mz().MZ_AddContact(&card, area, size);
    EXPECT_EQ(area[MZ_NEW_ID_SIZE], kPattern) << "written past the area";
    EXPECT_FALSE(e2e::ScratchFileExists());
    return {result, Untouched(area, sizeof area) ? "untouched" : e2e::Field(area)};
  }
  int32_t Write(const std::string& lines, const std::string& id) {
    const ContactTransfer card = Transfer(VCard(lines), id);
    const int32_t result = mz().MZ_WriteContact(&card);
    EXPECT_FALSE(e2e::ScratchFileExists());
    return result;
  }
};

// --- Exporting ---------------------------------------------------------------

// The text ends with one zero byte; the rest of the area, the header and the
// bytes after the id stay the host's. Department and office are not exported,
// categories are (no card stores them).
TEST_F(ContactsE2e, ExportWritesTheTextItsZeroAndTheIdOnly) {
  const std::uint32_t oid = emulator::SeedContact(
      Props({"FirstName=Ann", "Department=Research", "OfficeLocation=B2", "Categories=Friends"}));
  ASSERT_EQ(Init(), MZ_OK);
  ContactTransfer out;
  ASSERT_EQ(Get(1, &out), MZ_OK);
  const std::string text = e2e::Field(out.vcard), id = std::to_string(oid);
  EXPECT_EQ(text, Card(oid, "N:;Ann;;;\r\nGRP:Friends\r\n"));
  EXPECT_TRUE(Untouched(out.header, sizeof out.header));
  EXPECT_TRUE(Untouched(out.vcard + text.size() + 1, sizeof out.vcard - text.size() - 1));
  EXPECT_EQ(e2e::Field(out.contactId), id);
  EXPECT_TRUE(Untouched(out.contactId + id.size() + 1, sizeof out.contactId - id.size() - 1));
}

// Stored values no card leaves: empty texts, and birthdays beyond what
// converts or with a time of day (the golden files have the first and last
// days written).
TEST_F(ContactsE2e, EmptyTextsAndBirthdaysOutsideTheYearsWriteNoLine) {
  ASSERT_EQ(Init(), MZ_OK);
  Properties empty;
  for (const auto& [name, value] : e2e::kFullContact) empty[name] = "";
  empty["BusinessAddressCity"] = "Shelbyville";
  ExpectCard(empty, 0.0, kNoName + "ADR;WORK:;;;Shelbyville;;;\r\n");
  ExpectCard({}, 2.75, kNoName + "BDAY:1900-1-1\r\n");  // the time of day does not count
  ExpectCard({}, 2958466.0, kNoName);                   // beyond what converts
}

TEST_F(ContactsE2e, TextLongerThanTheAreaIsCutAfterItsFirst1024Bytes) {
  const std::string v(99, '7');
  Properties contact;
  std::string lines = kNoName;
  for (const char* property :
       {"HomeTelephoneNumber", "BusinessTelephoneNumber", "MobileTelephoneNumber", "HomeFaxNumber",
        "BusinessFaxNumber", "Email1Address", "WebPage", "JobTitle", "CompanyName"}) {
    contact[property] = v;
  }
  contact["Categories"] = v + "overflow";
  for (const char* name : {"TEL;HOME", "TEL;WORK", "TEL;CELL", "TEL;HOME;FAX", "TEL;WORK;FAX",
                           "EMAIL;INTERNET", "URL;INTERNET", "TITLE", "ORG", "GRP"}) {
    lines += name + (":" + v) + "\r\n";
  }
  const std::uint32_t oid = emulator::SeedContact(contact);
  ASSERT_EQ(Init(), MZ_OK);
  ContactTransfer out;
  ASSERT_EQ(Get(1, &out), MZ_OK);
  EXPECT_EQ(std::string(out.vcard, sizeof out.vcard), Card(oid, lines).substr(0, 1024));
  EXPECT_EQ(e2e::Field(out.contactId), std::to_string(oid));
}

TEST_F(ContactsE2e, CountAndPositionsFollowTheStore) {
  emulator::SetNextContactOid(4000000000u);  // ids above INT32_MAX stay unsigned
  for (const char* name : {"Ann", "Bob"}) emulator::SeedContact({{"FirstName", name}});
  ASSERT_EQ(Init(), MZ_OK);
  int32_t count = 0;
  EXPECT_EQ(mz().MZ_GetContactsCount(&count), MZ_OK);
  EXPECT_EQ(count, 2);
  ContactTransfer out;
  ASSERT_EQ(Get(2, &out), MZ_OK);
  EXPECT_EQ(e2e::Field(out.vcard), Card(4000000001u, "N:;Bob;;;\r\n"));
  for (const int32_t position : {0, -1, INT32_MIN, 3, INT32_MAX}) {
    SCOPED_TRACE(position);
    EXPECT_EQ(Get(position, &out), position > 0 ? MZ_E_NO_MORE : MZ_E_BAD_ARGUMENT);
    EXPECT_TRUE(Untouched(out.vcard, sizeof out.vcard));
  }
}

// Opening the session and reading write nothing to the device, so they work
// on a full disk and while another process holds the write lock (they would
// otherwise wait out the busy timeout and fail).
TEST_F(ContactsE2e, ASessionOpensAndReadsWhileAnotherConnectionWrites) {
  emulator::SeedContact({{"FirstName", "Ann"}});
  // MZ_Init opens the device itself, from the folder the environment names.
  emulator::CloseDevice();
  const char* old = std::getenv("PHONE_DEVICE_DIR");
  const std::string saved = old ? old : "";
  setenv("PHONE_DEVICE_DIR", dir().c_str(), 1);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open((dir() + "/device.db").c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(Init(), MZ_OK);
  int32_t count = 0;
  EXPECT_EQ(mz().MZ_GetContactsCount(&count), MZ_OK);
  EXPECT_EQ(count, 1);
  ContactTransfer out;
  EXPECT_EQ(Get(1, &out), MZ_OK);
  Done();
  sqlite3_close(writer);  // rolls back
  old ? setenv("PHONE_DEVICE_DIR", saved.c_str(), 1) : unsetenv("PHONE_DEVICE_DIR");
}

// Before MZ_Init and after MZ_Done no contact is found and nothing is
// written; missing places and wrong sizes are bad arguments.
TEST_F(ContactsE2e, EveryContactExportNeedsASessionAndValidArguments) {
  const std::uint32_t oid = emulator::SeedContact({{"FirstName", "Ann"}});
  const std::string id = std::to_string(oid);
  const ContactTransfer card = Transfer(VCard("N:Doe\r\n"));
  for (const bool session : {false, true, false}) {
    SCOPED_TRACE(session ? "in a session" : "without one");
    if (session) {
      ASSERT_EQ(Init(), MZ_OK);
    } else if (SessionOpen()) {
      Done();
    }
    EXPECT_EQ(mz().MZ_GetContactsCount(nullptr), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_GetContactInfo(1, nullptr), MZ_E_BAD_ARGUMENT);
    if (session) continue;
    int32_t count = 12345;
    EXPECT_EQ(mz().MZ_GetContactsCount(&count), MZ_E_NO_CONTACT);
    EXPECT_EQ(count, 0);
    ContactTransfer out;
    EXPECT_EQ(Get(1, &out), MZ_E_NO_CONTACT);
    EXPECT_TRUE(Untouched(&out, sizeof out));
    EXPECT_EQ(Write("N:Doe\r\n", id), MZ_E_NO_CONTACT);
    EXPECT_EQ(Add(card), std::make_pair(MZ_E_NO_CONTACT, std::string("untouched")));
    EXPECT_EQ(mz().MZ_DeleteContact(id.c_str()), MZ_E_NO_CONTACT);
    EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_E_NO_CONTACT);
  }
  ASSERT_EQ(Init(), MZ_OK);
  char area[MZ_NEW_ID_SIZE];
  EXPECT_EQ(mz().MZ_AddContact(nullptr, area, MZ_NEW_ID_SIZE), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_AddContact(&card, nullptr, MZ_NEW_ID_SIZE), MZ_E_BAD_ARGUMENT);
  for (const uint32_t size : {0u, 63u, 65u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Add(card, size), std::make_pair(MZ_E_BAD_ARGUMENT, std::string("untouched")));
  }
  EXPECT_EQ(mz().MZ_WriteContact(nullptr), MZ_E_BAD_ARGUMENT);
  emulator::StartTrace();
  EXPECT_EQ(Write("N:Doe\r\n", ""), MZ_E_BAD_ARGUMENT);
  EXPECT_TRUE(emulator::StopTrace().empty()) << "an empty id reached the scratch file or store";
  EXPECT_EQ(emulator::ContactOids(), Oids{oid});
  EXPECT_EQ(Stored(oid), Props({"FirstName=Ann"}));
}

// --- Adding and updating -----------------------------------------------------

TEST_F(ContactsE2e, UnterminatedCardAreaIsReadForItsFirst1023BytesOnly) {
  ASSERT_EQ(Init(), MZ_OK);
  const std::string head = VCard("").substr(0, 26) + "NOTE:";
  ContactTransfer card;
  std::memset(&card, 'x', sizeof card);
  std::memcpy(card.vcard, head.data(), head.size());
  ASSERT_EQ(Add(card).first, MZ_OK);
  EXPECT_EQ(Stored(emulator::ContactOids().back()),
            Props({"Body=" + std::string(MZ_VCARD_SIZE - 1 - head.size(), 'x')}));
}

TEST_F(ContactsE2e, UpdateChangesOnlyWhatTheCardCarries) {
  Properties stored = Props({"FirstName=Ann", "LastName=Example", "Title=Dr.", "Suffix=Jr.",
                             "Body=old note", "MobileTelephoneNumber=100", "HomeAddressCity=Rome",
                             "BusinessAddressCountry=Italy", "BusinessAddressCity=Milan"});
  const std::uint32_t oid = emulator::SeedContact(stored, e2e::kFullBirthday);
  const std::string f40(40, 'f'), g40(40, 'g'), note(100, 'n');
  const struct {
    std::string lines;
    Properties changes;  // an empty value: the property is cleared
  } steps[] = {
      {"TEL;CELL:200\r\n", Props({"MobileTelephoneNumber=200"})},
      // A medium name keeps the affixes, a short one clears them.
      {"N:" + f40 + ";" + g40 + "\r\n", Props({"LastName=" + f40, "FirstName=" + g40})},
      {"N:Doe;John\r\n", Props({"LastName=Doe", "FirstName=John", "Title=", "Suffix="})},
      // A medium note wins over a short one, before or after it.
      {"NOTE:short\r\nNOTE:" + note + "\r\n", Props({"Body=" + note})},
      {"NOTE:" + note + "x\r\nNOTE:short\r\n", Props({"Body=" + note + "x"})},
      // A work address without a country, in a short slot.
      {"ADR;WORK:;;;Turin;;;\r\n", Props({"BusinessAddressCity=Turin"})},
      {"", {}},
  };
  ASSERT_EQ(Init(), MZ_OK);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.lines);
    ASSERT_EQ(Write(step.lines, std::to_string(oid)), MZ_OK);
    for (const auto& [name, value] : step.changes) stored[name] = value;
    std::erase_if(stored, [](const auto& entry) { return entry.second.empty(); });
    EXPECT_EQ(Stored(oid), stored);
    EXPECT_EQ(e2e::Birthday(oid), e2e::kFullBirthday);
  }
  EXPECT_EQ(emulator::ContactOids(), Oids{oid});
}

// The id text is read as unsigned decimal after blanks, up to what is not a
// digit, within its 11 bytes; a value beyond 32 bits names no contact.
TEST_F(ContactsE2e, UpdateAndDeleteFindTheContactByItsIdText) {
  emulator::SetNextContactOid(5);
  const std::uint32_t five = emulator::SeedContact({{"FirstName", "Five"}});
  emulator::SetNextContactOid(4294967295u);
  const std::uint32_t last = emulator::SeedContact({{"FirstName", "Last"}});
  const struct {
    std::string id;
    std::uint32_t found;  // 0: none
  } cases[] = {
      {"5", five}, {" \t5abc", five}, {"0005", five},    {"4294967295", last},
      {"6", 0},    {"abc", 0},        {"4294967296", 0}, {"4294967301", 0},  // 2^32 + 5
  };
  ASSERT_EQ(Init(), MZ_OK);
  int serial = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    Properties fiveAfter = Stored(five), lastAfter = Stored(last);
    const std::string number = std::to_string(++serial);
    EXPECT_EQ(Write("TEL;CELL:" + number + "\r\n", c.id), c.found ? MZ_OK : MZ_E_NO_CONTACT);
    Properties none;
    (c.found == five   ? fiveAfter
     : c.found == last ? lastAfter
                       : none)["MobileTelephoneNumber"] = number;
    EXPECT_EQ(Stored(five), fiveAfter);
    EXPECT_EQ(Stored(last), lastAfter);
  }
  ContactTransfer card = Transfer(VCard("TEL;CELL:unterminated\r\n"));
  std::memcpy(card.contactId, "00000000005", sizeof card.contactId);
  EXPECT_EQ(mz().MZ_WriteContact(&card), MZ_OK);
  EXPECT_EQ(Stored(five).at("MobileTelephoneNumber"), "unterminated");

  const struct {
    const char* id;
    int32_t result;
    Oids left;
  } deletions[] = {
      {"5abc", MZ_OK, {last}},
      {"5", MZ_E_NO_CONTACT, {last}},
      {"4294967301", MZ_E_NO_CONTACT, {last}},
      {nullptr, MZ_E_BAD_ARGUMENT, {last}},
      {" 4294967295", MZ_OK, {}},
  };
  for (const auto& d : deletions) {
    SCOPED_TRACE(d.id == nullptr ? "null" : d.id);
    EXPECT_EQ(mz().MZ_DeleteContact(d.id), d.result);
    EXPECT_EQ(emulator::ContactOids(), d.left);
  }
}

TEST_F(ContactsE2e, DeleteAllEmptiesTheFolderAndStopsAtAFailedDeletion) {
  for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_OK);
  EXPECT_TRUE(emulator::ContactOids().empty());
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_E_NO_CONTACT);
  for (const char* name : {"A", "B", "C"}) emulator::SeedContact({{"FirstName", name}});
  const Oids oids = emulator::ContactOids();
  emulator::InjectFault("IContact::Delete", 2, E_FAIL);
  EXPECT_EQ(mz().MZ_DeleteAllContacts(), MZ_E_FAILED);
  EXPECT_EQ(emulator::ContactOids(), (Oids{oids[1], oids[2]}));
}

// A link planted where the scratch file goes, leading out of the device,
// fails every vCard export and is never followed: no card reaches the file
// it names, nothing is stored, and no text is handed over.
TEST_F(ContactsE2e, AScratchFileLinkedOutOfTheDeviceIsNeverWrittenThrough) {
  const std::uint32_t oid = emulator::SeedContact({{"FirstName", "Ann"}});
  const std::filesystem::path outside = std::filesystem::path(dir()).parent_path() / "outside";
  std::ofstream(outside) << "keep";
  std::filesystem::create_symlink(outside, e2e::ScratchFile());
  ASSERT_EQ(Init(), MZ_OK);
  const ContactTransfer card = Transfer(VCard("N:Doe\r\n"), std::to_string(oid));
  char id[MZ_NEW_ID_SIZE];
  EXPECT_EQ(mz().MZ_AddContact(&card, id, sizeof id), MZ_E_FAILED);
  EXPECT_EQ(mz().MZ_WriteContact(&card), MZ_E_FAILED);
  ContactTransfer out{};
  EXPECT_EQ(mz().MZ_GetContactInfo(1, &out), MZ_E_FAILED);
  EXPECT_EQ(emulator::ContactOids(), Oids{oid});
  EXPECT_EQ(Stored(oid), Props({"FirstName=Ann"}));
  std::ifstream in(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

}  // namespace
