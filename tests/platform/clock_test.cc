// Automation dates, file times and local time under fixed TZ rules; the cases
// are in data/platform/clock.tsv.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "tables.h"

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
SYSTEMTIME Parse(const std::string& text) {
  SYSTEMTIME t{};
  const int read = std::sscanf(text.c_str(), "%hu-%hu-%hu %hu:%hu:%hu.%hu", &t.wYear, &t.wMonth,
                               &t.wDay, &t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds);
  EXPECT_GE(read, 6) << text;
  return t;
}

FILETIME FileTimeOfTicks(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
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

class ClockTest : public testing::TestWithParam<tables::Row> {};

TEST_P(ClockTest, ConvertsAsTheTableSays) {
  const tables::Row& row = GetParam();
  const std::string& kind = row.at(0);
  if (kind == "date") {  // both ways; milliseconds and the day of the week are ignored
    SYSTEMTIME fields = Parse(row.at(1));
    fields.wMilliseconds = 999;
    fields.wDayOfWeek = 9;
    DATE date = 42.0;
    ASSERT_TRUE(SystemTimeToVariantTime(&fields, &date));
    EXPECT_DOUBLE_EQ(date, std::stod(row.at(2)));
    EXPECT_EQ(ShowDate(std::stod(row.at(2))), row.at(1));
  } else if (kind == "fields-refused") {
    const SYSTEMTIME fields = Parse(row.at(1));
    DATE date = 42.0;
    EXPECT_FALSE(SystemTimeToVariantTime(&fields, &date));
    EXPECT_EQ(date, 42.0);
  } else if (kind == "to-fields") {
    EXPECT_EQ(ShowDate(std::stod(row.at(1))), row.at(2));
  } else if (kind == "file-time") {
    EXPECT_EQ(ShowFileTime(FileTimeOfTicks(std::stoull(row.at(1)))), row.at(2));
  } else {
    ASSERT_EQ(kind, "local");
    ScopedTimeZone zone(row.at(1).c_str());
    const FILETIME utc = FileTimeOfTicks(std::stoull(row.at(2)));
    FILETIME local{};
    SetLastError(0);
    EXPECT_EQ(FileTimeToLocalFileTime(&utc, &local)
                  ? ShowFileTime(local)
                  : "local refused " + std::to_string(GetLastError()),
              row.at(3));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ClockTest, testing::ValuesIn(tables::Read("clock.tsv")));

TEST(AutomationDateTest, MissingPlacesAreRefused) {
  DATE date = 0;
  EXPECT_FALSE(SystemTimeToVariantTime(nullptr, &date));
  EXPECT_FALSE(VariantTimeToSystemTime(0.0, nullptr));
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

}  // namespace
