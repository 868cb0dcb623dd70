#include "vobject/contact_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scripted_stream.h"
#include "stream/abs_file_mem.h"

namespace {

using mz::CharStream;
using mz::ContactRecord;
using mz::ObjectType;

std::string Card(const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text + "END:VCARD\r\n";
}

struct Read {
  int32_t result = 0;
  ObjectType type = -1;
  std::unique_ptr<ContactRecord> record = std::make_unique<ContactRecord>();
  std::string all;   // the used slots as "class/index code flags value", joined by "|"
  bool zero = true;  // the whole record is zero

  // ReadObject must zero the record, so it starts out dirty.
  explicit Read(std::string text, CharStream* stream = nullptr) {
    std::memset(record.get(), 0x5a, sizeof(ContactRecord));
    const int32_t size = static_cast<int32_t>(text.size());
    CharStream* own = stream ? nullptr : mz::AbsFileMem_create(text.data(), size, size, 0);
    result = mz::ReadObject(stream ? stream : own, &type, record.get(), 0, nullptr);
    if (own) own->Close(own);
    const int32_t counts[] = {0, mz::kShortSlotCount, mz::kMediumSlotCount, mz::kLongSlotCount};
    for (mz::SlotClass c = mz::kSlotShort; c <= mz::kSlotLong; ++c) {
      for (int32_t i = 0; i < counts[c]; ++i) {
        mz::SlotView v;
        EXPECT_EQ(mz::SlotAt(record.get(), c, i, &v), 1);
        if (v.code[0] == 0) continue;
        all += (all.empty() ? "" : "|") + std::to_string(c) + "/" + std::to_string(i) + " " +
               v.code + " " + std::to_string(*v.flags) + " " + v.value;
      }
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.get());
    for (size_t i = 0; i < sizeof(ContactRecord); ++i) zero = zero && bytes[i] == 0;
  }
};

struct PlaceCase {
  int32_t shorts, mediums, longs;  // slots already used
  int32_t length;
  int32_t result;
  mz::SlotClass slotClass;  // where the value lands
  int32_t index;
};

TEST(ContactRecordTest, PlaceValueTakesTheFirstFreeSlotThatFitsThenLargerOnes) {
  const PlaceCase cases[] = {
      {0, 0, 0, 79, 0, 1, 0},
      {0, 0, 0, 80, 0, 2, 0},
      {0, 0, 0, 255, 0, 2, 0},
      {0, 0, 0, 256, 0, 3, 0},
      {0, 0, 0, 1023, 0, 3, 0},
      {0, 0, 0, 1024, mz::kRecordNoRoom, 0, 0},
      {5, 0, 0, 1, 0, 1, 5},
      {16, 2, 0, 1, 0, 2, 2},
      {16, 8, 1, 1, 0, 3, 1},
      {0, 8, 0, 100, 0, 3, 0},
      {0, 8, 2, 100, mz::kRecordNoRoom, 0, 0},  // never down to a short slot
      {0, 0, 2, 300, mz::kRecordNoRoom, 0, 0},
      {16, 8, 2, 0, mz::kRecordNoRoom, 0, 0},
  };
  for (const PlaceCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.shorts << "/" << c.mediums << "/" << c.longs << " used, "
                                    << c.length << " bytes");
    auto record = std::make_unique<ContactRecord>();
    for (int32_t i = 0; i < c.shorts; ++i) record->shortSlots[i].code[0] = 'X';
    for (int32_t i = 0; i < c.mediums; ++i) record->mediumSlots[i].code[0] = 'X';
    for (int32_t i = 0; i < c.longs; ++i) record->longSlots[i].code[0] = 'X';
    const std::string value(static_cast<size_t>(c.length), 'v');
    EXPECT_EQ(mz::PlaceValue(record.get(), "M", value.c_str(), c.length, 1), c.result);
    mz::SlotView view;
    if (c.result != 0) continue;
    ASSERT_EQ(mz::SlotAt(record.get(), c.slotClass, c.index, &view), 1);
    EXPECT_STREQ(view.code, "M");
    EXPECT_EQ(*view.flags, 1u);
    EXPECT_EQ(view.value, value);
  }
}

// ReadObject clears the record first; empty text reads nothing.
TEST(ContactRecordTest, EmptyTextLeavesACleanRecord) {
  Read r("");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.type, mz::kObjectNone);
  EXPECT_TRUE(r.zero);
}

TEST(ContactRecordTest, CalendarWithoutARecordIsReadThroughToTheNextObject) {
  std::string text =
      "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n" +
      Card({"N:Second"});
  const int32_t size = static_cast<int32_t>(text.size());
  CharStream* stream = mz::AbsFileMem_create(text.data(), size, size, 0);
  Read first("", stream);
  EXPECT_EQ(first.type, mz::kObjectEvent);
  EXPECT_TRUE(first.zero);
  Read second("", stream);
  EXPECT_EQ(second.all, "1/0 N 0 Second");
  stream->Close(stream);
}

TEST(ContactRecordTest, OnlyAHardStreamErrorIsPassedBack) {
  const std::string text = Card({"N:A", "TEL:1"});
  const size_t inTel = text.find("TEL") + 2;  // the N line still peeks at "T"
  ScriptStream hard(text, inTel, -5), soft(text, inTel, mz::kStreamIoError);
  Read r("", hard.stream());
  EXPECT_EQ(r.result, -5);
  EXPECT_EQ(r.all, "1/0 N 0 A");
  EXPECT_EQ(Read("", soft.stream()).result, 0);
  EXPECT_EQ(mz::ReadObject(nullptr, nullptr, nullptr, 0, nullptr), mz::kStreamInvalidArgument);
}

}  // namespace
