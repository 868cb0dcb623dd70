#include "vobject/values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "case_file.h"
#include "frame/memory.h"
#include "stream/abs_file_mem.h"

namespace {

using mz::CharStream;

struct Line {
  int32_t result;
  mz::PropertyName property;
  mz::ParamList params;
  std::string value;  // the value buffer up to the result's length
};

// A stream over all of `text`.
CharStream* Over(std::string& text) {
  const auto size = static_cast<int32_t>(text.size());
  return mz::AbsFileMem_create(text.data(), size, size, 0);
}

// Reads every content line of `text` the way the record reader does, with
// its 2048-byte value buffer unless told otherwise, until the end of the
// data or a hard error. With `gate`, it rules allocations once the stream is
// made.
std::vector<Line> ReadAll(std::string text, mz::AllocationGate gate = nullptr,
                          std::size_t size = mz::kValueBufferSize) {
  std::vector<Line> lines;
  CharStream* s = Over(text);
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

// The value of the only line of `text`, read into 8192 bytes.
std::string ValueOf(const std::string& text) {
  std::vector<Line> lines = ReadAll(text, nullptr, 8192);
  EXPECT_EQ(lines.size(), 1u) << text;
  return lines.empty() ? std::string("<none>") : lines[0].value;
}

// Each row of values.tsv: a kind of value and what it reads as.
class ValueCase : public ::testing::TestWithParam<CaseRow> {};

TEST_P(ValueCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  const std::string& kind = row[0];
  if (kind == "line") {
    EXPECT_EQ(ValueOf(row[1]), row[2]);
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

INSTANTIATE_TEST_SUITE_P(Table, ValueCase, ::testing::ValuesIn(ReadCases("values.tsv")), LineName);

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
  EXPECT_EQ(lines[3].result, mz::kNoPropertyName);
  EXPECT_EQ(lines[4].value, "last");
}

bool DenyAll(std::size_t) {
  return false;
}
bool AllowSmall(std::size_t bytes) {
  return bytes <= 1024;
}

TEST(ReadContentLine, WithoutMemorySkipsLinesAndEnds) {
  // No scratch buffer: each line is skipped as malformed; skipping the
  // last one reports the end, so the caller cannot loop.
  std::vector<Line> lines = ReadAll("FN:a\r\nFN:b\r\n", DenyAll);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].result, mz::kNoPropertyName);
  // No room for the value: it reads as empty and the next line follows.
  lines = ReadAll("FN:a\r\n b\r\nFN:c\r\n", AllowSmall);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].result, 0);
  EXPECT_EQ(lines[1].result, 0);
  EXPECT_EQ(lines[1].property.id, 11u);
}

TEST(ParseDuration, WithoutAPlaceForTheSecondsDoesNothing) {
  EXPECT_EQ(mz::ParseDuration(nullptr, "xx"), 0);
}

}  // namespace
