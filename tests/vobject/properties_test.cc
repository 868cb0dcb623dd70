#include "vobject/properties.h"

#include <gtest/gtest.h>

#include <string>

#include "case_file.h"
#include "scripted_stream.h"

namespace {

// The reader's per-line scratch buffer.
struct Scratch {
  mz::TextBuffer* buffer = mz::TextBuffer_create(64);
  ~Scratch() { mz::TextBuffer_free(buffer); }
};

// Each row of properties.tsv: a property name or a parameter list read.
class PropertyHeadCase : public testing::TestWithParam<CaseRow> {};

TEST_P(PropertyHeadCase, ReadsAsExpected) {
  const CaseRow& row = GetParam();
  const bool name = row[0] == "name";
  const std::size_t failAt = name ? 7 : 5;
  ScriptStream s(row[1], row.Has(failAt) ? static_cast<size_t>(row.Int(failAt)) : kNever,
                 row.Has(failAt) ? row.Int(failAt + 1) : 0);
  Scratch scratch;
  if (name) {
    mz::PropertyName property{};
    mz::ValueKind kind = 99;
    EXPECT_EQ(mz::ReadPropertyName(s.stream(), &property, scratch.buffer, &kind), row.Int(2));
    EXPECT_EQ(property.id, static_cast<uint32_t>(row.Int(3)));
    EXPECT_EQ(std::string(property.name), row[4]);
    EXPECT_EQ(kind, row.Int(5));
    EXPECT_EQ(s.Rest(), row[6]);
    return;
  }
  mz::ParamList list{};
  EXPECT_EQ(mz::ReadParameters(s.stream(), &list, scratch.buffer), row.Int(2));
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

INSTANTIATE_TEST_SUITE_P(Table, PropertyHeadCase, testing::ValuesIn(ReadCases("properties.tsv")),
                         LineName);

// FindParam and HasParam are read through every parameter of the reader
// golden files (tel-types, adr-types, type-stays-once-set).
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
