#include "vobject/calendar_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
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

TEST(CalendarRecordTest, EventWithEveryFieldFillsTheRecord) {
  Read r(Event({"SUMMARY:Lunch", "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:With =\r\nfriends",
                "LOCATION:Cafe", "DTSTART:20131101T120000", "DTEND:20131101T130000Z",
                "DUE:2013-11-02", "PRIORITY:3", "CATEGORIES:MEETING", "STATUS:CONFIRMED",
                "AALARM:20131101T114500Z;PT5M;2;ring.wav", "ATTENDEE:someone", "N:Doe"}));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.type, mz::kObjectEvent);
  const CalendarRecord& c = *r.record;
  EXPECT_EQ(c.type, mz::kCalendarEvent);
  EXPECT_STREQ(c.summary, "Lunch");
  EXPECT_STREQ(c.description, "With friends");
  EXPECT_STREQ(c.location, "Cafe");
  EXPECT_STREQ(c.start, "20131101T120000");
  EXPECT_STREQ(c.end, "20131101T130000Z");
  EXPECT_STREQ(c.due, "2013-11-02");
  EXPECT_EQ(c.priority, 3);
  EXPECT_EQ(c.category, 5);
  EXPECT_EQ(c.status, 5);
  EXPECT_STREQ(c.alarmTime, "20131101T114500Z");
  EXPECT_STREQ(c.alarmText, "ring.wav");
  EXPECT_EQ(r.contact->shortSlots[0].code[0], 0);
}

TEST(CalendarRecordTest, TodoSetsTypeOne) {
  Read r(Event({"SUMMARY:Shop", "STATUS:NEEDS ACTION"}, "VTODO"));
  EXPECT_EQ(r.type, mz::kObjectTodo);
  EXPECT_EQ(r.record->type, mz::kCalendarTodo);
  EXPECT_STREQ(r.record->summary, "Shop");
  EXPECT_EQ(r.record->status, 3);
}

TEST(CalendarRecordTest, PropertyBeforeTheEventEndsReadingWithAnEmptyRecord) {
  Read r("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nSUMMARY:Lunch\r\n");
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.type, mz::kObjectNone);
  EXPECT_TRUE(r.zero);
}

TEST(CalendarRecordTest, LaterLinesOverwriteEmptyOnesDoNotAndLongOnesAreCut) {
  const std::string longText(600, 's');
  Read r(Event({"SUMMARY:First", "PRIORITY:1", "END:VEVENT", "BEGIN:VEVENT", "SUMMARY:Second",
                "SUMMARY:", "PRIORITY:x", "DTSTART", "LOCATION:" + longText,
                "DUE:20131101T120000Z-and-more"}));
  EXPECT_EQ(r.type, mz::kObjectEvent);
  EXPECT_STREQ(r.record->summary, "Second");
  EXPECT_EQ(r.record->priority, 0);
  EXPECT_STREQ(r.record->start, "");
  EXPECT_EQ(std::string(r.record->location), longText.substr(0, 511));
  EXPECT_STREQ(r.record->due, "20131101T120000Z-an");
}

struct AlarmCase {
  std::string first, second;  // alarm lines; no second when empty
  const char* time;
  std::string text;
};

const AlarmCase kAlarmCases[] = {
    {"AALARM:20131101T114500Z;PT5M;2;ring.wav", "DALARM:20131102T080000", "20131101T114500Z",
     "ring.wav"},
    {"AALARM:20131101T114500Z;;;ring.wav", "AALARM:20131102T080000;PT1M", "20131101T114500Z", ""},
    {"AALARM:20131101T114500Z;;;ring.wav", "AALARM:20131102T080000;;;bell.wav", "20131101T114500Z",
     "bell.wav"},
    {"DALARM:20131101T114500;PT5M;1;Wake up", "", "20131101T114500", ""},
    {"AALARM:20131101T114500Z;;;ring.wav", "MALARM:20131101T114500Z;;;a@b;hi", "20131101T114500Z",
     "ring.wav"},
    {"PALARM:2013-11-01T114500Z", "", "20131101T114500Z", ""},
    {"AALARM:2013;;;ring.wav", "", "", "ring.wav"},
    {"AALARM:20131101;;;ring.wav", "", "", "ring.wav"},
    {"AALARM:soon;;;ring.wav", "DALARM:20131102T080000Z", "20131102T080000Z", "ring.wav"},
    {"AALARM:20131101T114500Z;;;a\\;b.wav;x", "", "20131101T114500Z", "a;b.wav"},
    {"AALARM:20131101T114500Z;;;" + std::string(300, 't'), "", "20131101T114500Z",
     std::string(255, 't')},
};

void PrintTo(const AlarmCase& c, std::ostream* os) {
  *os << c.first.substr(0, 40) << " " << c.second;
}

class CalendarAlarmTest : public testing::TestWithParam<AlarmCase> {};

TEST_P(CalendarAlarmTest, FirstUsableAlarmSetsTheTimeAndEveryAudioAlarmTheText) {
  const AlarmCase& c = GetParam();
  Read r(c.second.empty() ? Event({c.first}) : Event({c.first, c.second}));
  EXPECT_EQ(r.result, 0);
  EXPECT_STREQ(r.record->alarmTime, c.time);
  EXPECT_EQ(r.record->alarmText, c.text);
}

INSTANTIATE_TEST_SUITE_P(Lines, CalendarAlarmTest, testing::ValuesIn(kAlarmCases));

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

TEST(CalendarRecordTest, StatusAndCategoryTextsGiveTheirCodesIgnoringCase) {
  // Each text's code is its place in the list, from 1; null marks "other".
  const char* const statuses[] = {"accepted",  "SENT",     "needs action", "Tentative",
                                  "CONFIRMED", "declined", "COMPLETED",    "DELEGATED"};
  const char* const categories[] = {
      "APPOINTMENT", "business",   "Education", "HOLIDAY",          "MEETING", nullptr,
      "PERSONAL",    "phone call", "SICK DAY",  "special occasion", "TRAVEL",  "VACATION"};
  for (int32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(mz::StatusCode(statuses[i]), i + 1) << statuses[i];
    EXPECT_EQ(mz::CategoryCode(statuses[i]), 6) << statuses[i];
  }
  for (int32_t i = 0; i < 12; ++i) {
    if (categories[i] == nullptr) continue;
    EXPECT_EQ(mz::CategoryCode(categories[i]), i + 1) << categories[i];
    EXPECT_EQ(mz::StatusCode(categories[i]), 1) << categories[i];
  }
  for (const char* unknown : {"SENT ", "BUSINESS;MEETING", ""}) {
    EXPECT_EQ(mz::StatusCode(unknown), 1) << unknown;
    EXPECT_EQ(mz::CategoryCode(unknown), 6) << unknown;
  }
  Read r(Event({"STATUS:accepted", "CATEGORIES:BUSINESS;MEETING"}));
  EXPECT_EQ(r.record->status, 1);
  EXPECT_EQ(r.record->category, 6);
}

}  // namespace
