// Code-page conversion: UTF-8 and Windows-1252 to and from UTF-16, in one
// pass that either counts or stores.
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "core/fault.h"
#include "core/utf.h"

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

// Code points of bytes 0x80-0x9F; every other byte is its own code point.
constexpr char16_t kHighBytes[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t FromWindows1252(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighBytes[byte - 0x80] : byte;
}

struct Special {
  char16_t code;
  unsigned char byte;
};

constexpr std::size_t CountSpecials() {
  std::size_t n = 0;
  for (std::size_t i = 0; i < 32; ++i) n += kHighBytes[i] != 0x80 + i;
  return n;
}
static_assert(CountSpecials() == 27);

// The bytes 0x80-0x9F that stand for something other than their own code
// point, sorted by code point.
constexpr auto kSpecials = [] {
  std::array<Special, CountSpecials()> table{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    if (kHighBytes[i] != 0x80 + i)
      table[n++] = {kHighBytes[i], static_cast<unsigned char>(0x80 + i)};
  }
  std::sort(table.begin(), table.end(),
            [](const Special& a, const Special& b) { return a.code < b.code; });
  return table;
}();

// The Windows-1252 byte of `c`, or -1 when there is none.
int ToWindows1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  if (c < 0xA0) return kHighBytes[c - 0x80] == c ? static_cast<int>(c) : -1;
  auto it = std::lower_bound(kSpecials.begin(), kSpecials.end(), c,
                             [](const Special& s, char32_t code) { return s.code < code; });
  return it != kSpecials.end() && it->code == c ? it->byte : -1;
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
  for (char byte : ansi) wide.push_back(FromWindows1252(static_cast<unsigned char>(byte)));
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
      if (!sink.Put(FromWindows1252(static_cast<unsigned char>(byte)))) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      }
    }
    return sink.count();
  }

  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    const char32_t c = platform::DecodeUtf8(text, &pos);
    // U+FFFD is also what an invalid sequence decodes to; only EF BF BD is
    // the character itself.
    if (strict && c == platform::kReplacement &&
        text.substr(start, pos - start) != "\xEF\xBF\xBD") {
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    char16_t units[2];
    if (!sink.Put(units, platform::EncodeUtf16(c, units))) {
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
      const int byte = ToWindows1252(platform::DecodeUtf16(text, &pos));
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
    const std::size_t start = pos;
    const char32_t c = platform::DecodeUtf16(text, &pos);
    if (strict && c == platform::kReplacement && text[start] != platform::kReplacement) {
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    char bytes[4];
    if (!sink.Put(bytes, platform::EncodeUtf8(c, bytes))) {
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
  }
  return sink.count();
}
