// The head of a vCard or vCalendar content line: the property name, looked
// up in PropertyTable, and up to eight parameters, looked up in
// ParameterTable, read from a CharStream through the tokenizer.
//
// Group prefixes (item1.TEL) are not recognised: the whole word before ";"
// or ":" is the name. Only a parameter's word is looked up; its own name
// before "=" plays no part, so TYPE=HOME and HOME give the same slot.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "stream/char_stream.h"
#include "stream/text_buffer.h"

namespace mz {

inline constexpr int32_t kWordSize = 32;  // name fields, terminator included
inline constexpr int32_t kParamSlotCount = 8;

// 0 for plain text values, 1 when the value may be inline binary, -1 for a
// property that is not in the table.
using ValueKind = int32_t;
inline constexpr ValueKind kKindText = 0;
inline constexpr ValueKind kKindBinary = 1;
inline constexpr ValueKind kKindUnknown = -1;

// Parameter groups. kParamUnknown marks a word that is not in the table;
// 0 marks a free slot.
enum ParamGroup : int32_t {
  kParamUnknown = -1,
  kParamCharset = 1,
  kParamEncoding = 2,
  kParamValue = 4,
  kParamType = 11,
  kParamRole = 21,
  kParamStatus = 22,
  kParamRsvp = 23,
  kParamExpect = 24,
};

// Values within the groups that the readers act on.
inline constexpr int32_t kCharsetUcs2 = 1;
inline constexpr int32_t kCharsetUtf8 = 2;
inline constexpr int32_t kCharsetUtf7 = 3;
inline constexpr int32_t kEncodingBase64 = 1;
inline constexpr int32_t kEncodingQuotedPrintable = 2;
inline constexpr int32_t kValueInline = 0;
inline constexpr int32_t kValueUrl = 1;
inline constexpr int32_t kValueContentId = 2;
inline constexpr int32_t kTypeHome = 1;
inline constexpr int32_t kTypeWork = 2;
inline constexpr int32_t kTypePref = 3;
inline constexpr int32_t kTypeVoice = 21;
inline constexpr int32_t kTypeCell = 22;
inline constexpr int32_t kTypePager = 23;
inline constexpr int32_t kTypeFax = 24;
inline constexpr int32_t kTypeMsg = 25;

// One identifier per property name: the PropertyTable row of the name, and
// what the records switch on. Ids 1-41 are the vCard properties, 51-88 the
// vCalendar ones.
enum PropertyId : uint32_t {
  kPropertyUnknown = 0,  // a name that is not in the table
  kPropertyBegin = 1,
  kPropertyEnd = 2,
  kPropertyVersion = 3,
  kPropertyUrl = 4,
  kPropertyUid = 5,
  kPropertyProdId = 6,
  kPropertyTx = 7,
  kPropertyGeo = 8,
  kPropertyFn = 11,
  kPropertyN = 12,
  kPropertyPhoto = 13,
  kPropertyBday = 14,
  kPropertyAdr = 15,
  kPropertyLabel = 16,  // spelt "LABLE", as the readers of this system expect it
  kPropertyTel = 17,
  kPropertyEmail = 18,
  kPropertyTitle = 22,
  kPropertyRole = 23,
  kPropertyLogo = 24,
  kPropertyAgent = 25,
  kPropertyOrg = 26,
  kPropertyNote = 27,
  kPropertyRev = 28,
  kPropertySound = 29,
  kPropertyKey = 30,
  kPropertyGrp = 41,
  kPropertyDaylight = 51,
  kPropertyAttach = 61,
  kPropertyAttendee = 62,
  kPropertyAudioAlarm = 63,
  kPropertyCategories = 64,
  kPropertyClass = 65,
  kPropertyDCreated = 66,
  kPropertyCompleted = 67,
  kPropertyDescription = 68,
  kPropertyDisplayAlarm = 69,
  kPropertyDue = 70,
  kPropertyDtEnd = 71,
  kPropertyExDate = 72,
  kPropertyExRule = 73,
  kPropertyLastModified = 74,
  kPropertyLocation = 75,
  kPropertyMailAlarm = 76,
  kPropertyRNum = 77,
  kPropertyPriority = 78,
  kPropertyProcedureAlarm = 79,
  kPropertyRelatedId = 80,
  kPropertyRDate = 81,
  kPropertyRRule = 82,
  kPropertyResources = 83,
  kPropertySequence = 84,
  kPropertyDtStart = 85,
  kPropertyStatus = 86,
  kPropertySummary = 87,
  kPropertyTransp = 88,
};

struct PropertyName {
  PropertyId id;         // kPropertyUnknown when the name is not in the table
  char name[kWordSize];  // the name as read, a..z upper-cased
};

struct ParamSlot {
  int32_t group;         // ParamGroup; 0 while the slot is free
  int32_t value;         // the word's value in its group; -1 for an unknown word
  char text[16];         // always left empty
  char name[kWordSize];  // the upper-cased unknown word; empty when recognised
};

// Used slots are always the first ones. The caller zeroes the list before
// each line.
struct ParamList {
  ParamSlot slots[kParamSlotCount];
};

struct PropertyRow {
  PropertyId id;
  const char* name;
  ValueKind kind;
};

struct ParameterRow {
  int32_t group;
  int32_t value;
  const char* word;
};

// Searched in this order; the first equal name wins.
inline constexpr PropertyRow PropertyTable[] = {
    {kPropertyBegin, "BEGIN", kKindText},
    {kPropertyEnd, "END", kKindText},
    {kPropertyVersion, "VERSION", kKindText},
    {kPropertyUrl, "URL", kKindText},
    {kPropertyUid, "UID", kKindText},
    {kPropertyProdId, "PRODID", kKindText},
    {kPropertyTx, "TX", kKindText},
    {kPropertyGeo, "GEO", kKindText},
    {kPropertyFn, "FN", kKindText},
    {kPropertyN, "N", kKindText},
    {kPropertyPhoto, "PHOTO", kKindBinary},
    {kPropertyBday, "BDAY", kKindText},
    {kPropertyAdr, "ADR", kKindText},
    {kPropertyLabel, "LABLE", kKindText},
    {kPropertyTel, "TEL", kKindText},
    {kPropertyEmail, "EMAIL", kKindText},
    {kPropertyTitle, "TITLE", kKindText},
    {kPropertyRole, "ROLE", kKindText},
    {kPropertyLogo, "LOGO", kKindBinary},
    {kPropertyAgent, "AGENT", kKindText},
    {kPropertyOrg, "ORG", kKindText},
    {kPropertyNote, "NOTE", kKindText},
    {kPropertyRev, "REV", kKindText},
    {kPropertySound, "SOUND", kKindBinary},
    {kPropertyKey, "KEY", kKindText},
    {kPropertyGrp, "GRP", kKindText},
    {kPropertyDaylight, "DAYLIGHT", kKindText},
    {kPropertyAttach, "ATTACH", kKindText},
    {kPropertyAttendee, "ATTENDEE", kKindText},
    {kPropertyAudioAlarm, "AALARM", kKindBinary},
    {kPropertyCategories, "CATEGORIES", kKindText},
    {kPropertyClass, "CLASS", kKindText},
    {kPropertyDCreated, "DCREATED", kKindText},
    {kPropertyCompleted, "COMPLETED", kKindText},
    {kPropertyDescription, "DESCRIPTION", kKindText},
    {kPropertyDisplayAlarm, "DALARM", kKindText},
    {kPropertyDue, "DUE", kKindText},
    {kPropertyDtEnd, "DTEND", kKindText},
    {kPropertyExDate, "EXDATE", kKindText},
    {kPropertyExRule, "EXRULE", kKindText},
    {kPropertyLastModified, "LAST-MODIFIED", kKindText},
    {kPropertyLocation, "LOCATION", kKindText},
    {kPropertyMailAlarm, "MALARM", kKindText},
    {kPropertyRNum, "RNUM", kKindText},
    {kPropertyPriority, "PRIORITY", kKindText},
    {kPropertyProcedureAlarm, "PALARM", kKindText},
    {kPropertyRelatedId, "RELATED_ID", kKindText},
    {kPropertyRDate, "RDATE", kKindText},
    {kPropertyRRule, "RRULE", kKindText},
    {kPropertyResources, "RESOURCES", kKindText},
    {kPropertySequence, "SEQUENCE", kKindText},
    {kPropertyDtStart, "DTSTART", kKindText},
    {kPropertyStatus, "STATUS", kKindText},
    {kPropertySummary, "SUMMARY", kKindText},
    {kPropertyTransp, "TRANSP", kKindText},
};

// Searched in this order.
inline constexpr ParameterRow ParameterTable[] = {
    {kParamCharset, kCharsetUtf8, "UTF-8"},
    {kParamCharset, kCharsetUtf7, "UTF-7"},
    {kParamCharset, kCharsetUcs2, "UCS2"},
    {kParamEncoding, kEncodingBase64, "BASE64"},
    {kParamEncoding, kEncodingQuotedPrintable, "QUOTED-PRINTABLE"},
    {kParamValue, kValueInline, "INLINE"},
    {kParamValue, kValueContentId, "CID"},
    {kParamValue, kValueContentId, "CONTENT-ID"},
    {kParamValue, kValueUrl, "URL"},
    {kParamType, kTypeHome, "HOME"},
    {kParamType, kTypeWork, "WORK"},
    {kParamType, kTypePref, "PREF"},
    {kParamType, kTypeVoice, "VOICE"},
    {kParamType, kTypeCell, "CELL"},
    {kParamType, kTypePager, "PAGER"},
    {kParamType, kTypeFax, "FAX"},
    {kParamType, kTypeMsg, "MSG"},
    {kParamType, 41, "BMP"},
    {kParamType, 42, "GIF"},
    {kParamType, 43, "JPG"},
    {kParamType, 44, "MPEG"},
    {kParamType, 45, "MPEG2"},
    {kParamType, 46, "PS"},
    {kParamType, 47, "PDF"},
    {kParamType, 48, "TIFF"},
    {kParamType, 61, "WAVE"},
    {kParamType, 62, "PCM"},
    {kParamType, 63, "AIFF"},
    {kParamRole, 0, "ATTENDEE"},
    {kParamRole, 1, "ORGANIZER"},
    {kParamRole, 2, "OWNER"},
    {kParamRole, 3, "DELEGATE"},
    {kParamStatus, 0, "NEEDACTION"},
    {kParamStatus, 1, "ACCEPTED"},
    {kParamStatus, 2, "SENT"},
    {kParamStatus, 3, "TENTATIVE"},
    {kParamStatus, 4, "CONFIRMED"},
    {kParamStatus, 5, "DECLINED"},
    {kParamStatus, 6, "COMPLETED"},
    {kParamStatus, 7, "DELEGATED"},
    {kParamRsvp, 0, "NO"},
    {kParamRsvp, 1, "YES"},
    {kParamExpect, 0, "AFYI"},
    {kParamExpect, 1, "REQUIRE"},
    {kParamExpect, 2, "REQUEST"},
    {kParamExpect, 3, "IMMEDIATE"},
};

// The first row of the table whose name, or word, is `name` (compared
// exactly), or null.
const PropertyRow* FindProperty(const char* name);
const ParameterRow* FindParameterWord(const char* word);

// Reads the name of the next content line, skipping empty lines, into
// `property` and its ValueKind into `*kind` (null allowed). `scratch`
// receives token text. Returns 1 with the delimiter after the name left in
// the stream, whether or not the name is known (id 0 and kind -1 when not).
// A line that begins with ";" or ":", a quoted string or a bare CR, or a
// name of 32 bytes or more, is consumed with its continuation lines and
// gives kMalformedText. Otherwise kStreamEnd at the end of the data, a
// hard error as it came, and kMalformedText for any other stream failure.
// Null stream, property or scratch gives kStreamInvalidArgument.
int32_t ReadPropertyName(CharStream* stream, PropertyName* property, TextBuffer* scratch,
                         ValueKind* kind);

// Reads the parameters after the name up to and including the ":" into the
// free slots of `list`; parameters past the eighth are dropped. A word is
// stored when a ";", ":" or quoted string follows it (the quoted text is
// dropped); "=" only makes the next word replace the one before it.
// Returns 1 at the ":", 0 when the line (CR LF) or the data ended first, or
// a hard error. Null arguments give kStreamInvalidArgument.
int32_t ReadParameters(CharStream* stream, ParamList* list, TextBuffer* scratch);

// The first of the eight slots whose group is `group`, else `fallback`.
const ParamSlot* FindParam(const ParamList* list, int32_t group, const ParamSlot* fallback);

// True when any slot holds both `group` and `value`.
bool HasParam(const ParamList* list, int32_t group, int32_t value);

}  // namespace mz
