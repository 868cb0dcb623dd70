// The SMS radio: handles, sending into the device's sms_sent log, delivery
// back to the device's own number, and the emulator's view of both.
#include "platform/sms.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "clock.h"
#include "core/fault.h"
#include "core/handles.h"
#include "device/device.h"
#include "device/message_rows.h"
#include "platform/emulator.h"
#include "platform/text_codec.h"

// An open radio handle; it keeps the device it was opened on.
struct SmsSession {
  std::shared_ptr<platform::Device> device;
};

namespace platform {
namespace {

// The longest text the radio takes: 70 concatenated segments of 153 units.
constexpr std::size_t kMaxTextUnits = 70 * 153;

LiveHandles<SmsSession>& Live() {
  static auto* live = new LiveHandles<SmsSession>;  // never destroyed: handles may outlive statics
  return *live;
}

std::shared_ptr<Device> DeviceOf(SMS_HANDLE handle) {
  std::shared_ptr<Device> device;
  Live().With(handle, [&](SmsSession* session) { device = session->device; });
  return device;
}

// Digits only: "+1 (555) 0199" and "15550199" are the same number.
std::string Digits(std::string_view number) {
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

std::string ReadOwnNumber(Device& device) {
  auto lock = device.Lock();
  Statement st(device, "SELECT value FROM settings WHERE key = 'own_number'");
  if (st.Step() != SQLITE_ROW || st.IsNull(0)) return {};
  return textcodec::ToUtf8(st.Text16(0));
}

struct Outgoing {
  SMS_ADDRESS_TYPE addressType;
  std::u16string address;
  std::u16string text;
  DWORD dataBytes;
  DWORD messageClass;
  SMS_DATA_ENCODING encoding;
  DWORD options;
};

// Checks everything the caller passed and collects the message; nothing is
// sent unless this gives S_OK.
HRESULT Check(const SMS_ADDRESS* destination, const BYTE* data, DWORD dataBytes,
              const BYTE* providerData, DWORD providerDataBytes, SMS_DATA_ENCODING encoding,
              Outgoing* out) {
  if (destination == nullptr) return E_INVALIDARG;
  const SMS_ADDRESS_TYPE type = destination->smsatAddressType;
  if (type != SMSAT_UNKNOWN && type != SMSAT_INTERNATIONAL && type != SMSAT_NATIONAL) {
    return E_INVALIDARG;
  }
  const WCHAR* address = destination->ptsAddress;
  std::size_t length = 0;
  while (length < SMS_MAX_ADDRESS_LENGTH && address[length] != 0) ++length;
  if (length == 0 || length == SMS_MAX_ADDRESS_LENGTH) return E_INVALIDARG;

  if (data == nullptr && dataBytes != 0) return E_INVALIDARG;
  if (dataBytes % 2 != 0 || dataBytes / 2 > kMaxTextUnits) return SMS_E_INVALIDDATA;

  if (providerData == nullptr || providerDataBytes != sizeof(TEXT_PROVIDER_SPECIFIC_DATA)) {
    return E_INVALIDARG;
  }
  TEXT_PROVIDER_SPECIFIC_DATA provider;
  std::memcpy(&provider, providerData, sizeof provider);  // the block need not be aligned
  if (provider.psMessageClass > PS_MESSAGE_CLASS3) return SMS_E_INVALIDDATA;
  if (encoding != SMSDE_OPTIMAL && encoding != SMSDE_GSM && encoding != SMSDE_UCS2) {
    return E_INVALIDARG;
  }

  out->addressType = type;
  out->address.assign(address, length);
  out->text.resize(dataBytes / 2);
  for (std::size_t i = 0; i < out->text.size(); ++i) {
    out->text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  out->dataBytes = dataBytes;
  out->messageClass = provider.psMessageClass;
  out->encoding = encoding;
  return S_OK;
}

// Appends the message to the log and returns its row id, or 0 on failure.
std::int64_t Record(Device& device, const Outgoing& message, std::int64_t time) {
  auto lock = device.Lock();
  Statement st(device,
               "INSERT INTO sms_sent (address_type, address, text, data_bytes, message_class, "
               "encoding, options, sent_time) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  st.Bind(1, std::int64_t{message.addressType});
  st.Bind(2, std::u16string_view(message.address));
  st.Bind(3, std::u16string_view(message.text));
  st.Bind(4, std::int64_t{message.dataBytes});
  st.Bind(5, std::int64_t{message.messageClass});
  st.Bind(6, std::int64_t{message.encoding});
  st.Bind(7, std::int64_t{message.options});
  st.Bind(8, time);
  if (st.Step() != SQLITE_DONE) return 0;
  return sqlite3_last_insert_rowid(device.Db());
}

}  // namespace
}  // namespace platform

HRESULT SmsOpen(LPCWSTR provider, DWORD mode, SMS_HANDLE* handle, void** messageAvailableEvent) {
  if (auto fault = platform::FaultAt("SmsOpen")) return *fault;
  if (handle == nullptr) return E_INVALIDARG;
  *handle = nullptr;
  if (provider == nullptr) return SMS_E_INVALIDPROTOCOL;
  // Compared unit by unit, stopping at the first difference, so that an
  // unterminated provider name is never read past the known one's length.
  std::size_t i = 0;
  while (SMS_MSGTYPE_TEXT[i] != 0 && provider[i] == SMS_MSGTYPE_TEXT[i]) ++i;
  if (SMS_MSGTYPE_TEXT[i] != 0 || provider[i] != 0) return SMS_E_INVALIDPROTOCOL;
  if (mode != SMS_MODE_SEND || messageAvailableEvent != nullptr) return E_INVALIDARG;
  auto device = platform::CurrentDevice();
  if (!device) return E_FAIL;
  if (platform::AllocationFails()) return E_OUTOFMEMORY;
  auto* session = new (std::nothrow) SmsSession{std::move(device)};
  if (session == nullptr) return E_OUTOFMEMORY;
  platform::Live().Add(session);
  *handle = session;
  return S_OK;
}

HRESULT SmsSendMessage(SMS_HANDLE handle, const SMS_ADDRESS* /*serviceCenter*/,
                       const SMS_ADDRESS* destination, const SYSTEMTIME* /*validity*/,
                       const BYTE* data, DWORD dataBytes, const BYTE* providerData,
                       DWORD providerDataBytes, SMS_DATA_ENCODING encoding, DWORD options,
                       SMS_MESSAGE_ID* messageId) {
  if (auto fault = platform::FaultAt("SmsSendMessage")) return *fault;
  auto device = platform::DeviceOf(handle);
  if (!device) return SMS_E_BADHANDLE;
  platform::Outgoing message;
  try {
    if (HRESULT hr = platform::Check(destination, data, dataBytes, providerData, providerDataBytes,
                                     encoding, &message);
        FAILED(hr)) {
      return hr;
    }
    message.options = options;
    const std::int64_t now = platform::NowFileTime();
    const std::int64_t id = platform::Record(*device, message, now);
    if (id == 0) return E_FAIL;
    if (messageId != nullptr) *messageId = static_cast<SMS_MESSAGE_ID>(id);

    // The network hands a message to the own number straight back. A failed
    // delivery does not undo the send, as on a real network.
    const std::string own = platform::ReadOwnNumber(*device);
    const std::string digits = platform::Digits(own);
    if (!digits.empty() && digits == platform::Digits(textcodec::ToUtf8(message.address))) {
      emulator::MessageSeed seed;
      seed.store = "SMS";
      seed.folder = "Inbox";
      seed.subject = textcodec::ToUtf8(message.text);
      seed.sender = own;
      seed.flags = 0;
      seed.deliveryTime = static_cast<std::uint64_t>(now);
      platform::InsertMessage(*device, seed);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT SmsClose(SMS_HANDLE handle) {
  if (auto fault = platform::FaultAt("SmsClose")) return *fault;
  if (!platform::Live().Remove(handle)) return SMS_E_BADHANDLE;
  delete handle;
  return S_OK;
}

namespace emulator {

std::vector<SentSms> SentMessages() {
  std::vector<SentSms> sent;
  auto device = platform::CurrentDevice();
  if (!device) return sent;
  auto lock = device->Lock();
  platform::Statement st(*device,
                         "SELECT address_type, address, text, data_bytes, message_class, "
                         "encoding, options, sent_time FROM sms_sent ORDER BY id");
  while (st.Step() == SQLITE_ROW) {
    SentSms sms;
    sms.addressType = static_cast<std::uint32_t>(st.Int(0));
    sms.address = textcodec::ToUtf8(st.Text16(1));
    sms.text = textcodec::ToUtf8(st.Text16(2));
    sms.dataBytes = static_cast<std::uint32_t>(st.Int(3));
    sms.messageClass = static_cast<std::uint32_t>(st.Int(4));
    sms.encoding = static_cast<std::uint32_t>(st.Int(5));
    sms.options = static_cast<std::uint32_t>(st.Int(6));
    sms.time = static_cast<std::uint64_t>(st.Int(7));
    sent.push_back(std::move(sms));
  }
  return sent;
}

std::string OwnNumber() {
  auto device = platform::CurrentDevice();
  return device ? platform::ReadOwnNumber(*device) : std::string();
}

void SetOwnNumber(const std::string& number) {
  auto device = platform::CurrentDevice();
  if (!device) return;
  auto lock = device->Lock();
  platform::Statement st(*device,
                         "INSERT INTO settings (key, value) VALUES ('own_number', ?1) "
                         "ON CONFLICT (key) DO UPDATE SET value = excluded.value");
  st.Bind(1, std::string_view(number));
  st.Step();
}

}  // namespace emulator
