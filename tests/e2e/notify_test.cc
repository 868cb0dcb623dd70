// New messages announced to the host's callback through libmz.so, on the
// message store's thread, while the host goes on with its own calls.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

extern char** environ;

namespace {

using e2e::Hex;

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

  std::string NextListed() {
    MessageRecord record{};
    const int32_t result = mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record);
    return result == MZ_OK ? e2e::Field(record.entryIdHex) : "result " + std::to_string(result);
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

  // `phonectl receive`, a process of its own, delivers an SMS with sender
  // and text in UTF-8 on the command line; the record has them in
  // Windows-1252, the sender as written.
  const std::string device = dir();
  const char* argv[] = {PHONECTL,
                        "--device",
                        device.c_str(),
                        "receive",
                        "\"Zo\u00eb\" <+15550100>",
                        "Gr\u00fc\u00dfe \u20ac5",
                        nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, PHONECTL, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "phonectl receive failed";
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
  EXPECT_TRUE(std::regex_match(record.timeText, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << record.timeText;
  for (unsigned char b : record.reserved) ASSERT_EQ(b, 0);

  // The listing goes on where it stood; the new message comes last.
  for (std::size_t i = 2; i < earlier.size(); ++i) EXPECT_EQ(NextListed(), earlier[i]);
  EXPECT_EQ(NextListed(), Hex(inbox.back().entryId));
  EXPECT_EQ(NextListed(), "result " + std::to_string(MZ_E_NO_MORE));
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
