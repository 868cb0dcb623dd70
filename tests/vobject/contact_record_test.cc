#include "vobject/contact_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <set>
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
  std::vector<std::string> slots;  // the used ones as "class/index code flags value"
  std::string all;                 // the same joined by "|"
  bool zero = true;                // the whole record is zero

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
        slots.push_back(std::to_string(c) + "/" + std::to_string(i) + " " + v.code + " " +
                        std::to_string(*v.flags) + " " + v.value);
        all += (all.empty() ? "" : "|") + slots.back();
      }
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.get());
    for (size_t i = 0; i < sizeof(ContactRecord); ++i) zero = zero && bytes[i] == 0;
  }
};

struct CodeCase {
  const char* line;
  const char* code;  // null: no slot
  uint32_t flags;
};

const CodeCase kCodeCases[] = {
    {"TEL;WORK;FAX;PREF:1", "TWF", 1},
    {"TEL;HOME;PAGER:1", "TPP", 0},  // a pager is TPP wherever it is
    {"TEL:1", "TPV", 0},
    {"TEL;VOICE;CELL:1", "TPC", 0},
    {"TEL;WORK;HOME:1", "THV", 0},
    {"TEL;WORK;VOICE:1", "TWV", 0},
    {"TEL;HOME;FAX:1", "THF", 0},
    {"TEL;CELL;FAX:1", "TPF", 0},
    {"TEL;HOME;CELL:1", "THC", 0},
    {"TEL;TYPE=WORK;TYPE=CELL:1", "TWC", 0},
    {"TEL;PAGER;CELL:1", "TPC", 0},
    {"TEL;MSG;PAGER:1", "TPP", 0},
    {"TEL;WORK;MSG;PREF:1", "TPM", 1},
    {"tel;home;pref:1", "THV", 1},
    {"EMAIL;INTERNET:a", "EP", 0},
    {"EMAIL;HOME:a", "EH", 0},
    {"EMAIL;WORK;PREF:a", "EW", 1},
    {"URL:x", "WP", 0},
    {"URL;HOME:x", "WH", 0},
    {"URL;WORK:x", "WW", 0},
    {"ADR:;;1 Main St", "AP", 0},
    {"ADR;WORK;HOME:;;x", "AH", 0},
    {"ADR;WORK;PREF:;;x", "AW", 1},
    {"N;PREF:Doe;John", "N", 0},
    {"BDAY:1990-05-12", "B", 0},
    {"ORG:Acme;Sales", "O", 0},
    {"TITLE:Boss", "L", 0},
    {"NOTE:x\\ny", "M", 0},  // backslashes stay
    {"FN:John Doe", nullptr, 0},
    {"LABLE:x", nullptr, 0},
    {"X-FOO:x", nullptr, 0},
    {"TEL;CELL:", nullptr, 0},
    {"NOTE", nullptr, 0},
};

void PrintTo(const CodeCase& c, std::ostream* os) {
  *os << c.line;
}

class ContactCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(ContactCodeTest, LineGetsItsCodeAndFlags) {
  const CodeCase& c = GetParam();
  Read r(Card({c.line}));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.type, mz::kObjectVCard);
  if (c.code == nullptr) {
    EXPECT_TRUE(r.zero);
    return;
  }
  const std::string line = c.line;
  EXPECT_EQ(r.all, "1/0 " + std::string(c.code) + " " + std::to_string(c.flags) + " " +
                       line.substr(line.find(':') + 1));
}

INSTANTIATE_TEST_SUITE_P(Lines, ContactCodeTest, testing::ValuesIn(kCodeCases));

TEST(ContactRecordTest, TheCodeTableIsExactlyTheCodesProduced) {
  std::set<std::string> produced, table;
  for (const CodeCase& c : kCodeCases) {
    if (c.code != nullptr) produced.insert(c.code);
  }
  for (const mz::RecordCodeRow& row : mz::RecordCodeTable) {
    EXPECT_TRUE(table.insert(row.code).second) << row.code;
    EXPECT_EQ(mz::FindRecordCode(row.code), &row);
  }
  EXPECT_EQ(produced, table);
  EXPECT_EQ(mz::FindRecordCode("THP"), nullptr);
}

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

struct ObjectCase {
  const char* what;
  std::string text;
  int32_t result;
  ObjectType type;
  std::string slots;  // joined by "|"
};

const std::string k100(100, 'm'), k1023(1023, 'l');

const ObjectCase kObjectCases[] = {
    {"simple card", Card({"N:Doe;John", "TEL;CELL:123"}), 0, 1, "1/0 N 0 Doe;John|1/1 TPC 0 123"},
    {"1024 bytes and more are dropped",
     Card({"NOTE:" + k100, "NOTE:" + std::string(1024, 'x'), "NOTE:" + k1023,
           "NOTE:" + std::string(2000, 'y'), "TITLE:t"}),
     0, 1, "1/0 L 0 t|2/0 M 0 " + k100 + "|" + "3/0 M 0 " + k1023},
    {"lines after END are not read", Card({"TEL:1"}) + "TEL:2\r\nBEGIN:VCARD\r\nTEL:3\r\n", 0, 1,
     "1/0 TPV 0 1"},
    {"lower-case begin", "begin:vcard\r\nnote:x\r\nend:vcard\r\n", 0, 1, "1/0 M 0 x"},
    {"first line not BEGIN", "VERSION:2.1\r\nN:Doe\r\nEND:VCARD\r\n", 3, 0, ""},
    {"first BEGIN of another object", "BEGIN:VEVENT\r\nN:Doe\r\n", 6, 0, ""},
    {"empty text", "", 0, 0, ""},
    {"nested agent card shares the record",
     "BEGIN:VCARD\r\nN:Outer\r\nAGENT:\r\nBEGIN:VCARD\r\nN:Inner\r\nEND:VCARD\r\n"
     "TEL:1\r\nEND:VCARD\r\nTEL:2\r\n",
     0, 1, "1/0 N 0 Outer|1/1 N 0 Inner|1/2 TPV 0 1"},
    {"END value is not compared", "BEGIN:VCARD\r\nN:A\r\nEND:VEVENT\r\nN:B\r\n", 0, 1, "1/0 N 0 A"},
    {"inner BEGIN ignores case", "BEGIN:VCALENDAR\r\nbegin:vCard\r\nN:A\r\nEND:VCARD\r\n", 0, 1,
     "1/0 N 0 A"},
    {"type stays once set", "BEGIN:VCARD\r\nBEGIN:VEVENT\r\nN:A\r\nEND:VEVENT\r\nN:B\r\n", 0, 1,
     "1/0 N 0 A|1/1 N 0 B"},
    {"malformed line ends quietly", "BEGIN:VCARD\r\nN:A\r\n;x:y\r\nN:B\r\nEND:VCARD\r\n", 0, 1,
     "1/0 N 0 A"},
    {"data ending before END", "BEGIN:VCARD\r\nN:A\r\nTEL:1", 0, 1, "1/0 N 0 A|1/1 TPV 0 1"},
    {"property before the type is known", "BEGIN:VCALENDAR\r\nPRODID:abc\r\nBEGIN:VCARD\r\n", 3, 0,
     ""},
};

class ReadObjectTest : public testing::TestWithParam<ObjectCase> {};

TEST_P(ReadObjectTest, ReadsOneObjectIntoTheRecord) {
  const ObjectCase& c = GetParam();
  Read r(c.text);
  EXPECT_EQ(r.result, c.result);
  EXPECT_EQ(r.type, c.type);
  EXPECT_EQ(r.all, c.slots);
  EXPECT_EQ(r.zero, c.slots.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, ReadObjectTest, testing::ValuesIn(kObjectCases));

TEST(ContactRecordTest, AnOverflowingCardSpillsIntoLargerSlotsInTextOrder) {
  std::vector<std::string> lines;
  for (int i = 10; i < 37; ++i) lines.push_back("EMAIL:" + std::to_string(i));
  Read r(Card(lines));
  ASSERT_EQ(r.slots.size(), 26u);  // the 27th finds no room
  for (int i = 0; i < 26; ++i) EXPECT_TRUE(r.slots[i].ends_with(" EP 0 " + std::to_string(10 + i)));
  EXPECT_EQ(r.slots[15], "1/15 EP 0 25");
  EXPECT_EQ(r.slots[16], "2/0 EP 0 26");
  EXPECT_EQ(r.slots[25], "3/1 EP 0 35");
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
