// The SMS radio.
//
// SmsOpen gives a handle for one provider and mode, SmsSendMessage sends
// through it, SmsClose releases it. The emulated radio records every message
// it sends in the device; a message to the device's own number comes back
// into the SMS store's Inbox as a new message.
#pragma once

#include "platform/types.h"

using SMS_HANDLE = struct SmsSession*;
using SMS_ADDRESS_TYPE = DWORD;
using SMS_DATA_ENCODING = DWORD;
using SMS_MESSAGE_ID = DWORD;

inline constexpr DWORD SMS_MODE_RECEIVE = 1;
inline constexpr DWORD SMS_MODE_SEND = 2;

inline constexpr SMS_ADDRESS_TYPE SMSAT_UNKNOWN = 0;
inline constexpr SMS_ADDRESS_TYPE SMSAT_INTERNATIONAL = 1;
inline constexpr SMS_ADDRESS_TYPE SMSAT_NATIONAL = 2;

inline constexpr SMS_DATA_ENCODING SMSDE_OPTIMAL = 0;
inline constexpr SMS_DATA_ENCODING SMSDE_GSM = 1;
inline constexpr SMS_DATA_ENCODING SMSDE_UCS2 = 2;

inline constexpr DWORD SMS_OPTION_DELIVERY_NONE = 0;
inline constexpr std::size_t SMS_MAX_ADDRESS_LENGTH = 256;

// The provider of plain text messages, the only one this phone has.
inline constexpr WCHAR SMS_MSGTYPE_TEXT[] = u"Microsoft Text SMS Protocol";

struct SMS_ADDRESS {
  SMS_ADDRESS_TYPE smsatAddressType;
  WCHAR ptsAddress[SMS_MAX_ADDRESS_LENGTH];
};

// Message classes of the text provider.
inline constexpr DWORD PS_MESSAGE_CLASS0 = 0;
inline constexpr DWORD PS_MESSAGE_CLASS1 = 1;
inline constexpr DWORD PS_MESSAGE_CLASS2 = 2;
inline constexpr DWORD PS_MESSAGE_CLASS3 = 3;

// The text provider's block that travels with each message: options, the
// message class, the replace option and the size of user header data, then
// room the provider keeps for itself.
struct TEXT_PROVIDER_SPECIFIC_DATA {
  DWORD dwMessageOptions;
  DWORD psMessageClass;
  DWORD psReplaceOption;
  DWORD dwHeaderDataSize;
  BYTE reserved[672];
};
static_assert(sizeof(TEXT_PROVIDER_SPECIFIC_DATA) == 688);

// Results beyond the COM ones.
inline constexpr HRESULT SMS_E_INVALIDPROTOCOL = static_cast<HRESULT>(0x82000003);
inline constexpr HRESULT SMS_E_INVALIDDATA = static_cast<HRESULT>(0x82000005);
inline constexpr HRESULT SMS_E_BADHANDLE = static_cast<HRESULT>(0x82000007);

// Opens the radio for `provider` in `mode`. Only the text provider (its name
// matched exactly) in send mode is offered: another provider gives
// SMS_E_INVALIDPROTOCOL, another mode E_INVALIDARG. `messageAvailableEvent`
// must be null. E_INVALIDARG for a null `handle`, E_FAIL when no device can
// be opened. Each open handle counts as an outstanding platform buffer until
// SmsClose.
HRESULT SmsOpen(LPCWSTR provider, DWORD mode, SMS_HANDLE* handle, void** messageAvailableEvent);

// Sends `data` (UTF-16LE text, `dataBytes` even, at most 70 segments of 153
// units) to `destination`. The provider block must be the text provider's,
// 688 bytes, with a message class of 0 to 3. The address must be non-empty
// and zero-terminated within its field. The service centre and validity are
// ignored. The message id, increasing with every message the device sends,
// is given out when asked for. SMS_E_BADHANDLE for a handle that is not
// open; E_INVALIDARG or SMS_E_INVALIDDATA for a structure that does not check
// out; nothing is sent then. A destination whose digits equal those of the
// device's own number (everything but 0-9 ignored, so "+1 555 0199" is
// "15550199") also receives the message into the SMS Inbox.
HRESULT SmsSendMessage(SMS_HANDLE handle, const SMS_ADDRESS* serviceCenter,
                       const SMS_ADDRESS* destination, const SYSTEMTIME* validity, const BYTE* data,
                       DWORD dataBytes, const BYTE* providerData, DWORD providerDataBytes,
                       SMS_DATA_ENCODING encoding, DWORD options, SMS_MESSAGE_ID* messageId);

// Releases a handle; SMS_E_BADHANDLE for one that is not open.
HRESULT SmsClose(SMS_HANDLE handle);
