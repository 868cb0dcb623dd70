// Automation dates, file times and local time under fixed TZ rules.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

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

// File time of a UTC date, computed apart from the code under test.
FILETIME FileTimeOf(const char* utc) {
  using namespace std::chrono;
  const SYSTEMTIME t = Parse(utc);
  const sys_days day{year{t.wYear} / month{t.wMonth} / t.wDay};
  const std::int64_t seconds =
      day.time_since_epoch().count() * 86'400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
  const std::uint64_t ticks = kUnixEpochTicks + seconds * 10'000'000 + t.wMilliseconds * 10'000;
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

FILETIME FileTimeOfTicks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// --- Automation dates --------------------------------------------------------

TEST(AutomationDateTest, KnownDatesConvertBothWays) {
  struct Case {
    const char* when;
    double date;
  } cases[] = {
      {"1899-12-30 00:00:00.000 Sat", 0.0},
      {"1899-12-30 06:00:00.000 Sat", 0.25},
      {"1899-12-31 00:00:00.000 Sun", 1.0},
      {"1900-01-01 00:00:00.000 Mon", 2.0},
      {"1989-05-12 00:00:00.000 Fri", 32640.0},
      {"1990-05-12 00:00:00.000 Sat", 33005.0},
      {"2000-02-29 18:00:00.000 Tue", 36585.75},
      {"2999-12-31 00:00:00.000 Tue", 401768.0},
      {"9999-12-31 23:59:59.000 Fri", 2958465.0 + 86399.0 / 86400.0},
      {"1899-12-29 06:00:00.000 Fri", -1.25},
      {"1899-12-29 18:00:00.000 Fri", -1.75},
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
    SYSTEMTIME back{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &back));
    EXPECT_EQ(Show(back), c.when);
  }
}

TEST(AutomationDateTest, FieldsOutOfRangeAreRefusedAndLeaveTheDateAlone) {
  for (const char* when : {
           "2000-13-01 00:00:00",
           "2000-00-10 00:00:00",
           "2000-65535-01 00:00:00",
           "2000-01-00 00:00:00",
           "2000-04-31 00:00:00",
           "1900-02-29 00:00:00",
           "2001-02-29 00:00:00",
           "0099-12-31 23:59:59",
           "10000-01-01 00:00:00",
           "65535-01-01 00:00:00",  // a parse result of -1
           "2000-01-01 24:00:00",
           "2000-01-01 00:60:00",
           "2000-01-01 00:00:60",
       }) {
    const SYSTEMTIME fields = Parse(when);
    DATE date = 42.0;
    EXPECT_FALSE(SystemTimeToVariantTime(&fields, &date)) << when;
    EXPECT_EQ(date, 42.0) << when;
  }
  const SYSTEMTIME valid = Parse("2000-01-01 00:00:00");
  DATE date = 0;
  EXPECT_FALSE(SystemTimeToVariantTime(nullptr, &date));
  EXPECT_FALSE(SystemTimeToVariantTime(&valid, nullptr));
}

TEST(AutomationDateTest, TimesRoundToTheNearestSecond) {
  struct Case {
    double date;
    const char* when;
  } cases[] = {
      {1.99999999, "1900-01-01 00:00:00.000 Mon"},
      {0.5 + 0.4 / 86400, "1899-12-30 12:00:00.000 Sat"},
      {0.5 + 0.6 / 86400, "1899-12-30 12:00:01.000 Sat"},
      {-0.5, "1899-12-30 12:00:00.000 Sat"},
      {-1.99999999, "1899-12-30 00:00:00.000 Sat"},
      {2958465.999994, "9999-12-31 23:59:59.000 Fri"},
  };
  for (const auto& c : cases) {
    SYSTEMTIME fields{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &fields)) << c.when;
    EXPECT_EQ(Show(fields), c.when);
  }
}

TEST(AutomationDateTest, DatesOutsideTheRangeOrNotNumbersAreRefused) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (double date : {std::nan(""), kInf, -kInf, -657434.0001, -657435.0, 2958466.0,
                      2958465.9999999, 1e300, -1e300}) {
    SYSTEMTIME fields{};
    EXPECT_FALSE(VariantTimeToSystemTime(date, &fields)) << date;
  }
  EXPECT_FALSE(VariantTimeToSystemTime(0.0, nullptr));
}

// --- File times and local time ----------------------------------------------

// Sets TZ for the test and puts the old value back afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

// POSIX rules, so that no time-zone database is needed.
constexpr const char* kNewYorkRules = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* kCentralEuropeRules = "CET-1CEST,M3.5.0,M10.5.0/3";

class LocalTimeTest : public ::testing::Test {
 protected:
  void SetUp() override { emulator::ClearFaults(); }
  void TearDown() override { emulator::ClearFaults(); }
};

TEST_F(LocalTimeTest, FileTimesConvertToCalendarFields) {
  struct Case {
    std::uint64_t ticks;
    const char* when;
  } cases[] = {
      {0, "1601-01-01 00:00:00.000 Mon"},
      {864'000'000'000 - 1, "1601-01-01 23:59:59.999 Mon"},
      {kUnixEpochTicks, "1970-01-01 00:00:00.000 Thu"},
      {125'963'012'967'890'000, "2000-02-29 12:34:56.789 Tue"},
      {(std::uint64_t{1} << 63) - 1, "30828-09-14 02:48:05.477 Thu"},
  };
  for (const auto& c : cases) {
    const FILETIME time = FileTimeOfTicks(c.ticks);
    SYSTEMTIME fields{};
    ASSERT_TRUE(FileTimeToSystemTime(&time, &fields)) << c.when;
    EXPECT_EQ(Show(fields), c.when);
  }
}

TEST_F(LocalTimeTest, FileTimesFromTwoToThe63AreRefused) {
  for (std::uint64_t ticks : {std::uint64_t{1} << 63, ~std::uint64_t{0}}) {
    const FILETIME time = FileTimeOfTicks(ticks);
    SYSTEMTIME fields{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&time, &fields));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  SYSTEMTIME fields{};
  EXPECT_FALSE(FileTimeToSystemTime(nullptr, &fields));
}

TEST_F(LocalTimeTest, LocalFileTimeUsesTheOffsetInForceAtThatInstant) {
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
      {kCentralEuropeRules, "2012-01-15 12:00:00", "2012-01-15 13:00:00.000 Sun"},
      {kCentralEuropeRules, "2012-07-01 12:00:00", "2012-07-01 14:00:00.000 Sun"},
      {kCentralEuropeRules, "2012-03-25 00:59:59", "2012-03-25 01:59:59.000 Sun"},
      {kCentralEuropeRules, "2012-03-25 01:00:00", "2012-03-25 03:00:00.000 Sun"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + c.utc);
    ScopedTimeZone zone(c.zone);
    const FILETIME utc = FileTimeOf(c.utc);
    FILETIME local{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    SYSTEMTIME fields{};
    ASSERT_TRUE(FileTimeToSystemTime(&local, &fields));
    EXPECT_EQ(Show(fields), c.local);
  }
}

TEST_F(LocalTimeTest, LocalFileTimeOutsideSixtyFourBitsIsRefused) {
  struct Case {
    const char* zone;
    std::uint64_t ticks;
  } cases[] = {{kNewYorkRules, 0}, {kCentralEuropeRules, ~std::uint64_t{0}}};
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.zone);
    const FILETIME utc = FileTimeOfTicks(c.ticks);
    FILETIME local{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToLocalFileTime(&utc, &local)) << c.zone;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  FILETIME time{};
  EXPECT_FALSE(FileTimeToLocalFileTime(nullptr, &time));
  EXPECT_FALSE(FileTimeToLocalFileTime(&time, nullptr));
}

TEST_F(LocalTimeTest, LocalTimeFollowsTheZoneSetNow) {
  struct Case {
    const char* zone;
    std::int64_t offsetSeconds;
  } cases[] = {{"<+0530>-5:30", 5 * 3600 + 1800}, {"<-03>3", -3 * 3600}};
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.zone);
    // Local time between two readings of the clock, shifted by the zone.
    const auto shown = [&](const timespec& at) {
      const std::uint64_t ticks = kUnixEpochTicks + (at.tv_sec + c.offsetSeconds) * 10'000'000 +
                                  at.tv_nsec / 1'000'000 * 10'000;
      const FILETIME time = FileTimeOfTicks(ticks);
      SYSTEMTIME fields{};
      EXPECT_TRUE(FileTimeToSystemTime(&time, &fields));
      return Show(fields);
    };
    timespec before{}, after{};
    SYSTEMTIME now{};
    clock_gettime(CLOCK_REALTIME, &before);
    GetLocalTime(&now);
    clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_LE(shown(before), Show(now)) << c.zone;
    EXPECT_LE(Show(now), shown(after)) << c.zone;
  }
}

TEST_F(LocalTimeTest, InjectedFaultFailsOnlyTheChosenCall) {
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
}

}  // namespace
