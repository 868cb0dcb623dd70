// Sending SMS through libmz.so, as the emulated radio records it. Refusals
// and sending in a session are rows of the argument table
// (tests/data/e2e/arguments.tsv); failures of the radio's calls are in the
// fault table (faults_test.cc), but for a failed close, which the platform
// survives only in a process of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

using SendE2e = E2eTest;

TEST_F(SendE2e, RadioGetsTheNumberAsWrittenAndTheTextInClassOne) {
  const struct {
    std::string number;
    std::string text;  // Windows-1252
    std::string sent;  // UTF-8
    std::uint32_t dataBytes;
  } cases[] = {
      {"+15550123", "Hello", "Hello", 10},
      {"0123 456-789", std::string(160, 'a'), std::string(160, 'a'), 320},
      {"+15550123", "", "", 0},
      {"5550123", "caf\xE9 \x80", "caf\u00e9 \u20ac", 12},
      {std::string(99, '7'), std::string(209, 'z'), std::string(209, 'z'), 418},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent.substr(0, 20));
    ASSERT_EQ(mz().MZ_SendMessage(c.number.c_str(), c.text.c_str()), MZ_OK);
    const std::vector<emulator::SentSms> sent = emulator::SentMessages();
    ASSERT_FALSE(sent.empty());
    const emulator::SentSms& last = sent.back();
    EXPECT_EQ(std::tie(last.address, last.text, last.dataBytes),
              std::tie(c.number, c.sent, c.dataBytes));
    // Address type, class, encoding and options.
    EXPECT_EQ(std::tie(last.addressType, last.messageClass, last.encoding, last.options),
              std::make_tuple(0u, 1u, 0u, 0u));
  }
  EXPECT_EQ(emulator::SentMessages().size(), std::size(cases));
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
