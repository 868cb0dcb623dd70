// Reading a content line's value and taking decoded values apart.
//
// A value is read to the end of its (possibly folded) line, freed of its
// transfer encoding (base64 or quoted-printable) and converted from its
// declared character set to UTF-8, the one text form the record fillers
// work with. The splitters and the date and duration parsers work on such
// decoded values.
#pragma once

#include <cstdint>
#include <memory>

#include "base/result.h"
#include "stream/char_stream.h"
#include "stream/text_buffer.h"
#include "vobject/properties.h"

namespace mz {

// The value buffer size the record reader passes to ReadContentLine.
inline constexpr int32_t kValueBufferSize = 2048;

// Every field is -1 when the text did not provide it.
struct DateTimeFields {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t utc;  // 1 when the time ended in "Z", 0 for a time without it
};

inline constexpr int32_t kMaxComponents = 10;

struct ComponentField {
  char* data;    // null: the component is read and discarded
  int32_t size;  // bytes, terminator included
};

struct ComponentList {
  ComponentField fields[kMaxComponents];
  int32_t count;  // components to read, at most kMaxComponents
};

// The N value, in component order.
struct NameParts {
  char family[256];
  char given[256];
  char middle[256];
  char prefix[32];
  char suffix[32];
};

// The ADR value, in component order.
struct AddressParts {
  char postOfficeBox[128];
  char extended[128];
  char street[384];
  char locality[128];
  char region[128];
  char postalCode[128];
  char country[128];
};

// The ORG value, in component order.
struct OrgParts {
  char company[384];
  char department[128];
  char office[128];
};

// The working memory of the line reader: a scratch buffer for names and
// parameter words, and the buffer a raw value is collected in, which is kept
// from line to line and grows only when a value needs more than it has.
// ReadObject keeps one for a whole object; ReadContentLine takes one for its
// line alone.
struct LineBuffers;

// Null when memory is exhausted. The value buffer is taken at the first
// value.
LineBuffers* LineBuffers_create();
void LineBuffers_free(LineBuffers* buffers);

struct LineBuffersFreer {
  void operator()(LineBuffers* buffers) const { LineBuffers_free(buffers); }
};
using LineBuffersHolder = std::unique_ptr<LineBuffers, LineBuffersFreer>;

// Reads one whole content line: name, parameters, value. Zeroes `property`,
// `params` and the `size` bytes of `value` first. Returns the decoded
// value's length in `value` (0 also for a line that ended before its ":"),
// kStreamEnd when the data ended before a name, kMalformedText for a
// malformed line (already skipped), or a hard stream error as it came. When
// no working memory can be had the line is skipped as malformed; the end of
// the data that follows it is reported as kStreamEnd.
int32_t ReadContentLine(CharStream* stream, PropertyName* property, ParamList* params, char* value,
                        int32_t size);

// ReadContentLine in the working memory of `buffers`, except that `params`
// and `value` are not zeroed whole: each slot is freed with its texts
// emptied, and the value terminated after what the line gives (at 0 when
// nothing).
int32_t ReadContentLineWith(LineBuffers* buffers, CharStream* stream, PropertyName* property,
                            ParamList* params, char* value, int32_t size);

// Reads the value after the ":" to the end of its line (unfolded; with
// quoted-printable, soft breaks joined) into the value buffer of `buffers`,
// removes the first ENCODING given, and converts text by the first CHARSET
// given (none: the default character set) into `value`, NUL-terminated, at
// most `size` - 1 bytes. Inline binary (kind 1, or an unknown property with
// an encoding and no charset, unless the first VALUE is URL or CID) is
// copied raw up to its first zero byte, at most 4095 raw bytes kept. The
// whole value is consumed however long it is. Returns the bytes placed, 0 when the value could not
// be read (also when no room could be had to collect it), or a hard stream error.
int32_t ReadPropertyValue(LineBuffers* buffers, CharStream* stream, const ParamList* params,
                          char* value, int32_t size, ValueKind kind);

// Decodes `*length` bytes of quoted-printable `input` into `output` (which
// may be `input`; it never needs more room than the input). "=" CR LF is a
// soft break and produces nothing; "=" with two hex digits (either case) one
// byte; "=" with anything else drops those three bytes; a final "=" with
// fewer than two bytes after it ends decoding. Hex digits in `input` may be
// upper-cased in place. `*length` receives the bytes consumed. Returns the
// bytes produced; writes no terminator.
int32_t DecodeQuotedPrintable(char* input, int32_t* length, char* output);

// Reads bytes into `buffer` (emptied first) up to `separator`, which is
// consumed but not stored; `escape` is dropped and makes the next byte
// literal. Returns the component's length (the end of the data ends it; 0
// for an empty one), or a hard stream error.
int32_t ReadComponent(CharStream* stream, TextBuffer* buffer, int separator, int escape);

// Reads list->count ";"-separated, backslash-escaped components from
// `stream` into the fields in order, each cut to its field's size (a null
// field takes nothing). Fields past the end of the data receive the empty
// text; components beyond the count are ignored. Returns 0.
int32_t SplitComponents(ComponentList* list, CharStream* stream);

// SplitComponents over the text `text`. Returns 0.
int32_t SplitText(ComponentList* list, const char* text);

// Zero the whole area, then fill it from the value text (five, seven and
// three components). Return 0.
int32_t SplitName(NameParts* parts, const char* text);
int32_t SplitAddress(AddressParts* parts, const char* text);
int32_t SplitOrg(OrgParts* parts, const char* text);

// Parses a basic ISO 8601 date (dashes allowed) with an optional time
// "Thhmmss" and "Z". Returns 0, or kMalformedText when fewer than eight
// characters remain once the dashes are removed (every field then -1).
int32_t ParseDateTime(DateTimeFields* fields, const char* text);

// Writes "yyyymmdd", with `withTime` followed by "Thhmmss" and "Z" when the
// utc flag is set, cut to `size` - 1 bytes and terminated. Fields are
// printed as unsigned numbers. Returns the bytes written.
int32_t FormatDateTime(const DateTimeFields* fields, char* output, int32_t size, int withTime);

// Parses a duration such as "P1DT2H30M" into `*seconds` (years 365 days,
// months 30 days, weeks, days; hours, minutes, seconds after "T"). Returns
// 0, or kMalformedText (with *seconds 0) when the text does not begin with
// "P" or "p". A null `seconds` does nothing and gives 0.
int32_t ParseDuration(int32_t* seconds, const char* text);

}  // namespace mz
