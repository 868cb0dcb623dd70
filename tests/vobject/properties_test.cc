#include "vobject/properties.h"

#include <gtest/gtest.h>

#include <string>

#include "scripted_stream.h"

namespace {

// The reader's per-line scratch buffer.
struct Scratch {
  mz::TextBuffer* buffer = mz::TextBuffer_create(64);
  ~Scratch() { mz::TextBuffer_free(buffer); }
};

struct NameCase {
  const char* what;
  std::string input;
  int32_t result;
  uint32_t id;
  std::string name;
  mz::ValueKind kind;
  std::string rest;
  size_t failAt = kNever;
  int32_t code = 0;
};

const NameCase kNameCases[] = {
    {"lower case", "tel;home:1", 1, 17, "TEL", 0, ";home:1"},
    {"misspelt row", "LABLE:x", 1, 16, "LABLE", 0, ":x"},
    {"correct spelling unknown", "LABEL:x", 1, 0, "LABEL", -1, ":x"},
    {"binary kind", "Photo;X:1", 1, 13, "PHOTO", 1, ";X:1"},
    {"last row", "TRANSP:0", 1, 88, "TRANSP", 0, ":0"},
    {"group prefix", "item1.TEL:123", 1, 0, "ITEM1.TEL", -1, ":123"},
    {"unknown X name", "X-FOO;BAR=baz:1", 1, 0, "X-FOO", -1, ";BAR=baz:1"},
    {"blank lines skipped", "\r\n\r\nNOTE:x", 1, 27, "NOTE", 0, ":x"},
    {"leading blank kept", " NOTE:x", 1, 0, " NOTE", -1, ":x"},
    {"escaped colon", "N\\:X:1", 1, 0, "N:X", -1, ":1"},
    {"name at end of data", "NOTE", 1, 27, "NOTE", 0, ""},
    {"31 bytes", std::string(31, 'a') + ":x", 1, 0, std::string(31, 'A'), -1, ":x"},
    {"32 bytes", std::string(32, 'a') + ":x\r\n more\r\nNEXT", -251, 0, "", -1, "NEXT"},
    {"begins with colon", ":value\r\n folded\r\nNEXT", -251, 0, "", -1, "NEXT"},
    {"quoted string", "\"q\"x\r\nNEXT", -251, 0, "", -1, "NEXT"},
    {"bare CR", "\rNOTE:1\r\nNEXT", -251, 0, "", -1, "NEXT"},
    {"only blank lines", "\r\n\r\n", -202, 0, "", -1, ""},
    {"other failure is no name", "NOTE", -251, 0, "", -1, "NOTE", 0, -9},
    {"hard inside the name", "NOTE", -12, 0, "", -1, "TE", 2, -12},
    {"hard while skipping", ":abc", -7, 0, "", -1, "bc", 2, -7},
};

class PropertyNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(PropertyNameTest, ReadsTheName) {
  const NameCase& c = GetParam();
  ScriptStream s(c.input, c.failAt, c.code);
  Scratch scratch;
  mz::PropertyName property{};
  mz::ValueKind kind = 99;
  EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, scratch.buffer, &kind), c.result);
  EXPECT_EQ(property.id, c.id);
  EXPECT_EQ(std::string(property.name), c.name);
  EXPECT_EQ(kind, c.kind);
  EXPECT_EQ(s.Rest(), c.rest);
}

INSTANTIATE_TEST_SUITE_P(Properties, PropertyNameTest, testing::ValuesIn(kNameCases));

struct ParamCase {
  const char* what;
  std::string input;
  int32_t result;
  std::string slots;  // the used slots as "group/value/name", joined by "|"
  std::string rest;
  size_t failAt = kNever;
  int32_t code = 0;
};

const ParamCase kParamCases[] = {
    {"bare words, any case", ";home;voice:123\r\n", 1, "11/1/|11/21/", "123\r\n"},
    {"named words", ";TYPE=HOME;TYPE=VOICE:123", 1, "11/1/|11/21/", "123"},
    {"unknown word upper-cased", ";BAR=baz:1", 1, "-1/-1/BAZ", "1"},
    {"value groups", ";CHARSET=utf-8;ENCODING=QUOTED-PRINTABLE;VALUE=cid:", 1, "1/2/|2/2/|4/2/",
     ""},
    {"calendar groups", ";ROLE=OWNER;RSVP=YES;EXPECT=AFYI;STATUS=SENT:", 1,
     "21/2/|23/1/|24/0/|22/2/", ""},
    {"comma list is one word", ";TYPE=HOME,VOICE:", 1, "-1/-1/HOME,VOICE", ""},
    {"escaped separator", ";a\\;b:x", 1, "-1/-1/A;B", "x"},
    {"word cut to 31 bytes", ";" + std::string(40, 'q') + ":", 1, "-1/-1/" + std::string(31, 'Q'),
     ""},
    {"quoted string separates", ";X=\"q\":v", 1, "-1/-1/X", "v"},
    {"name kept before empty value", ";HOME=:", 1, "11/1/", ""},
    {"empty parameters", ";;HOME;;:", 1, "11/1/", ""},
    {"bare CR is a word", ";\r;:", 1, "-1/-1/\r", ""},
    {"no parameters", ":x", 1, "", "x"},
    {"nine parameters keep eight", ";A;B;C;D;E;F;G;H;I:", 1,
     "-1/-1/A|-1/-1/B|-1/-1/C|-1/-1/D|-1/-1/E|-1/-1/F|-1/-1/G|-1/-1/H", ""},
    {"line without colon", "\r\nNEXT", 0, "", "NEXT"},
    {"pending word dropped at line end", ";HOME\r\nX", 0, "", "X"},
    {"data ends first", ";HOME", 0, "", ""},
    {"hard error", ";HOME;WORK:", -92, "11/1/", "WORK:", 6, -92},
    {"other failure ends", ";HOME;WORK:", 0, "11/1/", "WORK:", 6, -9},
};

class ParametersTest : public testing::TestWithParam<ParamCase> {};

TEST_P(ParametersTest, FillsSlotsInOrder) {
  const ParamCase& c = GetParam();
  ScriptStream s(c.input, c.failAt, c.code);
  Scratch scratch;
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadParameters(s.stream(), &list, scratch.buffer), c.result);
  std::string used;
  for (const mz::ParamSlot& slot : list.slots) {
    EXPECT_EQ(slot.text[0], '\0');
    if (slot.group == 0) continue;
    used += (used.empty() ? "" : "|") + std::to_string(slot.group) + "/" +
            std::to_string(slot.value) + "/" + slot.name;
  }
  EXPECT_EQ(used, c.slots);
  EXPECT_EQ(s.Rest(), c.rest);
}

INSTANTIATE_TEST_SUITE_P(Properties, ParametersTest, testing::ValuesIn(kParamCases));

TEST(PropertiesTest, FindParamTakesTheFirstOfAGroupAndHasParamLooksAtAllEight) {
  mz::ParamList list{};
  list.slots[1] = {mz::kParamType, mz::kTypeWork, {}, {}};
  list.slots[2] = {mz::kParamType, mz::kTypeHome, {}, {}};
  list.slots[7] = {mz::kParamCharset, mz::kCharsetUtf8, {}, {}};
  const mz::ParamSlot fallback{};
  EXPECT_EQ(mz::FindParam(&list, mz::kParamType, &fallback), &list.slots[1]);
  EXPECT_EQ(mz::FindParam(&list, mz::kParamCharset, &fallback), &list.slots[7]);
  EXPECT_EQ(mz::FindParam(&list, mz::kParamEncoding, &fallback), &fallback);
  EXPECT_EQ(mz::FindParam(&list, mz::kParamEncoding, nullptr), nullptr);
  EXPECT_TRUE(mz::HasParam(&list, mz::kParamCharset, mz::kCharsetUtf8));
  EXPECT_TRUE(mz::HasParam(&list, mz::kParamType, mz::kTypeHome));
  EXPECT_FALSE(mz::HasParam(&list, mz::kParamType, mz::kTypeFax));
  EXPECT_FALSE(mz::HasParam(&list, mz::kParamRole, mz::kTypeWork));
}

TEST(PropertiesTest, NullArgumentsAreRefused) {
  ScriptStream s("NOTE:x");
  Scratch scratch;
  mz::PropertyName property{};
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, nullptr, nullptr),
            mz::kStreamInvalidArgument);
  EXPECT_EQ(mz::ReadParameters(nullptr, &list, scratch.buffer), mz::kStreamInvalidArgument);
  EXPECT_EQ(s.Rest(), "NOTE:x");
}

}  // namespace
