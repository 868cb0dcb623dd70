// Counting contacts and reading them as vCard text through libmz.so.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

constexpr unsigned char kPattern = 0xA5;

using Properties = std::map<std::string, std::string>;

// A contact with every property the store has, and the lines it exports to
// between VERSION and X-IRMC-LUID. Department and OfficeLocation are not
// exported.
const Properties kFull = {
    {"FirstName", "Ann"},
    {"MiddleName", "B"},
    {"LastName", "Example"},
    {"Title", "Dr."},
    {"Suffix", "Jr."},
    {"JobTitle", "Engineer"},
    {"CompanyName", "Example; Ltd"},
    {"Department", "Research"},
    {"OfficeLocation", "B2"},
    {"HomeTelephoneNumber", "+1 555 0100"},
    {"BusinessTelephoneNumber", "+1 555 0101"},
    {"MobileTelephoneNumber", "+1 555 0102"},
    {"HomeFaxNumber", "+1 555 0103"},
    {"BusinessFaxNumber", "+1 555 0104"},
    {"Email1Address", "ann@example.com"},
    {"WebPage", "http://example.com/ann"},
    {"Body", "Met at the fair"},
    {"Categories", "Friends"},
    {"HomeAddressStreet", "1 Main St"},
    {"HomeAddressCity", "Springfield"},
    {"HomeAddressState", "IL"},
    {"HomeAddressPostalCode", "62701"},
    {"HomeAddressCountry", "USA"},
    {"BusinessAddressStreet", "2 Work Rd"},
    {"BusinessAddressCity", "Shelbyville"},
    {"BusinessAddressState", "IL"},
    {"BusinessAddressPostalCode", "62565"},
    {"BusinessAddressCountry", "USA"},
    {"OtherAddressStreet", "3 Side Ln"},
    {"OtherAddressCity", "Capital City"},
    {"OtherAddressState", "IL"},
    {"OtherAddressPostalCode", "62702"},
    {"OtherAddressCountry", "USA"},
};
constexpr double k19750309 = 27462.0;
const char kFullLines[] =
    "N:Example;Ann;B;Dr.;Jr.\r\n"
    "TEL;HOME:+1 555 0100\r\n"
    "TEL;WORK:+1 555 0101\r\n"
    "TEL;CELL:+1 555 0102\r\n"
    "TEL;HOME;FAX:+1 555 0103\r\n"
    "TEL;WORK;FAX:+1 555 0104\r\n"
    "BDAY:1975-3-9\r\n"
    "EMAIL;INTERNET:ann@example.com\r\n"
    "URL;INTERNET:http://example.com/ann\r\n"
    "ADR;HOME:;;1 Main St;Springfield;IL;62701;USA\r\n"
    "ADR;WORK:;;2 Work Rd;Shelbyville;IL;62565;USA\r\n"
    "ADR:;;3 Side Ln;Capital City;IL;62702;USA\r\n"
    "TITLE:Engineer\r\n"
    "NOTE:Met at the fair\r\n"
    "ORG:Example\\; Ltd\r\n"
    "GRP:Friends\r\n";

std::string Card(std::uint32_t oid, const std::string& lines) {
  return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + lines + "X-IRMC-LUID:" + std::to_string(oid) +
         "\r\nEND:VCARD\r\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A content line's property name: what comes before its first ';' or ':'.
std::string NameOf(const std::string& line) {
  return line.substr(0, line.find_first_of(";:"));
}

// Whether the lines of `text` are, in order, lines of `full` or changed
// forms of them with the same property name: what failed property reads may
// make of the full text.
bool DegradesFrom(const std::string& text, const std::string& full) {
  const std::vector<std::string> fullLines = Lines(full);
  std::size_t next = 0;
  for (const std::string& line : Lines(text)) {
    while (next < fullLines.size() && fullLines[next] != line &&
           NameOf(fullLines[next]) != NameOf(line)) {
      ++next;
    }
    if (next == fullLines.size()) return false;
    ++next;
  }
  return true;
}

class ContactsExportE2e : public E2eTest {
 protected:
  struct Export {
    int32_t result = 0;
    ContactTransfer buffer;
    // The vcard area up to its first zero byte.
    std::string Text() const {
      return std::string(buffer.vcard, strnlen(buffer.vcard, sizeof buffer.vcard));
    }
    std::string Id() const {
      return std::string(buffer.contactId, strnlen(buffer.contactId, sizeof buffer.contactId));
    }
    bool Untouched() const {
      const auto* bytes = reinterpret_cast<const unsigned char*>(&buffer);
      for (std::size_t i = 0; i < sizeof buffer; ++i) {
        if (bytes[i] != kPattern) return false;
      }
      return true;
    }
  };

  // MZ_GetContactInfo into a buffer filled with kPattern.
  Export Get(int32_t position) {
    Export out;
    std::memset(&out.buffer, kPattern, sizeof out.buffer);
    out.result = mz().MZ_GetContactInfo(position, &out.buffer);
    EXPECT_FALSE(ScratchFileExists()) << "the scratch file outlived the call";
    return out;
  }

  // Stores a contact on the fresh device, which has none, and exports it.
  std::string OnlyContact(const Properties& properties, std::uint32_t* oid) {
    *oid = emulator::SeedContact(properties);
    EXPECT_EQ(emulator::ContactOids().size(), 1u);
    const Export out = Get(1);
    EXPECT_EQ(out.result, MZ_OK);
    EXPECT_EQ(out.Id(), std::to_string(*oid));
    return out.Text();
  }

  int32_t Count(int32_t* count) {
    *count = 12345;
    return mz().MZ_GetContactsCount(count);
  }

  static std::filesystem::path ScratchFile() { return emulator::HostPath("\\Temp\\temp.txt"); }
  static bool ScratchFileExists() {
    std::error_code ignored;
    return std::filesystem::exists(ScratchFile(), ignored);
  }
};

// --- Counting ----------------------------------------------------------------

TEST_F(ContactsExportE2e, CountIsTheNumberOfStoredContacts) {
  ASSERT_EQ(Init(), MZ_OK);
  int32_t count = 0;
  EXPECT_EQ(Count(&count), MZ_OK);
  EXPECT_EQ(count, 0);
  for (int i = 0; i < 3; ++i) emulator::SeedContact({{"FirstName", std::to_string(i)}});
  EXPECT_EQ(Count(&count), MZ_OK);
  EXPECT_EQ(count, 3);
}

TEST_F(ContactsExportE2e, CountNeedsAPlaceAndASession) {
  emulator::SeedContact({{"FirstName", "Ann"}});
  EXPECT_EQ(mz().MZ_GetContactsCount(nullptr), MZ_E_BAD_ARGUMENT);
  int32_t count = 0;
  EXPECT_EQ(Count(&count), MZ_E_NO_CONTACT);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(Init(), MZ_OK);
  Done();
  EXPECT_EQ(Count(&count), MZ_E_NO_CONTACT) << "after MZ_Done";
  EXPECT_EQ(count, 0);
  ExpectNothingHeld();
}

// --- Whole texts -------------------------------------------------------------

TEST_F(ContactsExportE2e, ContactWithEveryPropertyGivesEveryLineInOrder) {
  const std::uint32_t oid = emulator::SeedContact(kFull, k19750309);
  ASSERT_EQ(Init(), MZ_OK);
  const Export out = Get(1);
  ASSERT_EQ(out.result, MZ_OK);
  const std::string expected = Card(oid, kFullLines);
  EXPECT_EQ(out.Text(), expected);
  EXPECT_EQ(out.Id(), std::to_string(oid));
  // The text ends with one zero byte; the rest of the area, the header and
  // the bytes after the id stay the host's.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&out.buffer);
  for (std::size_t i = 0; i < sizeof out.buffer.header; ++i) EXPECT_EQ(bytes[i], kPattern);
  EXPECT_EQ(static_cast<unsigned char>(out.buffer.vcard[expected.size() + 1]), kPattern);
  const std::size_t idEnd = offsetof(ContactTransfer, contactId) + out.Id().size() + 1;
  for (std::size_t i = idEnd; i < sizeof out.buffer; ++i) EXPECT_EQ(bytes[i], kPattern);
}

TEST_F(ContactsExportE2e, ContactWithoutPropertiesGivesAnEmptyName) {
  ASSERT_EQ(Init(), MZ_OK);
  std::uint32_t oid = 0;
  const std::string text = OnlyContact({}, &oid);
  EXPECT_EQ(text, Card(oid, "N:;;;;\r\n"));
}

TEST_F(ContactsExportE2e, EmptyTextsWriteNoLine) {
  ASSERT_EQ(Init(), MZ_OK);
  Properties properties;
  for (const auto& [name, value] : kFull) properties[name] = "";
  properties["BusinessAddressCity"] = "Shelbyville";
  std::uint32_t oid = 0;
  const std::string text = OnlyContact(properties, &oid);
  EXPECT_EQ(text, Card(oid, "N:;;;;\r\nADR;WORK:;;;Shelbyville;;;\r\n"));
}

TEST_F(ContactsExportE2e, BirthdayIsWrittenOnlyForYears1900To2999) {
  const struct {
    double date;
    const char* line;
  } cases[] = {
      {0.0, ""},                          // none
      {-1.0, ""},                         // 1899-12-29
      {1.0, ""},                          // 1899-12-31
      {2.0, "BDAY:1900-1-1\r\n"},         //
      {2.75, "BDAY:1900-1-1\r\n"},        // the time of day does not count
      {k19750309, "BDAY:1975-3-9\r\n"},   //
      {401768.0, "BDAY:2999-12-31\r\n"},  //
      {401769.0, ""},                     // 3000-1-1
      {2958466.0, ""},                    // beyond what converts
  };
  ASSERT_EQ(Init(), MZ_OK);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    const std::uint32_t oid = emulator::SeedContact({}, c.date);
    const std::vector<std::uint32_t> oids = emulator::ContactOids();
    const Export out = Get(static_cast<int32_t>(oids.size()));
    ASSERT_EQ(out.result, MZ_OK);
    EXPECT_EQ(out.Text(), Card(oid, std::string("N:;;;;\r\n") + c.line));
  }
}

TEST_F(ContactsExportE2e, TwoLineNoteIsQuotedPrintableWithASoftBreak) {
  ASSERT_EQ(Init(), MZ_OK);
  std::uint32_t oid = 0;
  const std::string text = OnlyContact({{"Body", "Call after 6\r\nnot=before"}}, &oid);
  EXPECT_EQ(text, Card(oid,
                       "N:;;;;\r\nNOTE;ENCODING=QUOTED-PRINTABLE:Call after 6=0d=0a=\r\n"
                       "\tnot=3dbefore\r\n"));
}

TEST_F(ContactsExportE2e, Utf8TextsCarryTheCharset) {
  ASSERT_EQ(Init(), MZ_OK);
  std::uint32_t oid = 0;
  const std::string text = OnlyContact(
      {{"LastName", "M\u00fcller"}, {"FirstName", "Zo\u00eb"}, {"HomeAddressCity", "K\u00f6ln"}},
      &oid);
  EXPECT_EQ(text, Card(oid,
                       "N;CHARSET=UTF-8:M\u00fcller;Zo\u00eb;;;\r\n"
                       "ADR;HOME;CHARSET=UTF-8:;;;K\u00f6ln;;;\r\n"));
}

TEST_F(ContactsExportE2e, TextTooLongForItsFieldIsCutBeforeACharacterThatDoesNotFit) {
  const std::string euro = "\u20ac";       // 3 bytes
  const std::string eAcute = "\u00e9";     // 2 bytes
  const std::string smile = "\U0001F600";  // 4 bytes, a surrogate pair in the store
  const std::string noName = "N:;;;;\r\n";
  const struct {
    const char* property;
    std::string value;
    std::string lines;
  } cases[] = {
      // The note's field holds 63 bytes.
      {"Body", std::string(62, 'a') + euro, noName + "NOTE:" + std::string(62, 'a') + "\r\n"},
      {"Body", std::string(61, 'a') + eAcute,
       noName + "NOTE;CHARSET=UTF-8:" + std::string(61, 'a') + eAcute + "\r\n"},
      {"Body", std::string(70, 'a'), noName + "NOTE:" + std::string(63, 'a') + "\r\n"},
      // Family 79 bytes, suffix 31.
      {"LastName", std::string(78, 'b') + eAcute, "N:" + std::string(78, 'b') + ";;;;\r\n"},
      {"Suffix", std::string(29, 'c') + eAcute,
       "N;CHARSET=UTF-8:;;;;" + std::string(29, 'c') + eAcute + "\r\n"},
      // Other texts 99 bytes.
      {"MobileTelephoneNumber", std::string(95, '1') + smile,
       noName + "TEL;CELL;CHARSET=UTF-8:" + std::string(95, '1') + smile + "\r\n"},
      {"MobileTelephoneNumber", std::string(96, '1') + smile,
       noName + "TEL;CELL:" + std::string(96, '1') + "\r\n"},
      // A postal code holds 15 bytes.
      {"HomeAddressPostalCode", std::string(14, '9') + eAcute,
       noName + "ADR;HOME:;;;;;" + std::string(14, '9') + ";\r\n"},
  };
  ASSERT_EQ(Init(), MZ_OK);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.property << " of " << c.value.size() << " bytes");
    const std::uint32_t oid = emulator::SeedContact({{c.property, c.value}});
    const Export out = Get(static_cast<int32_t>(emulator::ContactOids().size()));
    ASSERT_EQ(out.result, MZ_OK);
    EXPECT_EQ(out.Text(), Card(oid, c.lines));
  }
}

TEST_F(ContactsExportE2e, TextLongerThanTheAreaIsCutAfterItsFirst1024Bytes) {
  const std::string v(99, '7');
  const std::uint32_t oid = emulator::SeedContact({{"HomeTelephoneNumber", v},
                                                   {"BusinessTelephoneNumber", v},
                                                   {"MobileTelephoneNumber", v},
                                                   {"HomeFaxNumber", v},
                                                   {"BusinessFaxNumber", v},
                                                   {"Email1Address", v},
                                                   {"WebPage", v},
                                                   {"JobTitle", v},
                                                   {"CompanyName", v},
                                                   {"Categories", v + "overflow"}});
  const std::string full =
      Card(oid, "N:;;;;\r\nTEL;HOME:" + v + "\r\nTEL;WORK:" + v + "\r\nTEL;CELL:" + v +
                    "\r\nTEL;HOME;FAX:" + v + "\r\nTEL;WORK;FAX:" + v + "\r\nEMAIL;INTERNET:" + v +
                    "\r\nURL;INTERNET:" + v + "\r\nTITLE:" + v + "\r\nORG:" + v + "\r\nGRP:" + v +
                    "\r\n");
  ASSERT_GT(full.size(), sizeof(ContactTransfer::vcard));
  ASSERT_EQ(Init(), MZ_OK);
  const Export out = Get(1);
  ASSERT_EQ(out.result, MZ_OK);
  EXPECT_EQ(std::string(out.buffer.vcard, sizeof out.buffer.vcard), full.substr(0, 1024));
  EXPECT_EQ(out.Id(), std::to_string(oid));
}

TEST_F(ContactsExportE2e, PositionsFollowTheStoreOrder) {
  emulator::SetNextContactOid(4000000000u);  // ids above INT32_MAX stay unsigned
  for (const char* name : {"Ann", "Bob", "Cy"}) emulator::SeedContact({{"FirstName", name}});
  const std::vector<std::uint32_t> oids = emulator::ContactOids();
  ASSERT_EQ(Init(), MZ_OK);
  int32_t count = 0;
  ASSERT_EQ(Count(&count), MZ_OK);
  ASSERT_EQ(count, 3);
  const char* names[] = {"Ann", "Bob", "Cy"};
  for (int32_t position = 1; position <= count; ++position) {
    const Export out = Get(position);
    ASSERT_EQ(out.result, MZ_OK);
    const std::uint32_t oid = oids[static_cast<std::size_t>(position) - 1];
    EXPECT_EQ(out.Id(), std::to_string(oid));
    EXPECT_EQ(out.Text(), Card(oid, std::string("N:;") + names[position - 1] + ";;;\r\n"));
  }
}

// --- Failures ----------------------------------------------------------------

TEST_F(ContactsExportE2e, FailuresLeaveTheBufferUntouched) {
  emulator::SeedContact({{"FirstName", "Ann"}});
  EXPECT_EQ(mz().MZ_GetContactInfo(1, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(Get(1).result, MZ_E_NO_CONTACT) << "before MZ_Init";
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_GetContactInfo(1, nullptr), MZ_E_BAD_ARGUMENT);
  const struct {
    int32_t position;
    int32_t result;
  } cases[] = {{0, MZ_E_BAD_ARGUMENT},
               {-1, MZ_E_BAD_ARGUMENT},
               {INT32_MIN, MZ_E_BAD_ARGUMENT},
               {2, MZ_E_NO_MORE},
               {INT32_MAX, MZ_E_NO_MORE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    const Export out = Get(c.position);
    EXPECT_EQ(out.result, c.result);
    EXPECT_TRUE(out.Untouched());
  }
  EXPECT_EQ(Get(1).result, MZ_OK);
  Done();
  const Export after = Get(1);
  EXPECT_EQ(after.result, MZ_E_NO_CONTACT) << "after MZ_Done";
  EXPECT_TRUE(after.Untouched());
  ExpectNothingHeld();
}

TEST_F(ContactsExportE2e, ScratchFileThatCannotBeOpenedFailsAndLeavesTheBuffer) {
  emulator::SeedContact({{"FirstName", "Ann"}});
  ASSERT_EQ(Init(), MZ_OK);
  // A folder where the file should be: standard I/O cannot open it.
  ASSERT_TRUE(std::filesystem::create_directories(ScratchFile()));
  ContactTransfer buffer;
  std::memset(&buffer, kPattern, sizeof buffer);
  ContactTransfer before = buffer;
  EXPECT_EQ(mz().MZ_GetContactInfo(1, &buffer), MZ_E_FAILED);
  EXPECT_EQ(std::memcmp(&buffer, &before, sizeof buffer), 0);
  std::filesystem::remove(ScratchFile());
  EXPECT_EQ(Get(1).result, MZ_OK);
}

// --- Fault sweeps ------------------------------------------------------------

std::size_t PositionOf(const std::vector<e2e::FaultPoint>& trace, const std::string& name) {
  for (const auto& point : trace) {
    if (point.name == name) return point.position;
  }
  return trace.size();
}

TEST_F(ContactsExportE2e, ExportAtEveryFaultPointGivesItsDocumentedResult) {
  const std::uint32_t oid = emulator::SeedContact(kFull, k19750309);
  const std::string full = Card(oid, kFullLines);
  ASSERT_EQ(Init(), MZ_OK);
  ContactTransfer traced{};
  const auto trace =
      e2e::TraceFaultPoints([&] { EXPECT_EQ(mz().MZ_GetContactInfo(1, &traced), MZ_OK); });
  Done();
  const std::size_t folder = PositionOf(trace, "IPOutlookApp::GetDefaultFolder");
  const std::size_t item = PositionOf(trace, "IPOutlookItemCollection::Item");
  const std::size_t reads = PositionOf(trace, "IContact::get_LastName");
  ASSERT_LT(folder, item);
  ASSERT_LT(item, reads);
  ASSERT_LT(reads, trace.size());
  for (const e2e::FaultPoint& point : trace) {
    SCOPED_TRACE(testing::Message() << point);
    ASSERT_EQ(Init(), MZ_OK);
    emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
    Export out;
    std::memset(&out.buffer, kPattern, sizeof out.buffer);
    out.result = mz().MZ_GetContactInfo(1, &out.buffer);
    EXPECT_GE(emulator::CallCount(point.name), point.nth) << "the point was reached";
    emulator::ClearFaults();
    if (point.position < folder) {
      // The scratch path or file.
      EXPECT_EQ(out.result, MZ_E_FAILED);
    } else if (point.position < item) {
      EXPECT_EQ(out.result, MZ_E_NO_CONTACT);
    } else if (point.position < reads) {
      EXPECT_EQ(out.result, MZ_E_NO_MORE);
    } else {
      EXPECT_EQ(out.result, MZ_OK);
    }
    if (out.result != MZ_OK) {
      EXPECT_TRUE(out.Untouched());
    } else if (point.name == "DeleteFileW") {
      EXPECT_EQ(out.Text(), full);
    } else if (point.name == "IContact::get_Oid") {
      EXPECT_EQ(out.Text(), Card(0, kFullLines));
      EXPECT_EQ(out.Id(), "0");
    } else {
      // A property that cannot be read leaves its line out or emptier.
      EXPECT_NE(out.Text(), full);
      EXPECT_TRUE(DegradesFrom(out.Text(), full)) << out.Text();
      EXPECT_EQ(out.Id(), std::to_string(oid));
    }
    EXPECT_EQ(ScratchFileExists(), point.name == "DeleteFileW");
    std::filesystem::remove(ScratchFile());
    Done();
    ExpectNothingHeld();
  }
}

TEST_F(ContactsExportE2e, CountAtEveryFaultPointGivesItsDocumentedResult) {
  emulator::SeedContact({{"FirstName", "Ann"}});
  ASSERT_EQ(Init(), MZ_OK);
  int32_t count = 0;
  const auto trace = e2e::TraceFaultPoints([&] { EXPECT_EQ(Count(&count), MZ_OK); });
  Done();
  const std::size_t counting = PositionOf(trace, "IPOutlookItemCollection::get_Count");
  ASSERT_LT(counting, trace.size());
  for (const e2e::FaultPoint& point : trace) {
    SCOPED_TRACE(testing::Message() << point);
    ASSERT_EQ(Init(), MZ_OK);
    emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
    // The store's own count is not examined: a failed count reads as 0.
    EXPECT_EQ(Count(&count), point.position < counting ? MZ_E_NO_CONTACT : MZ_OK);
    EXPECT_EQ(count, 0);
    emulator::ClearFaults();
    Done();
    ExpectNothingHeld();
  }
}

}  // namespace
