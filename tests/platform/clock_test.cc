// Automation dates, file times and local time under fixed TZ rules.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/emulator.h"

namespace {

constexpr std::uint64_t kUnixEpochTicks = 116'444'736'000'000'000;

// "YYYY-MM-DD hh:mm:ss.mmm Day", so that failures read as dates.
std::string Show(const SYSTEMTIME& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s", t.wYear, t.wMonth,
                t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                t.wDayOfWeek < 7 ? kDays[t.wDayOfWeek] : "???");
  return text;
}

// Reads "YYYY-MM-DD hh:mm:ss[.mmm]"; the day of the week is left 0.
SYSTEMTIME Parse(const char* text) {
  SYSTEMTIME t{};
  const int read = std::sscanf(text, "%hu-%hu-%hu %hu:%hu:%hu.%hu", &t.wYear, &t.wMonth, &t.wDay,
                               &t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds);
  EXPECT_GE(read, 6) << text;
  return t;
}

FILETIME FileTimeOfTicks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// File time of a UTC date, computed apart from the code under test.
FILETIME FileTimeOf(const char* utc) {
  using namespace std::chrono;
  const SYSTEMTIME t = Parse(utc);
  const sys_days day{year{t.wYear} / month{t.wMonth} / t.wDay};
  const std::int64_t seconds =
      day.time_since_epoch().count() * 86'400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
  return FileTimeOfTicks(kUnixEpochTicks + seconds * 10'000'000 + t.wMilliseconds * 10'000);
}

// The fields of a file time, or "refused" with the error it gave.
std::string ShowFileTime(const FILETIME& time) {
  SYSTEMTIME fields{};
  SetLastError(0);
  if (FileTimeToSystemTime(&time, &fields)) return Show(fields);
  return "refused " + std::to_string(GetLastError());
}

// The fields of an automation date, or "refused".
std::string ShowDate(DATE date) {
  SYSTEMTIME fields{};
  return VariantTimeToSystemTime(date, &fields) ? Show(fields) : "refused";
}

// Sets TZ for its lifetime, then puts the old value back.
struct ScopedTimeZone {
  explicit ScopedTimeZone(const char* zone) : had(std::getenv("TZ") != nullptr) {
    if (had) old = std::getenv("TZ");
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    had ? setenv("TZ", old.c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  bool had;
  std::string old;
};

// POSIX rules, so that no time-zone database is needed.
constexpr const char* kNewYorkRules = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* kCentralEuropeRules = "CET-1CEST,M3.5.0,M10.5.0/3";

// The fields of `utc` as local time under `rules`, or the refusal.
std::string LocalOf(const char* rules, const FILETIME& utc) {
  ScopedTimeZone zone(rules);
  FILETIME local{};
  SetLastError(0);
  if (FileTimeToLocalFileTime(&utc, &local)) return ShowFileTime(local);
  return "local time refused " + std::to_string(GetLastError());
}

TEST(AutomationDateTest, KnownDatesConvertBothWays) {
  struct Case {
    const char* when;
    double date;
  } cases[] = {
      {"1899-12-30 00:00:00.000 Sat", 0.0},
      {"1899-12-30 06:00:00.000 Sat", 0.25},
      {"1900-01-01 00:00:00.000 Mon", 2.0},
      {"1990-05-12 00:00:00.000 Sat", 33005.0},
      {"2000-02-29 18:00:00.000 Tue", 36585.75},
      {"2999-12-31 00:00:00.000 Tue", 401768.0},
      {"9999-12-31 23:59:59.000 Fri", 2958465.0 + 86399.0 / 86400.0},
      {"1899-12-29 06:00:00.000 Fri", -1.25},  // the fraction counts forward from the day
      {"1600-02-29 12:00:00.000 Tue", -109512.5},
      {"0100-01-01 00:00:00.000 Fri", -657434.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    SYSTEMTIME fields = Parse(c.when);
    fields.wMilliseconds = 999;  // ignored, as is the day of the week
    fields.wDayOfWeek = 9;
    DATE date = 42.0;
    ASSERT_TRUE(SystemTimeToVariantTime(&fields, &date));
    EXPECT_DOUBLE_EQ(date, c.date);
    EXPECT_EQ(ShowDate(c.date), c.when);
  }
}

TEST(AutomationDateTest, FieldsOutOfRangeAreRefusedAndLeaveTheDateAlone) {
  for (const char* when : {"2000-13-01 00:00:00", "2000-00-10 00:00:00", "2000-04-31 00:00:00",
                           "1900-02-29 00:00:00", "0099-12-31 23:59:59", "10000-01-01 00:00:00",
                           "65535-01-01 00:00:00",  // a parse result of -1
                           "2000-01-01 24:00:00", "2000-01-01 00:00:60"}) {
    const SYSTEMTIME fields = Parse(when);
    DATE date = 42.0;
    EXPECT_FALSE(SystemTimeToVariantTime(&fields, &date)) << when;
    EXPECT_EQ(date, 42.0) << when;
  }
  DATE date = 0;
  EXPECT_FALSE(SystemTimeToVariantTime(nullptr, &date));
}

TEST(AutomationDateTest, DatesRoundToTheNearestSecondWithinTheRange) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::pair<double, const char*> cases[] = {
      {1.99999999, "1900-01-01 00:00:00.000 Mon"},
      {0.5 + 0.4 / 86400, "1899-12-30 12:00:00.000 Sat"},
      {0.5 + 0.6 / 86400, "1899-12-30 12:00:01.000 Sat"},
      {-1.99999999, "1899-12-30 00:00:00.000 Sat"},
      {2958465.999994, "9999-12-31 23:59:59.000 Fri"},
  };
  for (const auto& [date, when] : cases) EXPECT_EQ(ShowDate(date), when) << date;
  for (double date : {2958465.9999999, 2958466.0, -657434.0001, std::nan(""), kInf, -kInf}) {
    EXPECT_EQ(ShowDate(date), "refused") << date;
  }
  EXPECT_FALSE(VariantTimeToSystemTime(0.0, nullptr));
}

TEST(LocalTimeTest, FileTimesBelowTwoToThe63ConvertToCalendarFields) {
  struct Case {
    std::uint64_t ticks;
    const char* when;
  } cases[] = {
      {0, "1601-01-01 00:00:00.000 Mon"},
      {864'000'000'000 - 1, "1601-01-01 23:59:59.999 Mon"},
      {125'963'012'967'890'000, "2000-02-29 12:34:56.789 Tue"},
      {(std::uint64_t{1} << 63) - 1, "30828-09-14 02:48:05.477 Thu"},
      {std::uint64_t{1} << 63, "refused 87"},
      {~std::uint64_t{0}, "refused 87"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShowFileTime(FileTimeOfTicks(c.ticks)), c.when);
}

TEST(LocalTimeTest, LocalFileTimeUsesTheOffsetInForceAtThatInstant) {
  struct Case {
    const char* zone;
    const char* utc;
    const char* local;
  } cases[] = {
      {kNewYorkRules, "2012-03-11 06:59:59", "2012-03-11 01:59:59.000 Sun"},
      {kNewYorkRules, "2012-03-11 07:00:00", "2012-03-11 03:00:00.000 Sun"},
      {kNewYorkRules, "2012-11-04 05:59:59", "2012-11-04 01:59:59.000 Sun"},
      {kNewYorkRules, "2012-11-04 06:00:00", "2012-11-04 01:00:00.000 Sun"},
      {kNewYorkRules, "2012-01-01 04:30:00.250", "2011-12-31 23:30:00.250 Sat"},
      {kCentralEuropeRules, "2012-03-25 00:59:59", "2012-03-25 01:59:59.000 Sun"},
      {kCentralEuropeRules, "2012-03-25 01:00:00", "2012-03-25 03:00:00.000 Sun"},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalOf(c.zone, FileTimeOf(c.utc)), c.local) << c.utc;
  // Past either end of 64 bits.
  EXPECT_EQ(LocalOf(kNewYorkRules, FileTimeOfTicks(0)), "local time refused 87");
  EXPECT_EQ(LocalOf(kCentralEuropeRules, FileTimeOfTicks(~std::uint64_t{0})),
            "local time refused 87");
}

TEST(LocalTimeTest, LocalTimeFollowsTheZoneSetNow) {
  const std::pair<const char*, std::int64_t> zones[] = {{"<+0530>-5:30", 5 * 3600 + 1800},
                                                        {"<-03>3", -3 * 3600}};
  for (const auto& [rules, offset] : zones) {
    ScopedTimeZone zone(rules);
    // Local time between two readings of the clock, shifted by the zone.
    timespec before{}, after{};
    SYSTEMTIME now{};
    clock_gettime(CLOCK_REALTIME, &before);
    GetLocalTime(&now);
    clock_gettime(CLOCK_REALTIME, &after);
    const auto shown = [offset = offset](const timespec& at) {
      return ShowFileTime(FileTimeOfTicks(kUnixEpochTicks + (at.tv_sec + offset) * 10'000'000 +
                                          at.tv_nsec / 1'000'000 * 10'000));
    };
    EXPECT_LE(shown(before), Show(now)) << rules;
    EXPECT_LE(Show(now), shown(after)) << rules;
  }
}

TEST(LocalTimeTest, InjectedFaultFailsOnlyTheChosenCall) {
  static const FILETIME epoch = FileTimeOfTicks(kUnixEpochTicks);
  static const SYSTEMTIME valid = Parse("2000-01-01 00:00:00");
  static FILETIME local;
  static SYSTEMTIME fields;
  static DATE date;
  struct Case {
    const char* point;
    INT (*call)();
  } cases[] = {
      {"FileTimeToLocalFileTime", [] { return FileTimeToLocalFileTime(&epoch, &local); }},
      {"FileTimeToSystemTime", [] { return FileTimeToSystemTime(&epoch, &fields); }},
      {"SystemTimeToVariantTime", [] { return SystemTimeToVariantTime(&valid, &date); }},
      {"VariantTimeToSystemTime", [] { return VariantTimeToSystemTime(2.0, &fields); }},
  };
  for (const auto& c : cases) {
    emulator::InjectFault(c.point, 2, 1234);
    EXPECT_TRUE(c.call()) << c.point;
    SetLastError(0);
    EXPECT_FALSE(c.call()) << c.point;
    EXPECT_EQ(GetLastError(), 1234u) << c.point;
    EXPECT_TRUE(c.call()) << c.point;
  }
  emulator::ClearFaults();
}

}  // namespace
