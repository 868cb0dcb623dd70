// Sending SMS through libmz.so, as the emulated radio records it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "e2e.h"
#include "platform/emulator.h"

namespace {

class SendE2e : public E2eTest {
 protected:
  static std::size_t SentCount() { return emulator::SentMessages().size(); }
};

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
    EXPECT_EQ(last.addressType, 0u);
    EXPECT_EQ(last.address, c.number);
    EXPECT_EQ(last.text, c.sent);
    EXPECT_EQ(last.dataBytes, c.dataBytes);
    EXPECT_EQ(last.messageClass, 1u);
    EXPECT_EQ(last.encoding, 0u);
    EXPECT_EQ(last.options, 0u);
  }
  EXPECT_EQ(SentCount(), std::size(cases));
  ExpectNothingHeld();
}

TEST_F(SendE2e, SendsTheSameWithOrWithoutASession) {
  EXPECT_EQ(mz().MZ_SendMessage("+15550123", "before"), MZ_OK);
  ASSERT_EQ(Init(), MZ_OK);
  EXPECT_EQ(mz().MZ_SendMessage("+15550123", "during"), MZ_OK);
  Done();
  EXPECT_EQ(mz().MZ_SendMessage("+15550123", "after"), MZ_OK);
  std::vector<std::string> texts;
  for (const auto& sent : emulator::SentMessages()) texts.push_back(sent.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"before", "during", "after"}));
  ExpectNothingHeld();
}

TEST_F(SendE2e, RefusesWhatItCannotSendAndSendsNothing) {
  const std::string number100(100, '7');
  const std::string text210(210, 'z');
  const struct {
    const char* name;
    const char* number;
    const char* text;
  } cases[] = {
      {"number over 99 characters", number100.c_str(), "hi"},
      {"text over 209 characters", "+15550123", text210.c_str()},
      {"no number", nullptr, "hi"},
      {"no text", "+15550123", nullptr},
      {"empty number, refused by the radio", "", "hi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mz().MZ_SendMessage(c.number, c.text), MZ_E_FAILED);
  }
  EXPECT_EQ(SentCount(), 0u);
  ExpectNothingHeld();
}

TEST_F(SendE2e, EveryFailingPlatformCallFailsTheSendAndClosesTheRadio) {
  const auto points =
      e2e::TraceFaultPoints([&] { ASSERT_EQ(mz().MZ_SendMessage("+15550123", "traced"), MZ_OK); });
  ASSERT_FALSE(points.empty());
  for (const e2e::FaultPoint& point : points) {
    // A close that fails after the send: see the test below.
    if (point.name == "SmsClose") continue;
    SCOPED_TRACE(::testing::PrintToString(point));
    emulator::InjectFault(point.name, point.nth, e2e::FailureFor(point.name));
    EXPECT_EQ(mz().MZ_SendMessage("+15550123", "faulted"), MZ_E_FAILED);
    emulator::ClearFaults();
    ExpectNothingHeld();
  }
  EXPECT_EQ(SentCount(), 1u) << "only the traced message went out";
}

// The platform keeps a handle it failed to close, so the case runs in a
// process of its own, whose end releases it.
TEST_F(SendE2e, FailedCloseStillReportsTheSend) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        emulator::InjectFault("SmsClose", 1, E_FAIL);
        const bool sent = mz().MZ_SendMessage("+15550123", "sent anyway") == MZ_OK &&
                          SentCount() == 1 && emulator::CallCount("SmsClose") == 1;
        const std::string device = dir();
        emulator::CloseDevice();
        emulator::RemoveDeviceDir(device);
        std::_Exit(sent ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
