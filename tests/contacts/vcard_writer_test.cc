#include "contacts/vcard_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/memory.h"
#include "case_file.h"
#include "scripted_stream.h"

namespace {

using namespace mz;

using Line = std::function<int32_t(VCardWriter*)>;

// What `line` gives through a fresh writer onto `stream`, which takes only
// `room` bytes.
int32_t Write(const Line& line, ScriptStream& stream, std::size_t room) {
  stream.outLimit = room;
  VCardWriter* writer = VCardWriter_create(stream.stream());
  const int32_t result = line(writer);
  VCardWriter_free(writer);
  return result;
}

// Type flags named and joined by ",", or a number.
uint32_t FlagsOf(const std::string& names) {
  if (names.starts_with("0x")) return static_cast<uint32_t>(std::stoul(names, nullptr, 16));
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
// place; one as long as its place is left without a terminator.
template <std::size_t... N>
void Fields(const std::string& text, char (&... places)[N]) {
  std::size_t start = 0;
  auto copy = [&](char* place, std::size_t size) {
    const std::size_t bar = text.find('|', start);
    const std::size_t n = text.substr(start, bar - start).copy(place, size);
    if (n < size) place[n] = '\0';
    start = bar + 1;
  };
  (copy(places, N), ...);
}

// The value of setting `name` in a row's settings, or `otherwise`.
int32_t Setting(const std::string& settings, const std::string& name, int32_t otherwise) {
  const std::size_t at = (" " + settings).find(" " + name + "=");
  return at == std::string::npos ? otherwise : std::stoi(settings.substr(at + name.size() + 1));
}

// The line a row of vcard_writer.tsv describes, with the row's settings.
Line LineOf(const CaseRow& row) {
  const std::string first = row[2], second = row.fields.size() > 4 ? row[3] : "";
  const std::vector<std::string> values(row.fields.begin() + 3, row.fields.end() - 1);
  using W = VCardWriter*;
  const std::map<std::string, Line> lines = {
      {"begin-end",
       [](W w) {
         const int32_t begin = VCardWriter_begin(w);
         return begin != 0 ? begin : VCardWriter_end(w);
       }},
      {"name",
       [=](W w) {
         NameFields n{};
         Fields(first, n.family, n.given, n.middle, n.prefix, n.suffix);
         return VCardWriter_putName(w, &n);
       }},
      {"address",  // into fields cleared from garbage
       [=](W w) {
         AddressFields a;
         std::memset(&a, 'x', sizeof a);
         AddressFields_clear(&a);
         Fields(second, a.postOfficeBox, a.extended, a.street, a.locality, a.region, a.postalCode,
                a.country);
         return VCardWriter_putAddress(w, FlagsOf(first), &a);
       }},
      {"params",  // flags, charset and encoding
       [=](W w) { return VCardWriter_putParams(w, FlagsOf(first), row.Int(3), row.Int(4)); }},
      {"property",  // a name and its values, "(null)" for none
       [=](W w) {
         std::vector<const char*> pointers;
         for (const std::string& v : values)
           pointers.push_back(v == "(null)" ? nullptr : v.c_str());
         return VCardWriter_putProperty(w, first.c_str(), 0, pointers.data(),
                                        static_cast<int32_t>(pointers.size()));
       }},
      {"qp",  // line-break mode and the bytes
       [=](W w) {
         return VCardWriter_putQuotedPrintable(w->stream, second.data(),
                                               static_cast<int32_t>(second.size()), row.Int(2));
       }},
      {"tel", [=](W w) { return VCardWriter_putTel(w, FlagsOf(first), second.c_str()); }},
      {"email", [=](W w) { return VCardWriter_putEmail(w, FlagsOf(first), second.c_str()); }},
      {"url", [=](W w) { return VCardWriter_putUrl(w, FlagsOf(first), second.c_str()); }},
      {"birthday", [=](W w) { return VCardWriter_putBirthday(w, first.c_str()); }},
      {"title", [=](W w) { return VCardWriter_putTitle(w, first.c_str()); }},
      {"org", [=](W w) { return VCardWriter_putOrg(w, first.c_str()); }},
      {"group", [=](W w) { return VCardWriter_putGroup(w, first.c_str()); }},
      {"note", [=](W w) { return VCardWriter_putNote(w, first.c_str()); }}};
  return [put = lines.at(row[0]), settings = row[1]](W w) {
    w->voiceParam = Setting(settings, "voice", w->voiceParam);
    w->omitUtf8Charset = Setting(settings, "omitUtf8", w->omitUtf8Charset);
    w->encodingSetting = Setting(settings, "encoding", w->encodingSetting);
    return put(w);
  };
}

class VCardWriterLine : public testing::TestWithParam<CaseRow> {};

// Each row of vcard_writer.tsv is written exactly. With the stream refusing
// every byte after the first `limit`: the line fails, what reached the stream
// is the start of the line, and no write is tried after the first failure; a
// row with a limit gives its result and the bytes that reached the stream.
TEST_P(VCardWriterLine, IsWrittenExactlyOrEndsAtTheFirstFailedWrite) {
  const Line line = LineOf(GetParam());
  const int32_t limit = Setting(GetParam()[1], "limit", -1);
  ScriptStream full("");
  EXPECT_EQ(Write(line, full, limit < 0 ? kNever : limit), Setting(GetParam()[1], "result", 0));
  EXPECT_EQ(full.out, GetParam().fields.back());
  for (std::size_t cut = 0; limit < 0 && cut < full.out.size(); ++cut) {
    SCOPED_TRACE(testing::Message() << "cut after " << cut);
    ScriptStream written("");
    EXPECT_LT(Write(line, written, cut), 0);
    EXPECT_TRUE(full.out.starts_with(written.out)) << written.out;
    EXPECT_EQ(written.triesAfterRefusal, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, VCardWriterLine, Cases("vcard_writer.tsv"), LineName);

TEST(VCardWriterTest, CreateGivesNullWhenAllocationFails) {
  SetAllocationGate([](std::size_t) { return false; });
  ScriptStream stream("");
  EXPECT_EQ(VCardWriter_create(stream.stream()), nullptr);
  SetAllocationGate(nullptr);
  VCardWriter_free(nullptr);
}

}  // namespace
