#include "vobject/values.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "stream/abs_file_mem.h"
#include "stream/codecs.h"
#include "stream/holders.h"
#include "vobject/tokenizer.h"

namespace mz {
namespace {

constexpr int32_t kBinaryCapacity = 4096;
// Room for any name or parameter word the reader uses, and more.
constexpr int32_t kScratchCapacity = 64;
static_assert(kScratchCapacity > kWordSize);
constexpr int32_t kCr = 13;
constexpr int32_t kLf = 10;

// When no working memory can be had the line is still consumed, so that
// the reader moves on instead of reading the same bytes again; the end of
// the data is reported as such so that it cannot loop.
int32_t SkipUnreadableLine(CharStream* stream) {
  const int32_t skipped = SkipLine(stream, 1);
  if (skipped < 0) return skipped;
  const int32_t c = stream->GetChar(stream);
  if (c < 0) return IsHardError(c) ? c : kStreamEnd;
  stream->UngetChar(stream);
  return kMalformedText;
}

// The raw bytes of one value, collected as the MemBuf of the stream library
// would collect them (its capacity and growth, its PutChar and its Seek back
// by one), but without a call through the stream slots for each byte and
// without terminating the text after each: the reader terminates it once.
// The memory is kept from value to value; more is taken only when the
// capacity outgrows it.
struct ValueBuffer {
  char* data;
  int32_t allocated;  // bytes at data
  int32_t capacity;   // what the MemBuf's capacity would be
  int32_t length;
  int32_t position;
  bool growable;

  // Empty, with `initial` bytes of capacity; growing by doubling when
  // `grows`. False when the memory cannot be had.
  bool Start(int32_t initial, bool grows) {
    length = 0;
    position = 0;
    if (!Have(initial)) return false;
    data[0] = 0;
    capacity = initial;
    growable = grows;
    return true;
  }

  // At least `bytes` allocated, the data kept.
  bool Have(int64_t bytes) {
    if (bytes <= allocated) return true;
    auto* more = static_cast<char*>(Allocate(static_cast<std::size_t>(bytes)));
    if (more == nullptr) return false;
    if (length > 0) std::memcpy(more, data, static_cast<std::size_t>(length));
    std::free(data);
    data = more;
    allocated = static_cast<int32_t>(bytes);
    return true;
  }

  // Room for `n` bytes, growing as the MemBuf would with doubling on.
  bool Reserve(int64_t n) {
    if (n <= capacity) return true;
    if (!growable) return false;
    int64_t next = (n / 16) * 16 + 16;
    if (2 * int64_t{capacity} >= n) next = 2 * int64_t{capacity};
    if (next > INT32_MAX || !Have(next)) return false;
    capacity = static_cast<int32_t>(next);
    return true;
  }

  // A byte that finds no room (with one byte after it) is lost.
  void PutChar(int byte) {
    if (!Reserve(int64_t{length} + 2)) return;
    data[position++] = static_cast<char>(byte);
    if (position > length) length = position;
  }

  void StepBack() {
    if (position > 0) --position;
  }

  int32_t Tell() const { return position; }
};

}  // namespace

struct LineBuffers {
  TextBuffer scratch;  // over scratchData, fixed
  char scratchData[kScratchCapacity];
  ValueBuffer value;
};

namespace {

// atoi without its undefined overflow: out-of-range values saturate.
int32_t ToInt(const char* text) {
  const long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int32_t>(v);
}

// The decimal value of `count` characters of `text` from `from` on.
int32_t FieldAt(const char* text, int32_t from, int32_t count) {
  char part[8] = {};
  std::memcpy(part, text + from, static_cast<size_t>(count));
  return ToInt(part);
}

// The line after its arguments were checked and cleared.
int32_t ReadLine(LineBuffers* buffers, CharStream* stream, PropertyName* property,
                 ParamList* params, char* value, int32_t size) {
  ValueKind kind = kKindUnknown;
  int32_t result = ReadPropertyName(stream, property, &buffers->scratch, &kind);
  if (result > 0) {
    result = ReadParameters(stream, params, &buffers->scratch);
    if (result > 0) result = ReadPropertyValue(buffers, stream, params, value, size, kind);
  }
  return result;
}

}  // namespace

int32_t ReadContentLine(CharStream* stream, PropertyName* property, ParamList* params, char* value,
                        int32_t size) {
  if (stream == nullptr || property == nullptr || params == nullptr || value == nullptr ||
      size < 1) {
    return kStreamInvalidArgument;
  }
  std::memset(property, 0, sizeof *property);
  std::memset(params, 0, sizeof *params);
  std::memset(value, 0, static_cast<size_t>(size));
  const LineBuffersHolder buffers(LineBuffers_create());
  if (!buffers) return SkipUnreadableLine(stream);
  return ReadLine(buffers.get(), stream, property, params, value, size);
}

int32_t ReadContentLineWith(LineBuffers* buffers, CharStream* stream, PropertyName* property,
                            ParamList* params, char* value, int32_t size) {
  if (buffers == nullptr || stream == nullptr || property == nullptr || params == nullptr ||
      value == nullptr || size < 1) {
    return kStreamInvalidArgument;
  }
  std::memset(property, 0, sizeof *property);
  // Every slot freed field by field: zeroing all 448 bytes for each line
  // costs the reader more than any other step of a short line.
  for (ParamSlot& slot : params->slots) {
    slot.group = 0;
    slot.value = 0;
    slot.text[0] = 0;
    slot.name[0] = 0;
  }
  value[0] = 0;
  return ReadLine(buffers, stream, property, params, value, size);
}

LineBuffers* LineBuffers_create() {
  auto* buffers = static_cast<LineBuffers*>(Allocate(sizeof(LineBuffers)));
  if (buffers == nullptr) return nullptr;
  std::memset(buffers, 0, sizeof *buffers);
  // Names and parameter words are used up to kWordSize bytes; a longer one
  // only has to be seen to be longer. A fixed buffer drops the bytes past
  // its end instead of growing, and copying, for each of them.
  buffers->scratch.data = buffers->scratchData;
  buffers->scratch.capacity = kScratchCapacity;
  return buffers;
}

void LineBuffers_free(LineBuffers* buffers) {
  if (buffers == nullptr) return;
  std::free(buffers->value.data);
  std::free(buffers);
}

int32_t ReadPropertyValue(LineBuffers* buffers, CharStream* stream, const ParamList* params,
                          char* value, int32_t size, ValueKind kind) {
  if (buffers == nullptr || stream == nullptr || params == nullptr || value == nullptr ||
      size < 1) {
    return kStreamInvalidArgument;
  }
  const ParamSlot* slot = FindParam(params, kParamEncoding, nullptr);
  const int32_t encoding = slot != nullptr ? slot->value : 0;
  slot = FindParam(params, kParamCharset, nullptr);
  const int32_t charset = slot != nullptr ? slot->value : 0;

  bool binary = kind == kKindBinary || (kind == kKindUnknown && encoding != 0 && charset == 0);
  slot = FindParam(params, kParamValue, nullptr);
  if (binary && slot != nullptr && slot->value != kValueInline) binary = false;

  int32_t capacity = kBinaryCapacity;
  if (!binary) capacity = size > INT32_MAX / 2 ? INT32_MAX : size * 2;
  // Text grows by doubling, since a value may run to megabytes on one line;
  // binary data stop at the first capacity. The bytes are collected in a
  // copy of the buffer, which the compiler can keep in registers across the
  // stream's calls, and the copy is handed back with whatever memory it took.
  ValueBuffer raw = buffers->value;
  const bool started = raw.Start(capacity, !binary);
  int32_t length = 0;
  if (started) {
    length = ReadFoldedValueInto(stream, raw, 1, encoding == kEncodingQuotedPrintable ? 1 : 0);
  }
  buffers->value = raw;
  if (!started) {
    const int32_t skipped = SkipLine(stream, 1);
    return skipped < 0 ? skipped : 0;
  }
  if (length < 0) return IsHardError(length) ? length : 0;
  char* data = raw.data;
  // The soft-break step back can leave bytes past the value's end.
  data[length] = 0;
  if (encoding == kEncodingBase64) {
    length = Base64DecodeText(data, &length, data);
    data[length] = 0;
  } else if (encoding == kEncodingQuotedPrintable) {
    length = DecodeQuotedPrintable(data, &length, data);
    data[length] = 0;
  }
  if (binary || charset == kCharsetUtf8) return CopyBounded(value, data, size);
  if (charset == kCharsetUcs2) return Ucs2BeToUtf8(data, length / 2, value, size);
  if (charset == kCharsetUtf7) return Utf7ToUtf8(data, value, size);
  return LocalToUtf8(data, value, size);
}

int32_t DecodeQuotedPrintable(char* input, int32_t* length, char* output) {
  if (length == nullptr) return 0;
  if (input == nullptr || output == nullptr || *length < 0) {
    *length = 0;
    return 0;
  }
  const int32_t end = *length;
  int32_t in = 0;
  int32_t out = 0;
  while (in < end) {
    if (input[in] != '=') {
      output[out++] = input[in++];
      continue;
    }
    if (end - in - 1 < 2) break;
    if (input[in + 1] != kCr || input[in + 2] != kLf) {
      unsigned char byte = 0;
      if (DecodeHexPair(input + in, &byte) != 0) output[out++] = static_cast<char>(byte);
    }
    in += 3;
  }
  *length = in;
  return out;
}

int32_t ReadComponent(CharStream* stream, TextBuffer* buffer, int separator, int escape) {
  if (stream == nullptr || buffer == nullptr) return kStreamInvalidArgument;
  TextBuffer_clear(buffer);
  bool escaped = false;
  for (;;) {
    const int32_t c = stream->GetChar(stream);
    if (c < 0) return IsHardError(c) ? c : buffer->length;
    if (escaped) {
      escaped = false;
    } else if (c == escape) {
      escaped = true;
      continue;
    } else if (c == separator) {
      return buffer->length;
    }
    TextBuffer_appendChar(buffer, c);
  }
}

int32_t SplitComponents(ComponentList* list, CharStream* stream) {
  if (list == nullptr || stream == nullptr) return 0;
  const TextBufferHolder buffer(TextBuffer_create(512));
  if (!buffer) return 0;
  const int32_t count = list->count < kMaxComponents ? list->count : kMaxComponents;
  for (int32_t i = 0; i < count; ++i) {
    if (ReadComponent(stream, buffer.get(), ';', '\\') < 0) break;
    const ComponentField& field = list->fields[i];
    if (field.data != nullptr && field.size >= 1) {
      CopyBounded(field.data, buffer->data != nullptr ? buffer->data : "", field.size);
    }
  }
  return 0;
}

int32_t SplitText(ComponentList* list, const char* text) {
  if (list == nullptr || text == nullptr) return 0;
  const auto length = static_cast<int32_t>(std::strlen(text));
  const StreamHolder stream(AbsFileMem_create(const_cast<char*>(text), length, length, 0));
  if (stream) SplitComponents(list, stream.get());
  return 0;
}

int32_t SplitName(NameParts* parts, const char* text) {
  if (parts == nullptr) return 0;
  std::memset(parts, 0, sizeof *parts);
  if (text == nullptr) return 0;
  ComponentList list = {{{parts->family, sizeof parts->family},
                         {parts->given, sizeof parts->given},
                         {parts->middle, sizeof parts->middle},
                         {parts->prefix, sizeof parts->prefix},
                         {parts->suffix, sizeof parts->suffix}},
                        5};
  return SplitText(&list, text);
}

int32_t SplitAddress(AddressParts* parts, const char* text) {
  if (parts == nullptr) return 0;
  std::memset(parts, 0, sizeof *parts);
  if (text == nullptr) return 0;
  ComponentList list = {{{parts->postOfficeBox, sizeof parts->postOfficeBox},
                         {parts->extended, sizeof parts->extended},
                         {parts->street, sizeof parts->street},
                         {parts->locality, sizeof parts->locality},
                         {parts->region, sizeof parts->region},
                         {parts->postalCode, sizeof parts->postalCode},
                         {parts->country, sizeof parts->country}},
                        7};
  return SplitText(&list, text);
}

int32_t SplitOrg(OrgParts* parts, const char* text) {
  if (parts == nullptr) return 0;
  std::memset(parts, 0, sizeof *parts);
  if (text == nullptr) return 0;
  ComponentList list = {{{parts->company, sizeof parts->company},
                         {parts->department, sizeof parts->department},
                         {parts->office, sizeof parts->office}},
                        3};
  return SplitText(&list, text);
}

int32_t ParseDateTime(DateTimeFields* fields, const char* text) {
  if (fields == nullptr) return kMalformedText;
  *fields = {-1, -1, -1, -1, -1, -1, -1};
  if (text == nullptr) return kMalformedText;
  char work[32] = {};
  int32_t n = 0;
  for (const char* p = text; *p != 0 && n < 31; ++p) {
    if (*p != '-') work[n++] = *p;
  }
  if (n < 8) return kMalformedText;
  fields->year = FieldAt(work, 0, 4);
  fields->month = FieldAt(work, 4, 2);
  fields->day = FieldAt(work, 6, 2);
  if (n >= 15 && (work[8] == 'T' || work[8] == 't')) {
    fields->hour = FieldAt(work, 9, 2);
    fields->minute = FieldAt(work, 11, 2);
    fields->second = FieldAt(work, 13, 2);
    fields->utc = work[15] == 'Z' || work[15] == 'z' ? 1 : 0;
  }
  return 0;
}

int32_t FormatDateTime(const DateTimeFields* fields, char* output, int32_t size, int withTime) {
  if (fields == nullptr || output == nullptr || size < 1) return 0;
  char text[96];
  int used =
      std::snprintf(text, sizeof text, "%04u%02u%02u", static_cast<unsigned>(fields->year),
                    static_cast<unsigned>(fields->month), static_cast<unsigned>(fields->day));
  if (withTime != 0 && used >= 0 && static_cast<size_t>(used) < sizeof text) {
    std::snprintf(text + used, sizeof text - static_cast<size_t>(used), "T%02u%02u%02u%s",
                  static_cast<unsigned>(fields->hour), static_cast<unsigned>(fields->minute),
                  static_cast<unsigned>(fields->second), fields->utc != 0 ? "Z" : "");
  }
  return CopyBounded(output, text, size);
}

int32_t ParseDuration(int32_t* seconds, const char* text) {
  if (seconds == nullptr) return 0;
  *seconds = 0;
  if (text == nullptr || (text[0] != 'P' && text[0] != 'p')) return kMalformedText;
  char work[64] = {};
  CopyBounded(work, text + 1, sizeof work);
  UpperCaseAscii(work);
  const int32_t length = static_cast<int32_t>(std::strlen(work));
  const StreamHolder stream(AbsFileMem_create(work, length, length, 0));
  const TextBufferHolder token(TextBuffer_create(32));
  if (!stream || !token) return 0;
  char pending[32] = {};
  bool timePart = false;
  int64_t total = 0;
  for (;;) {
    const int32_t kind = ReadTokenSkipBlanks(stream.get(), token.get(), "YMWDTHS");
    if (kind < 0) break;
    if (kind == TOKEN_WORD) {
      CopyBounded(pending, token->data != nullptr ? token->data : "", sizeof pending);
      continue;
    }
    if (kind == 'T') {
      timePart = true;
      continue;
    }
    int64_t unit = 0;
    switch (kind) {
      case 'Y':
        unit = 31536000;
        break;
      case 'M':
        unit = timePart ? 60 : 2592000;
        break;
      case 'W':
        unit = 604800;
        break;
      case 'D':
        unit = 86400;
        break;
      case 'H':
        unit = 3600;
        break;
      case 'S':
        unit = 1;
        break;
      default:
        continue;
    }
    if (pending[0] != 0) {
      total += static_cast<int64_t>(ToInt(pending)) * unit;
      if (total > INT32_MAX) total = INT32_MAX;
      if (total < INT32_MIN) total = INT32_MIN;
      pending[0] = 0;
    }
  }
  *seconds = static_cast<int32_t>(total);
  return 0;
}

}  // namespace mz
