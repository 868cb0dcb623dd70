// Counting, listing, reading and deleting SMS messages through libmz.so.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
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
constexpr MessageFolder kNoFolder = 5;
// The texts of the fresh phone's two Inbox messages.
const std::string kFirst = "Are we still on for lunch?";
const std::string kSecond = "Caf\u00e9 at six? \u2014 Ann";

// File times of the store and their text in UTC.
constexpr std::uint64_t k20120304_050607 = 129753111670000000;
constexpr std::uint64_t k20120305_183000 = 129754458000000000;
constexpr std::uint64_t k20120306_091500 = 129754989000000000;

std::string FolderName(MessageFolder folder) {
  return emulator::StandardFolderNames().at(folder);
}

// What MZ_GetMessageInfo writes: text, entry id, address, time, folder.
using Fields = std::tuple<std::string, std::string, std::string, std::string, unsigned>;

Fields FieldsOf(const MessageRecord& record) {
  return {Field(record.text), Field(record.entryIdHex), Field(record.address),
          Field(record.timeText), record.folder};
}

// A message received from +15550108 at 2012-03-04 05:06:07, or, with
// recipients, one of the phone's own, delivered at 2012-03-06 09:15:00 and
// last changed at 2012-03-05 18:30:00.
emulator::MessageSeed Message(MessageFolder folder, std::string text,
                              std::optional<std::string> id = {},
                              std::vector<emulator::RecipientSeed> recipients = {},
                              std::uint32_t flags = 0) {
  emulator::MessageSeed seed;
  seed.folder = FolderName(folder);
  seed.subject = std::move(text);
  seed.entryId = std::move(id);
  seed.recipients = std::move(recipients);
  const bool own = !seed.recipients.empty();
  seed.flags = own ? MSGFLAG_FROMME | flags : MSGFLAG_READ;
  seed.deliveryTime = own ? k20120306_091500 : k20120304_050607;
  if (own) seed.modifiedTime = k20120305_183000;
  if (!own) seed.sender = "+15550108";
  return seed;
}

emulator::RecipientSeed To(std::string email) {
  return {"Bob Example", "SMS", std::move(email), MAPI_TO};
}

class MessagesE2e : public E2eTest {
 protected:
  struct Reading {
    int32_t result = 0;
    MessageRecord record{};
  };

  Reading Next(MessageFolder folder) {
    Reading reading;
    reading.result = mz().MZ_GetMessageInfo(folder, &reading.record);
    return reading;
  }
  std::string NextId(MessageFolder folder) { return Field(Next(folder).record.entryIdHex); }
  std::string NextText(MessageFolder folder) { return Field(Next(folder).record.text); }

  // Every record from the cursor to the end of the folder.
  std::vector<Fields> ReadToEnd(MessageFolder folder) {
    std::vector<Fields> records;
    Reading reading;
    while ((reading = Next(folder)).result == MZ_OK && records.size() < 1000) {
      records.push_back(FieldsOf(reading.record));
    }
    EXPECT_EQ(reading.result, MZ_E_NO_MORE) << "the listing of folder " << folder << " ends";
    return records;
  }

  uint32_t Count(MessageFolder folder) {
    uint32_t count = 12345;
    EXPECT_EQ(mz().MZ_GetMessagesCount(folder, &count), MZ_OK);
    return count;
  }

  // Entry ids of a folder as hex, in store order.
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
    MessageRecord record{};
    EXPECT_EQ(mz().MZ_GetMessageInfo(folder, &record), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_DeleteMessage(folder, "00"), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_DeleteAllMessages(folder), MZ_E_BAD_ARGUMENT);
    EXPECT_EQ(mz().MZ_StartGetMessage(folder), MZ_OK);
    EXPECT_EQ(Count(folder), 0u);
  }
};

// --- Listing -----------------------------------------------------------------

TEST_F(MessagesE2e, WholeSessionListsEveryFolderToTheEndAndAgain) {
  emulator::SeedMessage(Message(MZ_FOLDER_OUTBOX, "queued", {}, {To("+15550109")}, MSGFLAG_UNSENT));
  emulator::SeedMessage(Message(MZ_FOLDER_DELETED, "old"));
  ASSERT_EQ(Init(), MZ_OK);
  for (MessageFolder folder : kFolders) {
    SCOPED_TRACE(FolderName(folder));
    const std::vector<std::string> stored = StoredIds(folder);
    ASSERT_FALSE(stored.empty());
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
  Done();
}

TEST_F(MessagesE2e, ReceivedMessageGivesDeliveryTimeAndNormalisedSender) {
  const auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_EQ(inbox.size(), 2u);
  ASSERT_EQ(Init(), MZ_OK);
  const Reading first = Next(MZ_FOLDER_INBOX);
  EXPECT_EQ(FieldsOf(first.record),
            (Fields{kFirst, Hex(inbox[0].entryId), "+15550100", "2012-03-04 05:06:07", 0}));
  // Nothing beyond the documented fields is written.
  EXPECT_EQ(first.record.recordSize, 0u);
  for (unsigned char b : first.record.reserved) ASSERT_EQ(b, 0);
  EXPECT_EQ(ReadToEnd(MZ_FOLDER_INBOX),
            (std::vector<Fields>{
                {kSecond, Hex(inbox[1].entryId), "+15550101", "2012-03-05 18:30:00", 0}}));
}

TEST_F(MessagesE2e, OwnMessageGivesItsFirstRecipientWithAnAddressAndUnsentOnesTheirLastChange) {
  // The fresh phone's Outbox is empty.
  const emulator::RecipientSeed nameOnly{"Ann Example", "SMS", std::nullopt, MAPI_TO};
  // The longest id the record holds, and one a byte too long.
  const std::string sent =
      emulator::SeedMessage(Message(MZ_FOLDER_OUTBOX, "On my way", std::string(31, '\\'),
                                    {nameOnly, To("+15550102"), To("+15550103")}));
  const std::string draft = emulator::SeedMessage(
      Message(MZ_FOLDER_OUTBOX, "draft", {}, {To("+15550101")}, MSGFLAG_UNSENT));
  emulator::SeedMessage(Message(MZ_FOLDER_OUTBOX, "nobody", std::string(32, ']'), {nameOnly}));
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(FieldsOf(Next(MZ_FOLDER_OUTBOX).record),
            (Fields{"On my way", Hex(sent), "+15550102", "2012-03-06 09:15:00", MZ_FOLDER_OUTBOX}));
  EXPECT_EQ(FieldsOf(Next(MZ_FOLDER_OUTBOX).record),
            (Fields{"draft", Hex(draft), "+15550101", "2012-03-05 18:30:00", MZ_FOLDER_OUTBOX}));

  // No recipient address and an id too long for the record: the host's
  // texts stay.
  MessageRecord record{};
  std::strcpy(record.address, "host's");
  std::strcpy(record.entryIdHex, "host's");
  ASSERT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_OUTBOX, &record), MZ_OK);
  EXPECT_EQ(Field(record.address), "host's");
  EXPECT_EQ(Field(record.entryIdHex), "host's");
  EXPECT_EQ(Field(record.text), "nobody");
}

TEST_F(MessagesE2e, CountOrDeletionInTheMiddleOfAListingDoesNotMoveIt) {
  emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "third"));
  emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "fourth"));
  const std::vector<std::string> ids = StoredIds(MZ_FOLDER_INBOX);
  ASSERT_EQ(ids.size(), 4u);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(NextId(MZ_FOLDER_INBOX), ids[0]);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 4u);
  EXPECT_EQ(NextId(MZ_FOLDER_INBOX), ids[1]);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, ids[2].c_str()), MZ_OK);
  EXPECT_EQ(NextId(MZ_FOLDER_INBOX), ids[3]) << "deleting the next message skips nothing";
  EXPECT_EQ(Next(MZ_FOLDER_INBOX).result, MZ_E_NO_MORE);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 3u);
}

// --- Deletion ----------------------------------------------------------------

TEST_F(MessagesE2e, DeletesByHexIdInEitherLetterCaseOrAllAtOnceFromThatFolderOnly) {
  const std::vector<std::string> fresh = StoredIds(MZ_FOLDER_INBOX);
  const std::vector<std::string> sent = StoredIds(MZ_FOLDER_SENT);
  std::string one = Hex(emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "one", "\xab\xcd\xef")));
  const std::string two = Hex(emulator::SeedMessage(Message(MZ_FOLDER_INBOX, "two", "\xfe\xdc")));
  ASSERT_EQ(Init(), MZ_OK);
  const std::string odd = two + "0", tooLong(130, '1');
  for (const char* hex : {odd.c_str(), tooLong.c_str(), "", "zz", sent[0].c_str(),
                          static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(hex != nullptr ? hex : "(null)");
    EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, hex), MZ_E_FAILED);
  }
  for (char& c : one) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, one.c_str()), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, two.c_str()), MZ_OK);
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX), fresh);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, two.c_str()), MZ_E_FAILED) << "gone already";

  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_OK);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 0u);
  EXPECT_EQ(Next(MZ_FOLDER_INBOX).result, MZ_E_NO_MORE);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_OK) << "an empty folder empties";
  EXPECT_EQ(StoredIds(MZ_FOLDER_SENT), sent);
}

// --- Bad arguments and no session --------------------------------------------

TEST_F(MessagesE2e, FolderOutsideTheFiveBeforeInitOrAMissingPlaceIsABadArgument) {
  ExpectClosed(MZ_FOLDER_INBOX);
  ASSERT_EQ(Init(), MZ_OK);
  ExpectClosed(kNoFolder);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(0xFFFFFFFF), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetMessagesCount(MZ_FOLDER_INBOX, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kFirst) << "none of it moved the Inbox listing";
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX).size(), 2u);
}

TEST_F(MessagesE2e, CountThatTheStoreRefusesIsZero) {
  ASSERT_EQ(Init(), MZ_OK);
  emulator::InjectFault("IMAPITable::GetRowCount", 1, E_FAIL);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 0u);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 2u);
}

// --- Opening again -----------------------------------------------------------

TEST_F(MessagesE2e, InitOnAnOpenSessionChangesNothingNotEvenAFolderThatFailedToOpen) {
  emulator::InjectFault("IMsgStore::OpenEntry", 3, E_FAIL);  // the third folder opened: Sent
  ASSERT_EQ(Init(), MZ_OK) << "a folder that cannot be opened is not a failure";
  emulator::ClearFaults();
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kFirst);
  const long objects = emulator::LiveObjects();
  const long buffers = emulator::OutstandingBuffers();
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(emulator::LiveObjects(), objects);
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kSecond) << "the listing goes on where it was";
  ExpectClosed(MZ_FOLDER_SENT);
  Done();
  ExpectNothingHeld();
}

TEST_F(MessagesE2e, InitAgainAfterAPartialOpeningOpensOnlyWhatWasMissing) {
  emulator::InjectFault("IMsgStore::OpenEntry", 3, E_FAIL);
  emulator::InjectFault("IMsgStore::Advise", 1, E_FAIL);
  EXPECT_EQ(Init(), MZ_E_FAILED);
  emulator::ClearFaults();
  ExpectClosed(MZ_FOLDER_SENT);
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kFirst) << "what opened stays usable";
  const long objects = emulator::LiveObjects();

  EXPECT_EQ(Init(), MZ_OK);
  EXPECT_EQ(emulator::LiveObjects(), objects + 2) << "only the Sent folder and its table are new";
  EXPECT_EQ(NextText(MZ_FOLDER_SENT), "On my way");
  EXPECT_EQ(NextText(MZ_FOLDER_INBOX), kSecond) << "folders open before keep their listing";
}

}  // namespace
