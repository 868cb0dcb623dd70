// New messages announced to the host's callback through libmz.so, on the
// message store's thread, while the host goes on with its own calls.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

extern char** environ;

namespace {

// What the callback received, copied; the callback frees each record the way
// the header tells the host to.
struct Arrivals {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<MessageRecord> records;
};
Arrivals g_arrivals;

void Receive(MessageRecord* record) {
  {
    std::lock_guard lock(g_arrivals.mutex);
    g_arrivals.records.push_back(*record);
  }
  std::free(record);
  g_arrivals.arrived.notify_all();
}

// The records once `count` have come; the deadline only guards against a
// hang.
std::vector<MessageRecord> WaitForArrivals(std::size_t count) {
  std::unique_lock lock(g_arrivals.mutex);
  g_arrivals.arrived.wait_for(lock, std::chrono::seconds(30),
                              [&] { return g_arrivals.records.size() >= count; });
  return g_arrivals.records;
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

// "YYYY-MM-DD hh:mm:ss"
bool LooksLikeATime(const std::string& text) {
  if (text.size() != 19) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char expected = i == 4 || i == 7 ? '-' : i == 10 ? ' ' : i == 13 || i == 16 ? ':' : '#';
    if (expected == '#' ? (text[i] < '0' || text[i] > '9') : text[i] != expected) return false;
  }
  return true;
}

class NotifyE2e : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    std::lock_guard lock(g_arrivals.mutex);
    g_arrivals.records.clear();
  }
  void TearDown() override {
    E2eTest::TearDown();  // MZ_Done: nothing reaches the callback after it
    mz().MZ_RegisterCallback(nullptr);
  }

  // `phonectl receive`, a process of its own, delivers an SMS to the device.
  void ReceiveFromAnotherProcess(const std::string& from, const std::string& text) {
    const std::string device = dir();
    std::vector<char*> argv = {const_cast<char*>(PHONECTL),
                               const_cast<char*>("--device"),
                               const_cast<char*>(device.c_str()),
                               const_cast<char*>("receive"),
                               const_cast<char*>(from.c_str()),
                               const_cast<char*>(text.c_str()),
                               nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, PHONECTL, nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "phonectl receive failed";
  }

  std::string NextListed() {
    MessageRecord record{};
    const int32_t result = mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record);
    return result == MZ_OK ? record.entryIdHex : "result " + std::to_string(result);
  }
};

TEST_F(NotifyE2e, RegisteringAnswersOneForAnyCallback) {
  EXPECT_EQ(mz().MZ_RegisterCallback(nullptr), MZ_CALLBACK_STORED);
  EXPECT_EQ(mz().MZ_RegisterCallback(&Receive), MZ_CALLBACK_STORED);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_RegisterCallback(&Receive), MZ_CALLBACK_STORED);
}

TEST_F(NotifyE2e, MessageFromAnotherProcessArrivesWhileTheHostIsListing) {
  for (const char* text : {"one", "two", "three"}) emulator::ReceiveSms("+15550101", text);
  std::vector<std::string> earlier;
  for (const auto& message : emulator::ListMessages("SMS", "Inbox")) {
    earlier.push_back(Hex(message.entryId));
  }
  mz().MZ_RegisterCallback(&Receive);
  ASSERT_EQ(Init(), MZ_OK);
  ASSERT_EQ(mz().MZ_StartGetMessage(MZ_FOLDER_INBOX), MZ_OK);
  EXPECT_EQ(NextListed(), earlier[0]);
  EXPECT_EQ(NextListed(), earlier[1]);

  // Sender and text in UTF-8 on the command line; the record has them in
  // Windows-1252, the sender as written.
  ReceiveFromAnotherProcess("\"Zo\u00eb\" <+15550100>", "Gr\u00fc\u00dfe \u20ac5");
  const std::vector<MessageRecord> records = WaitForArrivals(1);
  ASSERT_EQ(records.size(), 1u);
  const MessageRecord& record = records[0];
  const std::vector<emulator::StoredMessage> inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_EQ(inbox.size(), earlier.size() + 1);
  EXPECT_EQ(record.recordSize, 1260u);
  EXPECT_EQ(record.folder, MZ_FOLDER_INBOX);
  EXPECT_STREQ(record.text,
               "Gr\xFC\xDF"
               "e \x80"
               "5");
  EXPECT_STREQ(record.address, "\"Zo\xEB\" <+15550100>");
  EXPECT_EQ(std::string(record.entryIdHex), Hex(inbox.back().entryId));
  EXPECT_TRUE(LooksLikeATime(record.timeText)) << record.timeText;
  EXPECT_EQ(std::memcmp(record.reserved, std::string(sizeof record.reserved, '\0').data(),
                        sizeof record.reserved),
            0);

  // The listing goes on where it stood; the new message comes last.
  for (std::size_t i = 2; i < earlier.size(); ++i) EXPECT_EQ(NextListed(), earlier[i]);
  EXPECT_EQ(NextListed(), Hex(inbox.back().entryId));
  EXPECT_EQ(NextListed(), "result " + std::to_string(MZ_E_NO_MORE));
}

TEST_F(NotifyE2e, MessageSentToTheOwnNumberReachesTheCallback) {
  mz().MZ_RegisterCallback(&Receive);
  ASSERT_EQ(Init(), MZ_OK);
  const std::string own = emulator::OwnNumber();
  ASSERT_FALSE(own.empty());
  ASSERT_EQ(mz().MZ_SendMessage(own.c_str(), "back to me \xE9"), MZ_OK);
  const std::vector<MessageRecord> records = WaitForArrivals(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].text, "back to me \xE9");
  EXPECT_EQ(std::string(records[0].address), own);
  const auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_FALSE(inbox.empty());
  EXPECT_EQ(std::string(records[0].entryIdHex), Hex(inbox.back().entryId));
}

TEST_F(NotifyE2e, NothingReachesTheCallbackAfterDone) {
  // Held by the test, the messaging subsystem outlives MZ_Done, so only the
  // library's own cancellation can keep its sink from being called.
  struct Messaging {
    Messaging() { EXPECT_EQ(MAPIInitialize(nullptr), S_OK); }
    ~Messaging() { MAPIUninitialize(); }
  } held;
  mz().MZ_RegisterCallback(&Receive);
  ASSERT_EQ(Init(), MZ_OK);
  Done();
  emulator::ReceiveSms("+15550101", "after done");
  // A second session's sink is advised later, so a registration left over
  // from the first would be called first and deliver "after done" before
  // "sentinel".
  ASSERT_EQ(Init(), MZ_OK);
  emulator::ReceiveSms("+15550101", "sentinel");
  const std::vector<MessageRecord> records = WaitForArrivals(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_STREQ(records[0].text, "sentinel");
  Done();
}

}  // namespace
