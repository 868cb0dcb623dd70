// The calendar record a VEVENT or VTODO is read into, and the calendar
// branch of the object reader that fills it.
//
// The record keeps a fixed subset of an event's or to-do's properties: the
// texts as they arrive (dates unvalidated), priority, category and status
// as numbers, and the first alarm's run time. No export of this system
// supplies one; calendar objects sent to the contact paths are read through
// and dropped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vobject/properties.h"
#include "vobject/values.h"

namespace mz {

// CalendarRecord.type.
inline constexpr int32_t kCalendarTodo = 1;
inline constexpr int32_t kCalendarEvent = 2;

inline constexpr int32_t kDateTextSize = 20;
inline constexpr int32_t kAlarmTextSize = 256;

// Zero-filled by ReadObject. Texts are NUL-terminated and cut to their
// field's size minus one.
struct CalendarRecord {
  int32_t type;  // kCalendarTodo or kCalendarEvent; set by ReadObject
  char summary[512];
  char description[2048];
  char location[512];
  char end[kDateTextSize];         // DTEND as it arrived
  char start[kDateTextSize];       // DTSTART as it arrived
  char due[kDateTextSize];         // DUE as it arrived
  char alarmTime[kDateTextSize];   // run time of the first alarm, re-formatted
  char alarmText[kAlarmTextSize];  // fourth component of AALARM
  int32_t priority;
  int32_t category;  // CategoryCode
  int32_t status;    // StatusCode
};

static_assert(offsetof(CalendarRecord, summary) == 4);
static_assert(offsetof(CalendarRecord, description) == 516);
static_assert(offsetof(CalendarRecord, location) == 2564);
static_assert(offsetof(CalendarRecord, end) == 3076);
static_assert(offsetof(CalendarRecord, start) == 3096);
static_assert(offsetof(CalendarRecord, due) == 3116);
static_assert(offsetof(CalendarRecord, alarmTime) == 3136);
static_assert(offsetof(CalendarRecord, alarmText) == 3156);
static_assert(offsetof(CalendarRecord, priority) == 3412);
static_assert(offsetof(CalendarRecord, category) == 3416);
static_assert(offsetof(CalendarRecord, status) == 3420);
static_assert(sizeof(CalendarRecord) == 3424);

struct CodeRow {
  const char* text;
  int32_t code;
};

// Tried in this order against the whole value, ignoring case.
inline constexpr CodeRow StatusTable[] = {
    {"SENT", 2},     {"NEEDS ACTION", 3}, {"TENTATIVE", 4}, {"CONFIRMED", 5},
    {"DECLINED", 6}, {"COMPLETED", 7},    {"DELEGATED", 8},
};
inline constexpr int32_t kStatusOther = 1;

inline constexpr CodeRow CategoryTable[] = {
    {"APPOINTMENT", 1}, {"PERSONAL", 7},          {"BUSINESS", 2},  {"MEETING", 5},
    {"PHONE CALL", 8},  {"EDUCATION", 3},         {"VACATION", 12}, {"HOLIDAY", 4},
    {"SICK DAY", 9},    {"SPECIAL OCCASION", 10}, {"TRAVEL", 11},
};
// Also the code of a list of several categories, which is one text.
inline constexpr int32_t kCategoryOther = 6;

// The code of a STATUS or CATEGORIES value; kStatusOther or kCategoryOther
// for any other text (null included).
int32_t StatusCode(const char* text);
int32_t CategoryCode(const char* text);

// Adds one property line of an event or to-do to the record; an empty value
// (length 0) and every property not kept are ignored, and a later line of
// a property overwrites the earlier one. The alarm time is written only
// while it is empty, so the first alarm with a usable run time sets it; an
// AALARM always replaces the alarm text (emptying it when it has no fourth
// component). `size` is the size of the buffer `value` lies in.
void AddCalendarProperty(const PropertyName* property, const ParamList* params, const char* value,
                         int32_t length, int32_t size, CalendarRecord* record);

// Takes an alarm value "run time;snooze;repeat;text;text2" apart. Empties
// `text` and `text2` (each null allowed) first, then fills every place
// given: `runTime` by ParseDateTime (its result not examined, so the fields
// may stay -1), `*snoozeSeconds` by ParseDuration, `*repeatCount` as a
// decimal number, the texts cut to their sizes. Returns 0.
int32_t ParseAlarm(DateTimeFields* runTime, int32_t* snoozeSeconds, int32_t* repeatCount,
                   char* text, int32_t textSize, char* text2, int32_t text2Size, const char* value);

}  // namespace mz
