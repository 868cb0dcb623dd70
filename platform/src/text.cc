// Code-page conversion: UTF-8 and Windows-1252 to and from UTF-16, in one
// pass that either counts or stores.
#include "platform/text.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "core/fault.h"
#include "platform/text_codec.h"
#include "text.h"

namespace {

enum class Page { kUtf8, kWindows1252, kUnknown };

Page PageOf(UINT codePage) {
  switch (codePage) {
    case CP_UTF8:
      return Page::kUtf8;
    case CP_ACP:
    case CP_WINDOWS_1252:
      return Page::kWindows1252;
    default:
      return Page::kUnknown;
  }
}

// Where converted units go: counted always, stored unless the caller only
// asks for the size (capacity 0).
template <typename Unit>
class Sink {
 public:
  Sink(Unit* out, int capacity) : out_(capacity > 0 ? out : nullptr), capacity_(capacity) {}

  // False when the units do not fit (or the count would pass INT_MAX); none
  // of them is stored then, so a character is never split.
  bool Put(const Unit* units, int n) {
    if (n > (out_ != nullptr ? capacity_ : INT_MAX) - count_) return false;
    if (out_ != nullptr) std::memcpy(out_ + count_, units, n * sizeof(Unit));
    count_ += n;
    return true;
  }
  bool Put(Unit unit) { return Put(&unit, 1); }

  int count() const { return count_; }

 private:
  Unit* out_;
  int capacity_;
  int count_ = 0;
};

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

std::u16string platform::AnsiToUtf16(std::string_view ansi) {
  std::u16string wide;
  wide.reserve(ansi.size());
  for (char byte : ansi) {
    wide.push_back(textcodec::FromWindows1252(static_cast<unsigned char>(byte)));
  }
  return wide;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR output,
                        int outputChars) {
  if (auto fault = platform::FaultAt("MultiByteToWideChar")) {
    return Fail(static_cast<DWORD>(*fault));
  }
  const Page page = PageOf(codePage);
  if (page == Page::kUnknown || source == nullptr || sourceBytes == 0 || sourceBytes < -1 ||
      outputChars < 0 || (output == nullptr && outputChars != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::string_view text(
      source, sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceBytes));
  Sink<WCHAR> sink(output, outputChars);

  if (page == Page::kWindows1252) {
    for (char byte : text) {
      if (!sink.Put(textcodec::FromWindows1252(static_cast<unsigned char>(byte)))) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
    }
    return sink.count();
  }

  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const textcodec::Decoded d = textcodec::DecodeUtf8(text.substr(pos));
    pos += d.length;
    if (strict && !d.valid) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    char16_t units[2];
    if (!sink.Put(units, textcodec::EncodeUtf16(d.c, units))) {
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
  }
  return sink.count();
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR output,
                        int outputBytes, LPCSTR defaultChar, BOOL* usedDefault) {
  if (auto fault = platform::FaultAt("WideCharToMultiByte")) {
    return Fail(static_cast<DWORD>(*fault));
  }
  const Page page = PageOf(codePage);
  if (page == Page::kUnknown || source == nullptr || sourceChars == 0 || sourceChars < -1 ||
      outputBytes < 0 || (output == nullptr && outputBytes != 0) ||
      (page == Page::kUtf8 && (defaultChar != nullptr || usedDefault != nullptr))) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::u16string_view text(source, sourceChars == -1
                                             ? std::char_traits<char16_t>::length(source) + 1
                                             : static_cast<std::size_t>(sourceChars));
  Sink<char> sink(output, outputBytes);

  if (page == Page::kWindows1252) {
    const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
    bool defaulted = false;
    for (std::size_t pos = 0; pos < text.size();) {
      // A surrogate pair is one character and so one default byte; a lone
      // surrogate decodes to U+FFFD, which has no byte either.
      const textcodec::Decoded d = textcodec::DecodeUtf16(text.substr(pos));
      pos += d.length;
      const int byte = textcodec::ToWindows1252(d.c);
      defaulted |= byte < 0;
      if (!sink.Put(byte < 0 ? fallback : static_cast<char>(byte))) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
    }
    if (usedDefault != nullptr) *usedDefault = defaulted ? TRUE : FALSE;
    return sink.count();
  }

  const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const textcodec::Decoded d = textcodec::DecodeUtf16(text.substr(pos));
    pos += d.length;
    if (strict && !d.valid) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    char bytes[4];
    if (!sink.Put(bytes, textcodec::EncodeUtf8(d.c, bytes))) {
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
  }
  return sink.count();
}
