#include "vobject/calendar_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "stream/abs_file_mem.h"
#include "vobject/contact_record.h"

namespace {

using mz::CalendarRecord;

std::string Event(const std::vector<std::string>& lines, const char* kind = "VEVENT") {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:" + std::string(kind) + "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text + "END:" + kind + "\r\nEND:VCALENDAR\r\n";
}

struct Read {
  int32_t result = 0;
  mz::ObjectType type = -1;
  std::unique_ptr<CalendarRecord> record = std::make_unique<CalendarRecord>();
  std::unique_ptr<mz::ContactRecord> contact = std::make_unique<mz::ContactRecord>();
  bool zero = true;  // the whole calendar record is zero

  // ReadObject must zero the record, so it starts out dirty.
  explicit Read(std::string text) {
    std::memset(record.get(), 0x5a, sizeof(CalendarRecord));
    const int32_t size = static_cast<int32_t>(text.size());
    mz::CharStream* stream = mz::AbsFileMem_create(text.data(), size, size, 0);
    result = mz::ReadObject(stream, &type, contact.get(), 0, record.get());
    stream->Close(stream);
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.get());
    for (size_t i = 0; i < sizeof(CalendarRecord); ++i) zero = zero && bytes[i] == 0;
  }
};

// ReadObject clears the calendar record first, and a calendar object leaves
// the contact record empty.
TEST(CalendarRecordTest, RecordsStartClean) {
  Read r("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nSUMMARY:Lunch\r\n");
  EXPECT_EQ(r.type, mz::kObjectNone);
  EXPECT_TRUE(r.zero);
  Read event(Event({"SUMMARY:Lunch", "N:Doe"}));
  EXPECT_EQ(event.type, mz::kObjectEvent);
  EXPECT_EQ(event.contact->shortSlots[0].code[0], 0);
}

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

// What a whole line cannot carry; the texts themselves are in the golden
// files.
TEST(CalendarRecordTest, EmptyStatusAndCategoryTextsAreOther) {
  EXPECT_EQ(mz::StatusCode(""), 1);
  EXPECT_EQ(mz::CategoryCode(""), 6);
}

}  // namespace
