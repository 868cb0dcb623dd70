// A new message announced to the host's callback through libmz.so, on the
// message store's thread, while the host goes on with its own calls; and
// none after MZ_Done. The platform's notifier_test owns how the notifier
// itself carries messages between processes.
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
std::mutex g_mutex;
std::condition_variable g_arrived;
std::vector<MessageRecord> g_records;

void Receive(MessageRecord* record) {
  {
    std::lock_guard lock(g_mutex);
    g_records.push_back(*record);
  }
  std::free(record);
  g_arrived.notify_all();
}

// The records once `count` have come; the deadline only guards against a
// hang.
std::vector<MessageRecord> WaitForArrivals(std::size_t count) {
  std::unique_lock lock(g_mutex);
  g_arrived.wait_for(lock, std::chrono::seconds(30), [&] { return g_records.size() >= count; });
  return g_records;
}

class NotifyE2e : public E2eTest {
 protected:
  void TearDown() override {
    E2eTest::TearDown();
    EXPECT_EQ(mz().MZ_RegisterCallback(nullptr), MZ_CALLBACK_STORED);
  }
  std::string NextListed() {
    MessageRecord record{};
    const int32_t result = mz().MZ_GetMessageInfo(MZ_FOLDER_INBOX, &record);
    return result == MZ_OK ? e2e::Field(record.entryIdHex) : "result " + std::to_string(result);
  }
};

TEST_F(NotifyE2e, MessageFromAnotherProcessArrivesWhileTheHostListsAndNoneAfterDone) {
  // Held by the test, the messaging subsystem outlives MZ_Done, so only the
  // library's own cancellation can keep its sink from being called.
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  const std::vector<std::string> earlier = {Hex(emulator::ListMessages("SMS", "Inbox")[0].entryId),
                                            Hex(emulator::ListMessages("SMS", "Inbox")[1].entryId)};
  EXPECT_EQ(mz().MZ_RegisterCallback(&Receive), MZ_CALLBACK_STORED);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(NextListed(), earlier[0]);

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
  std::vector<MessageRecord> records = WaitForArrivals(1);
  ASSERT_EQ(records.size(), 1u);
  const std::string id = Hex(emulator::ListMessages("SMS", "Inbox").back().entryId);
  const MessageRecord& record = records[0];
  EXPECT_EQ(record.recordSize, 1260u);
  EXPECT_EQ(record.folder, MZ_FOLDER_INBOX);
  EXPECT_STREQ(record.text,
               "Gr\xFC\xDF"
               "e \x80"
               "5");
  EXPECT_STREQ(record.address, "\"Zo\xEB\" <+15550100>");
  EXPECT_EQ(std::string(record.entryIdHex), id);
  EXPECT_TRUE(std::regex_match(record.timeText, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << record.timeText;
  for (unsigned char b : record.reserved) ASSERT_EQ(b, 0);
  // The listing goes on where it stood; the new message comes last.
  EXPECT_EQ(NextListed(), earlier[1]);
  EXPECT_EQ(NextListed(), id);
  EXPECT_EQ(NextListed(), "result " + std::to_string(MZ_E_NO_MORE));

  // A second session's sink is advised later, so a registration left over
  // from the first would be called first and deliver "after done" before
  // "sentinel".
  Done();
  emulator::ReceiveSms("+15550101", "after done");
  ASSERT_EQ(Init(), MZ_OK);
  emulator::ReceiveSms("+15550101", "sentinel");
  records = WaitForArrivals(2);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_STREQ(records[1].text, "sentinel");
  Done();
  MAPIUninitialize();
}

}  // namespace
