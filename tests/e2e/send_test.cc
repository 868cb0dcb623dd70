// Sending SMS through libmz.so, as the emulated radio records it. Refusals
// and sending in a session are rows of the argument table
// (tests/data/e2e/arguments.tsv); failures of the radio's calls are in the
// fault table (faults_test.cc), but for a failed close, which the platform
// survives only in a process of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

using SendE2e = E2eTest;

// The ASCII cases are rows of the argument table.
TEST_F(SendE2e, RadioGetsTheTextFromWindows1252) {
  ASSERT_EQ(mz().MZ_SendMessage("5550123", "caf\xE9 \x80"), MZ_OK);
  ASSERT_EQ(emulator::SentMessages().size(), 1u);
  EXPECT_EQ(emulator::SentMessages()[0].text, "caf\u00e9 \u20ac");
  EXPECT_EQ(emulator::SentMessages()[0].dataBytes, 12u);
}

// The platform keeps a handle it failed to close, so the case runs in a
// process of its own, whose end releases it.
TEST_F(SendE2e, FailedCloseStillReportsTheSend) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        emulator::InjectFault("SmsClose", 1, E_FAIL);
        const bool sent = mz().MZ_SendMessage("+15550123", "sent anyway") == MZ_OK &&
                          emulator::SentMessages().size() == 1 &&
                          emulator::CallCount("SmsClose") == 1;
        const std::string device = dir();
        emulator::CloseDevice();
        emulator::RemoveDeviceDir(device);
        std::_Exit(sent ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
