// What the calendar record's helpers give that no whole object can show;
// a record read cleared before each object is in the reader golden file
// unit-records-start-clean.
#include "vobject/calendar_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The snooze, the repeat count and the second text only reach callers of
// ParseAlarm itself; every place asked for is filled, texts cut to size.
TEST(CalendarRecordTest, ParseAlarmFillsEveryPlaceAskedAndClearsTheTexts) {
  mz::DateTimeFields when;
  int32_t snooze = -1, repeat = -1;
  char text[8], text2[4];
  EXPECT_EQ(mz::ParseAlarm(&when, &snooze, &repeat, text, sizeof(text), text2, sizeof(text2),
                           "20131101T114500Z;PT5M;3;ring.wav;second;ignored"),
            0);
  EXPECT_EQ(when.year * 100 + when.hour, 201311);
  EXPECT_EQ(when.utc, 1);
  EXPECT_EQ(snooze, 300);
  EXPECT_EQ(repeat, 3);
  EXPECT_STREQ(text, "ring.wa");
  EXPECT_STREQ(text2, "sec");

  EXPECT_EQ(mz::ParseAlarm(&when, &snooze, &repeat, text, sizeof(text), text2, sizeof(text2), "x"),
            0);
  EXPECT_EQ(when.year, -1);
  EXPECT_EQ(snooze + repeat, 0);
  EXPECT_STREQ(text, "");
  EXPECT_STREQ(text2, "");
  std::strcpy(text, "old");
  EXPECT_EQ(mz::ParseAlarm(nullptr, nullptr, nullptr, text, sizeof(text), nullptr, 0, nullptr), 0);
  EXPECT_STREQ(text, "");
}

// An empty STATUS or CATEGORIES line is skipped by the reader, so only here
// does empty text meet the tables.
TEST(CalendarRecordTest, EmptyStatusAndCategoryTextsAreOther) {
  EXPECT_EQ(mz::StatusCode(""), 1);
  EXPECT_EQ(mz::CategoryCode(""), 6);
}

}  // namespace
