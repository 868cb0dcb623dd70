// Counting contacts and reading them as vCard text through libmz.so.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

constexpr unsigned char kPattern = 0xA5;

using e2e::Properties;
using e2e::Props;
using e2e::ScratchFile;
using e2e::ScratchFileExists;

// A contact with every property the store has, and the lines it exports to
// between VERSION and X-IRMC-LUID. Department and OfficeLocation are not
// exported.
const Properties kFull = Props(
    {"FirstName=Ann", "MiddleName=B", "LastName=Example", "Title=Dr.", "Suffix=Jr.",
     "JobTitle=Engineer", "CompanyName=Example; Ltd", "Department=Research", "OfficeLocation=B2",
     // Numbers, mail, web page, note and categories.
     "HomeTelephoneNumber=+1 555 0100", "BusinessTelephoneNumber=+1 555 0101",
     "MobileTelephoneNumber=+1 555 0102", "HomeFaxNumber=+1 555 0103",
     "BusinessFaxNumber=+1 555 0104", "Email1Address=ann@example.com",
     "WebPage=http://example.com/ann", "Body=Met at the fair", "Categories=Friends",
     // The three addresses.
     "HomeAddressStreet=1 Main St", "HomeAddressCity=Springfield", "HomeAddressState=IL",
     "HomeAddressPostalCode=62701", "HomeAddressCountry=USA", "BusinessAddressStreet=2 Work Rd",
     "BusinessAddressCity=Shelbyville", "BusinessAddressState=IL",
     "BusinessAddressPostalCode=62565", "BusinessAddressCountry=USA",
     "OtherAddressStreet=3 Side Ln", "OtherAddressCity=Capital City", "OtherAddressState=IL",
     "OtherAddressPostalCode=62702", "OtherAddressCountry=USA"});
constexpr double k19750309 = 27462.0;
const char kFullLines[] =
    "N:Example;Ann;B;Dr.;Jr.\r\n"
    "TEL;HOME:+1 555 0100\r\nTEL;WORK:+1 555 0101\r\nTEL;CELL:+1 555 0102\r\n"
    "TEL;HOME;FAX:+1 555 0103\r\nTEL;WORK;FAX:+1 555 0104\r\nBDAY:1975-3-9\r\n"
    "EMAIL;INTERNET:ann@example.com\r\nURL;INTERNET:http://example.com/ann\r\n"
    "ADR;HOME:;;1 Main St;Springfield;IL;62701;USA\r\n"
    "ADR;WORK:;;2 Work Rd;Shelbyville;IL;62565;USA\r\n"
    "ADR:;;3 Side Ln;Capital City;IL;62702;USA\r\n"
    "TITLE:Engineer\r\nNOTE:Met at the fair\r\nORG:Example\\; Ltd\r\nGRP:Friends\r\n";
const std::string kNoName = "N:;;;;\r\n";

std::string Card(std::uint32_t oid, const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + lines + "X-IRMC-LUID:" + std::to_string(oid) +
         "\r\nEND:VCARD\r\n";
}

class ContactsExportE2e : public E2eTest {
 protected:
  struct Export {
    int32_t result = 0;
    ContactTransfer buffer;
    std::string Text() const { return e2e::Field(buffer.vcard); }
    std::string Id() const { return e2e::Field(buffer.contactId); }
    bool Untouched() const {
      ContactTransfer pattern;
      std::memset(&pattern, kPattern, sizeof pattern);
      return std::memcmp(&buffer, &pattern, sizeof buffer) == 0;
    }
  };

  // MZ_GetContactInfo into a buffer filled with kPattern.
  Export Get(int32_t position, bool scratchGone = true) {
    Export out;
    std::memset(&out.buffer, kPattern, sizeof out.buffer);
    out.result = mz().MZ_GetContactInfo(position, &out.buffer);
    EXPECT_FALSE(scratchGone && ScratchFileExists()) << "the scratch file outlived the call";
    return out;
  }

  // Stores a contact after the others and expects its export to be the card
  // with `lines`, in a session the test opened.
  Export ExpectCard(const Properties& properties, double birthday, const std::string& lines) {
    const std::uint32_t oid = emulator::SeedContact(properties, birthday);
    const Export out = Get(static_cast<int32_t>(emulator::ContactOids().size()));
    EXPECT_EQ(out.result, MZ_OK) << lines;
    EXPECT_EQ(out.Text(), Card(oid, lines));
    EXPECT_EQ(out.Id(), std::to_string(oid));
    return out;
  }

  int32_t Count(int32_t* count) {
    *count = 12345;
    return mz().MZ_GetContactsCount(count);
  }
};

// --- Whole texts -------------------------------------------------------------

TEST_F(ContactsExportE2e, ContactWithEveryPropertyGivesEveryLineInOrder) {
  ASSERT_EQ(Init(), MZ_OK);
  const Export out = ExpectCard(kFull, k19750309, kFullLines);
  // The text ends with one zero byte; the rest of the area, the header and
  // the bytes after the id stay the host's.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&out.buffer);
  for (std::size_t i = 0; i < sizeof out.buffer.header; ++i) EXPECT_EQ(bytes[i], kPattern);
  EXPECT_EQ(static_cast<unsigned char>(out.buffer.vcard[out.Text().size() + 1]), kPattern);
  const std::size_t idEnd = offsetof(ContactTransfer, contactId) + out.Id().size() + 1;
  for (std::size_t i = idEnd; i < sizeof out.buffer; ++i) EXPECT_EQ(bytes[i], kPattern);
}

// Stored texts that are empty, which no card leaves. What cards store and
// export is in the golden files under tests/data/contacts.
TEST_F(ContactsExportE2e, EmptyTextsWriteNoLine) {
  ASSERT_EQ(Init(), MZ_OK);
  Properties empty;
  for (const auto& [name, value] : kFull) empty[name] = "";
  empty["BusinessAddressCity"] = "Shelbyville";
  ExpectCard(empty, 0.0, kNoName + "ADR;WORK:;;;Shelbyville;;;\r\n");
}

// Dates no card stores; the first and last written days come from cards
// (tests/data/contacts/bday-*-exported-day).
TEST_F(ContactsExportE2e, BirthdayIsWrittenOnlyForYears1900To2999) {
  ASSERT_EQ(Init(), MZ_OK);
  ExpectCard({}, 1.0, kNoName);                         // 1899-12-31
  ExpectCard({}, 2.75, kNoName + "BDAY:1900-1-1\r\n");  // the time of day does not count
  ExpectCard({}, 401769.0, kNoName);                    // 3000-1-1
  ExpectCard({}, 2958466.0, kNoName);                   // beyond what converts
}

TEST_F(ContactsExportE2e, TextTooLongForItsFieldIsCutBeforeACharacterThatDoesNotFit) {
  const std::string euro = "\u20ac", eAcute = "\u00e9";  // 3 and 2 bytes
  const std::string smile = "\U0001F600";                // 4 bytes, a surrogate pair in the store
  const std::string a61(61, 'a'), b78(78, 'b'), c29(29, 'c');
  const std::string d95(95, '1'), d96(96, '1'), d14(14, '9');
  ASSERT_EQ(Init(), MZ_OK);
  // The note's field holds 63 bytes, the family name 79, the suffix 31, a
  // postal code 15 and other texts 99.
  ExpectCard({{"Body", a61 + "a" + euro}}, 0, kNoName + "NOTE:" + a61 + "a\r\n");
  ExpectCard({{"Body", a61 + eAcute}}, 0, kNoName + "NOTE;CHARSET=UTF-8:" + a61 + eAcute + "\r\n");
  ExpectCard({{"LastName", b78 + eAcute}}, 0, "N:" + b78 + ";;;;\r\n");
  ExpectCard({{"Suffix", c29 + eAcute}}, 0, "N;CHARSET=UTF-8:;;;;" + c29 + eAcute + "\r\n");
  ExpectCard({{"MobileTelephoneNumber", d95 + smile}}, 0,
             kNoName + "TEL;CELL;CHARSET=UTF-8:" + d95 + smile + "\r\n");
  ExpectCard({{"MobileTelephoneNumber", d96 + smile}}, 0, kNoName + "TEL;CELL:" + d96 + "\r\n");
  ExpectCard({{"HomeAddressPostalCode", d14 + eAcute}}, 0,
             kNoName + "ADR;HOME:;;;;;" + d14 + ";\r\n");
}

TEST_F(ContactsExportE2e, TextLongerThanTheAreaIsCutAfterItsFirst1024Bytes) {
  const std::string v(99, '7');
  // Ten 99-byte texts, each in the export's order, and the last one longer.
  const Properties contact = Props(
      {"HomeTelephoneNumber=" + v, "BusinessTelephoneNumber=" + v, "MobileTelephoneNumber=" + v,
       "HomeFaxNumber=" + v, "BusinessFaxNumber=" + v, "Email1Address=" + v, "WebPage=" + v,
       "JobTitle=" + v, "CompanyName=" + v, "Categories=" + v + "overflow"});
  std::string lines = kNoName;
  for (const char* name : {"TEL;HOME", "TEL;WORK", "TEL;CELL", "TEL;HOME;FAX", "TEL;WORK;FAX",
                           "EMAIL;INTERNET", "URL;INTERNET", "TITLE", "ORG", "GRP"}) {
    lines += name + (":" + v) + "\r\n";
  }
  const std::uint32_t oid = emulator::SeedContact(contact);
  const std::string full = Card(oid, lines);
  ASSERT_GT(full.size(), sizeof(ContactTransfer::vcard));
  ASSERT_EQ(Init(), MZ_OK);
  const Export out = Get(1);
  ASSERT_EQ(out.result, MZ_OK);
  EXPECT_EQ(std::string(out.buffer.vcard, sizeof out.buffer.vcard), full.substr(0, 1024));
  EXPECT_EQ(out.Id(), std::to_string(oid));
}

TEST_F(ContactsExportE2e, PositionsFollowTheStoreOrder) {
  emulator::SetNextContactOid(4000000000u);  // ids above INT32_MAX stay unsigned
  const char* names[] = {"Ann", "Bob", "Cy"};
  for (const char* name : names) emulator::SeedContact({{"FirstName", name}});
  const std::vector<std::uint32_t> oids = emulator::ContactOids();
  ASSERT_EQ(Init(), MZ_OK);
  for (int32_t position = 1; position <= 3; ++position) {
    const Export out = Get(position);
    ASSERT_EQ(out.result, MZ_OK);
    const std::uint32_t oid = oids[static_cast<std::size_t>(position) - 1];
    EXPECT_EQ(out.Text(), Card(oid, std::string("N:;") + names[position - 1] + ";;;\r\n"));
    EXPECT_EQ(out.Id(), std::to_string(oid));
  }
}

// Opening the session and reading write nothing to the device, so they work
// on a full disk and while another process holds the write lock (they would
// otherwise wait out the busy timeout and fail).
TEST_F(ContactsExportE2e, ASessionOpensAndReadsWhileAnotherConnectionWrites) {
  const std::uint32_t oid = emulator::SeedContact({{"FirstName", "Ann"}});
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
  EXPECT_EQ(Count(&count), MZ_OK);
  EXPECT_EQ(count, 1);
  const Export out = Get(1);
  EXPECT_EQ(out.result, MZ_OK);
  EXPECT_EQ(out.Id(), std::to_string(oid));
  Done();
  sqlite3_close(writer);  // rolls back
  old ? setenv("PHONE_DEVICE_DIR", saved.c_str(), 1) : unsetenv("PHONE_DEVICE_DIR");
}

// --- Failures ----------------------------------------------------------------

TEST_F(ContactsExportE2e, CountAndExportNeedASessionAndAPlaceAndFailuresLeaveTheBufferUntouched) {
  int32_t count = 0;
  const auto expectNoSession = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(mz().MZ_GetContactsCount(nullptr), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_GetContactInfo(1, nullptr), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(Count(&count), MZ_E_NO_CONTACT);
    EXPECT_EQ(count, 0);
    const Export out = Get(1);
    EXPECT_EQ(out.result, MZ_E_NO_CONTACT);
    EXPECT_TRUE(out.Untouched());
  };
  emulator::SeedContact({{"FirstName", "Ann"}});
  expectNoSession("before MZ_Init");
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_GetContactsCount(nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetContactInfo(1, nullptr), MZ_E_BAD_ARGUMENT);
  const struct {
    int32_t position;
    int32_t result;
  } cases[] = {
      {0, MZ_E_BAD_ARGUMENT}, {-1, MZ_E_BAD_ARGUMENT},   {INT32_MIN, MZ_E_BAD_ARGUMENT},
      {2, MZ_E_NO_MORE},      {INT32_MAX, MZ_E_NO_MORE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    const Export out = Get(c.position);
    EXPECT_EQ(out.result, c.result);
    EXPECT_TRUE(out.Untouched());
  }
  emulator::SeedContact({{"FirstName", "Bob"}});
  EXPECT_EQ(Count(&count), MZ_OK);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Get(2).result, MZ_OK);
  Done();
  expectNoSession("after MZ_Done");
  ExpectNothingHeld();
}

}  // namespace
