// Clocks and time conversion. Local time follows the process's TZ, with the
// daylight-saving rule in force at the instant converted.
#pragma once

#include "platform/types.h"

// Current local date and time.
void GetLocalTime(SYSTEMTIME* time);

// UTC file time to local file time. FALSE (ERROR_INVALID_PARAMETER) for a
// null pointer or a time the C library cannot place in the local zone.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);

// File time to calendar fields, including the day of the week and
// milliseconds. FALSE for a null pointer or a time at or past 2^63.
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);

// Automation dates count days since 30 December 1899 (0.0). The fraction is
// the time of day; before that day the integer part is negative and the
// fraction still counts forward from midnight (-1.25 is 29 December 1899,
// 06:00).
//
// SystemTimeToVariantTime: TRUE and the date, or FALSE and *date unchanged
// when a field is out of range: year 100..9999, month 1..12, a day that the
// month has, hour < 24, minute < 60, second < 60. Milliseconds and the day
// of the week are ignored.
INT SystemTimeToVariantTime(const SYSTEMTIME* fields, DATE* date);

// VariantTimeToSystemTime: TRUE and the fields rounded to the nearest second
// (milliseconds 0), or FALSE for a date outside 1 January 100 to
// 31 December 9999 or not a number.
INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* fields);
