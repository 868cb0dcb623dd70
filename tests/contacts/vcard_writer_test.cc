#include "contacts/vcard_writer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "frame/memory.h"
#include "stream/file_stream.h"

namespace {

using mz::VCardWriter;

// An in-memory CharStream that accepts `limit` bytes and then fails every
// write: PutChar and Printf with kStreamNoRoom, Write with a short count.
struct TestStream {
  mz::CharStream base;
  std::string data;
  std::size_t limit = std::string::npos;
  int callsAfterFailure = 0;
  bool failed = false;

  TestStream() {
    base = {};
    base.self = this;
    base.PutChar = &PutChar;
    base.Write = &Write;
    base.Printf = &Printf;
  }
  TestStream(const TestStream&) = delete;
  TestStream& operator=(const TestStream&) = delete;

  void Reset(std::size_t newLimit) {
    data.clear();
    limit = newLimit;
    callsAfterFailure = 0;
    failed = false;
  }

  static TestStream* Of(mz::CharStream* stream) { return static_cast<TestStream*>(stream->self); }

  std::size_t Room() {
    if (failed) ++callsAfterFailure;
    return limit == std::string::npos ? limit : limit - data.size();
  }

  static int32_t PutChar(mz::CharStream* stream, int byte) {
    TestStream* s = Of(stream);
    if (s->Room() < 1) {
      s->failed = true;
      return mz::kStreamNoRoom;
    }
    s->data.push_back(static_cast<char>(byte));
    return byte;
  }

  static int32_t Write(mz::CharStream* stream, const void* source, int32_t count) {
    TestStream* s = Of(stream);
    std::size_t n = std::min<std::size_t>(s->Room(), static_cast<std::size_t>(count));
    if (n < static_cast<std::size_t>(count)) s->failed = true;
    s->data.append(static_cast<const char*>(source), n);
    return static_cast<int32_t>(n);
  }

  static int32_t Printf(mz::CharStream* stream, const char* format, ...) {
    TestStream* s = Of(stream);
    char text[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof text) return mz::kStreamIoError;
    if (s->Room() < static_cast<std::size_t>(n)) {
      s->failed = true;
      return mz::kStreamNoRoom;
    }
    s->data.append(text, static_cast<std::size_t>(n));
    return n;
  }
};

class VCardWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writer_ = mz::VCardWriter_create(&stream_.base);
    ASSERT_NE(writer_, nullptr);
  }
  void TearDown() override {
    mz::VCardWriter_free(writer_);
    mz::SetAllocationGate(nullptr);
  }

  TestStream stream_;
  VCardWriter* writer_ = nullptr;
};

mz::NameFields Name(const char* family, const char* given = "", const char* middle = "",
                    const char* prefix = "", const char* suffix = "") {
  mz::NameFields name = {};
  std::snprintf(name.family, sizeof name.family, "%s", family);
  std::snprintf(name.given, sizeof name.given, "%s", given);
  std::snprintf(name.middle, sizeof name.middle, "%s", middle);
  std::snprintf(name.prefix, sizeof name.prefix, "%s", prefix);
  std::snprintf(name.suffix, sizeof name.suffix, "%s", suffix);
  return name;
}

// The parts contact export fills; post office box and extended stay empty.
mz::AddressFields Address(const char* street, const char* locality, const char* region = "",
                          const char* postalCode = "", const char* country = "") {
  mz::AddressFields address = {};
  std::snprintf(address.street, sizeof address.street, "%s", street);
  std::snprintf(address.locality, sizeof address.locality, "%s", locality);
  std::snprintf(address.region, sizeof address.region, "%s", region);
  std::snprintf(address.postalCode, sizeof address.postalCode, "%s", postalCode);
  std::snprintf(address.country, sizeof address.country, "%s", country);
  return address;
}

struct LineCase {
  const char* label;
  std::function<int32_t(VCardWriter*)> write;
  const char* expected;
};

void PrintTo(const LineCase& c, std::ostream* out) {
  *out << c.label;
}

std::string LineLabel(const ::testing::TestParamInfo<LineCase>& info) {
  return info.param.label;
}

class VCardLineTest : public VCardWriterTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(VCardLineTest, WritesTheExactLine) {
  EXPECT_EQ(GetParam().write(writer_), 0);
  EXPECT_EQ(stream_.data, GetParam().expected);
}

constexpr uint32_t kHome = mz::kTypeHome, kWork = mz::kTypeWork, kCell = mz::kTypeCell,
                   kFax = mz::kTypeFax, kVoice = mz::kTypeVoice, kInternet = mz::kTypeInternet;

auto Note(const char* text) {
  return [text](VCardWriter* w) { return mz::VCardWriter_putNote(w, text); };
}

// Every line shape contact export produces.
INSTANTIATE_TEST_SUITE_P(
    ExportLines, VCardLineTest,
    ::testing::Values(
        LineCase{"BeginAndEnd",
                 [](VCardWriter* w) {
                   int32_t begin = mz::VCardWriter_begin(w);
                   return begin != 0 ? begin : mz::VCardWriter_end(w);
                 },
                 "BEGIN:VCARD\r\nVERSION:2.1\r\nEND:VCARD\r\n"},
        LineCase{"EmptyName",
                 [](VCardWriter* w) {
                   mz::NameFields name = Name("");
                   return mz::VCardWriter_putName(w, &name);
                 },
                 "N:;;;;\r\n"},
        LineCase{"FullNameInOrder",
                 [](VCardWriter* w) {
                   mz::NameFields name = Name("Doe", "John", "Q", "Dr", "Jr");
                   return mz::VCardWriter_putName(w, &name);
                 },
                 "N:Doe;John;Q;Dr;Jr\r\n"},
        LineCase{"Utf8FamilyName",
                 [](VCardWriter* w) {
                   mz::NameFields name = Name("M\xc3\xbcller", "Hans");
                   return mz::VCardWriter_putName(w, &name);
                 },
                 "N;CHARSET=UTF-8:M\xc3\xbcller;Hans;;;\r\n"},
        LineCase{"HomeAddressWithOnlyLocality",
                 [](VCardWriter* w) {
                   mz::AddressFields address = Address("", "Springfield");
                   return mz::VCardWriter_putAddress(w, kHome, &address);
                 },
                 "ADR;HOME:;;;Springfield;;;\r\n"},
        LineCase{"WorkAddressInOrder",
                 [](VCardWriter* w) {
                   mz::AddressFields address = Address("1 Main St", "Town", "ST", "12345", "Land");
                   std::strcpy(address.postOfficeBox, "Box 9");
                   std::strcpy(address.extended, "Floor 2");
                   return mz::VCardWriter_putAddress(w, kWork, &address);
                 },
                 "ADR;WORK:Box 9;Floor 2;1 Main St;Town;ST;12345;Land\r\n"},
        LineCase{"OtherAddressHasNoParameters",
                 [](VCardWriter* w) {
                   mz::AddressFields address = Address("", "", "", "", "Land");
                   return mz::VCardWriter_putAddress(w, 0, &address);
                 },
                 "ADR:;;;;;;Land\r\n"},
        LineCase{"HomeVoiceTelDropsVoice",
                 [](VCardWriter* w) { return mz::VCardWriter_putTel(w, kHome | kVoice, "555-1"); },
                 "TEL;HOME:555-1\r\n"},
        LineCase{"WorkVoiceTelDropsVoice",
                 [](VCardWriter* w) { return mz::VCardWriter_putTel(w, kWork | kVoice, "555-2"); },
                 "TEL;WORK:555-2\r\n"},
        LineCase{"CellTel",
                 [](VCardWriter* w) { return mz::VCardWriter_putTel(w, kCell, "555-3"); },
                 "TEL;CELL:555-3\r\n"},
        LineCase{"HomeFax",
                 [](VCardWriter* w) { return mz::VCardWriter_putTel(w, kHome | kFax, "555-4"); },
                 "TEL;HOME;FAX:555-4\r\n"},
        LineCase{"WorkFax",
                 [](VCardWriter* w) { return mz::VCardWriter_putTel(w, kWork | kFax, "555-5"); },
                 "TEL;WORK;FAX:555-5\r\n"},
        LineCase{
            "InternetEmail",
            [](VCardWriter* w) { return mz::VCardWriter_putEmail(w, kInternet, "a@b.example"); },
            "EMAIL;INTERNET:a@b.example\r\n"},
        LineCase{"InternetUrl",
                 [](VCardWriter* w) {
                   return mz::VCardWriter_putUrl(w, kInternet, "http://b.example/");
                 },
                 "URL;INTERNET:http://b.example/\r\n"},
        LineCase{"Birthday",
                 [](VCardWriter* w) { return mz::VCardWriter_putBirthday(w, "1975-3-9"); },
                 "BDAY:1975-3-9\r\n"},
        LineCase{"Title", [](VCardWriter* w) { return mz::VCardWriter_putTitle(w, "Boss"); },
                 "TITLE:Boss\r\n"},
        LineCase{"OrgEscapesSemicolons",
                 [](VCardWriter* w) { return mz::VCardWriter_putOrg(w, "A;B;;C"); },
                 "ORG:A\\;B\\;\\;C\r\n"},
        LineCase{"Group", [](VCardWriter* w) { return mz::VCardWriter_putGroup(w, "Friends"); },
                 "GRP:Friends\r\n"},
        LineCase{"UnknownFlagsWriteNoParameter",
                 [](VCardWriter* w) { return mz::VCardWriter_putTel(w, 0x4 | 0x2000, "1"); },
                 "TEL:1\r\n"},
        LineCase{"EqualsSignPlainWithoutEncoding", Note("a=b"), "NOTE:a=b\r\n"},
        LineCase{"Utf8ValueUnchangedWithSemicolonEscaped", Note("\xc3\xa9;x"),
                 "NOTE;CHARSET=UTF-8:\xc3\xa9\\;x\r\n"}),
    LineLabel);

// Values holding line breaks: always quoted-printable, never a raw CR or LF.
INSTANTIATE_TEST_SUITE_P(
    LineBreaks, VCardLineTest,
    ::testing::Values(
        LineCase{"TwoLinesGetASoftBreak", Note("Line one\r\nLine two"),
                 "NOTE;ENCODING=QUOTED-PRINTABLE:Line one=0d=0a=\r\n\tLine two\r\n"},
        LineCase{"TrailingPairHasNoSoftBreak", Note("x\r\n"),
                 "NOTE;ENCODING=QUOTED-PRINTABLE:x=0d=0a\r\n"},
        LineCase{"EqualsAndSemicolonInsideQuotedPrintable", Note("a=b;c\r\nd"),
                 "NOTE;ENCODING=QUOTED-PRINTABLE:a=3db\\;c=0d=0a=\r\n\td\r\n"},
        LineCase{"LoneLf", Note("a\nb"), "NOTE;ENCODING=QUOTED-PRINTABLE:a=0ab\r\n"},
        LineCase{"LoneCr", Note("a\rb"), "NOTE;ENCODING=QUOTED-PRINTABLE:a=0db\r\n"},
        LineCase{"LfAtTheEnd", Note("a\n"), "NOTE;ENCODING=QUOTED-PRINTABLE:a=0a\r\n"},
        LineCase{"LfThenCr", Note("a\n\rb"), "NOTE;ENCODING=QUOTED-PRINTABLE:a=0a=0db\r\n"},
        LineCase{"CrCrLf", Note("a\r\r\nb"),
                 "NOTE;ENCODING=QUOTED-PRINTABLE:a=0d=0d=0a=\r\n\tb\r\n"},
        LineCase{"LfAfterCrAndAnotherByteIsNoPair", Note("a\rx\nb\r\nc"),
                 "NOTE;ENCODING=QUOTED-PRINTABLE:a=0dx=0ab=0d=0a=\r\n\tc\r\n"},
        LineCase{"Utf8WithLf", Note("\xc3\xa9\nx"),
                 "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=c3=a9=0ax\r\n"},
        LineCase{"Utf8WithPair", Note("\xc3\xa9\r\nx"),
                 "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=c3=a9=0d=0a=\r\n\tx\r\n"},
        LineCase{"EveryValueOfABrokenLineIsQuotedPrintable",
                 [](VCardWriter* w) {
                   mz::AddressFields address = Address("1 Main\r\nBack", "A=B");
                   return mz::VCardWriter_putAddress(w, kHome, &address);
                 },
                 "ADR;HOME;ENCODING=QUOTED-PRINTABLE:;;1 Main=0d=0a=\r\n\tBack;A=3dB;;;\r\n"},
        LineCase{"BreakAfterTheFirstUtf8Value",
                 [](VCardWriter* w) {
                   mz::AddressFields address = Address(
                       "Stra\xc3\x9f"
                       "e",
                       "a\nb");
                   return mz::VCardWriter_putAddress(w, 0, &address);
                 },
                 "ADR;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Stra=c3=9fe;a=0ab;;;\r\n"},
        LineCase{"PairBeforeTheFirstUtf8Value",
                 [](VCardWriter* w) {
                   mz::NameFields name = Name("a\r\nb", "\xc3\xa9");
                   return mz::VCardWriter_putName(w, &name);
                 },
                 "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:a=0d=0a=\r\n\tb;=c3=a9;;;\r\n"}),
    LineLabel);

// A whole contact as export writes it, through the scratch file's stream:
// written, flushed, rewound and read back.
TEST(VCardWriterFileTest, WholeContactReadsBackFromTheFile) {
  namespace fs = std::filesystem;
  std::string folder = (fs::temp_directory_path() / "vcard_writer_XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  mz::CharStream* stream = mz::FileStream_open((folder + "/scratch.vcf").c_str(), "w+");
  ASSERT_NE(stream, nullptr);
  VCardWriter* writer = mz::VCardWriter_create(stream);
  ASSERT_NE(writer, nullptr);
  mz::NameFields name = Name("Doe", "Jane");
  mz::AddressFields address = Address("", "Town");
  EXPECT_EQ(mz::VCardWriter_begin(writer), 0);
  EXPECT_EQ(mz::VCardWriter_putName(writer, &name), 0);
  EXPECT_EQ(mz::VCardWriter_putTel(writer, kCell, "555"), 0);
  EXPECT_EQ(mz::VCardWriter_putAddress(writer, kWork, &address), 0);
  EXPECT_EQ(mz::VCardWriter_putNote(writer, "a\r\nb"), 0);
  EXPECT_EQ(mz::VCardWriter_end(writer), 0);
  mz::VCardWriter_free(writer);
  ASSERT_EQ(stream->Flush(stream), 0);
  ASSERT_EQ(stream->Seek(stream, 0, 0), 0);
  char text[1024];
  int32_t n = stream->Read(stream, text, sizeof text);
  stream->Close(stream);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  ASSERT_GE(n, 0);
  EXPECT_EQ(std::string(text, static_cast<std::size_t>(n)),
            "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane;;;\r\nTEL;CELL:555\r\n"
            "ADR;WORK:;;;Town;;;\r\nNOTE;ENCODING=QUOTED-PRINTABLE:a=0d=0a=\r\n\tb\r\n"
            "END:VCARD\r\n");
}

TEST_F(VCardWriterTest, CreateSetsTheDefaultSettings) {
  EXPECT_EQ(writer_->stream, &stream_.base);
  EXPECT_EQ(writer_->charsetSetting, mz::kCharsetUtf8);
  EXPECT_EQ(writer_->encodingSetting, mz::kEncodingNone);
  EXPECT_EQ(writer_->voiceParam, 0);
  EXPECT_EQ(writer_->omitUtf8Charset, 0);
}

TEST_F(VCardWriterTest, CreateGivesNullWhenAllocationFails) {
  mz::SetAllocationGate([](std::size_t) { return false; });
  EXPECT_EQ(mz::VCardWriter_create(&stream_.base), nullptr);
  mz::VCardWriter_free(nullptr);
}

TEST_F(VCardWriterTest, ParametersFollowTheFlagOrderThenCharsetThenEncoding) {
  writer_->voiceParam = 1;
  EXPECT_EQ(mz::VCardWriter_putParams(writer_, 0xffffffffu, mz::kCharsetUtf8,
                                      mz::kEncodingQuotedPrintable),
            0);
  EXPECT_EQ(stream_.data,
            ";HOME;WORK;PREF;CELL;PAGER;FAX;VOICE;INTERNET;CHARSET=UTF-8;"
            "ENCODING=QUOTED-PRINTABLE");
}

TEST_F(VCardWriterTest, VoiceIsWrittenOnlyWhenVoiceParamIsOne) {
  writer_->voiceParam = 2;
  mz::VCardWriter_putTel(writer_, kHome | kVoice, "1");
  writer_->voiceParam = 1;
  mz::VCardWriter_putTel(writer_, kHome | kVoice, "1");
  EXPECT_EQ(stream_.data, "TEL;HOME:1\r\nTEL;HOME;VOICE:1\r\n");
}

TEST_F(VCardWriterTest, OmitUtf8CharsetLeavesTheLineWithoutParameters) {
  writer_->omitUtf8Charset = 1;
  EXPECT_EQ(mz::VCardWriter_putOrg(writer_, "\xc3\xa9"), 0);
  EXPECT_EQ(stream_.data, "ORG:\xc3\xa9\r\n");
}

TEST_F(VCardWriterTest, QuotedPrintableSettingEncodesUtf8Lines) {
  writer_->encodingSetting = mz::kEncodingQuotedPrintable;
  EXPECT_EQ(mz::VCardWriter_putOrg(writer_, "\xc3\xa9=;"), 0);
  EXPECT_EQ(stream_.data, "ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=c3=a9=3d\\;\r\n");
}

TEST_F(VCardWriterTest, MissingAndEmptyValuesKeepTheirPlaces) {
  const char* values[] = {"a", nullptr, "", "b;c", nullptr};
  EXPECT_EQ(mz::VCardWriter_putProperty(writer_, "X-T", 0, values, 5), 0);
  EXPECT_EQ(stream_.data, "X-T:a;;;b\\;c;\r\n");
}

TEST_F(VCardWriterTest, ClearedAddressWritesOnlySeparators) {
  mz::AddressFields address;
  std::memset(&address, 'x', sizeof address);
  mz::AddressFields_clear(&address);
  EXPECT_EQ(mz::VCardWriter_putAddress(writer_, 0, &address), 0);
  EXPECT_EQ(stream_.data, "ADR:;;;;;;\r\n");
}

TEST_F(VCardWriterTest, UnterminatedFieldIsCutAtItsLastByte) {
  mz::NameFields name = Name("");
  std::memset(name.suffix, 'z', sizeof name.suffix);
  EXPECT_EQ(mz::VCardWriter_putName(writer_, &name), 0);
  EXPECT_EQ(stream_.data, "N:;;;;" + std::string(sizeof name.suffix - 1, 'z') + "\r\n");
}

TEST_F(VCardWriterTest, QuotedPrintableEscapesZeroBytes) {
  const char bytes[] = {'a', '\0', 'b'};
  EXPECT_EQ(mz::VCardWriter_putQuotedPrintable(&stream_.base, bytes, 3, 1), 0);
  EXPECT_EQ(stream_.data, "a=00b");
}

// Each line, with the stream refusing every byte after the first `limit`:
// the line fails, what reached the stream is the start of the line, and no
// write is tried after the first failure.
TEST_F(VCardWriterTest, AFailingWriteEndsTheLine) {
  const std::vector<std::function<int32_t(VCardWriter*)>> lines = {
      [](VCardWriter* w) { return mz::VCardWriter_begin(w); },
      [](VCardWriter* w) { return mz::VCardWriter_end(w); },
      [](VCardWriter* w) { return mz::VCardWriter_putTel(w, kHome | kFax, "555"); },
      [](VCardWriter* w) { return mz::VCardWriter_putOrg(w, "A;B"); },
      [](VCardWriter* w) { return mz::VCardWriter_putOrg(w, "\xc3\xa9"); },
      Note("a=b\r\nc;d\r\n"),
      [](VCardWriter* w) {
        mz::AddressFields address = Address("s", "l\rx", "r");
        return mz::VCardWriter_putAddress(w, kWork, &address);
      },
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    TestStream full;
    VCardWriter* writer = mz::VCardWriter_create(&full.base);
    ASSERT_EQ(lines[i](writer), 0);
    mz::VCardWriter_free(writer);
    for (std::size_t limit = 0; limit < full.data.size(); ++limit) {
      TestStream cut;
      cut.Reset(limit);
      writer = mz::VCardWriter_create(&cut.base);
      EXPECT_LT(lines[i](writer), 0) << "line " << i << " limit " << limit;
      mz::VCardWriter_free(writer);
      EXPECT_EQ(full.data.compare(0, cut.data.size(), cut.data), 0) << "line " << i;
      EXPECT_EQ(cut.callsAfterFailure, 0) << "line " << i << " limit " << limit;
    }
  }
}

TEST_F(VCardWriterTest, FailedWritesReportTheirCodes) {
  // The name goes out formatted: the stream's own code comes back.
  stream_.Reset(0);
  EXPECT_EQ(mz::VCardWriter_putTitle(writer_, "Boss"), mz::kStreamNoRoom);
  // The colon is a single byte, the value and the line end are blocks: -1.
  stream_.Reset(5);
  EXPECT_EQ(mz::VCardWriter_putTitle(writer_, "Boss"), -1);
  EXPECT_EQ(stream_.data, "TITLE");
  stream_.Reset(7);
  EXPECT_EQ(mz::VCardWriter_putTitle(writer_, "Boss"), -1);
  // Inside quoted-printable: a failed escape passes the stream's code, a
  // failed soft break gives -1.
  stream_.Reset(1);
  EXPECT_EQ(mz::VCardWriter_putQuotedPrintable(&stream_.base, "a=", 2, 0), mz::kStreamNoRoom);
  stream_.Reset(8);
  EXPECT_EQ(mz::VCardWriter_putQuotedPrintable(&stream_.base, "\r\nb", 3, 1), -1);
  EXPECT_EQ(stream_.data, "=0d=0a=\r");
}

}  // namespace
