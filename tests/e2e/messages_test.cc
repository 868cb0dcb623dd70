// Counting, listing, reading and deleting SMS messages through libmz.so, on
// the fresh phone's messages (two in the Inbox, one Sent, one Draft) and what
// a test adds. Failures at each fault point are in the fault table
// (faults_test.cc); how addresses are normalised, in tests/data/lib/message_text.tsv.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

namespace {

using e2e::Field;
using e2e::Hex;

constexpr MessageFolder kFolders[] = {MZ_FOLDER_INBOX, MZ_FOLDER_OUTBOX, MZ_FOLDER_SENT,
                                      MZ_FOLDER_DRAFTS, MZ_FOLDER_DELETED};
const std::string kFirst = "Are we still on for lunch?";
const std::string kSecond = "Caf\u00e9 at six? \u2014 Ann";

std::string FolderName(MessageFolder folder) {
  return emulator::StandardFolderNames().at(folder);
}

// What MZ_GetMessageInfo writes: text, entry id, address, time, folder.
using Fields = std::tuple<std::string, std::string, std::string, std::string, unsigned>;

// One of the phone's own messages to `recipients`, delivered at 2012-03-06
// 09:15:00 and last changed at 2012-03-05 18:30:00; without recipients, one
// received from +15550108.
emulator::MessageSeed Message(MessageFolder folder, std::string text,
                              std::optional<std::string> id = {},
                              std::vector<emulator::RecipientSeed> recipients = {},
                              std::uint32_t flags = 0) {
  emulator::MessageSeed seed;
  seed.folder = FolderName(folder);
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

class MessagesE2e : public E2eTest {
 protected:
  int32_t Next(MessageFolder folder, Fields* fields = nullptr) {
    MessageRecord record{};
    const int32_t result = mz().MZ_GetMessageInfo(folder, &record);
    if (fields != nullptr) {
      *fields = {Field(record.text), Field(record.entryIdHex), Field(record.address),
                 Field(record.timeText), record.folder};
    }
    return result;
  }
  std::string NextText(MessageFolder folder) {
    Fields fields;
    Next(folder, &fields);
    return std::get<0>(fields);
  }
  // Every record from the cursor to the end of the folder.
  std::vector<Fields> ReadToEnd(MessageFolder folder) {
    std::vector<Fields> records(1);
    int32_t result;
    while ((result = Next(folder, &records.back())) == MZ_OK && records.size() < 100) {
      records.emplace_back();
    }
    EXPECT_EQ(result, MZ_E_NO_MORE) << "the listing of folder " << folder << " ends";
    records.pop_back();
    return records;
  }
  uint32_t Count(MessageFolder folder) {
    uint32_t count = 12345;
    EXPECT_EQ(mz().MZ_GetMessagesCount(folder, &count), MZ_OK);
    return count;
  }
  static std::vector<std::string> StoredIds(MessageFolder folder) {
    std::vector<std::string> ids;
    for (const auto& message : emulator::ListMessages("SMS", FolderName(folder))) {
      ids.push_back(Hex(message.entryId));
    }
    return ids;
  }
  // A folder that is not open: reading and deleting are bad arguments, a
  // listing starts without complaint and the count is 0.
  void ExpectClosed(MessageFolder folder) {
    SCOPED_TRACE(testing::Message() << "folder " << folder << " closed");
    EXPECT_EQ(Next(folder), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_DeleteMessage(folder, "00"), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_DeleteAllMessages(folder), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_StartGetMessage(folder), MZ_OK);
    EXPECT_EQ(Count(folder), 0u);
  }
};

TEST_F(MessagesE2e, WholeSessionListsEveryFolderToTheEndAndAgain) {
  emulator::SeedMessage(Message(MZ_FOLDER_OUTBOX, "queued", {}, {To("+15550109")}, MSGFLAG_UNSENT));
  emulator::SeedMessage(Message(MZ_FOLDER_DELETED, "old"));
  ASSERT_EQ(Init(), MZ_OK);
  for (MessageFolder folder : kFolders) {
    SCOPED_TRACE(FolderName(folder));
    const std::vector<std::string> stored = StoredIds(folder);
    EXPECT_EQ(Count(folder), stored.size());
    const std::vector<Fields> first = ReadToEnd(folder);
    std::vector<std::string> ids;
    for (const Fields& f : first) {
      ids.push_back(std::get<1>(f));
      EXPECT_EQ(std::get<4>(f), folder);
    }
    EXPECT_EQ(ids, stored);
    MessageRecord after{};
    after.text[0] = 'k';
    EXPECT_EQ(mz().MZ_GetMessageInfo(folder, &after), MZ_E_NO_MORE);
    EXPECT_EQ(after.text[0], 'k') << "the end of a listing leaves the record as it was";
    EXPECT_EQ(mz().MZ_StartGetMessage(folder), MZ_OK);
    EXPECT_EQ(ReadToEnd(folder), first);
  }
}

// A received message gives its delivery time; the user's own message its
// first recipient with an address, and the time of its last change when
// unsent. Nothing beyond the documented fields is written, and the host's
// texts stay where there is no address or the id is too long for the record.
TEST_F(MessagesE2e, RecordsHoldTheTimeAndAddressThatFitTheMessage) {
  const auto inbox = emulator::ListMessages("SMS", "Inbox");
  const emulator::RecipientSeed nameOnly = To(std::nullopt);
  // The longest id the record holds, and one a byte too long.
  const std::string sent = emulator::SeedMessage(Message(
      MZ_FOLDER_OUTBOX, "On my way", std::string(31, '\\'), {nameOnly, To("+15550102"), To("3")}));
  const std::string draft = emulator::SeedMessage(
      Message(MZ_FOLDER_OUTBOX, "draft", {}, {To("+15550101")}, MSGFLAG_UNSENT));
  emulator::SeedMessage(Message(MZ_FOLDER_OUTBOX, "nobody", std::string(32, ']'), {nameOnly}));
  ASSERT_EQ(Init(), MZ_OK);
  MessageRecord record{};
  ASSERT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record), MZ_OK);
  EXPECT_EQ(Field(record.timeText), "2012-03-04 05:06:07");
  EXPECT_EQ(record.recordSize, 0u);
  for (unsigned char b : record.reserved) ASSERT_EQ(b, 0);
  EXPECT_EQ(ReadToEnd(MZ_FOLDER_INBOX),
            (std::vector<Fields>{
                {kSecond, Hex(inbox[1].entryId), "+15550101", "2012-03-05 18:30:00", 0}}));
  EXPECT_EQ(ReadToEnd(MZ_FOLDER_OUTBOX).at(0),
            (Fields{"On my way", Hex(sent), "+15550102", "2012-03-06 09:15:00", 1}));
  ASSERT_EQ(mz().MZ_StartGetMessage(MZ_FOLDER_OUTBOX), MZ_OK);
  Next(MZ_FOLDER_OUTBOX);
  Fields fields;
  ASSERT_EQ(Next(MZ_FOLDER_OUTBOX, &fields), MZ_OK);
  EXPECT_EQ(fields, (Fields{"draft", Hex(draft), "+15550101", "2012-03-05 18:30:00", 1}));
  std::strcpy(record.address, "host's");
  std::strcpy(record.entryIdHex, "host's");
  ASSERT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_OUTBOX, &record), MZ_OK);
  EXPECT_EQ(Field(record.text), "nobody");
  EXPECT_EQ(Field(record.address), "host's");
  EXPECT_EQ(Field(record.entryIdHex), "host's");
}

TEST_F(MessagesE2e, CountDeletionOrAFailedReadInTheMiddleOfAListingDoesNotMoveIt) {
  emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "third"));
  emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "fourth"));
  const std::vector<std::string> ids = StoredIds(MZ_FOLDER_INBOX);
  ASSERT_EQ(ids.size(), 4u);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kFirst);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 4u);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kSecond);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, ids[2].c_str()), MZ_OK);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), "fourth") << "deleting the next message skips nothing";
  EXPECT_EQ(Next(MZ_FOLDER_INBOX), MZ_E_NO_MORE);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 3u);
  // A row that was read is passed, even when opening its message failed.
  ASSERT_EQ(mz().MZ_StartGetMessage(MZ_FOLDER_INBOX), MZ_OK);
  emulator::InjectFault("IMAPIFolder::OpenEntry", 1, E_FAIL);
  EXPECT_EQ(Next(MZ_FOLDER_INBOX), MZ_E_FAILED);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kSecond);
}

// A missing or malformed id, or one of another folder, deletes nothing.
TEST_F(MessagesE2e, DeletesByHexIdInEitherLetterCaseOrAllAtOnceFromThatFolderOnly) {
  const std::vector<std::string> fresh = StoredIds(MZ_FOLDER_INBOX);
  const std::vector<std::string> sent = StoredIds(MZ_FOLDER_SENT);
  std::string one = Hex(emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "one", "\xab\xcd\xef")));
  const std::string two = Hex(emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "two", "\xfe\xdc")));
  ASSERT_EQ(Init(), MZ_OK);
  const std::string odd = two + "0", tooLong(130, '1');
  for (const char* hex : {odd.c_str(), tooLong.c_str(), "", "zz", sent[0].c_str(),
                          static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, hex), MZ_E_FAILED) << (hex ? hex : "null");
  }
  for (char& c : one) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, one.c_str()), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, two.c_str()), MZ_OK);
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX), fresh);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, two.c_str()), MZ_E_FAILED) << "gone already";
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_OK);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 0u);
  EXPECT_EQ(Next(MZ_FOLDER_INBOX), MZ_E_NO_MORE);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_OK) << "an empty folder empties";
  EXPECT_EQ(StoredIds(MZ_FOLDER_SENT), sent);
}

TEST_F(MessagesE2e, FolderOutsideTheFiveBeforeInitOrAMissingPlaceIsABadArgument) {
  ExpectClosed(MZ_FOLDER_INBOX);
  ASSERT_EQ(Init(), MZ_OK);
  ExpectClosed(5);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(0xFFFFFFFF), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetMessagesCount(MZ_FOLDER_INBOX, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kFirst) << "none of it moved the Inbox listing";
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX).size(), 2u);
}

// MZ_Init on a session that failed to open part of itself opens only what is
// missing, and on a whole session nothing; what was open keeps its listing.
TEST_F(MessagesE2e, InitAgainOpensOnlyWhatIsMissing) {
  emulator::InjectFault("IMsgStore::OpenEntry", 3, E_FAIL);  // the third folder opened: Sent
  emulator::InjectFault("IMsgStore::Advise", 1, E_FAIL);
  EXPECT_EQ(Init(), MZ_E_FAILED);
  emulator::ClearFaults();
  ExpectClosed(MZ_FOLDER_SENT);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kFirst) << "what opened stays usable";
  const long objects = emulator::LiveObjects();
  EXPECT_EQ(Init(), MZ_OK);
  EXPECT_EQ(emulator::LiveObjects(), objects + 2) << "only the Sent folder and its table are new";
  const long buffers = emulator::OutstandingBuffers();
  EXPECT_EQ(Init(), MZ_OK);
  EXPECT_EQ(emulator::LiveObjects(), objects + 2);
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers);
  EXPECT_EQ(NextText(MZ_FOLDER_SENT), "On my way");
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kSecond) << "folders open before keep their listing";
  Done();
  ExpectNothingHeld();
}

}  // namespace
