// Sending SMS through libmz.so, as the emulated radio records it. Failures
// of the radio's calls are in the fault table (faults_test.cc), but for a
// failed close, which the platform survives only in a process of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

using SendE2e = E2eTest;

TEST_F(SendE2e, RadioGetsTheNumberAsWrittenAndTheTextInClassOneWithOrWithoutASession) {
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
  for (const bool session : {false, true}) {
    if (session) {
      ASSERT_EQ(Init(), MZ_OK);
    }
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << c.sent.substr(0, 20) << (session ? " in" : " without") << " a session");
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
  }
  Done();
  EXPECT_EQ(mz().MZ_SendMessage("+15550123", "after"), MZ_OK);
  EXPECT_EQ(emulator::SentMessages().size(), 2 * std::size(cases) + 1);
}

TEST_F(SendE2e, RefusesWhatItCannotSendAndSendsNothing) {
  const std::string number100(100, '7'), text210(210, 'z');
  EXPECT_EQ(mz().MZ_SendMessage(number100.c_str(), "hi"), MZ_E_FAILED);
  EXPECT_EQ(mz().MZ_SendMessage("+15550123", text210.c_str()), MZ_E_FAILED);
  EXPECT_EQ(mz().MZ_SendMessage(nullptr, "hi"), MZ_E_FAILED);
  EXPECT_EQ(mz().MZ_SendMessage("+15550123", nullptr), MZ_E_FAILED);
  EXPECT_EQ(mz().MZ_SendMessage("", "hi"), MZ_E_FAILED) << "refused by the radio";
  EXPECT_TRUE(emulator::SentMessages().empty());
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
