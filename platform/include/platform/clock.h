// Clocks and time conversion. Local time follows the process's TZ (re-read on
// every call), with the daylight-saving rule in force at the instant
// converted.
#pragma once

#include "platform/types.h"

// Current local date and time, with milliseconds and the day of the week.
void GetLocalTime(SYSTEMTIME* time);

// UTC file time to local file time: adds the zone's offset at that instant.
// FALSE (ERROR_INVALID_PARAMETER) for a null pointer, a time the C library
// cannot place in the local zone, or a result outside 64 bits.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);

// File time to calendar fields, including the day of the week (0 = Sunday)
// and milliseconds. FALSE (ERROR_INVALID_PARAMETER) for a null pointer or a
// time at or past 2^63. No time zone is involved.
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);

// Automation dates count days since 30 December 1899 (0.0). The fraction is
// the time of day; before that day the integer part is negative and the
// fraction still counts forward from midnight (-1.25 is 29 December 1899,
// 06:00; -0.5 is the same as 0.5).
//
// SystemTimeToVariantTime: TRUE and the date, or FALSE and *date unchanged
// when a pointer is null or a field is out of range: year 100..9999, month
// 1..12, a day that the month has (Gregorian leap years), hour < 24,
// minute < 60, second < 60. Milliseconds and the day of the week are
// ignored.
INT SystemTimeToVariantTime(const SYSTEMTIME* fields, DATE* date);

// VariantTimeToSystemTime: TRUE and every field, rounded to the nearest
// second (a time that rounds up to midnight is the next day; milliseconds
// 0). FALSE for a null pointer, a date that is not a number, below -657434.0
// (1 January 100, 00:00) or at or past 2958466.0 (1 January 10000), and for
// the last half second of 9999, which would round into 10000.
INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* fields);
