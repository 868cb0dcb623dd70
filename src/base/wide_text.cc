#include "base/wide_text.h"

#include <cstring>

#include "platform/text.h"

namespace mz {
namespace {

bool IsHighSurrogate(WCHAR c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(WCHAR c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// The UTF-16 units of the character at `text` (1, or 2 for a surrogate
// pair) and the bytes it takes in the code page. A lone surrogate becomes
// U+FFFD in UTF-8 and "?" in the ANSI code page, as the conversion does.
void MeasureCharacter(const WCHAR* text, bool utf8, int* units, int* bytes) {
  const WCHAR c = text[0];
  *units = IsHighSurrogate(c) && IsLowSurrogate(text[1]) ? 2 : 1;
  if (!utf8) {
    *bytes = 1;
  } else if (*units == 2) {
    *bytes = 4;
  } else {
    *bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  }
}

// The conversion fails on an output that does not fit, so only the
// characters that fit are converted, measured first: the text is cut at a
// character boundary and always terminated.
void CopyConverted(UINT codePage, const WCHAR* text, char* output, std::uint32_t capacity) {
  if (output == nullptr || capacity == 0) return;
  output[0] = 0;
  if (text == nullptr) return;
  const int room = capacity - 1 > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity - 1);
  int units = 0;
  int bytes = 0;
  while (text[units] != 0) {
    int step = 0;
    int width = 0;
    MeasureCharacter(text + units, codePage == CP_UTF8, &step, &width);
    if (width > room - bytes) break;
    units += step;
    bytes += width;
  }
  if (units == 0) return;
  const int written = WideCharToMultiByte(codePage, 0, text, units, output, room, nullptr, nullptr);
  output[written > 0 ? written : 0] = 0;
}

}  // namespace

void CopyUtf8(const WCHAR* text, char* output, std::uint32_t capacity) {
  CopyConverted(CP_UTF8, text, output, capacity);
}

void CopyAnsi(const WCHAR* text, char* output, std::uint32_t capacity) {
  CopyConverted(CP_ACP, text, output, capacity);
}

bool ConvertText(const WCHAR* text, char* field, int size) {
  std::memset(field, 0, static_cast<std::size_t>(size));
  if (text == nullptr || text[0] == 0) return false;
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, field, size, nullptr, nullptr) > 0) {
    return field[0] != 0;
  }
  const DWORD error = GetLastError();
  // The failed conversion may have written the characters that fitted.
  std::memset(field, 0, static_cast<std::size_t>(size));
  if (error == ERROR_INSUFFICIENT_BUFFER) CopyUtf8(text, field, static_cast<std::uint32_t>(size));
  return field[0] != 0;
}

}  // namespace mz
