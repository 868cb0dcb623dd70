#include "stream/codecs.h"

#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "platform/text.h"
#include "stream/text_buffer.h"

namespace mz {
namespace {

// Units handed to the platform conversions per call, so that no second
// buffer has to be allocated for host-order UTF-16.
constexpr int32_t kChunkUnits = 256;

// The alphabet value of a base64 character, 64 for "=", -1 for any other.
int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return 64;
  return -1;
}

unsigned UnitAt(const char* in, int32_t index) {
  return static_cast<unsigned>(static_cast<unsigned char>(in[2 * index])) << 8 |
         static_cast<unsigned char>(in[2 * index + 1]);
}

void PutUnit(char* out, int32_t index, unsigned unit) {
  out[2 * index] = static_cast<char>(unit >> 8);
  out[2 * index + 1] = static_cast<char>(unit & 0xFF);
}

bool IsHighSurrogate(unsigned unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

int32_t TextLength(const char* text) {
  return text == nullptr ? 0 : static_cast<int32_t>(std::strlen(text));
}

// Collects bytes (CR and LF skipped) into groups of four and decodes each.
// Stops when the input ends or `room` says no more group fits; returns the
// collected bytes of the unfinished group in *pending.
template <typename Room>
int32_t DecodeGroups(const char* in, int32_t length, char* out, Room room, char* group,
                     int32_t* pending) {
  int32_t produced = 0;
  int32_t collected = 0;
  for (int32_t i = 0; i < length && room(produced); ++i) {
    if (in[i] == '\r' || in[i] == '\n') continue;
    group[collected++] = in[i];
    if (collected == 4) {
      produced += Base64DecodeQuad(group, out + produced);
      collected = 0;
    }
  }
  *pending = collected;
  return produced;
}

}  // namespace

int32_t Base64DecodeQuad(const char* group, char* out) {
  unsigned values[4];
  int padding = 0;
  for (int i = 0; i < 4; ++i) {
    const int value = Base64Value(static_cast<unsigned char>(group[i]));
    if (value < 0) return 0;
    if (value == 64) ++padding;
    values[i] = value == 64 ? 0 : static_cast<unsigned>(value);
  }
  if (padding > 2) return 0;
  out[0] = static_cast<char>((values[0] << 2 | values[1] >> 4) & 0xFF);
  out[1] = static_cast<char>(((values[1] & 15) << 4 | values[2] >> 2) & 0xFF);
  out[2] = static_cast<char>(((values[2] & 3) << 6 | values[3]) & 0xFF);
  return 3 - padding;
}

int32_t Base64DecodeText(const char* in, int32_t* length, char* out) {
  if (length == nullptr || *length <= 0 || in == nullptr || out == nullptr) return 0;
  // The group is collected before it is decoded, and 4 bytes read make at
  // most 3 written, so the output never overtakes the input in place.
  char group[4];
  int32_t pending = 0;
  const int32_t produced = DecodeGroups(
      in, *length, out, [](int32_t) { return true; }, group, &pending);
  *length -= pending;
  return produced;
}

int32_t Base64DecodeBounded(const char* in, int32_t length, char* out, int32_t capacity) {
  if (length <= 0 || in == nullptr || out == nullptr) return 0;
  auto room = [capacity](int32_t produced) { return produced + 3 < capacity; };
  char group[4];
  int32_t pending = 0;
  int32_t produced = DecodeGroups(in, length, out, room, group, &pending);
  if (pending > 0 && room(produced)) {
    for (int32_t i = pending; i < 4; ++i) group[i] = '=';
    produced += Base64DecodeQuad(group, out + produced);
  }
  return produced;
}

int32_t Utf8ToUcs2Be(const char* text, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  const int32_t n = TextLength(text);
  const auto byte = [text](int32_t i) { return static_cast<unsigned>(text[i]) & 0xFF; };
  int32_t units = 0;
  int32_t i = 0;
  while (units < capacity - 1 && i < n) {
    const unsigned b = byte(i);
    int32_t size = 1;
    unsigned unit = '?';
    if (b < 0x80) {
      unit = b;
    } else if (b >= 0xC0 && b <= 0xFD) {
      size = b <= 0xDF ? 2 : b <= 0xEF ? 3 : b <= 0xF7 ? 4 : b <= 0xFB ? 5 : 6;
      if (size > n - i) {
        size = n - i;  // cut short by the end of the text: "?"
      } else if (size == 2) {
        unit = (b & 0x1F) << 6 | (byte(i + 1) & 0x3F);
      } else if (size == 3) {
        unit = (b & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
      }
    } else {
      // A stray continuation byte, 0xFE or 0xFF: one "?" for the whole
      // stretch up to the next lead byte, ASCII included.
      while (i + size < n && byte(i + size) < 0xC0) ++size;
    }
    PutUnit(out, units++, unit);
    i += size;
  }
  PutUnit(out, units, 0);
  return units;
}

int32_t Ucs2BeToUtf8(const char* in, int32_t count, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  int32_t produced = 0;
  for (int32_t i = 0; in != nullptr && (count < 0 || i < count); ++i) {
    const unsigned u = UnitAt(in, i);
    if (count < 0 && u == 0) break;
    const int32_t room = capacity - 1 - produced;
    if (u < 0x80) {
      if (room < 1) break;
      out[produced++] = static_cast<char>(u);
    } else if (u < 0x800) {
      if (room < 2) break;
      out[produced++] = static_cast<char>(0xC0 | u >> 6);
      out[produced++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      if (room < 3) break;
      out[produced++] = static_cast<char>(0xE0 | u >> 12);
      out[produced++] = static_cast<char>(0x80 | (u >> 6 & 0x3F));
      out[produced++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  out[produced] = 0;
  return produced;
}

int32_t Utf7ToUtf8(const char* text, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  const int32_t length = TextLength(text);
  // Taken at the first base64 run, so plain text converts without memory.
  const int32_t scratchSize = (length + 1) * 2;
  char* scratch = nullptr;
  int32_t produced = 0;
  int32_t i = 0;
  while (produced < capacity - 1 && i < length) {
    if (text[i] != '+') {
      out[produced++] = text[i++];
      continue;
    }
    const char* dash = std::strchr(text + i + 1, '-');
    if (dash == nullptr) break;
    const int32_t runStart = i + 1;
    const int32_t runLength = static_cast<int32_t>(dash - text) - runStart;
    i = runStart + runLength + 1;
    if (runLength == 0) {
      out[produced++] = '+';
      continue;
    }
    if (scratch == nullptr) scratch = static_cast<char*>(Allocate(scratchSize));
    if (scratch == nullptr) break;
    const int32_t bytes = Base64DecodeBounded(text + runStart, runLength, scratch, scratchSize);
    produced += Ucs2BeToUtf8(scratch, bytes / 2, out + produced, capacity - 1 - produced);
  }
  out[produced] = 0;
  std::free(scratch);
  return produced;
}

int32_t Utf8ToLocal(const char* text, char* out, int32_t capacity) {
  if (text == nullptr) text = "";
  if (IsAsciiText(text)) {
    if (out == text) return TextLength(text);
    if (out == nullptr || capacity < 1) return 0;
    return CopyBounded(out, text, capacity);
  }
  if (out == nullptr || capacity < 1) return 0;
  const int32_t length = TextLength(text);
  char* wide = static_cast<char*>(Allocate((length + 1) * 2));
  if (wide == nullptr) {
    out[0] = 0;
    return 0;
  }
  int32_t result = 0;
  const int32_t units = Utf8ToUcs2Be(text, wide, length + 1);
  if (units > 0) {
    result = WideToLocal(wide, units, out, capacity);
    if (result < 0) result = TextLength(out);
  }
  std::free(wide);
  return result;
}

int32_t LocalToUtf8(const char* text, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  if (text == nullptr) text = "";
  // ASCII is copied while it is checked, in one pass; the first byte above
  // 127 sends the whole text through the conversion.
  int32_t copied = 0;
  while (copied < capacity - 1 && static_cast<unsigned char>(text[copied]) - 1u < 127u) {
    out[copied] = text[copied];
    ++copied;
  }
  if (text[copied] == 0 || (copied == capacity - 1 && IsAsciiText(text + copied))) {
    out[copied] = 0;
    return copied;
  }
  const int32_t length = TextLength(text);
  char* wide = static_cast<char*>(Allocate((length + 1) * 2));
  if (wide == nullptr) {
    out[0] = 0;
    return 0;
  }
  const int32_t units = LocalToWide(text, wide, length + 1);
  // A failed conversion still leaves its converted part terminated.
  const int32_t result = Ucs2BeToUtf8(wide, units < 0 ? -1 : units, out, capacity);
  std::free(wide);
  return result;
}

int32_t WideToLocal(const char* in, int32_t count, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  out[0] = 0;
  if (in == nullptr) return 0;
  int32_t produced = 0;
  int32_t done = 0;
  WCHAR units[kChunkUnits];
  while (done < count && produced < capacity - 1) {
    int32_t n = count - done < kChunkUnits ? count - done : kChunkUnits;
    for (int32_t k = 0; k < n; ++k) units[k] = static_cast<WCHAR>(UnitAt(in, done + k));
    // A pair split between chunks would turn into two "?" instead of one.
    if (n > 1 && done + n < count && IsHighSurrogate(units[n - 1])) --n;
    const int32_t room = capacity - 1 - produced;
    int need = WideCharToMultiByte(CP_ACP, 0, units, n, nullptr, 0, nullptr, nullptr);
    bool cut = false;
    if (need > room) {
      // Every unit of this code page is at most one byte: shorten to the
      // room first, then unit by unit for any other.
      cut = true;
      if (n > room) n = room;
      need = n > 0 ? WideCharToMultiByte(CP_ACP, 0, units, n, nullptr, 0, nullptr, nullptr) : 0;
      while (n > 0 && need > room) {
        --n;
        need = n > 0 ? WideCharToMultiByte(CP_ACP, 0, units, n, nullptr, 0, nullptr, nullptr) : 0;
      }
      if (n == 0) break;
    }
    const int got =
        need > 0 ? WideCharToMultiByte(CP_ACP, 0, units, n, out + produced, room, nullptr, nullptr)
                 : 0;
    if (got <= 0) {
      out[produced] = 0;
      return kCodecConversionFailed;
    }
    produced += got;
    done += n;
    if (cut) break;
  }
  out[produced] = 0;
  return produced;
}

int32_t LocalToWide(const char* text, char* out, int32_t capacity) {
  if (out == nullptr || capacity < 1) return 0;
  PutUnit(out, 0, 0);
  const int32_t length = TextLength(text);
  int32_t produced = 0;
  int32_t done = 0;
  WCHAR units[kChunkUnits];
  // The default code page is single-byte, so a chunk never cuts a character
  // and never yields more units than bytes.
  while (done < length && produced < capacity - 1) {
    const int32_t n = length - done < kChunkUnits ? length - done : kChunkUnits;
    const int got = MultiByteToWideChar(CP_ACP, 0, text + done, n, units, kChunkUnits);
    if (got <= 0) {
      PutUnit(out, produced, 0);
      return kCodecConversionFailed;
    }
    int32_t keep = got;
    if (keep > capacity - 1 - produced) {
      keep = capacity - 1 - produced;
      if (keep > 0 && IsHighSurrogate(units[keep - 1])) --keep;
    }
    for (int32_t k = 0; k < keep; ++k) PutUnit(out, produced + k, units[k]);
    produced += keep;
    done += n;
    if (keep < got) break;
  }
  PutUnit(out, produced, 0);
  return produced;
}

}  // namespace mz
