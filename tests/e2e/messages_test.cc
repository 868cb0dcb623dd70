// Counting, listing, reading and deleting SMS messages through libmz.so.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

namespace {

constexpr MessageFolder kFolders[] = {MZ_FOLDER_INBOX, MZ_FOLDER_OUTBOX, MZ_FOLDER_SENT,
                                      MZ_FOLDER_DRAFTS, MZ_FOLDER_DELETED};
constexpr MessageFolder kNoFolder = 5;

// File times of the store and their text in UTC.
constexpr std::uint64_t k20120304_050607 = 129753111670000000;
constexpr std::uint64_t k20120305_183000 = 129754458000000000;
constexpr std::uint64_t k20120306_091500 = 129754989000000000;

std::string FolderName(MessageFolder folder) {
  return emulator::StandardFolderNames().at(folder);
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

template <std::size_t N>
std::string Field(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// What MZ_GetMessageInfo writes, for comparison.
struct Fields {
  std::string text;
  std::string entryIdHex;
  std::string address;
  std::string timeText;
  unsigned folder = 0;
  bool operator==(const Fields&) const = default;
};

void PrintTo(const Fields& f, std::ostream* out) {
  *out << "{text \"" << f.text << "\", id " << f.entryIdHex << ", address \"" << f.address
       << "\", time \"" << f.timeText << "\", folder " << f.folder << "}";
}

Fields FieldsOf(const MessageRecord& record) {
  return {Field(record.text), Field(record.entryIdHex), Field(record.address),
          Field(record.timeText), record.folder};
}

emulator::MessageSeed Received(MessageFolder folder, std::string text, std::string sender,
                               std::uint64_t time) {
  emulator::MessageSeed seed;
  seed.folder = FolderName(folder);
  seed.subject = std::move(text);
  seed.sender = std::move(sender);
  seed.flags = MSGFLAG_READ;
  seed.deliveryTime = time;
  return seed;
}

emulator::MessageSeed Own(MessageFolder folder, std::string text, std::uint32_t flags,
                          std::vector<emulator::RecipientSeed> recipients) {
  emulator::MessageSeed seed;
  seed.folder = FolderName(folder);
  seed.subject = std::move(text);
  seed.flags = MSGFLAG_FROMME | flags;
  seed.deliveryTime = k20120306_091500;
  seed.modifiedTime = k20120305_183000;
  seed.recipients = std::move(recipients);
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

  // Every record from the cursor to the end of the folder.
  std::vector<Fields> ReadToEnd(MessageFolder folder) {
    std::vector<Fields> records;
    for (int guard = 0; guard < 1000; ++guard) {
      Reading reading = Next(folder);
      if (reading.result == MZ_E_NO_MORE) return records;
      if (reading.result != MZ_OK) {
        ADD_FAILURE() << "MZ_GetMessageInfo(" << folder << ") gave " << reading.result;
        return records;
      }
      records.push_back(FieldsOf(reading.record));
    }
    ADD_FAILURE() << "the listing of folder " << folder << " does not end";
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

  // Reads the first message of `folder` with each fault point of the read
  // failing in turn, on a session of its own: checks the result, where the
  // listing goes on, and that closing releases everything.
  void SweepReading(MessageFolder folder);

  // Removes the fresh phone's sample messages, in a session of its own.
  void EmptyEveryFolder() {
    ASSERT_EQ(Init(), MZ_OK);
    for (MessageFolder folder : kFolders) ASSERT_EQ(mz().MZ_DeleteAllMessages(folder), MZ_OK);
    Done();
  }
};

std::vector<std::string> IdsOf(const std::vector<Fields>& records) {
  std::vector<std::string> ids;
  for (const Fields& f : records) ids.push_back(f.entryIdHex);
  return ids;
}

// --- Listing -----------------------------------------------------------------

TEST_F(MessagesE2e, WholeSessionListsEveryFolderToTheEndAndAgain) {
  emulator::SeedMessage(Own(MZ_FOLDER_OUTBOX, "queued", MSGFLAG_UNSENT, {To("+15550109")}));
  emulator::SeedMessage(Received(MZ_FOLDER_DELETED, "old", "+15550108", k20120304_050607));
  ASSERT_EQ(Init(), MZ_OK);
  for (MessageFolder folder : kFolders) {
    SCOPED_TRACE(FolderName(folder));
    const std::vector<std::string> stored = StoredIds(folder);
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(Count(folder), stored.size());
    const std::vector<Fields> first = ReadToEnd(folder);
    EXPECT_EQ(IdsOf(first), stored);
    for (const Fields& f : first) EXPECT_EQ(f.folder, folder);

    Reading after = Next(folder);
    after.record.text[0] = 'k';
    EXPECT_EQ(mz().MZ_GetMessageInfo(folder, &after.record), MZ_E_NO_MORE);
    EXPECT_EQ(after.record.text[0], 'k') << "the end of a listing leaves the record as it was";

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
  ASSERT_EQ(first.result, MZ_OK);
  EXPECT_EQ(FieldsOf(first.record), (Fields{"Are we still on for lunch?", Hex(inbox[0].entryId),
                                            "+15550100", "2012-03-04 05:06:07", 0}));
  const Reading second = Next(MZ_FOLDER_INBOX);
  ASSERT_EQ(second.result, MZ_OK);
  EXPECT_EQ(FieldsOf(second.record), (Fields{"Caf\u00e9 at six? \u2014 Ann", Hex(inbox[1].entryId),
                                             "+15550101", "2012-03-05 18:30:00", 0}));
  // Nothing beyond the documented fields is written.
  EXPECT_EQ(second.record.recordSize, 0u);
  for (unsigned char b : second.record.reserved) ASSERT_EQ(b, 0);
}

TEST_F(MessagesE2e, SentMessageGivesDeliveryTimeAndFirstRecipientWithAnAddress) {
  EmptyEveryFolder();
  emulator::RecipientSeed nameOnly{"Ann Example", "SMS", std::nullopt, MAPI_TO};
  const std::string id = emulator::SeedMessage(
      Own(MZ_FOLDER_SENT, "On my way", 0, {nameOnly, To("+15550102"), To("+15550103")}));
  emulator::SeedMessage(Own(MZ_FOLDER_SENT, "nobody", 0, {nameOnly}));
  ASSERT_EQ(Init(), MZ_OK);
  const Reading sent = Next(MZ_FOLDER_SENT);
  ASSERT_EQ(sent.result, MZ_OK);
  EXPECT_EQ(FieldsOf(sent.record),
            (Fields{"On my way", Hex(id), "+15550102", "2012-03-06 09:15:00", MZ_FOLDER_SENT}));

  // No recipient address: the host's address stays.
  Reading noAddress;
  std::strcpy(noAddress.record.address, "host's");
  ASSERT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_SENT, &noAddress.record), MZ_OK);
  EXPECT_EQ(Field(noAddress.record.address), "host's");
  EXPECT_EQ(Field(noAddress.record.text), "nobody");
}

TEST_F(MessagesE2e, UnsentMessageTakesItsTimeFromTheLastChange) {
  EmptyEveryFolder();
  emulator::SeedMessage(Own(MZ_FOLDER_DRAFTS, "draft", MSGFLAG_UNSENT, {To("+15550101")}));
  emulator::SeedMessage(Own(MZ_FOLDER_DRAFTS, "sent", 0, {To("+15550101")}));
  ASSERT_EQ(Init(), MZ_OK);
  const std::vector<Fields> records = ReadToEnd(MZ_FOLDER_DRAFTS);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].timeText, "2012-03-05 18:30:00");
  EXPECT_EQ(records[1].timeText, "2012-03-06 09:15:00");
}

TEST_F(MessagesE2e, EntryIdTooLongForTheRecordLeavesTheHostsText) {
  EmptyEveryFolder();
  const std::string id31(31, '\x5c'), id32(32, '\x5d');
  emulator::MessageSeed seed = Received(MZ_FOLDER_INBOX, "31", "+1", k20120304_050607);
  seed.entryId = id31;
  emulator::SeedMessage(seed);
  seed.subject = "32";
  seed.entryId = id32;
  emulator::SeedMessage(seed);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.entryIdHex), Hex(id31));
  Reading reading;
  std::strcpy(reading.record.entryIdHex, "host's");
  ASSERT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, &reading.record), MZ_OK);
  EXPECT_EQ(Field(reading.record.entryIdHex), "host's");
  EXPECT_EQ(Field(reading.record.text), "32");
}

TEST_F(MessagesE2e, CountInTheMiddleOfAListingDoesNotMoveIt) {
  const std::vector<std::string> ids = StoredIds(MZ_FOLDER_INBOX);
  ASSERT_EQ(ids.size(), 2u);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.entryIdHex), ids[0]);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 2u);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.entryIdHex), ids[1]);
  EXPECT_EQ(Next(MZ_FOLDER_INBOX).result, MZ_E_NO_MORE);
}

TEST_F(MessagesE2e, DeletingTheNextMessageDoesNotMakeTheListingSkip) {
  emulator::SeedMessage(Received(MZ_FOLDER_INBOX, "third", "+1", k20120304_050607));
  const std::vector<std::string> ids = StoredIds(MZ_FOLDER_INBOX);
  ASSERT_EQ(ids.size(), 3u);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.entryIdHex), ids[0]);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, ids[1].c_str()), MZ_OK);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.entryIdHex), ids[2]);
  EXPECT_EQ(Next(MZ_FOLDER_INBOX).result, MZ_E_NO_MORE);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 2u);
}

// --- Deletion ----------------------------------------------------------------

TEST_F(MessagesE2e, DeletesByHexIdInEitherLetterCase) {
  EmptyEveryFolder();
  emulator::MessageSeed seed = Received(MZ_FOLDER_INBOX, "one", "+1", k20120304_050607);
  seed.entryId = std::string("\xab\xcd\xef\x01", 4);
  const std::string one = emulator::SeedMessage(seed);
  seed.entryId = std::string("\xfe\xdc\xba\x02", 4);
  const std::string two = emulator::SeedMessage(seed);
  const std::string keep = emulator::SeedMessage(Received(MZ_FOLDER_INBOX, "keep", "+1", 0));
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, Upper(Hex(one)).c_str()), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, Hex(two).c_str()), MZ_OK);
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX), std::vector<std::string>{Hex(keep)});
  // Gone already: the store finds nothing to delete.
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, Hex(one).c_str()), MZ_E_FAILED);
}

TEST_F(MessagesE2e, DeletionThatNamesNoMessageOfTheFolderFails) {
  const std::vector<std::string> inbox = StoredIds(MZ_FOLDER_INBOX);
  const std::vector<std::string> sent = StoredIds(MZ_FOLDER_SENT);
  ASSERT_EQ(Init(), MZ_OK);
  const std::string odd = inbox[0] + "0";
  const std::string tooLong(130, '1');
  for (const char* hex : {odd.c_str(), tooLong.c_str(), "", "zz", sent[0].c_str(),
                          static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(hex != nullptr ? hex : "(null)");
    EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, hex), MZ_E_FAILED);
  }
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX), inbox);
  EXPECT_EQ(StoredIds(MZ_FOLDER_SENT), sent);
}

TEST_F(MessagesE2e, DeletingAllEmptiesOnlyThatFolder) {
  const std::vector<std::string> sent = StoredIds(MZ_FOLDER_SENT);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_OK);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 0u);
  EXPECT_EQ(Next(MZ_FOLDER_INBOX).result, MZ_E_NO_MORE);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_OK) << "an empty folder empties";
  EXPECT_EQ(StoredIds(MZ_FOLDER_SENT), sent);
}

// --- Bad arguments and no session --------------------------------------------

TEST_F(MessagesE2e, FolderOutsideTheFiveOrAMissingPlaceIsABadArgument) {
  ASSERT_EQ(Init(), MZ_OK);
  MessageRecord record{};
  EXPECT_EQ(mz().MZ_GetMessageInfo(kNoFolder, &record), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteMessage(kNoFolder, "00"), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(kNoFolder), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(0xFFFFFFFF), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_GetMessagesCount(MZ_FOLDER_INBOX, nullptr), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(Count(kNoFolder), 0u);
  EXPECT_EQ(mz().MZ_StartGetMessage(kNoFolder), MZ_OK);
  // None of it moved the Inbox listing.
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.text), "Are we still on for lunch?");
}

TEST_F(MessagesE2e, BeforeInitNoFolderIsOpen) {
  MessageRecord record{};
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_INBOX, "00"), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_INBOX), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_StartGetMessage(MZ_FOLDER_INBOX), MZ_OK);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 0u);
  EXPECT_EQ(StoredIds(MZ_FOLDER_INBOX).size(), 2u);
}

TEST_F(MessagesE2e, CountThatTheStoreRefusesIsZero) {
  ASSERT_EQ(Init(), MZ_OK);
  emulator::InjectFault("IMAPITable::GetRowCount", 1, E_FAIL);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 0u);
  EXPECT_EQ(Count(MZ_FOLDER_INBOX), 2u);
}

// --- Opening again -----------------------------------------------------------

TEST_F(MessagesE2e, RepeatedInitChangesNothing) {
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.text), "Are we still on for lunch?");
  const long objects = emulator::LiveObjects();
  const long buffers = emulator::OutstandingBuffers();
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(emulator::LiveObjects(), objects);
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.text), "Caf\u00e9 at six? \u2014 Ann")
      << "the listing goes on where it was";
  Done();
  ExpectNothingHeld();
}

TEST_F(MessagesE2e, FolderThatFailedToOpenStaysClosedForTheSession) {
  // The third folder opened is Sent.
  emulator::InjectFault("IMsgStore::OpenEntry", 3, E_FAIL);
  ASSERT_EQ(Init(), MZ_OK) << "a folder that cannot be opened is not a failure";
  emulator::ClearFaults();
  MessageRecord record{};
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_SENT, &record), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteMessage(MZ_FOLDER_SENT, "00"), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(mz().MZ_DeleteAllMessages(MZ_FOLDER_SENT), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(Count(MZ_FOLDER_SENT), 0u);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.text), "Are we still on for lunch?");
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_SENT, &record), MZ_E_BAD_ARGUMENT)
      << "an open session is left as it is";
}

TEST_F(MessagesE2e, InitAgainAfterAPartialOpeningOpensOnlyWhatWasMissing) {
  emulator::InjectFault("IMsgStore::OpenEntry", 3, E_FAIL);
  emulator::InjectFault("IMsgStore::Advise", 1, E_FAIL);
  EXPECT_EQ(Init(), MZ_E_FAILED);
  emulator::ClearFaults();
  MessageRecord record{};
  EXPECT_EQ(mz().MZ_GetMessageInfo(MZ_FOLDER_SENT, &record), MZ_E_BAD_ARGUMENT);
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.text), "Are we still on for lunch?")
      << "what opened stays usable";
  const long objects = emulator::LiveObjects();

  EXPECT_EQ(Init(), MZ_OK);
  EXPECT_EQ(emulator::LiveObjects(), objects + 2) << "only the Sent folder and its table are new";
  EXPECT_EQ(Field(Next(MZ_FOLDER_SENT).record.text), "On my way");
  EXPECT_EQ(Field(Next(MZ_FOLDER_INBOX).record.text), "Caf\u00e9 at six? \u2014 Ann")
      << "folders open before keep their listing";
}

// --- Fault sweeps ------------------------------------------------------------

bool IsConversion(const std::string& point) {
  return point == "WideCharToMultiByte" || point == "FileTimeToLocalFileTime" ||
         point == "FileTimeToSystemTime";
}

// The position of the nth point of that name, or the trace's size.
std::size_t PositionOf(const std::vector<e2e::FaultPoint>& trace, const std::string& name,
                       int nth = 1) {
  for (const auto& point : trace) {
    if (point.name == name && point.nth == nth) return point.position;
  }
  return trace.size();
}

TEST_F(MessagesE2e, InitAtEveryFaultPointFailsOrGoesOnAsDocumentedAndDoneReleasesAll) {
  const auto trace = e2e::TraceFaultPoints([&] { EXPECT_EQ(Init(), MZ_OK); });
  Done();
  ASSERT_GT(trace.size(), 20u);
  // Opening the folders: failures there leave a folder empty, not the
  // session.
  const std::size_t foldersFrom = PositionOf(trace, "IMsgStore::GetProps");
  const std::size_t foldersTo = PositionOf(trace, "IMsgStore::Advise");
  ASSERT_LT(foldersFrom, foldersTo);
  for (const e2e::FaultPoint& point : trace) {
    SCOPED_TRACE(testing::Message() << point);
    emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
    const bool ignored = point.position >= foldersFrom && point.position < foldersTo;
    EXPECT_EQ(Init(), ignored ? MZ_OK : MZ_E_FAILED);
    EXPECT_GE(emulator::CallCount(point.name), point.nth) << "the point was reached";
    Done();
    emulator::ClearFaults();
    ExpectNothingHeld();
  }
}

void MessagesE2e::SweepReading(MessageFolder folder) {
  const std::vector<std::string> ids = StoredIds(folder);
  ASSERT_GE(ids.size(), 2u);
  ASSERT_EQ(Init(), MZ_OK);
  MessageRecord record{};
  const auto trace =
      e2e::TraceFaultPoints([&] { EXPECT_EQ(mz().MZ_GetMessageInfo(folder, &record), MZ_OK); });
  Done();
  const std::size_t opened = PositionOf(trace, "IMAPIFolder::OpenEntry");
  // Reading recipient rows stops at a failure, which still counts as success.
  const std::size_t recipients = PositionOf(trace, "IMAPITable::QueryRows", 2);
  ASSERT_LT(opened, trace.size());
  for (const e2e::FaultPoint& point : trace) {
    SCOPED_TRACE(testing::Message() << point);
    ASSERT_EQ(Init(), MZ_OK);
    emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
    MessageRecord failed{};
    const bool ignored = IsConversion(point.name) || point.position >= recipients;
    EXPECT_EQ(mz().MZ_GetMessageInfo(folder, &failed), ignored ? MZ_OK : MZ_E_FAILED);
    emulator::ClearFaults();
    // The row is passed once it was read, whatever happened next.
    MessageRecord next{};
    EXPECT_EQ(mz().MZ_GetMessageInfo(folder, &next), MZ_OK);
    EXPECT_EQ(Field(next.entryIdHex), ids[point.position < opened ? 0 : 1]);
    Done();
    ExpectNothingHeld();
  }
}

TEST_F(MessagesE2e, ReadingAReceivedMessageAtEveryFaultPoint) {
  SweepReading(MZ_FOLDER_INBOX);
}

TEST_F(MessagesE2e, ReadingASentMessageAtEveryFaultPoint) {
  emulator::SeedMessage(Own(MZ_FOLDER_SENT, "second", 0, {To("+15550104")}));
  SweepReading(MZ_FOLDER_SENT);
}

TEST_F(MessagesE2e, DeletionAtEveryFaultPointFailsAndKeepsTheMessage) {
  emulator::MessageSeed seed = Received(MZ_FOLDER_OUTBOX, "doomed", "+1", k20120304_050607);
  seed.entryId = "doomed";
  const std::string hex = Hex(*seed.entryId);
  struct Deletion {
    const char* name;
    std::function<int32_t()> call;
  };
  const Deletion deletions[] = {
      {"MZ_DeleteMessage", [&] { return mz().MZ_DeleteMessage(MZ_FOLDER_OUTBOX, hex.c_str()); }},
      {"MZ_DeleteAllMessages", [&] { return mz().MZ_DeleteAllMessages(MZ_FOLDER_OUTBOX); }},
  };
  for (const Deletion& deletion : deletions) {
    SCOPED_TRACE(deletion.name);
    const std::function<int32_t()>& call = deletion.call;
    emulator::SeedMessage(seed);
    ASSERT_EQ(Init(), MZ_OK);
    const auto trace = e2e::TraceFaultPoints([&] { EXPECT_EQ(call(), MZ_OK); });
    Done();
    ASSERT_FALSE(trace.empty());
    emulator::SeedMessage(seed);
    for (const e2e::FaultPoint& point : trace) {
      SCOPED_TRACE(testing::Message() << point);
      ASSERT_EQ(Init(), MZ_OK);
      emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
      EXPECT_EQ(call(), MZ_E_FAILED);
      emulator::ClearFaults();
      EXPECT_EQ(StoredIds(MZ_FOLDER_OUTBOX), std::vector<std::string>{hex});
      Done();
      ExpectNothingHeld();
    }
    ASSERT_EQ(Init(), MZ_OK);
    EXPECT_EQ(call(), MZ_OK);
    Done();
  }
}

}  // namespace
