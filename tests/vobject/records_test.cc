// What the records give that the reader golden files cannot show: ReadObject
// without a calendar record and over a stream that fails, the calendar
// record's helpers called alone. A record cleared before each object is in
// the golden file unit-records-start-clean.
#include "vobject/contact_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "scripted_stream.h"
#include "vobject/calendar_record.h"

namespace {

// ReadObject into a dirty record, which it must clear first.
struct Read {
  mz::ObjectType type = -1;
  std::unique_ptr<mz::ContactRecord> record = std::make_unique<mz::ContactRecord>();
  int32_t result;

  explicit Read(mz::CharStream* stream, mz::CalendarRecord* calendar = nullptr) {
    std::memset(record.get(), 0x5a, sizeof(mz::ContactRecord));
    result = mz::ReadObject(stream, &type, record.get(), 0, calendar);
  }
  bool Zero() const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.get());
    return std::all_of(bytes, bytes + sizeof(mz::ContactRecord), [](auto b) { return b == 0; });
  }
};

// A calendar object's lines (a name too) stay out of the contact record;
// without a calendar record the object is read through, and the next object
// follows.
TEST(ContactRecordTest, CalendarObjectsLeaveTheContactRecordEmpty) {
  const std::string event =
      "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nN:Doe\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  ScriptStream withRecord(event);
  auto calendar = std::make_unique<mz::CalendarRecord>();
  EXPECT_TRUE(Read(withRecord.stream(), calendar.get()).Zero());
  ScriptStream s(event + "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Second\r\nEND:VCARD\r\n");
  Read first(s.stream());
  EXPECT_EQ(first.type, mz::kObjectEvent);
  EXPECT_TRUE(first.Zero());
  Read second(s.stream());
  EXPECT_STREQ(second.record->shortSlots[0].value, "Second");
  Read end(s.stream());
  EXPECT_EQ(end.result, 0);
  EXPECT_EQ(end.type, mz::kObjectNone);
  EXPECT_TRUE(end.Zero());
}

TEST(ContactRecordTest, OnlyAHardStreamErrorIsPassedBack) {
  const std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:A\r\nTEL:1\r\nEND:VCARD\r\n";
  const size_t inTel = text.find("TEL") + 2;  // the N line still peeks at "T"
  ScriptStream hard(text, inTel, -5), soft(text, inTel, mz::kStreamIoError);
  Read r(hard.stream());
  EXPECT_EQ(r.result, -5);
  EXPECT_STREQ(r.record->shortSlots[0].value, "A");
  EXPECT_EQ(Read(soft.stream()).result, 0);
  EXPECT_EQ(mz::ReadObject(nullptr, nullptr, nullptr, 0, nullptr), mz::kStreamInvalidArgument);
}

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
