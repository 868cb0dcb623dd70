#include "contacts/vcard_writer.h"

#include <cstdlib>
#include <cstring>

#include "base/memory.h"
#include "stream/text_buffer.h"

namespace mz {
namespace {

constexpr unsigned char kCr = '\r';
constexpr unsigned char kLf = '\n';

// Parameter texts of the type flags, in the order they are written.
struct TypeText {
  uint32_t flag;
  const char* text;
};
constexpr TypeText kTypeTexts[] = {
    {kTypeHome, "HOME"},   {kTypeWork, "WORK"}, {kTypePref, "PREF"},   {kTypeCell, "CELL"},
    {kTypePager, "PAGER"}, {kTypeFax, "FAX"},   {kTypeVoice, "VOICE"}, {kTypeInternet, "INTERNET"},
};

// 0 when `byte` went out, else -1.
int32_t PutByte(CharStream* stream, unsigned char byte) {
  return stream->PutChar(stream, byte) == byte ? 0 : -1;
}

// 0 when all `count` bytes went out, else -1.
int32_t PutBlock(CharStream* stream, const void* bytes, int32_t count) {
  return stream->Write(stream, bytes, count) == count ? 0 : -1;
}

// A formatted write fails only with a negative result, which is passed on.
int32_t PutText(CharStream* stream, const char* format, const char* text) {
  int32_t result = stream->Printf(stream, format, text);
  return result < 0 ? result : 0;
}

int32_t PutHexEscape(CharStream* stream, unsigned char byte) {
  int32_t result = stream->Printf(stream, "=%02x", static_cast<unsigned>(byte));
  return result < 0 ? result : 0;
}

bool IsPresent(const char* value) {
  return value != nullptr && value[0] != '\0';
}

bool HasCrLfPair(const char* value) {
  for (const char* p = value; *p != '\0'; ++p) {
    if (p[0] == '\r' && p[1] == '\n') return true;
  }
  return false;
}

bool HasLineBreakByte(const char* value) {
  return std::strpbrk(value, "\r\n") != nullptr;
}

struct LineEncoding {
  int32_t charset;  // 0 or the writer's charsetSetting
  int32_t encoding;
  int lineBreakMode;
};

LineEncoding ChooseEncoding(const VCardWriter* writer, const char* const* values, int32_t count) {
  LineEncoding line = {0, kEncodingNone, 0};
  bool pairSeen = false;
  bool allSevenBit = true;
  for (int32_t i = 0; i < count; ++i) {
    const char* value = values[i];
    if (!IsPresent(value)) continue;
    if (!IsAsciiText(value)) {
      line.charset = writer->charsetSetting;
      line.encoding = writer->encodingSetting;
      line.lineBreakMode = pairSeen ? 1 : 0;
      allSevenBit = false;
      break;
    }
    if (HasCrLfPair(value)) pairSeen = true;
  }
  if (allSevenBit && pairSeen) {
    line.encoding = kEncodingQuotedPrintable;
    line.lineBreakMode = 1;
  }

  // A raw CR or LF must never end up inside a value, yet the walk above
  // leaves some lines without an encoding that holds them: a 7-bit value
  // with a lone CR or LF, a UTF-8 value with any line break (the settings
  // in use give such a line no encoding), and any value after the first
  // UTF-8 one, which the walk never looks at. So any CR or LF anywhere on the
  // line makes it quoted-printable, where every CR and LF byte is escaped,
  // and line-break mode is on when any value of the line holds a CR LF pair.
  // On lines without a CR or LF in or after the first UTF-8 value this is
  // exactly the walk's choice.
  bool breaks = false;
  bool pairAnywhere = false;
  for (int32_t i = 0; i < count; ++i) {
    const char* value = values[i];
    if (!IsPresent(value)) continue;
    if (HasLineBreakByte(value)) breaks = true;
    if (HasCrLfPair(value)) pairAnywhere = true;
  }
  if (breaks) {
    line.encoding = kEncodingQuotedPrintable;
    line.lineBreakMode = pairAnywhere ? 1 : 0;
  }
  return line;
}

int32_t PutEscapedValue(CharStream* stream, const char* value) {
  for (const char* p = value; *p != '\0'; ++p) {
    unsigned char byte = static_cast<unsigned char>(*p);
    if (byte == ';' && PutByte(stream, '\\') != 0) return -1;
    if (PutByte(stream, byte) != 0) return -1;
  }
  return 0;
}

int32_t PutValue(CharStream* stream, const char* value, const LineEncoding& line) {
  std::size_t length = std::strlen(value);
  if (line.encoding == kEncodingQuotedPrintable) {
    return VCardWriter_putQuotedPrintable(stream, value, static_cast<int32_t>(length),
                                          line.lineBreakMode);
  }
  if (std::memchr(value, ';', length) != nullptr) return PutEscapedValue(stream, value);
  return PutBlock(stream, value, static_cast<int32_t>(length));
}

// Fixed-size fields are written from a copy whose last byte is zero, so a
// field that lacks its terminator is cut rather than read past.
template <std::size_t N>
void Terminate(char (&field)[N]) {
  field[N - 1] = '\0';
}

int32_t PutOne(VCardWriter* writer, const char* name, uint32_t flags, const char* value) {
  const char* values[] = {value};
  return VCardWriter_putProperty(writer, name, flags, values, 1);
}

}  // namespace

VCardWriter* VCardWriter_create(CharStream* stream) {
  auto* writer = static_cast<VCardWriter*>(Allocate(sizeof(VCardWriter)));
  if (writer == nullptr) return nullptr;
  writer->stream = stream;
  writer->charsetSetting = kCharsetUtf8;
  writer->encodingSetting = kEncodingNone;
  writer->voiceParam = 0;
  writer->omitUtf8Charset = 0;
  return writer;
}

void VCardWriter_free(VCardWriter* writer) {
  std::free(writer);
}

int32_t VCardWriter_begin(VCardWriter* writer) {
  if (writer == nullptr || writer->stream == nullptr) return kStreamInvalidArgument;
  int32_t result = PutText(writer->stream, "%s", "BEGIN:VCARD\r\n");
  if (result < 0) return result;
  return PutText(writer->stream, "%s", "VERSION:2.1\r\n");
}

int32_t VCardWriter_end(VCardWriter* writer) {
  if (writer == nullptr || writer->stream == nullptr) return kStreamInvalidArgument;
  return PutText(writer->stream, "%s", "END:VCARD\r\n");
}

int32_t VCardWriter_putProperty(VCardWriter* writer, const char* name, uint32_t flags,
                                const char* const* values, int32_t count) {
  if (writer == nullptr || writer->stream == nullptr || name == nullptr) {
    return kStreamInvalidArgument;
  }
  if (values == nullptr) count = 0;
  CharStream* stream = writer->stream;
  LineEncoding line = ChooseEncoding(writer, values, count);

  int32_t result = PutText(stream, "%s", name);
  if (result < 0) return result;
  if (flags != 0 || line.charset != 0 || line.encoding != kEncodingNone) {
    result = VCardWriter_putParams(writer, flags, line.charset, line.encoding);
    if (result < 0) return result;
  }
  if (PutByte(stream, ':') != 0) return -1;
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0 && PutByte(stream, ';') != 0) return -1;
    if (!IsPresent(values[i])) continue;
    result = PutValue(stream, values[i], line);
    if (result < 0) return result;
  }
  return PutBlock(stream, "\r\n", 2);
}

int32_t VCardWriter_putParams(VCardWriter* writer, uint32_t flags, int32_t charset,
                              int32_t encoding) {
  if (writer == nullptr || writer->stream == nullptr) return kStreamInvalidArgument;
  CharStream* stream = writer->stream;
  for (const TypeText& type : kTypeTexts) {
    if ((flags & type.flag) == 0) continue;
    if (type.flag == kTypeVoice && writer->voiceParam != 1) continue;
    int32_t result = PutText(stream, ";%s", type.text);
    if (result < 0) return result;
  }
  if (charset == kCharsetUtf8 && writer->omitUtf8Charset == 0) {
    int32_t result = PutText(stream, ";%s", "CHARSET=UTF-8");
    if (result < 0) return result;
  }
  if (encoding == kEncodingQuotedPrintable) {
    int32_t result = PutText(stream, ";%s", "ENCODING=QUOTED-PRINTABLE");
    if (result < 0) return result;
  }
  return 0;
}

int32_t VCardWriter_putQuotedPrintable(CharStream* stream, const char* bytes, int32_t length,
                                       int lineBreakMode) {
  if (stream == nullptr) return kStreamInvalidArgument;
  if (bytes == nullptr || length <= 0) return 0;
  // Only a CR directly followed by LF counts as a line break: every byte but
  // a CR clears the flag, so a LF after "CR x" is escaped without a soft
  // break. CR and LF bytes are always escaped, in line-break mode or not,
  // so no raw line break ever reaches a value.
  bool afterCr = false;
  for (int32_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(bytes[i]);
    int32_t result = 0;
    if (byte == 0 || byte > 127 || byte == '=' || byte == kCr) {
      result = PutHexEscape(stream, byte);
    } else if (byte == kLf) {
      result = PutHexEscape(stream, byte);
      if (result == 0 && lineBreakMode && afterCr && i + 1 < length) {
        result = PutBlock(stream, "=\r\n\t", 4);
      }
    } else {
      if (byte == ';') result = PutByte(stream, '\\');
      if (result == 0) result = PutByte(stream, byte);
    }
    if (result < 0) return result;
    afterCr = byte == kCr;
  }
  return 0;
}

int32_t VCardWriter_putName(VCardWriter* writer, const NameFields* name) {
  if (name == nullptr) return VCardWriter_putProperty(writer, "N", 0, nullptr, 0);
  NameFields bounded = *name;
  Terminate(bounded.family);
  Terminate(bounded.given);
  Terminate(bounded.middle);
  Terminate(bounded.prefix);
  Terminate(bounded.suffix);
  const char* values[] = {bounded.family, bounded.given, bounded.middle, bounded.prefix,
                          bounded.suffix};
  return VCardWriter_putProperty(writer, "N", 0, values, 5);
}

int32_t VCardWriter_putBirthday(VCardWriter* writer, const char* text) {
  return PutOne(writer, "BDAY", 0, text);
}

int32_t VCardWriter_putTel(VCardWriter* writer, uint32_t flags, const char* text) {
  return PutOne(writer, "TEL", flags, text);
}

int32_t VCardWriter_putEmail(VCardWriter* writer, uint32_t flags, const char* text) {
  return PutOne(writer, "EMAIL", flags, text);
}

int32_t VCardWriter_putUrl(VCardWriter* writer, uint32_t flags, const char* text) {
  return PutOne(writer, "URL", flags, text);
}

int32_t VCardWriter_putAddress(VCardWriter* writer, uint32_t flags, const AddressFields* address) {
  if (address == nullptr) return VCardWriter_putProperty(writer, "ADR", flags, nullptr, 0);
  AddressFields bounded = *address;
  Terminate(bounded.postOfficeBox);
  Terminate(bounded.extended);
  Terminate(bounded.street);
  Terminate(bounded.locality);
  Terminate(bounded.region);
  Terminate(bounded.postalCode);
  Terminate(bounded.country);
  const char* values[] = {bounded.postOfficeBox, bounded.extended, bounded.street,
                          bounded.locality,      bounded.region,   bounded.postalCode,
                          bounded.country};
  return VCardWriter_putProperty(writer, "ADR", flags, values, 7);
}

int32_t VCardWriter_putOrg(VCardWriter* writer, const char* text) {
  return PutOne(writer, "ORG", 0, text);
}

int32_t VCardWriter_putTitle(VCardWriter* writer, const char* text) {
  return PutOne(writer, "TITLE", 0, text);
}

int32_t VCardWriter_putNote(VCardWriter* writer, const char* text) {
  return PutOne(writer, "NOTE", 0, text);
}

int32_t VCardWriter_putGroup(VCardWriter* writer, const char* text) {
  return PutOne(writer, "GRP", 0, text);
}

void AddressFields_clear(AddressFields* address) {
  if (address == nullptr) return;
  address->postOfficeBox[0] = '\0';
  address->extended[0] = '\0';
  address->street[0] = '\0';
  address->locality[0] = '\0';
  address->region[0] = '\0';
  address->postalCode[0] = '\0';
  address->country[0] = '\0';
}

}  // namespace mz
