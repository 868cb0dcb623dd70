// MZ_SendMessage: one text message to one number through the SMS radio. It
// needs no session.
#include <cstring>

#include "mz/mz.h"
#include "platform/sms.h"
#include "platform/text.h"

namespace {

// Buffers for the converted number and text, in UTF-16 units with the
// terminator. The host keeps within them; longer input is refused.
constexpr int kNumberUnits = 100;
constexpr int kTextUnits = 210;

// Converts zero-terminated text in the default ANSI code page into a zeroed
// buffer. False when it does not fit or the conversion fails; the buffer may
// then hold part of the text, which is never sent.
bool ToWide(const char* text, WCHAR* output, int capacity) {
  std::memset(output, 0, sizeof(WCHAR) * capacity);
  // Windows-1252 gives one unit per byte: a text that fits in bytes fits in
  // units.
  if (strnlen(text, capacity) >= static_cast<std::size_t>(capacity)) return false;
  return MultiByteToWideChar(CP_ACP, 0, text, -1, output, capacity) > 0;
}

// The text as UTF-16LE bytes without its terminator; returns the byte count.
DWORD ToMessageData(const WCHAR* text, BYTE* data) {
  DWORD units = 0;
  for (; text[units] != 0; ++units) {
    data[2 * units] = static_cast<BYTE>(text[units] & 0xFF);
    data[2 * units + 1] = static_cast<BYTE>(text[units] >> 8);
  }
  return 2 * units;
}

}  // namespace

extern "C" MZ_API int32_t MZ_SendMessage(const char* number, const char* text) {
  // Nothing to send: answered like a message the radio refuses.
  if (number == nullptr || text == nullptr) return MZ_E_FAILED;
  WCHAR wideNumber[kNumberUnits];
  WCHAR wideText[kTextUnits];
  // Refused before the radio is opened: a number or text cut short, or left
  // empty by a failed conversion, would reach the wrong party or say
  // something else.
  if (!ToWide(number, wideNumber, kNumberUnits) || !ToWide(text, wideText, kTextUnits)) {
    return MZ_E_FAILED;
  }

  SMS_HANDLE radio = nullptr;
  if (FAILED(SmsOpen(SMS_MSGTYPE_TEXT, SMS_MODE_SEND, &radio, nullptr))) return MZ_E_FAILED;

  SMS_ADDRESS destination{};
  destination.smsatAddressType = SMSAT_UNKNOWN;  // the number goes as written
  std::memcpy(destination.ptsAddress, wideNumber, sizeof wideNumber);

  TEXT_PROVIDER_SPECIFIC_DATA provider{};
  provider.psMessageClass = PS_MESSAGE_CLASS1;

  BYTE data[2 * kTextUnits];
  const DWORD dataBytes = ToMessageData(wideText, data);

  SMS_MESSAGE_ID messageId = 0;
  const HRESULT sent = SmsSendMessage(radio, nullptr, &destination, nullptr, data, dataBytes,
                                      reinterpret_cast<const BYTE*>(&provider), sizeof provider,
                                      SMSDE_OPTIMAL, SMS_OPTION_DELIVERY_NONE, &messageId);
  SmsClose(radio);
  return FAILED(sent) ? MZ_E_FAILED : MZ_OK;
}
