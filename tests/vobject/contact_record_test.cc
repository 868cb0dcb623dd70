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

// Where PlaceValue puts a value (the first free slot of the smallest class
// that holds it, else of a larger one, never a smaller one) is in the reader
// golden files unit-slot-classes, note-size-classes and overflow-spill.

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
