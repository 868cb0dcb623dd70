#include "contacts/vcard_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "case_file.h"
#include "frame/memory.h"
#include "stream/text_buffer.h"

namespace {

using namespace mz;

// An in-memory CharStream that takes `limit` bytes and then refuses every
// write: PutChar and Printf with kStreamNoRoom, Write with a short count. It
// counts the writes tried after the first refusal.
struct TestStream {
  CharStream base{};
  std::string data;
  std::size_t limit;
  bool failed = false;
  int callsAfterFailure = 0;

  explicit TestStream(std::size_t limit) : limit(limit) {
    base.self = this;
    base.PutChar = [](CharStream* s, int byte) -> int32_t {
      const char c = static_cast<char>(byte);
      return Of(s)->Take(&c, 1, false) == 1 ? byte : kStreamNoRoom;
    };
    base.Write = [](CharStream* s, const void* source, int32_t count) -> int32_t {
      return static_cast<int32_t>(
          Of(s)->Take(static_cast<const char*>(source), static_cast<std::size_t>(count), true));
    };
    base.Printf = &Printf;
  }

  static int32_t Printf(CharStream* s, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) return kStreamIoError;
    const auto size = static_cast<std::size_t>(n);
    return Of(s)->Take(text, size, false) == size ? n : kStreamNoRoom;
  }

  static TestStream* Of(CharStream* stream) { return static_cast<TestStream*>(stream->self); }

  // Appends what fits of the n bytes, nothing unless all fit or `partial`;
  // the count appended.
  std::size_t Take(const char* bytes, std::size_t n, bool partial) {
    callsAfterFailure += failed ? 1 : 0;
    const std::size_t room = limit - std::min(limit, data.size());
    failed = failed || n > room;
    if (n > room && !partial) return 0;
    data.append(bytes, std::min(n, room));
    return std::min(n, room);
  }
};

using Line = std::function<int32_t(VCardWriter*)>;

struct Written {
  int32_t result;
  std::string data;
  int callsAfterFailure;
};

// What `line` gives through a fresh writer onto a stream taking `limit`
// bytes.
Written Write(const Line& line, std::size_t limit = std::string::npos) {
  TestStream stream(limit);
  VCardWriter* writer = VCardWriter_create(&stream.base);
  const int32_t result = line(writer);
  VCardWriter_free(writer);
  return {result, stream.data, stream.callsAfterFailure};
}

// Type flags named and joined by ",".
uint32_t FlagsOf(const std::string& names) {
  const std::pair<const char*, uint32_t> kNames[] = {
      {"HOME", kTypeHome}, {"WORK", kTypeWork},   {"CELL", kTypeCell},
      {"FAX", kTypeFax},   {"VOICE", kTypeVoice}, {"INTERNET", kTypeInternet}};
  uint32_t flags = 0;
  for (const auto& [name, flag] : kNames) {
    if (("," + names + ",").find("," + std::string(name) + ",") != std::string::npos) flags |= flag;
  }
  return flags;
}

// The fields of `text` between the "|" separators, each copied into its
// place of a fields structure.
template <std::size_t... N>
void Fields(const std::string& text, char (&... places)[N]) {
  std::size_t start = 0;
  auto copy = [&](char* place, std::size_t size) {
    const std::size_t bar = text.find('|', start);
    CopyBounded(place, text.substr(start, bar - start).c_str(), static_cast<int32_t>(size));
    start = bar + 1;
  };
  (copy(places, N), ...);
}

// The line a row of vcard_writer.tsv describes.
Line LineOf(const CaseRow& row) {
  const std::string kind = row[0], first = row[1], second = row.Has(3) ? row[2] : "";
  if (kind == "begin-end") {
    return [](VCardWriter* w) {
      const int32_t begin = VCardWriter_begin(w);
      return begin != 0 ? begin : VCardWriter_end(w);
    };
  }
  if (kind == "name") {
    return [=](VCardWriter* w) {
      NameFields n{};
      Fields(first, n.family, n.given, n.middle, n.prefix, n.suffix);
      return VCardWriter_putName(w, &n);
    };
  }
  if (kind == "address") {
    return [=](VCardWriter* w) {
      AddressFields a{};
      Fields(second, a.postOfficeBox, a.extended, a.street, a.locality, a.region, a.postalCode,
             a.country);
      return VCardWriter_putAddress(w, FlagsOf(first), &a);
    };
  }
  using Flagged = int32_t (*)(VCardWriter*, uint32_t, const char*);
  using Plain = int32_t (*)(VCardWriter*, const char*);
  for (const auto& [name, flagged] : {std::pair<std::string, Flagged>{"tel", VCardWriter_putTel},
                                      {"email", VCardWriter_putEmail},
                                      {"url", VCardWriter_putUrl}}) {
    const Flagged put = flagged;  // a structured binding cannot be captured
    if (kind == name) return [=](VCardWriter* w) { return put(w, FlagsOf(first), second.c_str()); };
  }
  for (const auto& [name, plain] :
       {std::pair<std::string, Plain>{"birthday", VCardWriter_putBirthday},
        {"title", VCardWriter_putTitle},
        {"org", VCardWriter_putOrg},
        {"group", VCardWriter_putGroup},
        {"note", VCardWriter_putNote}}) {
    const Plain put = plain;
    if (kind == name) return [=](VCardWriter* w) { return put(w, first.c_str()); };
  }
  ADD_FAILURE() << "unknown kind " << kind;
  return [](VCardWriter*) { return 0; };
}

class VCardWriterLine : public testing::TestWithParam<CaseRow> {};

// Each row of vcard_writer.tsv is written exactly. With the stream refusing
// every byte after the first `limit`: the line fails, what reached the stream
// is the start of the line, and no write is tried after the first failure.
TEST_P(VCardWriterLine, IsWrittenExactlyOrEndsAtTheFirstFailedWrite) {
  const Line line = LineOf(GetParam());
  const Written full = Write(line);
  EXPECT_EQ(full.result, 0);
  EXPECT_EQ(full.data, GetParam().fields.back());
  for (std::size_t limit = 0; limit < full.data.size(); ++limit) {
    SCOPED_TRACE(testing::Message() << "cut after " << limit);
    const Written cut = Write(line, limit);
    EXPECT_LT(cut.result, 0);
    EXPECT_TRUE(full.data.starts_with(cut.data)) << cut.data;
    EXPECT_EQ(cut.callsAfterFailure, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, VCardWriterLine, testing::ValuesIn(ReadCases("vcard_writer.tsv")),
                         LineName);

struct LineCase {
  Line line;
  std::string expected;
};

// The writer's settings, the parameter order and field limits.
TEST(VCardWriterTest, SettingsAndLimitsShapeTheLine) {
  const LineCase cases[] = {
      {[](VCardWriter* w) {
         w->voiceParam = 2;
         VCardWriter_putTel(w, kTypeHome | kTypeVoice, "1");
         w->voiceParam = 1;
         return VCardWriter_putTel(w, kTypeHome | kTypeVoice, "1");
       },
       "TEL;HOME:1\r\nTEL;HOME;VOICE:1\r\n"},
      {[](VCardWriter* w) {
         w->voiceParam = 1;
         return VCardWriter_putParams(w, 0xffffffffu, kCharsetUtf8, kEncodingQuotedPrintable);
       },
       ";HOME;WORK;PREF;CELL;PAGER;FAX;VOICE;INTERNET;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE"},
      {[](VCardWriter* w) {
         w->omitUtf8Charset = 1;
         return VCardWriter_putOrg(w, "\xc3\xa9");
       },
       "ORG:\xc3\xa9\r\n"},
      {[](VCardWriter* w) {
         w->encodingSetting = kEncodingQuotedPrintable;
         return VCardWriter_putOrg(w, "\xc3\xa9=;");
       },
       "ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=c3=a9=3d\\;\r\n"},
      {[](VCardWriter* w) {
         const char* values[] = {"a", nullptr, "", "b;c", nullptr};
         return VCardWriter_putProperty(w, "X-T", 0, values, 5);
       },
       "X-T:a;;;b\\;c;\r\n"},
      {[](VCardWriter* w) {
         AddressFields address;
         std::memset(&address, 'x', sizeof address);
         AddressFields_clear(&address);
         return VCardWriter_putAddress(w, 0, &address);
       },
       "ADR:;;;;;;\r\n"},
      {[](VCardWriter* w) {
         NameFields name = {};
         std::memset(name.suffix, 'z', sizeof name.suffix);
         return VCardWriter_putName(w, &name);
       },
       "N:;;;;" + std::string(sizeof NameFields::suffix - 1, 'z') + "\r\n"},
      {[](VCardWriter* w) { return VCardWriter_putQuotedPrintable(w->stream, "a\0b", 3, 1); },
       "a=00b"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.expected);
    const Written written = Write(c.line);
    EXPECT_EQ(written.result, 0);
    EXPECT_EQ(written.data, c.expected);
  }
}

TEST(VCardWriterTest, CreateGivesNullWhenAllocationFails) {
  SetAllocationGate([](std::size_t) { return false; });
  TestStream stream(0);
  EXPECT_EQ(VCardWriter_create(&stream.base), nullptr);
  SetAllocationGate(nullptr);
  VCardWriter_free(nullptr);
}

// A formatted write passes the stream's code, a failed byte or block gives
// -1: the name, the colon and the value of a line; an escape and a soft
// break in quoted-printable.
TEST(VCardWriterTest, AFailedWriteGivesTheStreamsCodeOrMinusOne) {
  const Line title = [](VCardWriter* w) { return VCardWriter_putTitle(w, "Boss"); };
  const Line qpEscape = [](VCardWriter* w) {
    return VCardWriter_putQuotedPrintable(w->stream, "a=", 2, 0);
  };
  const Line qpBreak = [](VCardWriter* w) {
    return VCardWriter_putQuotedPrintable(w->stream, "\r\nb", 3, 1);
  };
  const struct {
    Line line;
    std::size_t limit;
    int32_t result;
    const char* data;
  } failures[] = {
      {title, 0, kStreamNoRoom, ""},     {title, 5, -1, "TITLE"},       {title, 7, -1, "TITLE:B"},
      {qpEscape, 1, kStreamNoRoom, "a"}, {qpBreak, 8, -1, "=0d=0a=\r"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.data);
    const Written written = Write(f.line, f.limit);
    EXPECT_EQ(written.result, f.result);
    EXPECT_EQ(written.data, f.data);
  }
}

}  // namespace
