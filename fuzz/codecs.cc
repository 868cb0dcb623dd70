// Feeds arbitrary bytes to every text codec, with an output capacity taken
// from the input, so that reads past terminators or lengths and writes past
// capacities show up under the sanitizers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "stream/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the output capacity (0..255); the rest is the text.
  const int32_t capacity = data[0];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const int32_t length = static_cast<int32_t>(size - 1);

  // Exact-size copies so that any overrun leaves the heap block.
  std::vector<char> raw(bytes, bytes + length);
  std::vector<char> text(bytes, bytes + length);
  text.push_back(0);
  std::vector<char> out(capacity > 0 ? capacity : 1);
  std::vector<char> wide(2 * (capacity > 0 ? capacity : 1));

  if (length >= 4) {
    char quad[3];
    mz::Base64DecodeQuad(raw.data(), quad);
  }
  {
    std::vector<char> inPlace(raw);
    int32_t n = length;
    mz::Base64DecodeText(inPlace.data(), &n, inPlace.data());
  }
  mz::Base64DecodeBounded(raw.data(), length, out.data(), capacity);
  mz::Utf8ToUcs2Be(text.data(), wide.data(), capacity);
  mz::Ucs2BeToUtf8(raw.data(), length / 2, out.data(), capacity);
  {
    // A negative count stops at a zero unit, so give it one.
    std::vector<char> units(raw.begin(), raw.begin() + (length & ~1));
    units.push_back(0);
    units.push_back(0);
    mz::Ucs2BeToUtf8(units.data(), -1, out.data(), capacity);
  }
  mz::Utf7ToUtf8(text.data(), out.data(), capacity);
  mz::Utf8ToLocal(text.data(), out.data(), capacity);
  {
    std::vector<char> inPlace(text);
    mz::Utf8ToLocal(inPlace.data(), inPlace.data(), static_cast<int32_t>(inPlace.size()));
  }
  mz::LocalToUtf8(text.data(), out.data(), capacity);
  mz::WideToLocal(raw.data(), length / 2, out.data(), capacity);
  mz::LocalToWide(text.data(), wide.data(), capacity);
  return 0;
}
