// phonectl as a user runs it: its commands, its errors, and an SMS it
// delivers reaching a process that watches the device.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/message_store.h"
#include "program.h"

namespace {

// Runs phonectl with `args`.
ProgramRun Phonectl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {PHONECTL};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv);
}

using PhonectlTest = DeviceTest;

// Rows run in order on one device; a command that succeeds prints `shows`,
// one that fails prints nothing and a single "phonectl: " line to stderr.
TEST_F(PhonectlTest, CommandsPrintWhatTheyDidAndErrorsAreOneLineAndANonZeroExit) {
  const std::string d = dir();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string shows = "";
  } cases[] = {
      {{"--device", d, "receive", "+15550100", "Caf\xc3\xa9 at noon?", "--folder", "drafts"}, 0},
      {{"--device", d, "messages", "Drafts"}, 0, "from +15550100  Caf\xc3\xa9 at noon?"},
      {{"--device", d, "init"}, 0, "own number: " + emulator::OwnNumber()},
      {{"--device", d, "registry"},
       0,
       "HKCU\\ControlPanel\\Sounds\\RingTone0\\Sound = \"\\Windows\\Ring1.wav\""},
      {{"--device", d}, 2},
      {{"--device", d, "dance"}, 2},
      {{"--device", d, "receive", "+1555"}, 2},
      {{"--device", d, "messages", "--folder", "Inbox"}, 2},
      {{"--device", d, "receive", "+1555", "hi", "--folder", "Nowhere"}, 1},
      {{"--device", d, "messages", "Nowhere"}, 1},
      {{"--device", d + "/fs/Windows", "contacts"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ProgramRun run = Phonectl(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.status == 0) {
      EXPECT_NE(run.out.find(c.shows), std::string::npos) << run.out;
      continue;
    }
    EXPECT_TRUE(run.out.empty()) << run.out;
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(run.err.rfind("phonectl: ", 0), 0u) << run.err;
  }
}

// Records the object-created events it is given.
class RecordingSink final : public IMAPIAdviseSink {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }  // lives on the test's stack
  ULONG Release() override { return 1; }
  ULONG OnNotify(ULONG count, NOTIFICATION* notifications) override {
    std::lock_guard lock(mutex_);
    for (ULONG i = 0; i < count; ++i) {
      const auto& obj = notifications[i].info.obj;
      if (notifications[i].ulEventType == fnevObjectCreated && obj.ulObjType == MAPI_MESSAGE) {
        ids_.emplace_back(reinterpret_cast<const char*>(obj.lpEntryID), obj.cbEntryID);
      }
    }
    changed_.notify_all();
    return 0;
  }
  // The ids seen once `count` have arrived; the deadline only guards a hang.
  std::vector<std::string> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return ids_.size() >= count; });
    return ids_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> ids_;
};

TEST_F(PhonectlTest, ReceiveIsAnnouncedOnceToAWatchingProcess) {
  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  IMAPISession* session = nullptr;
  ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), S_OK);
  IMAPITable* stores = nullptr;
  ASSERT_EQ(session->GetMsgStoresTable(MAPI_UNICODE, &stores), S_OK);
  SRowSet* rows = nullptr;
  ASSERT_EQ(stores->QueryRows(1, 0, &rows), S_OK);  // SMS comes first
  ASSERT_EQ(rows->cRows, 1u);
  ASSERT_EQ(rows->aRow[0].lpProps[1].ulPropTag, PR_DISPLAY_NAME_W);
  ASSERT_EQ(std::u16string(rows->aRow[0].lpProps[1].Value.lpszW), u"SMS");
  const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
  IMsgStore* sms = nullptr;
  ULONG type = 0;
  EXPECT_EQ(session->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr,
                               MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(&sms)),
            S_OK);
  FreeProws(rows);
  stores->Release();
  ASSERT_NE(sms, nullptr);
  RecordingSink sink;
  ULONG connection = 0;
  ASSERT_EQ(sms->Advise(0, nullptr, fnevObjectCreated, &sink, &connection), S_OK);

  EXPECT_EQ(Phonectl({"--device", dir(), "receive", "+15550100", "first"}).status, 0);
  EXPECT_EQ(sink.WaitFor(1).size(), 1u);
  // A second delivery proves the first was announced exactly once: events
  // arrive in order, so a repeat of the first would come before it.
  EXPECT_EQ(Phonectl({"--device", dir(), "receive", "+15550100", "second"}).status, 0);
  std::vector<std::string> seen = sink.WaitFor(2);

  auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_GE(inbox.size(), 2u);
  EXPECT_EQ(seen,
            (std::vector<std::string>{inbox[inbox.size() - 2].entryId, inbox.back().entryId}));
  EXPECT_EQ(sms->Unadvise(connection), S_OK);
  sms->Release();
  session->Logoff(0, 0, 0);
  session->Release();
  MAPIUninitialize();
}

}  // namespace
