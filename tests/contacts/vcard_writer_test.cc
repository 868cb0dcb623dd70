#include "contacts/vcard_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "frame/memory.h"

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

Line Put(int32_t (*put)(VCardWriter*, const char*), const char* text) {
  return [=](VCardWriter* w) { return put(w, text); };
}
Line Put(int32_t (*put)(VCardWriter*, uint32_t, const char*), uint32_t flags, const char* text) {
  return [=](VCardWriter* w) { return put(w, flags, text); };
}
Line Note(const char* text) {
  return Put(VCardWriter_putNote, text);
}

Line Name(NameFields name) {
  return [=](VCardWriter* w) { return VCardWriter_putName(w, &name); };
}
Line Address(uint32_t flags, AddressFields address) {
  return [=](VCardWriter* w) { return VCardWriter_putAddress(w, flags, &address); };
}

struct LineCase {
  Line line;
  std::string expected;
};

void ExpectWritten(const std::vector<LineCase>& cases) {
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.expected);
    const Written written = Write(c.line);
    EXPECT_EQ(written.result, 0);
    EXPECT_EQ(written.data, c.expected);
  }
}

TEST(VCardWriterTest, EveryLineShapeIsWrittenExactly) {
  ExpectWritten({
      {[](VCardWriter* w) {
         const int32_t begin = VCardWriter_begin(w);
         return begin != 0 ? begin : VCardWriter_end(w);
       },
       "BEGIN:VCARD\r\nVERSION:2.1\r\nEND:VCARD\r\n"},
      {Name({"", "", "", "", ""}), "N:;;;;\r\n"},
      {Name({"Doe", "John", "Q", "Dr", "Jr"}), "N:Doe;John;Q;Dr;Jr\r\n"},
      {Name({"M\xc3\xbcller", "Hans", "", "", ""}), "N;CHARSET=UTF-8:M\xc3\xbcller;Hans;;;\r\n"},
      {Address(kTypeHome, {"", "", "", "Springfield", "", "", ""}),
       "ADR;HOME:;;;Springfield;;;\r\n"},
      {Address(kTypeWork, {"Box 9", "Floor 2", "1 Main St", "Town", "ST", "12345", "Land"}),
       "ADR;WORK:Box 9;Floor 2;1 Main St;Town;ST;12345;Land\r\n"},
      {Address(0, {"", "", "", "", "", "", "Land"}), "ADR:;;;;;;Land\r\n"},
      // Each type-flag combination the export uses; VOICE only on request.
      {Put(VCardWriter_putTel, kTypeHome | kTypeVoice, "1"), "TEL;HOME:1\r\n"},
      {Put(VCardWriter_putTel, kTypeWork | kTypeVoice, "2"), "TEL;WORK:2\r\n"},
      {Put(VCardWriter_putTel, kTypeCell, "3"), "TEL;CELL:3\r\n"},
      {Put(VCardWriter_putTel, kTypeHome | kTypeFax, "4"), "TEL;HOME;FAX:4\r\n"},
      {Put(VCardWriter_putTel, kTypeWork | kTypeFax, "5"), "TEL;WORK;FAX:5\r\n"},
      {Put(VCardWriter_putEmail, kTypeInternet, "a@b.example"), "EMAIL;INTERNET:a@b.example\r\n"},
      {Put(VCardWriter_putUrl, kTypeInternet, "http://b/"), "URL;INTERNET:http://b/\r\n"},
      {Put(VCardWriter_putBirthday, "1975-3-9"), "BDAY:1975-3-9\r\n"},
      {Put(VCardWriter_putTitle, "Boss"), "TITLE:Boss\r\n"},
      {Put(VCardWriter_putOrg, "A;B;;C"), "ORG:A\\;B\\;\\;C\r\n"},
      {Put(VCardWriter_putGroup, "Friends"), "GRP:Friends\r\n"},
      {Note("a=b"), "NOTE:a=b\r\n"},
      {Note("\xc3\xa9;x"), "NOTE;CHARSET=UTF-8:\xc3\xa9\\;x\r\n"},
      // The writer's settings, the parameter order and field limits.
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
  });
}

// A value holding a line break makes its whole line quoted-printable; never
// a raw CR or LF, and a soft break only after an inner CR LF pair.
TEST(VCardWriterTest, LineBreaksMakeTheLineQuotedPrintable) {
  const std::string qp = "NOTE;ENCODING=QUOTED-PRINTABLE:";
  ExpectWritten({
      {Note("Line one\r\nLine two"), qp + "Line one=0d=0a=\r\n\tLine two\r\n"},
      {Note("x\r\n"), qp + "x=0d=0a\r\n"},
      {Note("a=b;c\r\nd"), qp + "a=3db\\;c=0d=0a=\r\n\td\r\n"},
      {Note("a\nb"), qp + "a=0ab\r\n"},
      {Note("a\rb"), qp + "a=0db\r\n"},
      {Note("a\n\rb"), qp + "a=0a=0db\r\n"},
      {Note("a\r\r\nb"), qp + "a=0d=0d=0a=\r\n\tb\r\n"},
      {Note("a\rx\nb\r\nc"), qp + "a=0dx=0ab=0d=0a=\r\n\tc\r\n"},
      {Note("\xc3\xa9\nx"), "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=c3=a9=0ax\r\n"},
      {Address(kTypeHome, {"", "", "1 Main\r\nBack", "A=B", "", "", ""}),
       "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;1 Main=0d=0a=\r\n\tBack;A=3dB;;;\r\n"},
      {Address(0, {"", "",
                   "Stra\xc3\x9f"
                   "e",
                   "a\nb", "", "", ""}),
       "ADR;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Stra=c3=9fe;a=0ab;;;\r\n"},
      {Name({"a\r\nb", "\xc3\xa9", "", "", ""}),
       "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:a=0d=0a=\r\n\tb;=c3=a9;;;\r\n"},
  });
}

TEST(VCardWriterTest, CreateGivesNullWhenAllocationFails) {
  SetAllocationGate([](std::size_t) { return false; });
  TestStream stream(0);
  EXPECT_EQ(VCardWriter_create(&stream.base), nullptr);
  SetAllocationGate(nullptr);
  VCardWriter_free(nullptr);
}

// With the stream refusing every byte after the first `limit`: the line
// fails, what reached the stream is the start of the line, and no write is
// tried after the first failure.
TEST(VCardWriterTest, AWriteFailingPartWayEndsTheLine) {
  const Line lines[] = {
      [](VCardWriter* w) { return VCardWriter_begin(w); },
      [](VCardWriter* w) { return VCardWriter_end(w); },
      Put(VCardWriter_putTel, kTypeHome | kTypeFax, "555"),
      Put(VCardWriter_putOrg, "A;B"),
      Put(VCardWriter_putOrg, "\xc3\xa9"),
      Note("a=b\r\nc;d\r\n"),
      Address(kTypeWork, {"", "", "s", "l\rx", "r", "", ""}),
  };
  for (const Line& line : lines) {
    const Written full = Write(line);
    ASSERT_EQ(full.result, 0);
    for (std::size_t limit = 0; limit < full.data.size(); ++limit) {
      SCOPED_TRACE(testing::Message() << full.data << " cut after " << limit);
      const Written cut = Write(line, limit);
      EXPECT_LT(cut.result, 0);
      EXPECT_TRUE(full.data.starts_with(cut.data)) << cut.data;
      EXPECT_EQ(cut.callsAfterFailure, 0);
    }
  }
  // A formatted write passes the stream's code, a failed byte or block gives
  // -1: the name, the colon and the value of a line; an escape and a soft
  // break in quoted-printable.
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
      {Put(VCardWriter_putTitle, "Boss"), 0, kStreamNoRoom, ""},
      {Put(VCardWriter_putTitle, "Boss"), 5, -1, "TITLE"},
      {Put(VCardWriter_putTitle, "Boss"), 7, -1, "TITLE:B"},
      {qpEscape, 1, kStreamNoRoom, "a"},
      {qpBreak, 8, -1, "=0d=0a=\r"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.data);
    const Written written = Write(f.line, f.limit);
    EXPECT_EQ(written.result, f.result);
    EXPECT_EQ(written.data, f.data);
  }
}

}  // namespace
