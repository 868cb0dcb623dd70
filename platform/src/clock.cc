// Clocks and time conversion. Calendar arithmetic is proleptic Gregorian on
// a count of days since 1970-01-01, so that the pure conversions never
// depend on the time zone.
#include "platform/clock.h"

#include <cmath>
#include <cstdint>
#include <ctime>

#include "clock.h"
#include "core/fault.h"

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kTicksPerDay = kTicksPerSecond * kSecondsPerDay;
// Days from 1601-01-01 (file time zero) and from 1899-12-30 (automation date
// zero) to 1970-01-01.
constexpr std::int64_t kFileTimeEpochDays = 134'774;
constexpr std::int64_t kDateEpochDays = 25'569;

struct Civil {
  std::int64_t year;
  int month;  // 1..12
  int day;    // 1..31
};

// Days since 1970-01-01 of a date; counts in eras of 400 years from
// 0000-03-01 so that the leap day ends the year.
constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + dayOfEra - 719'468;
}

constexpr Civil CivilFromDays(std::int64_t days) {
  days += 719'468;
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const std::int64_t dayOfEra = days - era * 146'097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  return {yearOfEra + era * 400 + (month <= 2), month, day};
}

static_assert(DaysFromCivil(1601, 1, 1) == -kFileTimeEpochDays);
static_assert(DaysFromCivil(1899, 12, 30) == -kDateEpochDays);
static_assert(CivilFromDays(-kDateEpochDays).year == 1899);

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Fills every field from a day (since 1970-01-01) and a time within it; the
// year must fit in a WORD.
void SetFields(std::int64_t days, std::int64_t secondOfDay, int milliseconds, SYSTEMTIME* fields) {
  const Civil civil = CivilFromDays(days);
  fields->wYear = static_cast<WORD>(civil.year);
  fields->wMonth = static_cast<WORD>(civil.month);
  fields->wDay = static_cast<WORD>(civil.day);
  fields->wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);  // 1970-01-01: Thursday
  fields->wHour = static_cast<WORD>(secondOfDay / 3600);
  fields->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  fields->wSecond = static_cast<WORD>(secondOfDay % 60);
  fields->wMilliseconds = static_cast<WORD>(milliseconds);
}

std::uint64_t TicksOf(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Local time of a Unix time under the current TZ, which is re-read because
// localtime_r need not do so itself.
bool LocalTm(std::int64_t unixSeconds, std::tm* local) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  tzset();
  return localtime_r(&t, local) != nullptr;
}

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Automation date bounds: 0100-01-01 00:00 and 10000-01-01 00:00.
constexpr double kMinDate = -657'434.0;
constexpr double kEndDate = 2'958'466.0;
constexpr std::int64_t kMinDay = -657'434;
constexpr std::int64_t kMaxDay = 2'958'465;

}  // namespace

void GetSystemTimeAsFileTime(FILETIME* time) {
  if (time == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::uint64_t ticks = static_cast<std::uint64_t>(now.tv_sec) * 10'000'000 +
                              static_cast<std::uint64_t>(now.tv_nsec) / 100 +
                              116'444'736'000'000'000;  // 1970 in file time
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

namespace platform {

std::uint64_t NowFileTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return TicksOf(now);
}

}  // namespace platform

void GetLocalTime(SYSTEMTIME* time) {
  // Passed for call counts and traces only: this call has no way to fail.
  (void)platform::FaultAt("GetLocalTime");
  if (time == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int milliseconds = static_cast<int>(now.tv_nsec / 1'000'000);
  std::tm local{};
  if (!LocalTm(now.tv_sec, &local)) {
    // Cannot happen for the present; UTC beats garbage.
    const std::int64_t seconds = now.tv_sec;
    const std::int64_t days =
        (seconds >= 0 ? seconds : seconds - kSecondsPerDay + 1) / kSecondsPerDay;
    SetFields(days, seconds - days * kSecondsPerDay, milliseconds, time);
    return;
  }
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);  // leap second
  time->wMilliseconds = static_cast<WORD>(milliseconds);
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  if (auto fault = platform::FaultAt("FileTimeToLocalFileTime")) {
    return FailWith(static_cast<DWORD>(*fault));
  }
  if (utc == nullptr || local == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const std::uint64_t ticks = TicksOf(*utc);
  // File times are never negative, so division floors.
  const std::int64_t unixSeconds =
      static_cast<std::int64_t>(ticks / kTicksPerSecond) - kFileTimeEpochDays * kSecondsPerDay;
  std::tm tm{};
  if (!LocalTm(unixSeconds, &tm)) return FailWith(ERROR_INVALID_PARAMETER);
  const std::int64_t offset = static_cast<std::int64_t>(tm.tm_gmtoff) * kTicksPerSecond;
  const std::uint64_t magnitude = static_cast<std::uint64_t>(offset < 0 ? -offset : offset);
  if (offset < 0 ? ticks < magnitude : ticks > UINT64_MAX - magnitude) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  const std::uint64_t result = offset < 0 ? ticks - magnitude : ticks + magnitude;
  local->dwLowDateTime = static_cast<DWORD>(result);
  local->dwHighDateTime = static_cast<DWORD>(result >> 32);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields) {
  if (auto fault = platform::FaultAt("FileTimeToSystemTime")) {
    return FailWith(static_cast<DWORD>(*fault));
  }
  if (time == nullptr || fields == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const std::uint64_t ticks = TicksOf(*time);
  if (ticks >= (std::uint64_t{1} << 63)) return FailWith(ERROR_INVALID_PARAMETER);
  const auto signedTicks = static_cast<std::int64_t>(ticks);
  const std::int64_t ticksOfDay = signedTicks % kTicksPerDay;
  SetFields(signedTicks / kTicksPerDay - kFileTimeEpochDays, ticksOfDay / kTicksPerSecond,
            static_cast<int>(ticksOfDay % kTicksPerSecond / 10'000), fields);
  return TRUE;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* fields, DATE* date) {
  if (auto fault = platform::FaultAt("SystemTimeToVariantTime")) {
    return FailWith(static_cast<DWORD>(*fault));
  }
  if (fields == nullptr || date == nullptr) return FALSE;
  const SYSTEMTIME& f = *fields;
  if (f.wYear < 100 || f.wYear > 9999 || f.wMonth < 1 || f.wMonth > 12 || f.wDay < 1 ||
      f.wDay > DaysInMonth(f.wYear, f.wMonth) || f.wHour >= 24 || f.wMinute >= 60 ||
      f.wSecond >= 60) {
    return FALSE;
  }
  const std::int64_t day = DaysFromCivil(f.wYear, f.wMonth, f.wDay) + kDateEpochDays;
  const double fraction = (f.wHour * 3600 + f.wMinute * 60 + f.wSecond) / double(kSecondsPerDay);
  // Before day 0 the time of day still counts forward, so it adds to the
  // magnitude.
  *date = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
  return TRUE;
}

INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* fields) {
  if (auto fault = platform::FaultAt("VariantTimeToSystemTime")) {
    return FailWith(static_cast<DWORD>(*fault));
  }
  if (fields == nullptr || !std::isfinite(date) || date < kMinDate || date >= kEndDate) {
    return FALSE;
  }
  const double whole = std::trunc(date);  // -0.5 is day 0, like +0.5
  auto day = static_cast<std::int64_t>(whole);
  auto second = static_cast<std::int64_t>(std::round(std::fabs(date - whole) * kSecondsPerDay));
  if (second == kSecondsPerDay) {
    ++day;
    second = 0;
  }
  // Rounding may still carry the last moments of 9999 into the year 10000.
  if (day < kMinDay || day > kMaxDay) return FALSE;
  SetFields(day - kDateEpochDays, second, 0, fields);
  return TRUE;
}
