#include "vobject/calendar_record.h"

#include <cstdlib>
#include <cstring>

#include "stream/text_buffer.h"

namespace mz {

namespace {

template <size_t N>
int32_t LookUp(const CodeRow (&table)[N], const char* text, int32_t fallback) {
  if (text == nullptr) return fallback;
  for (const CodeRow& row : table) {
    if (CompareNoCase(row.text, text) == 0) return row.code;
  }
  return fallback;
}

template <size_t N>
void CopyInto(char (&field)[N], const char* value) {
  CopyBounded(field, value, static_cast<int32_t>(N));
}

void HandleAlarm(CalendarRecord* record, const char* value, bool withText) {
  DateTimeFields runTime;
  ParseAlarm(&runTime, nullptr, nullptr, withText ? record->alarmText : nullptr, kAlarmTextSize,
             nullptr, 0, value);
  if (record->alarmTime[0] != 0) return;
  // A run time without a usable date and time part would format as garbage;
  // the field stays empty instead, free for a later alarm.
  if (runTime.year < 0 || runTime.month < 0 || runTime.day < 0 || runTime.hour < 0 ||
      runTime.minute < 0 || runTime.second < 0) {
    return;
  }
  FormatDateTime(&runTime, record->alarmTime, kDateTextSize, 1);
}

}  // namespace

int32_t StatusCode(const char* text) {
  return LookUp(StatusTable, text, kStatusOther);
}

int32_t CategoryCode(const char* text) {
  return LookUp(CategoryTable, text, kCategoryOther);
}

int32_t ParseAlarm(DateTimeFields* runTime, int32_t* snoozeSeconds, int32_t* repeatCount,
                   char* text, int32_t textSize, char* text2, int32_t text2Size,
                   const char* value) {
  if (text != nullptr && textSize > 0) text[0] = 0;
  if (text2 != nullptr && text2Size > 0) text2[0] = 0;
  char runText[32] = {};
  char snoozeText[32] = {};
  char repeatText[16] = {};
  if (value != nullptr) {
    ComponentList list = {};
    list.fields[0] = {runText, sizeof(runText)};
    list.fields[1] = {snoozeText, sizeof(snoozeText)};
    list.fields[2] = {repeatText, sizeof(repeatText)};
    list.fields[3] = {textSize > 0 ? text : nullptr, textSize};
    list.fields[4] = {text2Size > 0 ? text2 : nullptr, text2Size};
    list.count = 5;
    SplitText(&list, value);
  }
  if (runTime != nullptr) ParseDateTime(runTime, runText);
  if (snoozeSeconds != nullptr) ParseDuration(snoozeSeconds, snoozeText);
  if (repeatCount != nullptr) *repeatCount = static_cast<int32_t>(std::atol(repeatText));
  return 0;
}

void AddCalendarProperty(const PropertyName* property, const ParamList* params, const char* value,
                         int32_t length, int32_t size, CalendarRecord* record) {
  (void)params;
  (void)size;
  if (property == nullptr || value == nullptr || record == nullptr || length <= 0) return;
  switch (property->id) {
    case kPropertySummary:
      CopyInto(record->summary, value);
      break;
    case kPropertyDescription:
      CopyInto(record->description, value);
      break;
    case kPropertyLocation:
      CopyInto(record->location, value);
      break;
    case kPropertyDtStart:
      CopyInto(record->start, value);
      break;
    case kPropertyDtEnd:
      CopyInto(record->end, value);
      break;
    case kPropertyDue:
      CopyInto(record->due, value);
      break;
    case kPropertyPriority:
      record->priority = std::atoi(value);
      break;
    case kPropertyCategories:
      record->category = CategoryCode(value);
      break;
    case kPropertyStatus:
      record->status = StatusCode(value);
      break;
    case kPropertyAudioAlarm:
      HandleAlarm(record, value, true);
      break;
    case kPropertyDisplayAlarm:
    case kPropertyMailAlarm:
    case kPropertyProcedureAlarm:
      HandleAlarm(record, value, false);
      break;
    default:
      break;
  }
}

}  // namespace mz
