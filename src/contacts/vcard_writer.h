// The vCard writer: vCard 2.1 content lines onto a CharStream.
//
// Values arrive as zero-terminated 8-bit text (UTF-8 or 7-bit). The writer
// chooses, line by line, whether a CHARSET and an ENCODING parameter are
// needed, escapes semicolons inside values, and writes line breaks inside a
// value in its quoted-printable form; a raw CR or LF never appears inside a
// value. Each piece goes to the stream as it is produced; the first failed
// write ends the operation with a negative result.
#pragma once

#include <cstdint>

#include "stream/char_stream.h"

namespace mz {

// Type flags of a property line, written in this order.
enum TypeFlags : uint32_t {
  kTypeHome = 0x1,
  kTypeWork = 0x2,
  kTypePref = 0x80,
  kTypeCell = 0x100,
  kTypePager = 0x200,
  kTypeFax = 0x400,
  kTypeVoice = 0x800,  // written only when the writer's voiceParam is 1
  kTypeInternet = 0x1000,
};

// charsetSetting 2: "CHARSET=UTF-8".
inline constexpr int32_t kCharsetUtf8 = 2;
// encodingSetting: 0 none, 1 quoted-printable.
inline constexpr int32_t kEncodingNone = 0;
inline constexpr int32_t kEncodingQuotedPrintable = 1;

struct VCardWriter {
  CharStream* stream;      // not owned, never closed by the writer
  int32_t charsetSetting;  // charset of a line with a byte above 127: 2
  int32_t encodingSetting;
  int32_t voiceParam;       // 1: the VOICE flag is written
  int32_t omitUtf8Charset;  // nonzero: "CHARSET=UTF-8" is not written
};

// Sizes include the terminator; a field without one is written cut at its
// last byte.
struct NameFields {
  char family[80];
  char given[80];
  char middle[32];
  char prefix[32];
  char suffix[32];
};

struct AddressFields {
  char postOfficeBox[128];
  char extended[128];
  char street[128];
  char locality[64];
  char region[64];
  char postalCode[16];
  char country[32];
};

// A writer over `stream` (not owned) with charset 2, encoding 0, voiceParam
// 0 and omitUtf8Charset 0; null when it cannot be allocated.
VCardWriter* VCardWriter_create(CharStream* stream);
void VCardWriter_free(VCardWriter* writer);

// "BEGIN:VCARD\r\n" "VERSION:2.1\r\n" / "END:VCARD\r\n"; 0 or the stream's
// negative result.
int32_t VCardWriter_begin(VCardWriter* writer);
int32_t VCardWriter_end(VCardWriter* writer);

// One content line: name, parameters, ":", the values joined by ";" (empty
// or missing values keep their places), CR LF. One choice covers the whole
// line: a value with a byte above 127 gives the line charsetSetting and
// encodingSetting; a CR or LF in any value makes the line quoted-printable
// whatever encodingSetting says, in line-break mode when some value holds a
// CR LF pair. Outside quoted-printable, ';' is written
// "\;". 0, -1 when a byte or block write fails, or the stream's negative
// result for a failed formatted write.
int32_t VCardWriter_putProperty(VCardWriter* writer, const char* name, uint32_t flags,
                                const char* const* values, int32_t count);

// The parameter part of a line: each set type flag, then the charset, then
// the encoding, each as ";%s". 0 or negative.
int32_t VCardWriter_putParams(VCardWriter* writer, uint32_t flags, int32_t charset,
                              int32_t encoding);

// One value in the writer's quoted-printable form: bytes 0, above 127, '=',
// CR and LF as "=%02x" (lower case), ';' as "\;", the rest unchanged. In
// line-break mode a CR directly followed by LF is written =0d=0a and then
// the soft break "=\r\n\t", unless the LF ends the value. 0, -1 when a
// byte or block write fails, or the stream's negative result.
int32_t VCardWriter_putQuotedPrintable(CharStream* stream, const char* bytes, int32_t length,
                                       int lineBreakMode);

int32_t VCardWriter_putName(VCardWriter* writer, const NameFields* name);
int32_t VCardWriter_putBirthday(VCardWriter* writer, const char* text);
int32_t VCardWriter_putTel(VCardWriter* writer, uint32_t flags, const char* text);
int32_t VCardWriter_putEmail(VCardWriter* writer, uint32_t flags, const char* text);
int32_t VCardWriter_putUrl(VCardWriter* writer, uint32_t flags, const char* text);
int32_t VCardWriter_putAddress(VCardWriter* writer, uint32_t flags, const AddressFields* address);
int32_t VCardWriter_putOrg(VCardWriter* writer, const char* text);
int32_t VCardWriter_putTitle(VCardWriter* writer, const char* text);
int32_t VCardWriter_putNote(VCardWriter* writer, const char* text);
int32_t VCardWriter_putGroup(VCardWriter* writer, const char* text);

// Empties all seven fields.
void AddressFields_clear(AddressFields* address);

}  // namespace mz
