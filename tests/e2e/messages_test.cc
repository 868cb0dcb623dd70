// Counting, listing, reading and deleting SMS messages through libmz.so, on
// the fresh phone's messages (two in the Inbox, one Sent, one Draft) and what
// a test adds. Failures at each fault point are in the fault table
// (faults_test.cc), closed folders and deletion by id in the argument table
// (tests/data/e2e/arguments.tsv); how addresses are normalised, in
// tests/data/lib/message_text.tsv.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

namespace {

using e2e::Field;

// One of the phone's own messages to `recipients`, delivered at 2012-03-06
// 09:15:00 and last changed at 2012-03-05 18:30:00; without recipients, one
// received from +15550108.
emulator::MessageSeed Message(const char* folder, std::string text,
                              std::optional<std::string> id = {},
                              std::vector<emulator::RecipientSeed> recipients = {},
                              std::uint32_t flags = 0) {
  emulator::MessageSeed seed;
  seed.folder = folder;
  seed.subject = std::move(text);
  seed.entryId = std::move(id);
  seed.flags = (recipients.empty() ? MSGFLAG_READ : MSGFLAG_FROMME) | flags;
  seed.deliveryTime = 129754989000000000;
  seed.modifiedTime = 129754458000000000;
  if (recipients.empty()) seed.sender = "+15550108";
  seed.recipients = std::move(recipients);
  return seed;
}

emulator::RecipientSeed To(std::optional<std::string> email) {
  return {"Bob Example", "SMS", std::move(email), MAPI_TO};
}

using MessagesE2e = E2eTest;

// Steps on one session over the phone's messages and those seeded here
// (tests/data/e2e/message_steps.tsv): every folder listed to its end and
// again, the time and address each kind of message gives, and a listing
// that counting, deleting or a failed read in its middle does not move.
TEST_F(MessagesE2e, StepsListCountAndDeleteAsTheirRowsSay) {
  const emulator::RecipientSeed nameOnly = To(std::nullopt);
  // The longest id the record holds, and one a byte too long.
  emulator::SeedMessage(
      Message("Outbox", "On my way", std::string(31, '\\'), {nameOnly, To("+15550102"), To("3")}));
  emulator::SeedMessage(Message("Outbox", "draft", {}, {To("+15550101")}, MSGFLAG_UNSENT));
  emulator::SeedMessage(Message("Outbox", "nobody", std::string(32, ']'), {nameOnly}));
  emulator::SeedMessage(Message("Deleted Items", "old"));
  emulator::SeedMessage(Message("Inbox", "third"));
  emulator::SeedMessage(Message("Inbox", "fourth"));
  ASSERT_EQ(Init(), MZ_OK);
  for (const std::vector<std::string>& cell : e2e::Table("message_steps.tsv", 4)) {
    SCOPED_TRACE(cell[0] + " " + cell[1] + " " + cell[2]);
    const auto folder = static_cast<MessageFolder>(std::stoul(cell[1]));
    std::string got;
    if (cell[0] == "next") {
      MessageRecord record{};
      for (char* text : {record.text, record.entryIdHex, record.address, record.timeText}) {
        std::strcpy(text, "-");
      }
      record.folder = 99;
      got = std::to_string(mz().MZ_GetMessageInfo(folder, &record));
      got += " " + Field(record.text) + " | " + Field(record.entryIdHex) + " | " +
             Field(record.address) + " | " + Field(record.timeText) + " | " +
             std::to_string(record.folder) + " " + std::to_string(record.recordSize);
      for (unsigned char b : record.reserved) ASSERT_EQ(b, 0);
    } else if (cell[0] == "count") {
      uint32_t count = 12345;
      got = std::to_string(mz().MZ_GetMessagesCount(folder, &count));
      got += " " + std::to_string(count);
    } else if (cell[0] == "start") {
      got = std::to_string(mz().MZ_StartGetMessage(folder));
    } else if (cell[0] == "delete") {
      got = std::to_string(mz().MZ_DeleteMessage(folder, cell[2].c_str()));
    } else {
      emulator::InjectFault(cell[2], 1, E_FAIL);
      continue;
    }
    EXPECT_EQ(got, cell[3]);
  }
}

}  // namespace
