// The card normalizer's golden files: each data/normalize/NAME.vcf holds one
// card; NAME.out what becomes of it: the 2.1 text and the report under each
// policy, then the card written as 3.0 and as 4.0. With MZ_REGEN_GOLDEN=1
// the test rewrites the .out files instead (scripts/regen-golden). Every 2.1
// text is also read by the library's own reader, which must find exactly the
// contact the normalizer meant, and normalizes again to itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cards/card_normalizer.h"
#include "cards/card_writer.h"
#include "program.h"
#include "stream/abs_file_mem.h"
#include "table.h"
#include "vcf.h"
#include "vobject/contact_record.h"
#include "vobject/values.h"

namespace {

namespace fs = std::filesystem;
using mzhost::NormalizedCard;
using mzhost::PropertyFate;
using mzhost::TypePolicy;
using Parts = std::map<std::string, std::vector<std::string>>;

std::vector<fs::path> Cards() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(TEST_DATA_DIR "/normalize")) {
    if (entry.path().extension() == ".vcf") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A card's text with LF line ends; a CR or LF that is not part of a CR LF
// pair fails the test.
std::string Shown(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\r\n") == 0) {
      out += "\n";
      ++i;
    } else {
      EXPECT_TRUE(text[i] != '\r' && text[i] != '\n') << "a bare line end at " << i;
      out += text[i];
    }
  }
  return out;
}

std::string Report(const NormalizedCard& card) {
  std::string text;
  for (const std::string& note : card.notes) text += "note: " + note + "\n";
  for (const PropertyFate& fate : card.fates) {
    text += std::to_string(fate.line) + " " + fate.property + " " + ActionName(fate.action) +
            (fate.as.empty() ? "" : " as " + fate.as) +
            (fate.reason.empty() ? "" : ": " + fate.reason) + "\n";
  }
  return text;
}

// The record codes of the slots, in the normalizer's order.
constexpr const char* kCodes[mzhost::kSlotCount] = {
    "N", "B", "O", "L", "M", "TPC", "THV", "TWV", "THF", "TWF", "EP", "WP", "AH", "AW", "AP"};

// What the normalizer meant: each slot's code and value parts.
Parts Meant(const mzhost::PhoneContact& contact) {
  Parts parts;
  for (std::size_t i = 0; i < mzhost::kSlotCount; ++i) {
    if (contact.slots[i].empty()) continue;
    parts[kCodes[i]] = contact.slots[i];
    if (parts[kCodes[i]].size() == 1 && std::string(kCodes[i]) == "O") parts["O"].push_back("");
  }
  return parts;
}

// What the library's reader makes of a 2.1 text: each slot's code and its
// value split as the mapping splits it, the parts it drops checked empty.
Parts LibraryReads(std::string text) {
  auto record = std::make_unique<mz::ContactRecord>();
  const auto size = static_cast<int32_t>(text.size());
  mz::CharStream* stream = mz::AbsFileMem_create(text.data(), size, size, 0);
  mz::ObjectType type = mz::kObjectNone;
  EXPECT_EQ(mz::ReadObject(stream, &type, record.get(), 0, nullptr), 0);
  stream->Close(stream);
  Parts parts;
  const int32_t counts[] = {0, mz::kShortSlotCount, mz::kMediumSlotCount, mz::kLongSlotCount};
  for (mz::SlotClass c = mz::kSlotShort; c <= mz::kSlotLong; ++c) {
    for (int32_t i = 0; i < counts[c]; ++i) {
      mz::SlotView slot;
      mz::SlotAt(record.get(), c, i, &slot);
      const std::string code = slot.code;
      if (code.empty()) break;
      EXPECT_EQ(parts.count(code), 0u) << "a second " << code;
      if (code == "N") {
        mz::NameParts n;
        mz::SplitName(&n, slot.value);
        parts[code] = {n.family, n.given, n.middle, n.prefix, n.suffix};
      } else if (code == "O") {
        mz::OrgParts o;
        mz::SplitOrg(&o, slot.value);
        EXPECT_STREQ(o.office, "");
        parts[code] = {o.company, o.department};
      } else if (code.starts_with("A")) {
        mz::AddressParts a;
        mz::SplitAddress(&a, slot.value);
        EXPECT_STREQ(a.postOfficeBox, "");
        EXPECT_STREQ(a.extended, "");
        parts[code] = {a.street, a.locality, a.region, a.postalCode, a.country};
      } else {
        parts[code] = {slot.value};
      }
    }
  }
  return parts;
}

class NormalizerGolden : public testing::TestWithParam<fs::path> {};

TEST_P(NormalizerGolden, CardBecomesWhatItsOutFileSays) {
  const std::string input = FileContents(GetParam());
  const std::vector<mzhost::Card> cut = mzhost::SplitCards(input);
  ASSERT_EQ(cut.size(), 1u) << "one card per file";
  std::string out;
  for (const auto& [policy, name] :
       {std::pair{TypePolicy::kFill, "default"}, {TypePolicy::kStrict, "strict"}}) {
    const NormalizedCard card = mzhost::NormalizeCard(input, policy, cut[0].complete);
    out += std::string("== 2.1, ") + name + "\n" + Shown(card.text) + "-- report\n" + Report(card);
    SCOPED_TRACE(name);
    EXPECT_LE(card.text.size(), 1023u);
    EXPECT_EQ(LibraryReads(card.text), Meant(card.contact));
    const NormalizedCard again = mzhost::NormalizeCard(card.text, policy);
    EXPECT_EQ(again.text, card.text);
    for (const PropertyFate& fate : again.fates) EXPECT_EQ(fate.action, PropertyFate::kKept);
  }
  out += "== 3.0\n" + Shown(mzhost::WriteCard(input, mzhost::CardFormat::k30));
  out += "== 4.0\n" + Shown(mzhost::WriteCard(input, mzhost::CardFormat::k40));

  fs::path golden = GetParam();
  golden.replace_extension(".out");
  if (const char* regen = std::getenv("MZ_REGEN_GOLDEN"); regen && std::string(regen) == "1") {
    std::ofstream(golden, std::ios::binary) << out;
    return;
  }
  EXPECT_EQ(out, FileContents(golden)) << "MZ_REGEN_GOLDEN=1 (scripts/regen-golden) rewrites it";
}

INSTANTIATE_TEST_SUITE_P(Files, NormalizerGolden, testing::ValuesIn(Cards()),
                         [](const testing::TestParamInfo<fs::path>& info) {
                           return TestName(info.param.stem().string());
                         });

}  // namespace
