// The SMS radio: opening, sending into the device's log, refusing malformed
// messages, closing, and delivery to the device's own number.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"
#include "platform/sms.h"

namespace {

using SmsTest = DeviceTest;

// A message as the library builds it: unknown address type, class 1, the
// text as UTF-16LE bytes.
struct Message {
  SMS_ADDRESS address{};
  TEXT_PROVIDER_SPECIFIC_DATA provider{};
  std::vector<BYTE> data;
  DWORD dataBytes = 0;
  DWORD providerBytes = sizeof(TEXT_PROVIDER_SPECIFIC_DATA);
  SMS_DATA_ENCODING encoding = SMSDE_OPTIMAL;

  Message(std::u16string_view number, std::u16string_view text) {
    address.smsatAddressType = SMSAT_UNKNOWN;
    number.copy(address.ptsAddress, SMS_MAX_ADDRESS_LENGTH - 1);
    provider.psMessageClass = PS_MESSAGE_CLASS1;
    data.resize(text.size() * 2 + 2);  // one spare byte pair for odd sizes
    std::memcpy(data.data(), text.data(), text.size() * 2);
    dataBytes = static_cast<DWORD>(text.size() * 2);
  }

  HRESULT Send(SMS_HANDLE handle) const {
    return SmsSendMessage(handle, nullptr, &address, nullptr, data.empty() ? nullptr : data.data(),
                          dataBytes, reinterpret_cast<const BYTE*>(&provider), providerBytes,
                          encoding, SMS_OPTION_DELIVERY_NONE, nullptr);
  }
};

SMS_HANDLE Open() {
  SMS_HANDLE handle = nullptr;
  EXPECT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, nullptr), S_OK);
  return handle;
}

TEST_F(SmsTest, OpenOffersOnlyTheTextProviderForSendingAndCountsTheHandle) {
  SMS_HANDLE handle = nullptr;
  void* event = nullptr;
  EXPECT_EQ(SmsOpen(u"Microsoft Text SMS Protocol2", SMS_MODE_SEND, &handle, nullptr),
            SMS_E_INVALIDPROTOCOL);
  EXPECT_EQ(SmsOpen(u"microsoft text sms protocol", SMS_MODE_SEND, &handle, nullptr),
            SMS_E_INVALIDPROTOCOL);
  EXPECT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_RECEIVE, &handle, nullptr), E_INVALIDARG);
  EXPECT_EQ(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &handle, &event), E_INVALIDARG);
  EXPECT_EQ(handle, nullptr);

  const long buffers = emulator::OutstandingBuffers();
  handle = Open();
  EXPECT_EQ(emulator::OutstandingBuffers(), buffers + 1);  // an open handle is accounted
  EXPECT_EQ(SmsClose(handle), S_OK);
  EXPECT_EQ(SmsClose(handle), SMS_E_BADHANDLE);
}

TEST_F(SmsTest, SendRecordsWhatTheRadioSent) {
  SMS_HANDLE handle = Open();
  EXPECT_EQ(Message(u"+44 20 7946 0000", u"Caf\u00e9 \U0001F600").Send(handle), S_OK);
  EXPECT_EQ(Message(u"0123", u"").Send(handle), S_OK);
  EXPECT_EQ(SmsClose(handle), S_OK);

  const auto sent = emulator::SentMessages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].addressType, SMSAT_UNKNOWN);
  EXPECT_EQ(sent[0].address, "+44 20 7946 0000");
  EXPECT_EQ(sent[0].text, "Caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(sent[0].dataBytes, 14u);  // the non-BMP character takes two units
  EXPECT_EQ(sent[0].messageClass, PS_MESSAGE_CLASS1);
  EXPECT_EQ(sent[0].encoding, SMSDE_OPTIMAL);
  EXPECT_EQ(sent[0].options, SMS_OPTION_DELIVERY_NONE);
  EXPECT_GT(sent[0].time, 130000000000000000u);  // after 2012
  EXPECT_EQ(sent[1].text, "");
  EXPECT_EQ(sent[1].dataBytes, 0u);
}

TEST_F(SmsTest, MalformedMessagesAndBadHandlesAreRefusedAndNothingIsSent) {
  struct Case {
    const char* what;
    std::function<void(Message&)> spoil;
    HRESULT expected;
  };
  const Case cases[] = {
      {"odd data size", [](Message& m) { m.dataBytes = 3; }, SMS_E_INVALIDDATA},
      {"data missing", [](Message& m) { m.data.clear(); }, E_INVALIDARG},
      {"687-byte block", [](Message& m) { m.providerBytes = 687; }, E_INVALIDARG},
      {"bad address type", [](Message& m) { m.address.smsatAddressType = 3; }, E_INVALIDARG},
      {"empty address", [](Message& m) { m.address.ptsAddress[0] = 0; }, E_INVALIDARG},
      {"unterminated address",
       [](Message& m) { std::fill_n(m.address.ptsAddress, SMS_MAX_ADDRESS_LENGTH, u'5'); },
       E_INVALIDARG},
      {"class 4", [](Message& m) { m.provider.psMessageClass = 4; }, SMS_E_INVALIDDATA},
      {"unknown encoding", [](Message& m) { m.encoding = 3; }, E_INVALIDARG},
      {"too long", [](Message& m) { m = Message(u"0123", std::u16string(70 * 153 + 1, u'x')); },
       SMS_E_INVALIDDATA},
  };
  SMS_HANDLE handle = Open();
  for (const auto& c : cases) {
    Message message(u"0123", u"hi");
    c.spoil(message);
    EXPECT_EQ(message.Send(handle), c.expected) << c.what;
  }
  const Message good(u"0123", u"hi");
  EXPECT_EQ(
      SmsSendMessage(handle, nullptr, nullptr, nullptr, good.data.data(), 4,
                     reinterpret_cast<const BYTE*>(&good.provider), 688, SMSDE_OPTIMAL, 0, nullptr),
      E_INVALIDARG);
  int stray = 0;
  EXPECT_EQ(good.Send(reinterpret_cast<SMS_HANDLE>(&stray)), SMS_E_BADHANDLE);
  EXPECT_EQ(SmsClose(handle), S_OK);
  EXPECT_EQ(good.Send(handle), SMS_E_BADHANDLE);
  EXPECT_TRUE(emulator::SentMessages().empty());
}

TEST_F(SmsTest, MessageToTheOwnNumberArrivesInTheInboxWrittenAnyWay) {
  ASSERT_EQ(emulator::OwnNumber(), "+15550199");
  const std::size_t before = emulator::ListMessages("SMS", "Inbox").size();
  SMS_HANDLE handle = Open();
  EXPECT_EQ(Message(u"1 555 0199", u"to myself \u00e9").Send(handle), S_OK);
  EXPECT_EQ(Message(u"+15550198", u"to someone else").Send(handle), S_OK);
  emulator::SetOwnNumber("+44 7700 900123");
  EXPECT_EQ(Message(u"+15550199", u"no longer mine").Send(handle), S_OK);
  EXPECT_EQ(Message(u"447700900123", u"new number").Send(handle), S_OK);
  EXPECT_EQ(SmsClose(handle), S_OK);

  EXPECT_EQ(emulator::SentMessages().size(), 4u);
  const auto inbox = emulator::ListMessages("SMS", "Inbox");
  ASSERT_EQ(inbox.size(), before + 2);
  std::vector<std::pair<std::string, std::string>> arrived;  // (subject, sender)
  for (std::size_t i = before; i < inbox.size(); ++i)
    arrived.emplace_back(inbox[i].subject.value_or(""), inbox[i].sender.value_or(""));
  std::sort(arrived.begin(), arrived.end());
  EXPECT_EQ(arrived, (std::vector<std::pair<std::string, std::string>>{
                         {"new number", "+44 7700 900123"}, {"to myself \xC3\xA9", "+15550199"}}));
}

}  // namespace
