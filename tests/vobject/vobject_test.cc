// The vobject reader's parts: the tokenizer and the property head reader
// over scripted input (tokenizer.tsv, properties.tsv), the table look-ups
// against a linear search, content lines and values (values.tsv), then what
// the records give that the reader golden files cannot show: ReadObject
// without a calendar record and over a stream that fails, the calendar
// record's helpers called alone. A record cleared before each object is in
// the golden file unit-records-start-clean.
#include "vobject/calendar_record.h"
#include "vobject/contact_record.h"
#include "vobject/properties.h"
#include "vobject/tokenizer.h"
#include "vobject/values.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/memory.h"
#include "case_file.h"
#include "scripted_stream.h"
#include "stream/abs_file_mem.h"
#include "stream/mem_buf.h"

namespace {

std::string Describe(int32_t kind, const mz::TextBuffer* buffer) {
  const std::string text(buffer->data, static_cast<size_t>(buffer->length));
  if (kind == mz::TOKEN_WORD) return "word(" + text + ")";
  if (kind == mz::TOKEN_QUOTED) return "quoted(" + text + ")";
  if (kind == mz::TOKEN_CRLF) return text == "\r\n" ? "crlf" : "crlf?" + text;
  if (kind == mz::TOKEN_CR) return text == "\r" ? "cr" : "cr?" + text;
  if (kind >= 0) return "delim(" + text + ")";
  return std::to_string(kind) + (text.empty() ? "" : "(" + text + ")");
}

// Every token through the first negative result, joined by "|".
template <typename Read>
std::string Tokens(Read read) {
  mz::TextBuffer* buffer = mz::TextBuffer_create(8);
  std::string got;
  for (int32_t kind = 0, n = 0; kind >= 0 && n < 20; ++n) {
    kind = read(buffer);
    got += (got.empty() ? "" : "|") + Describe(kind, buffer);
  }
  mz::TextBuffer_free(buffer);
  return got;
}

// The stream of a row whose input fails at field `at` (position, then code).
ScriptStream Input(const CaseRow& row, std::size_t at) {
  return row.Has(at) ? ScriptStream(row[1], static_cast<size_t>(row.Int(at)), row.Int(at + 1))
                     : ScriptStream(row[1]);
}

const char* Set(const std::string& field) {
  return field == "(null)" ? nullptr : field.c_str();
}

// Each row of tokenizer.tsv: tokens cut, a value unfolded or a line skipped.
class TokenizerCase : public testing::TestWithParam<CaseRow> {};

TEST_P(TokenizerCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  if (row[0] == "token") {
    ScriptStream s = Input(row, 6);
    EXPECT_EQ(Tokens([&](mz::TextBuffer* b) {
                return mz::ReadToken(s.stream(), b, Set(row[2]), Set(row[3]), row.Int(4));
              }),
              row[5]);
  } else if (row[0] == "fold") {  // into the MemBuf the reader uses, grown past 16 bytes
    ScriptStream in = Input(row, 7);
    mz::CharStream* out = mz::MemBuf_create(16, 0);
    EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out, row.Int(2), row.Int(3)), row.Int(4));
    EXPECT_EQ(std::string(mz::MemBuf_data(out), static_cast<size_t>(out->Tell(out))), row[5]);
    EXPECT_EQ(in.Rest(), row[6]);
    out->Close(out);
  } else {
    ASSERT_EQ(row[0], "skip");
    ScriptStream s = Input(row, 5);
    EXPECT_EQ(mz::SkipLine(s.stream(), row.Int(2)), row.Int(3));
    EXPECT_EQ(s.Rest(), row[4]);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, TokenizerCase, Cases("tokenizer.tsv"), LineName);

TEST(TokenizerTest, SkipBlanksSplitsADurationWithoutEscapesAndNullArgumentsWork) {
  ScriptStream s(" 1DT\\2H");
  EXPECT_EQ(
      Tokens([&](mz::TextBuffer* b) { return mz::ReadTokenSkipBlanks(s.stream(), b, "YMWDTHS"); }),
      "word(1)|delim(D)|delim(T)|word(\\2)|delim(H)|-202");
  ScriptStream t("ab;");
  EXPECT_EQ(mz::ReadToken(t.stream(), nullptr, ";", nullptr, 1), mz::TOKEN_WORD);
  EXPECT_EQ(mz::ReadToken(t.stream(), nullptr, ";", nullptr, 1), ';');
  EXPECT_EQ(mz::ReadToken(nullptr, nullptr, ";", nullptr, 1), mz::kStreamInvalidArgument);
}

TEST(TokenizerTest, FoldedValueCountsOnlyWhatTheOutputTookSinceItStarted) {
  ScriptStream in("cdef\r\nX");
  mz::CharStream* out = mz::MemBuf_create(5, 0);  // fixed: four bytes and a terminator
  mz::MemBuf_fixSize(out);
  ASSERT_EQ(out->Write(out, "ab", 2), 2);
  EXPECT_EQ(mz::ReadFoldedValue(in.stream(), out, 1, 0), 2);
  EXPECT_EQ(std::string(mz::MemBuf_data(out), static_cast<size_t>(out->Size(out))), "abcd");
  EXPECT_EQ(in.Rest(), "X");
  out->Close(out);
}

// Each row of properties.tsv: a property name or a parameter list read.
class PropertyHeadCase : public testing::TestWithParam<CaseRow> {};

TEST_P(PropertyHeadCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  const bool name = row[0] == "name";
  ScriptStream s = Input(row, name ? 7 : 5);
  // The reader's per-line scratch buffer.
  const std::unique_ptr<mz::TextBuffer, void (*)(mz::TextBuffer*)> scratch(
      mz::TextBuffer_create(64), &mz::TextBuffer_free);
  if (name) {
    mz::PropertyName property{};
    mz::ValueKind kind = 99;
    EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, scratch.get(), &kind), row.Int(2));
    EXPECT_EQ(property.id, static_cast<uint32_t>(row.Int(3)));
    EXPECT_EQ(std::string(property.name), row[4]);
    EXPECT_EQ(kind, row.Int(5));
    EXPECT_EQ(s.Rest(), row[6]);
    return;
  }
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadParameters(s.stream(), &list, scratch.get()), row.Int(2));
  std::string used;
  for (const mz::ParamSlot& slot : list.slots) {
    EXPECT_EQ(slot.text[0], '\0');
    if (slot.group == 0) continue;
    used += (used.empty() ? "" : "|") + std::to_string(slot.group) + "/" +
            std::to_string(slot.value) + "/" + slot.name;
  }
  EXPECT_EQ(used, row[3]);
  EXPECT_EQ(s.Rest(), row[4]);
}

INSTANTIATE_TEST_SUITE_P(Table, PropertyHeadCase, Cases("properties.tsv"), LineName);

// Null arguments are refused, and ParseDuration without a place for the
// seconds does nothing. (FindParam and HasParam are read through every
// parameter of the reader golden files: tel-types, adr-types,
// type-stays-once-set.)
TEST(PropertiesTest, NullArgumentsAreRefused) {
  ScriptStream s("NOTE:x");
  mz::PropertyName property{};
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, nullptr, nullptr),
            mz::kStreamInvalidArgument);
  EXPECT_EQ(mz::ReadParameters(nullptr, &list, nullptr), mz::kStreamInvalidArgument);
  EXPECT_EQ(s.Rest(), "NOTE:x");
  EXPECT_EQ(mz::ParseDuration(nullptr, "xx"), 0);
}

// The first row of `table` whose `word` is `text`: the look-ups' model.
template <typename Row, std::size_t N>
const Row* Linear(const Row (&table)[N], const char* Row::*word, const std::string& text) {
  for (const Row& row : table) {
    if (text == row.*word) return &row;
  }
  return nullptr;
}

// Each name of the property table and word of the parameter table, as
// "property NAME" or "parameter WORD".
std::vector<std::string> TableWords() {
  std::vector<std::string> words;
  for (const mz::PropertyRow& row : mz::PropertyTable)
    words.push_back("property " + std::string(row.name));
  for (const mz::ParameterRow& row : mz::ParameterTable)
    words.push_back("parameter " + std::string(row.word));
  return words;
}

// The word and its near misses, found by both look-ups as by the model.
class LookUpCase : public testing::TestWithParam<std::string> {};

TEST_P(LookUpCase, FindsWhatALinearSearchFinds) {
  const std::string word = GetParam().substr(GetParam().find(' ') + 1);
  std::string lower = word;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& text :
       {word, word + "S", word.substr(1), word.substr(0, word.size() - 1), lower, std::string()}) {
    EXPECT_EQ(mz::FindProperty(text.c_str()),
              Linear(mz::PropertyTable, &mz::PropertyRow::name, text))
        << text;
    EXPECT_EQ(mz::FindParameterWord(text.c_str()),
              Linear(mz::ParameterTable, &mz::ParameterRow::word, text))
        << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Tables, LookUpCase, testing::ValuesIn(TableWords()),
                         [](const auto& info) { return TestName(info.param); });

struct Line {
  int32_t result;
  mz::PropertyName property;
  mz::ParamList params;
  std::string value;  // the value buffer up to the result's length
};

// Reads every content line of `text` the way the record reader does, with
// its 2048-byte value buffer unless told otherwise, until the end of the
// data or a hard error. With `gate`, it rules allocations once the stream is
// made.
std::vector<Line> ReadAll(std::string text, mz::AllocationGate gate = nullptr,
                          std::size_t size = mz::kValueBufferSize) {
  std::vector<Line> lines;
  const auto length = static_cast<int32_t>(text.size());
  mz::CharStream* s = mz::AbsFileMem_create(text.data(), length, length, 0);
  mz::SetAllocationGate(gate);
  std::vector<char> value(size, 'x');
  for (int guard = 0; guard < 100; ++guard) {
    Line line{};
    line.result = mz::ReadContentLine(s, &line.property, &line.params, value.data(),
                                      static_cast<int32_t>(value.size()));
    if (line.result == mz::kStreamEnd) break;
    if (line.result >= 0) {
      line.value.assign(value.data(), static_cast<size_t>(line.result));
      // The value is terminated and nothing is left of the earlier contents.
      EXPECT_EQ(value[static_cast<size_t>(line.result)], 0) << text;
    }
    lines.push_back(line);
  }
  mz::SetAllocationGate(nullptr);
  s->Close(s);
  return lines;
}

// Each row of values.tsv: a kind of value and what it reads as.
class ValueCase : public ::testing::TestWithParam<CaseRow> {};

TEST_P(ValueCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  const std::string& kind = row[0];
  if (kind == "line") {  // the only line, read into 8192 bytes
    const std::vector<Line> lines = ReadAll(row[1], nullptr, 8192);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].value, row[2]);
  } else if (kind == "qp") {
    std::string buf = row[1];
    int32_t length = static_cast<int32_t>(buf.size());
    const int32_t n = mz::DecodeQuotedPrintable(buf.data(), &length, buf.data());
    EXPECT_EQ(buf.substr(0, static_cast<size_t>(n)), row[2]);
    EXPECT_EQ(length, row.Int(3));
  } else if (kind == "name") {
    mz::NameParts p;
    std::memset(&p, 'x', sizeof p);
    EXPECT_EQ(mz::SplitName(&p, row[1].c_str()), 0);
    EXPECT_EQ(
        std::string(p.family) + "|" + p.given + "|" + p.middle + "|" + p.prefix + "|" + p.suffix,
        row[2]);
  } else if (kind == "datetime") {
    mz::DateTimeFields f{};
    EXPECT_EQ(mz::ParseDateTime(&f, row[1].c_str()), row.Int(2));
    std::ostringstream fields;
    fields << f.year << " " << f.month << " " << f.day << " " << f.hour << " " << f.minute << " "
           << f.second << " " << f.utc;
    EXPECT_EQ(fields.str(), row[3]);
  } else if (kind == "format") {
    mz::DateTimeFields f{};
    std::istringstream(row[1]) >> f.year >> f.month >> f.day >> f.hour >> f.minute >> f.second >>
        f.utc;
    char out[32];
    EXPECT_EQ(mz::FormatDateTime(&f, out, row.Int(3), row.Int(2)), row.Int(4));
    EXPECT_STREQ(out, row[5].c_str());
  } else if (kind == "duration") {
    int32_t seconds = -7;
    EXPECT_EQ(mz::ParseDuration(&seconds, row[1].c_str()), row.Int(2));
    EXPECT_EQ(seconds, row.Int(3));
  } else {
    ADD_FAILURE() << "unknown kind " << kind;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ValueCase, Cases("values.tsv"), LineName);

// Names, parameter words and values far longer than anything kept, which
// are cut or refused whatever their length.
TEST(ReadContentLine, CutsALongValueAndStillReadsTheNextLine) {
  const std::string text(50000, 'a');
  const std::string binary(3000, 'Q');  // base64 of 2250 bytes of "A"
  std::vector<Line> lines = ReadAll("NOTE;" + std::string(500, 'w') + ":" + text +
                                    "\r\nFN:next\r\nPHOTO;BASE64:" + binary + "\r\n" +
                                    std::string(500, 'n') + ":x\r\nFN:last\r\n");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].result, 2047);
  EXPECT_EQ(lines[0].value, text.substr(0, 2047));
  EXPECT_STREQ(lines[0].params.slots[0].name, std::string(31, 'W').c_str());
  EXPECT_EQ(lines[1].value, "next");
  EXPECT_EQ(lines[2].result, 2047);
  EXPECT_EQ(lines[3].result, mz::kMalformedText);
  EXPECT_EQ(lines[4].value, "last");
}

TEST(ReadContentLine, WithoutMemorySkipsLinesAndEnds) {
  // No scratch buffer: each line is skipped as malformed; skipping the
  // last one reports the end, so the caller cannot loop.
  std::vector<Line> lines = ReadAll("FN:a\r\nFN:b\r\n", [](std::size_t) { return false; });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].result, mz::kMalformedText);
  EXPECT_EQ(lines[0].property.id, 0u) << "the property is cleared before anything is read";
  EXPECT_STREQ(lines[0].property.name, "");
  // No room for the value: it reads as empty and the next line follows.
  lines = ReadAll("FN:a\r\n b\r\nFN:c\r\n", [](std::size_t n) { return n <= 1024; });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].result, 0);
  EXPECT_EQ(lines[1].result, 0);
  EXPECT_EQ(lines[1].property.id, 11u);
}

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
    static const mz::ContactRecord kZero{};
    return std::memcmp(record.get(), &kZero, sizeof kZero) == 0;
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
// Then the status and category codes of empty text.
TEST(CalendarRecordTest, ParseAlarmFillsEveryPlaceAskedAndEmptyTextsAreOther) {
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
  // An empty STATUS or CATEGORIES line is skipped by the reader, so only
  // here does empty text meet the tables.
  EXPECT_EQ(mz::StatusCode(""), 1);
  EXPECT_EQ(mz::CategoryCode(""), 6);
}

}  // namespace
