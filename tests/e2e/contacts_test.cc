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
#include <sstream>
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

// Update and deletion steps on one device (tests/data/e2e/contact_steps.tsv):
// what a card changes and what it leaves, and the id text that finds a
// contact.
TEST_F(ContactsE2e, StepsChangeTheStoreAsTheirRowsSay) {
  std::ifstream in(std::string(E2E_DATA_DIR) + "/contact_steps.tsv");
  ASSERT_EQ(Init(), MZ_OK);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line.substr(0, 80));
    std::vector<std::string> cell(5);
    std::istringstream fields(line);
    for (std::string& text : cell) std::getline(fields, text, '\t');
    if (cell[0] == "seed") {
      Properties properties = Props({});
      std::istringstream words(cell[2]);
      for (std::string word; words >> word;) properties.merge(Props({word}));
      const double birthday = properties.count("Birthday") ? std::stod(properties["Birthday"]) : 0;
      properties.erase("Birthday");
      emulator::SetNextContactOid(static_cast<std::uint32_t>(std::stoul(cell[1])));
      emulator::SeedContact(properties, birthday);
      continue;
    }
    const auto unescape = [](std::string text) {
      for (const auto& [from, to] : {std::pair{"\\n", "\r\n"}, std::pair{"\\t", "\t"}}) {
        for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 2, to);
      }
      return text;
    };
    const std::string id = unescape(cell[1]);
    EXPECT_EQ(cell[0] == "write" ? Write(unescape(cell[2]), id)
                                 : mz().MZ_DeleteContact(id == "null" ? nullptr : id.c_str()),
              std::stoi(cell[3]));
    std::string store;
    for (const std::uint32_t oid : emulator::ContactOids()) {
      store += (store.empty() ? "" : " | ") + std::to_string(oid);
      if (const double birthday = e2e::Birthday(oid); birthday != 0) {
        store += "@" + std::to_string(static_cast<long>(birthday));
      }
      for (const auto& [name, value] : Stored(oid)) store += " " + name + "=" + value;
    }
    EXPECT_EQ(store, cell[4]);
  }
}

// An id area without a terminator is read within its 11 bytes.
TEST_F(ContactsE2e, UnterminatedIdAreaIsReadWithinItsElevenBytes) {
  emulator::SetNextContactOid(5);
  const std::uint32_t five = emulator::SeedContact({{"FirstName", "Five"}});
  ASSERT_EQ(Init(), MZ_OK);
  ContactTransfer card = Transfer(VCard("TEL;CELL:unterminated\r\n"));
  std::memcpy(card.contactId, "00000000005", sizeof card.contactId);
  EXPECT_EQ(mz().MZ_WriteContact(&card), MZ_OK);
  EXPECT_EQ(Stored(five).at("MobileTelephoneNumber"), "unterminated");
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
