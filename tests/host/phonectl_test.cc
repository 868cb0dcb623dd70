// phonectl as a user runs it: its commands, its errors, and an SMS it
// delivers reaching a process that watches the device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/message_store.h"

extern char** environ;

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs phonectl with `args`, capturing its output in files beside the device.
Outcome Phonectl(const std::string& scratch, const std::vector<std::string>& args) {
  std::vector<std::string> words = {PHONECTL};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string out = scratch + ".out", err = scratch + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  Outcome run;
  pid_t pid = 0;
  if (posix_spawn(&pid, PHONECTL, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  unlink(out.c_str());
  unlink(err.c_str());
  return run;
}

class PhonectlTest : public DeviceTest {
 protected:
  Outcome Ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"--device", dir()});
    return Phonectl(dir(), args);
  }
};

TEST_F(PhonectlTest, ReceivedMessageIsListedInItsFolder) {
  Outcome received = Ctl({"receive", "+15550100", "Caf\xc3\xa9 at noon?", "--folder", "drafts"});
  EXPECT_EQ(received.status, 0) << received.err;
  Outcome drafts = Ctl({"messages", "Drafts"});
  EXPECT_EQ(drafts.status, 0) << drafts.err;
  EXPECT_NE(drafts.out.find("from +15550100  Caf\xc3\xa9 at noon?"), std::string::npos)
      << drafts.out;
  EXPECT_EQ(emulator::ListMessages("SMS", "Drafts").back().subject, "Caf\xc3\xa9 at noon?");
}

TEST_F(PhonectlTest, ShowsTheRegistryAndDescribesTheDevice) {
  Outcome init = Ctl({"init"});
  EXPECT_EQ(init.status, 0) << init.err;
  EXPECT_NE(init.out.find("own number: " + emulator::OwnNumber()), std::string::npos) << init.out;
  Outcome registry = Ctl({"registry"});
  EXPECT_NE(registry.out.find("HKCU\\ControlPanel\\Sounds\\RingTone0\\Sound = "
                              "\"\\Windows\\Ring1.wav\""),
            std::string::npos)
      << registry.out;
}

TEST_F(PhonectlTest, EveryErrorIsOneLineAndANonZeroExit) {
  const std::string not_a_device = dir() + "/fs/Windows";
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"--device", dir()}, 2},
      {{"--device", dir(), "dance"}, 2},
      {{"--device", dir(), "receive", "+1555"}, 2},
      {{"--device", dir(), "messages", "--folder", "Inbox"}, 2},
      {{"--device", dir(), "receive", "+1555", "hi", "--folder", "Nowhere"}, 1},
      {{"--device", dir(), "messages", "Nowhere"}, 1},
      {{"--device", not_a_device, "contacts"}, 1},
  };
  for (const auto& c : cases) {
    Outcome run = Phonectl(dir(), c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
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
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { return --refs_; }
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
  std::atomic<ULONG> refs_{1};
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
  IMsgStore* sms = nullptr;
  for (SRowSet* rows = nullptr; sms == nullptr && stores->QueryRows(1, 0, &rows) == S_OK;) {
    bool end = rows->cRows == 0;
    if (!end) {
      const SPropValue* props = rows->aRow[0].lpProps;
      const SPropValue* name = &props[1];
      if (name->ulPropTag == PR_DISPLAY_NAME_W && std::u16string(name->Value.lpszW) == u"SMS") {
        ULONG type = 0;
        session->OpenEntry(props[0].Value.bin.cb,
                           reinterpret_cast<LPENTRYID>(props[0].Value.bin.lpb), nullptr,
                           MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(&sms));
      }
    }
    FreeProws(rows);
    if (end) break;
  }
  stores->Release();
  ASSERT_NE(sms, nullptr);
  RecordingSink sink;
  ULONG connection = 0;
  ASSERT_EQ(sms->Advise(0, nullptr, fnevObjectCreated, &sink, &connection), S_OK);

  EXPECT_EQ(Ctl({"receive", "+15550100", "first"}).status, 0);
  EXPECT_EQ(sink.WaitFor(1).size(), 1u);
  // A second delivery proves the first was announced exactly once: events
  // arrive in order, so a repeat of the first would come before it.
  EXPECT_EQ(Ctl({"receive", "+15550100", "second"}).status, 0);
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
