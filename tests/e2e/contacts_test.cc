// Contacts through libmz.so: counting, exporting, adding, updating and
// deleting. What a card stores and exports is in the golden files under
// tests/data/contacts (contacts_golden_test.cc); failures at each fault point
// are in the fault table (faults_test.cc).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
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

constexpr char kPattern = 'Z';  // the host's bytes in an area before a call

bool Untouched(const void* bytes, std::size_t size) {
  const auto* begin = static_cast<const char*>(bytes);
  return std::all_of(begin, begin + size, [](char c) { return c == kPattern; });
}

class ContactsE2e : public E2eTest {
 protected:
  // MZ_GetContactInfo into a pattern-filled area; the text and the id.
  int32_t Get(int32_t position, ContactTransfer* out) {
    std::memset(out, kPattern, sizeof *out);
    return mz().MZ_GetContactInfo(position, out);
  }
};

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

// --- Adding and updating -----------------------------------------------------

TEST_F(ContactsE2e, UnterminatedCardAreaIsReadForItsFirst1023BytesOnly) {
  ASSERT_EQ(Init(), MZ_OK);
  const std::string head = VCard("").substr(0, 26) + "NOTE:";
  ContactTransfer card;
  std::memset(&card, 'x', sizeof card);
  std::memcpy(card.vcard, head.data(), head.size());
  char id[MZ_NEW_ID_SIZE];
  ASSERT_EQ(mz().MZ_AddContact(&card, id, sizeof id), MZ_OK);
  EXPECT_EQ(Stored(emulator::ContactOids().back()),
            Props({"Body=" + std::string(MZ_VCARD_SIZE - 1 - head.size(), 'x')}));
}

// Update, deletion and export steps (tests/data/e2e/contact_steps.tsv): what
// a card changes and what it leaves, the id text that finds a contact, and
// the export of stored values no card gives, which writes the text, its zero
// and the id only.
TEST_F(ContactsE2e, StepsChangeTheStoreAsTheirRowsSay) {
  ASSERT_EQ(Init(), MZ_OK);
  for (const std::vector<std::string>& cell : e2e::Table("contact_steps.tsv", 5)) {
    SCOPED_TRACE(cell[0] + " " + cell[1].substr(0, 40) + " " + cell[2].substr(0, 40));
    if (cell[0] == "fresh") {
      Done();
      NewDevice();
      ASSERT_EQ(Init(), MZ_OK);
      continue;
    }
    if (cell[0] == "seed") {
      Properties properties;
      std::istringstream words(cell[2]);
      for (std::string word; words >> word;) properties.merge(Props({word}));
      emulator::SetNextContactOid(static_cast<std::uint32_t>(std::stoul(cell[1])));
      e2e::SeedContact(properties);
      continue;
    }
    const auto unescape = [](std::string text) {
      for (const auto& [from, to] : {std::pair{"\\n", "\r\n"}, std::pair{"\\t", "\t"}}) {
        for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, 2, to);
      }
      return text;
    };
    const std::string id = unescape(cell[1]);
    if (cell[0] == "export") {  // the header and what follows each zero stay the host's
      ContactTransfer out;
      EXPECT_EQ(Get(std::stoi(id), &out), std::stoi(cell[3]));
      const std::string text = e2e::Field(out.vcard), number = e2e::Field(out.contactId);
      EXPECT_EQ(text + " id " + number, unescape(cell[4]));
      EXPECT_TRUE(Untouched(out.header, sizeof out.header));
      EXPECT_TRUE(Untouched(out.vcard + text.size() + 1, sizeof out.vcard - text.size() - 1) ||
                  text.size() == sizeof out.vcard);
      EXPECT_TRUE(
          Untouched(out.contactId + number.size() + 1, sizeof out.contactId - number.size() - 1));
      continue;
    }
    if (cell[0] == "fail") {
      emulator::InjectFault(cell[1], std::stoi(cell[2]), E_FAIL);
      continue;
    }
    ContactTransfer card = Transfer(VCard(unescape(cell[2])), id);
    if (id.size() == sizeof card.contactId) std::memcpy(card.contactId, id.data(), id.size());
    EXPECT_EQ(cell[0] == "write"    ? mz().MZ_WriteContact(&card)
              : cell[0] == "delete" ? mz().MZ_DeleteContact(id == "null" ? nullptr : id.c_str())
                                    : mz().MZ_DeleteAllContacts(),
              std::stoi(cell[3]));
    EXPECT_FALSE(e2e::ScratchFileExists());
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

}  // namespace
