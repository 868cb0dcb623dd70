// Several hosts on one device: the device lock makes whole mzhost commands
// take turns, so no contact is lost, doubled or mixed, and a host that was
// killed leaves a sound store behind. No check depends on how the processes
// happen to interleave.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mzhost_fixture.h"
#include "vcf.h"

namespace {

using ConcurrencyTest = MzhostTest;

// The family names of the phone's contacts, sorted; each contact must be a
// whole numbered card.
std::vector<std::string> StoredFamilies() {
  std::vector<std::string> families;
  for (auto oid : emulator::ContactOids()) {
    const auto contact = emulator::ReadContact(oid).value();
    const std::string family = contact.text.at("LastName");
    EXPECT_EQ(contact.text, NumberedContact(family, family.substr(0, 1)));
    families.push_back(family);
  }
  std::sort(families.begin(), families.end());
  return families;
}

TEST_F(ConcurrencyTest, TwoImportsAtOnceStoreEveryCardExactlyOnce) {
  Write(File("a.vcf"), NumberedCards("A", 320));
  Write(File("b.vcf"), NumberedCards("B", 320));
  RunningProgram a(Argv({"contacts", "import", File("a.vcf")}));
  RunningProgram b(Argv({"contacts", "import", File("b.vcf")}));
  EXPECT_EQ(a.Wait().status, 0);
  EXPECT_EQ(b.Wait().status, 0);
  // Each took the lock once and counted it; neither is named as its holder.
  EXPECT_EQ(FileContents(File("device.lock")), "\n2\n");
  std::vector<std::string> expected;
  for (int i = 0; i < 320; ++i)
    expected.insert(expected.end(), {"A" + std::to_string(i), "B" + std::to_string(i)});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(StoredFamilies(), expected);
}

TEST_F(ConcurrencyTest, AnExportDuringDeletesIsOneConsistentSnapshot) {
  for (int i = 0; i < 300; ++i) {
    emulator::SeedContact({{"LastName", "F" + std::to_string(i)}, {"FirstName", "Ann"}});
  }
  const std::vector<uint32_t> oids = emulator::ContactOids();
  const std::vector<mzhost::Card> cards = mzhost::SplitCards(Mzhost({"contacts", "export"}).out);
  ASSERT_EQ(cards.size(), oids.size());
  // Every tenth contact is deleted in order: the states before any delete
  // and after each.
  std::set<std::string> states;
  for (std::size_t done = 0; done <= oids.size(); done += 10) {
    std::string state;
    for (std::size_t i = 0; i < cards.size(); ++i) {
      if (i % 10 != 0 || i >= done) state += cards[i].text;
    }
    states.insert(state);
  }
  std::thread deleter([&] {
    for (std::size_t i = 0; i < oids.size(); i += 10) {
      EXPECT_EQ(Mzhost({"contacts", "delete", std::to_string(oids[i])}).status, 0);
    }
  });
  for (int round = 0; round < 5; ++round) {
    const ProgramRun run = Mzhost({"contacts", "export"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(states.count(run.out), 1u) << run.out;
  }
  deleter.join();
}

// Without a bound a host waits for the lock, says so once and goes on once
// the lock is free; Ctrl-C ends a wait like any other.
TEST_F(ConcurrencyTest, AHostWaitsForTheLockNamingItsHolder) {
  // The lock held by the test process as another host would hold it.
  Write(File("device.lock"), std::to_string(getpid()) + " the test\n");
  const int lock = open(File("device.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  RunningProgram waiting(Argv({"contacts", "count"}));
  const std::string line = "mzhost: waiting for process " + std::to_string(getpid()) +
                           " (the test), which is using the phone in " + dir() + "\n";
  ASSERT_TRUE(waiting.WaitForErr(line)) << waiting.Err();
  RunningProgram interrupted(Argv({"contacts", "clear"}));
  ASSERT_TRUE(interrupted.WaitForErr(line)) << interrupted.Err();
  interrupted.Signal(SIGINT);
  const ProgramRun stopped = interrupted.Wait();
  EXPECT_EQ(stopped.status, 130);
  EXPECT_EQ(stopped.err, line + "mzhost: interrupted\n");

  close(lock);
  const ProgramRun run = waiting.Wait();
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0\n");
  EXPECT_EQ(run.err, line);
}

// A command holds the lock for its whole run and names itself in the lock
// file, which a host that gives up repeats; a watch holds the lock only
// around its library calls, and Ctrl-C, a hang-up or termination end it.
TEST_F(ConcurrencyTest, TheLockFileNamesTheMzhostThatHoldsIt) {
  const std::string fifo = File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The export holds the phone while it waits for a reader of its output.
  RunningProgram exporter(Argv({"contacts", "export", "-o", fifo}));
  const std::string says = "mzhost: process " + std::to_string(exporter.pid()) +
                           " (mzhost contacts export -o " + fifo + ") still holds the phone in " +
                           dir() + " after 0 seconds; giving up\n";
  // Until the exporter has taken the lock and written its line.
  ProgramRun run;
  while (run.err.find(says) == std::string::npos && exporter.Running()) {
    run = Mzhost({"--wait", "0", "contacts", "count"});
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, says);
  EXPECT_EQ(FileContents(fifo), "");  // the phone holds no contacts; the FIFO stays one
  EXPECT_EQ(exporter.Wait().status, 0);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  for (int signal : {SIGINT, SIGHUP, SIGTERM}) {
    RunningProgram watch(Argv({"messages", "watch"}));
    ASSERT_TRUE(watch.WaitForErr("watching")) << watch.Err();
    EXPECT_EQ(Mzhost({"--wait", "0", "contacts", "count"}).status, 0);
    watch.Signal(signal);
    run = watch.Wait();
    EXPECT_EQ(run.status, 130) << signal;
    EXPECT_EQ(run.err, "watching for new messages; Ctrl-C stops\nmzhost: interrupted\n");
  }
}

TEST_F(ConcurrencyTest, AnImportKilledAtAnyMomentLeavesOnlyWholeContacts) {
  Write(File("many.vcf"), NumberedCards("K", 3000));
  for (std::size_t stored : {1, 150, 700, 1400, 2600}) {
    SCOPED_TRACE(stored);
    const std::size_t target = emulator::ContactOids().size() + stored;
    RunningProgram import(Argv({"contacts", "import", File("many.vcf")}));
    while (emulator::ContactOids().size() < target && import.Running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    import.Signal(SIGKILL);
    import.Wait();
    EXPECT_EQ(Sql(File("device.db"), "PRAGMA integrity_check"), "ok");
    StoredFamilies();
  }
  // The killed host's lock died with it: the next one need not wait.
  Write(File("one.vcf"), NumberedCards("K", 1, 7));
  const ProgramRun run = Mzhost({"--wait", "0", "contacts", "import", File("one.vcf")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(emulator::ReadContact(emulator::ContactOids().back())->text,
            NumberedContact("K7", "K"));
}

}  // namespace
