#include "vobject/values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
// its 2048-byte value buffer, until the end of the data or a hard error.
// With `gate`, it rules allocations once the stream is made.
std::vector<Line> ReadAll(std::string text, mz::AllocationGate gate = nullptr) {
  std::vector<Line> lines;
  CharStream* s = Over(text);
  mz::SetAllocationGate(gate);
  std::vector<char> value(mz::kValueBufferSize, 'x');
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

// The value of the only line of `text`.
std::string ValueOf(const std::string& text) {
  std::vector<Line> lines = ReadAll(text);
  EXPECT_EQ(lines.size(), 1u) << text;
  return lines.empty() ? std::string("<none>") : lines[0].value;
}

TEST(ReadContentLine, DecodesValuesByTheirParameters) {
  const struct {
    const char* what;
    std::string line, value;
  } cases[] = {
      {"plain text", "FN:John Smith\r\n", "John Smith"},
      {"folded line", "NOTE:one\r\n two\r\n", "onetwo"},
      {"quoted-printable escapes", "NOTE;ENCODING=QUOTED-PRINTABLE:=41=42\r\n", "AB"},
      {"lower-case hex digits, CR LF", "NOTE;QUOTED-PRINTABLE:=4a=0D=0Ab\r\n", "J\r\nb"},
      {"soft breaks join lines", "NOTE;QUOTED-PRINTABLE:abc=\r\ndef=\r\n=41\r\n", "abcdefA"},
      {"invalid escape yields nothing", "NOTE;QUOTED-PRINTABLE:x=4Gy\r\n", "xy"},
      {"final = is lost", "NOTE;QUOTED-PRINTABLE:ab=\r\n", "ab"},
      {"base64 text", "NOTE;ENCODING=BASE64;CHARSET=UTF-8:aGVsbG8=\r\n", "hello"},
      {"base64 across folded lines", "NOTE;BASE64:aGVs\r\n bG8g\r\n d29y\r\n bGQ=\r\n",
       "hello world"},
      {"UCS-2 big-endian", "NOTE;BASE64;CHARSET=UCS2:AEEA6QQU\r\n", "A\xC3\xA9\xD0\x94"},
      {"UTF-7", "NOTE;CHARSET=UTF-7:Hi +AOk-!\r\n", "Hi \xC3\xA9!"},
      {"default character set", "NOTE:caf\xE9 \x80\r\n", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"8BIT is not decoded", "NOTE;ENCODING=8BIT:=41\r\n", "=41"},
      {"B is not decoded", "NOTE;ENCODING=B:aGVsbG8=\r\n", "aGVsbG8="},
      {"first ENCODING decides", "NOTE;QUOTED-PRINTABLE;BASE64:=41\r\n", "A"},
      {"first CHARSET decides", "NOTE;CHARSET=UTF-8;CHARSET=UTF-7:+AOk-\r\n", "+AOk-"},
      {"binary PHOTO", "PHOTO;BASE64:QUJD\r\n", "ABC"},
      {"binary cut at its first zero byte", "PHOTO;BASE64:QUIAQ0Q=\r\n", "AB"},
      {"PHOTO by URL is text", "PHOTO;VALUE=URL:http://x/\xE9\r\n", "http://x/\xC3\xA9"},
      {"VALUE=INLINE stays binary", "PHOTO;VALUE=INLINE:a\xE9\r\n", "a\xE9"},
      {"first VALUE decides", "PHOTO;VALUE=INLINE;VALUE=URL:a\xE9\r\n", "a\xE9"},
      {"unknown X- with encoding is binary", "X-DATA;BASE64:QQDp\r\n", "A"},
      {"unknown X- with charset is text", "X-DATA;BASE64;CHARSET=UTF-8:w6k=\r\n", "\xC3\xA9"},
      {"unknown X- without encoding is text", "X-DATA:\xE9\r\n", "\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValueOf(c.line), c.value) << c.what;
  }
}

TEST(ReadContentLine, ReportsTheLineHeadEmptyValuesMalformedLinesAndTheEnd) {
  std::vector<Line> lines = ReadAll(
      "tel;home;voice:123\r\nNOTE\r\nNOTE:\r\nNOTE;BASE64:=\r\n:nothing\r\nFN:ok\r\nFN;HOME");
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].result, 3);
  EXPECT_EQ(lines[0].property.id, 17u);
  EXPECT_TRUE(mz::HasParam(&lines[0].params, mz::kParamType, mz::kTypeVoice));
  EXPECT_EQ(lines[0].value, "123");
  for (size_t i : {1, 2, 3, 6}) EXPECT_EQ(lines[i].result, 0) << i;
  EXPECT_EQ(lines[4].result, mz::kNoPropertyName);
  EXPECT_EQ(lines[5].value, "ok");
  EXPECT_TRUE(ReadAll("").empty());
}

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

TEST(ReadPropertyValue, KeepsOnly4095RawBytesOfBinaryButConsumesAll) {
  // 1023 whole groups of "QUFB" ("AAA") fit in 4095 raw bytes; the rest of
  // the value is dropped but still consumed.
  std::string raw;
  for (int i = 0; i < 2000; ++i) raw += "QUFB";
  std::string text = raw + "\r\nNEXT";
  CharStream* s = Over(text);
  mz::ParamList params{};
  params.slots[0] = {mz::kParamEncoding, mz::kEncodingBase64, "", ""};
  std::vector<char> value(8192, 0);
  EXPECT_EQ(mz::ReadPropertyValue(s, &params, value.data(), 8192, mz::kKindBinary), 3069);
  EXPECT_EQ(std::string(value.data()), std::string(3069, 'A'));
  EXPECT_EQ(s->GetChar(s), 'N');
  s->Close(s);
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

TEST(DecodeQuotedPrintable, DecodesInPlaceAndGivesBackAnUnfinishedEscape) {
  const struct {
    std::string in, out;
    int32_t consumed;
  } cases[] = {
      {"a=\r\nb", "ab", 5}, {"a=G1b=1Gc", "abc", 9}, {"ab=", "ab", 2}, {"ab=4", "ab", 2},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    std::string buf = c.in;
    int32_t length = static_cast<int32_t>(buf.size());
    const int32_t n = mz::DecodeQuotedPrintable(buf.data(), &length, buf.data());
    EXPECT_EQ(std::string(buf.data(), static_cast<size_t>(n)), c.out) << c.in;
    EXPECT_EQ(length, c.consumed) << c.in;
  }
}

TEST(SplitName, FillsFieldsInOrder) {
  const struct {
    std::string text;
    std::string fields;  // joined by "|"
  } cases[] = {
      {"Smith;John;Q;Dr.;Jr.", "Smith|John|Q|Dr.|Jr."},
      {"Smith", "Smith||||"},
      {"A\\;B;C", "A;B|C|||"},
      {"A\\\\;B", "A\\|B|||"},
      {"a;b;c;d;e;f;g", "a|b|c|d|e"},
      {"", "||||"},
      {"a;b;c;" + std::string(100, 'p') + ";s", "a|b|c|" + std::string(31, 'p') + "|s"},
  };
  for (const auto& c : cases) {
    mz::NameParts p;
    std::memset(&p, 'x', sizeof p);
    EXPECT_EQ(mz::SplitName(&p, c.text.c_str()), 0);
    EXPECT_EQ(
        std::string(p.family) + "|" + p.given + "|" + p.middle + "|" + p.prefix + "|" + p.suffix,
        c.fields);
  }
}

TEST(SplitComponents, LeaveMissingOnesEmptyCutToTheirFieldsAndSkipNullFields) {
  mz::AddressParts a;
  std::memset(&a, 'x', sizeof a);
  mz::SplitAddress(&a, ";;1 Main St;Springfield;IL;62701;USA");
  EXPECT_EQ(std::string(a.postOfficeBox) + "|" + a.extended + "|" + a.street + "|" + a.locality +
                "|" + a.region + "|" + a.postalCode + "|" + a.country,
            "||1 Main St|Springfield|IL|62701|USA");

  const std::string company(1000, 'c'), department(200, 'd');
  mz::OrgParts org;
  mz::SplitOrg(&org, (company + ";" + department + ";x;extra").c_str());
  EXPECT_EQ(std::string(org.company), company.substr(0, 383));
  EXPECT_EQ(std::string(org.department), department.substr(0, 127));
  EXPECT_STREQ(org.office, "x");

  char second[4] = "zz";
  mz::ComponentList list = {{{nullptr, 0}, {second, sizeof second}}, 2};
  std::string text = "first;second";
  CharStream* s = Over(text);
  EXPECT_EQ(mz::SplitComponents(&list, s), 0);
  s->Close(s);
  EXPECT_STREQ(second, "sec");
}

TEST(ParseDateTime, ReadsDatesAndTimes) {
  const struct {
    const char* what;
    const char* text;
    int32_t result;
    mz::DateTimeFields fields;
  } cases[] = {
      {"dashed date", "2013-11-01", 0, {2013, 11, 1, -1, -1, -1, -1}},
      {"basic date", "19900512", 0, {1990, 5, 12, -1, -1, -1, -1}},
      {"utc time", "20131101T083000Z", 0, {2013, 11, 1, 8, 30, 0, 1}},
      {"local time, lower case", "20131101t235959", 0, {2013, 11, 1, 23, 59, 59, 0}},
      {"time too short", "20131101T0830", 0, {2013, 11, 1, -1, -1, -1, -1}},
      {"colons break the time", "20131101T08:30:00", 0, {2013, 11, 1, 8, 0, 0, 0}},
      {"year only", "2013", mz::kMalformedValue, {-1, -1, -1, -1, -1, -1, -1}},
      {"short once dashes go", "2013-11-1", mz::kMalformedValue, {-1, -1, -1, -1, -1, -1, -1}},
      {"empty", "", mz::kMalformedValue, {-1, -1, -1, -1, -1, -1, -1}},
  };
  for (const auto& c : cases) {
    mz::DateTimeFields f{};
    EXPECT_EQ(mz::ParseDateTime(&f, c.text), c.result) << c.what;
    EXPECT_EQ(std::memcmp(&f, &c.fields, sizeof f), 0)
        << c.what << ": " << f.year << " " << f.month << " " << f.day << " " << f.hour << " "
        << f.minute << " " << f.second << " " << f.utc;
  }
}

TEST(FormatDateTime, WritesBasicFormBounded) {
  const mz::DateTimeFields utc{2013, 11, 1, 8, 30, 0, 1};
  const mz::DateTimeFields local{999, 1, 2, 3, 4, 5, 0};
  char out[32];
  EXPECT_EQ(mz::FormatDateTime(&utc, out, sizeof out, 1), 16);
  EXPECT_STREQ(out, "20131101T083000Z");
  EXPECT_EQ(mz::FormatDateTime(&utc, out, sizeof out, 0), 8);
  EXPECT_STREQ(out, "20131101");
  EXPECT_EQ(mz::FormatDateTime(&local, out, sizeof out, 1), 15);
  EXPECT_STREQ(out, "09990102T030405");
  EXPECT_EQ(mz::FormatDateTime(&utc, out, 5, 1), 4);
  EXPECT_STREQ(out, "2013");
  const mz::DateTimeFields unset{-1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(mz::FormatDateTime(&unset, out, sizeof out, 0), 30);
  EXPECT_STREQ(out, "429496729542949672954294967295");
}

TEST(ParseDuration, AddsUnits) {
  const struct {
    const char* what;
    const char* text;
    int32_t result, seconds;
  } cases[] = {
      {"days and time", "P1DT2H30M", 0, 95400},
      {"years and months before T", "P2Y1M", 0, 2 * 31536000 + 2592000},
      {"lower case", "p1w2dt3s", 0, 604800 + 2 * 86400 + 3},
      {"letter without number", "PDT5S", 0, 5},
      {"blanks skipped", "P 1 D", 0, 86400},
      {"saturates", "P99999999999Y", 0, INT32_MAX},
      {"no P", "1D", mz::kMalformedValue, 0},
      {"empty", "", mz::kMalformedValue, 0},
  };
  for (const auto& c : cases) {
    int32_t seconds = -7;
    EXPECT_EQ(mz::ParseDuration(&seconds, c.text), c.result) << c.what;
    EXPECT_EQ(seconds, c.seconds) << c.what;
  }
  EXPECT_EQ(mz::ParseDuration(nullptr, "xx"), 0);
}

}  // namespace
