// The reader's golden files: each input NAME.vcf or NAME.vcs under
// tests/data/reader, and each fuzz seed, beside NAME.json, the exact
// vcardinfo output for it (a seed's under tests/data/reader/fuzz-corpus, out
// of the corpus folder). scripts/regen-golden rewrites the outputs from the
// current build. The same inputs check the record code table and the host's
// listing summary against the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "object_json.h"
#include "program.h"
#include "stream/abs_file_mem.h"
#include "table.h"
#include "vcf.h"
#include "vobject/calendar_record.h"
#include "vobject/contact_record.h"

namespace {

namespace fs = std::filesystem;

struct Golden {
  fs::path input, json;
};

// Every golden input, sorted, with the path of its expected output.
std::vector<Golden> GoldenFiles() {
  const fs::path data = READER_DATA_DIR;
  std::vector<Golden> files;
  for (const auto& [inputs, outputs] :
       {std::pair{data, data}, {fs::path(READ_OBJECT_CORPUS), data / "fuzz-corpus"}}) {
    for (const auto& entry : fs::directory_iterator(inputs)) {
      const fs::path& input = entry.path();
      if (input.extension() != ".vcf" && input.extension() != ".vcs") continue;
      files.push_back({input, outputs / input.filename().replace_extension(".json")});
    }
  }
  std::sort(files.begin(), files.end(), [](const Golden& a, const Golden& b) {
    return a.json < b.json || (a.json == b.json && a.input < b.input);
  });
  return files;
}

std::string TestName(const testing::TestParamInfo<Golden>& info) {
  const bool seed = info.param.json.parent_path().filename() == "fuzz-corpus";
  return ::TestName((seed ? "fuzz_" : "") + info.param.input.filename().string());
}

void PrintTo(const Golden& golden, std::ostream* os) {
  *os << golden.input;
}

class ReaderGoldenTest : public testing::TestWithParam<Golden> {};

// gtest prints a line diff of the two texts when they differ.
TEST_P(ReaderGoldenTest, OutputMatchesTheJsonFile) {
  ASSERT_TRUE(fs::exists(GetParam().json)) << GetParam().json << ": run scripts/regen-golden";
  std::string data = FileContents(GetParam().input), out;
  ASSERT_TRUE(mztools::DescribeObjects(data, [&](std::string_view text) { out += text; }));
  EXPECT_EQ(out, FileContents(GetParam().json))
      << "scripts/regen-golden rewrites " << GetParam().json;
}

INSTANTIATE_TEST_SUITE_P(Files, ReaderGoldenTest, testing::ValuesIn(GoldenFiles()), TestName);

// The codes the golden outputs hold are exactly the table's: each code in it
// is produced by some input.
TEST(RecordCodeTableTest, IsExactlyTheCodesTheGoldenFilesShow) {
  std::set<std::string> produced, table;
  for (const Golden& golden : GoldenFiles()) {
    const std::string json = FileContents(golden.json);
    const std::string key = "\"code\":\"";
    for (auto at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
      const auto start = at + key.size();
      produced.insert(json.substr(start, json.find('"', start) - start));
    }
  }
  for (const mz::RecordCodeRow& row : mz::RecordCodeTable) {
    EXPECT_TRUE(table.insert(row.code).second) << row.code;
    EXPECT_EQ(mz::FindRecordCode(row.code), &row);
  }
  EXPECT_EQ(produced, table);
  EXPECT_EQ(mz::FindRecordCode("THP"), nullptr);
}

// The host's listing (Summarize) against the reader's record, card by card
// as the host cuts a file (SplitCards). The listing's name is the first N
// slot that names someone, given then family name; its phone the first slot
// whose code starts with T, its e-mail the first starting with E (slots in
// class order).
// The record keeps backslash escapes, which a listing shows undone.
struct Listed {
  std::string name, tel, email;
};

// `value` with \; \, \\ undone and cut at each unescaped ';' when `split`.
std::vector<std::string> Unescaped(std::string_view value, bool split) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() &&
        std::string_view(";,\\").find(value[i + 1]) != std::string_view::npos) {
      parts.back() += value[++i];
    } else if (value[i] == ';' && split) {
      parts.emplace_back();
    } else {
      parts.back() += value[i];
    }
  }
  return parts;
}

Listed FromRecord(std::string text) {
  auto contact = std::make_unique<mz::ContactRecord>();
  auto calendar = std::make_unique<mz::CalendarRecord>();
  const auto size = static_cast<int32_t>(text.size());
  mz::CharStream* stream = mz::AbsFileMem_create(text.data(), size, size, 0);
  mz::ObjectType type = mz::kObjectNone;
  mz::ReadObject(stream, &type, contact.get(), 0, calendar.get());
  stream->Close(stream);
  Listed listed;
  const int32_t counts[] = {0, mz::kShortSlotCount, mz::kMediumSlotCount, mz::kLongSlotCount};
  for (mz::SlotClass c = mz::kSlotShort; c <= mz::kSlotLong; ++c) {
    for (int32_t i = 0; i < counts[c]; ++i) {
      mz::SlotView slot;
      mz::SlotAt(contact.get(), c, i, &slot);
      const std::string code = slot.code;
      if (code == "N" && listed.name.empty()) {
        std::vector<std::string> parts = Unescaped(slot.value, true);
        if (parts.size() > 1 && !parts[1].empty()) parts[0] = parts[1] + " " + parts[0];
        listed.name = parts[0];
      } else if (code.starts_with("T") && listed.tel.empty()) {
        listed.tel = Unescaped(slot.value, false)[0];
      } else if (code.starts_with("E") && listed.email.empty()) {
        listed.email = Unescaped(slot.value, false)[0];
      }
    }
  }
  return listed;
}

// The listing's fields by name, as data/listing-differences.tsv names them.
const std::pair<const char*, std::string Listed::*> kFields[] = {
    {"name", &Listed::name}, {"tel", &Listed::tel}, {"email", &Listed::email}};

class SummaryTest : public testing::TestWithParam<Golden> {};

// Every field of every card agrees, but where the differences table says
// what the listing shows instead.
TEST_P(SummaryTest, ListingAgreesWithTheRecord) {
  std::map<std::string, std::string> differences;  // "FILE CARD FIELD": listed
  for (const TableRow& row : ReadTable(TOOLS_DATA_DIR "/listing-differences.tsv")) {
    differences[row.at(0) + " " + row.at(1) + " " + row.at(2)] = row.at(3);
  }
  std::size_t index = 0;
  for (const mzhost::Card& card : mzhost::SplitCards(FileContents(GetParam().input))) {
    SCOPED_TRACE(testing::Message() << "card " << ++index);
    const mzhost::CardSummary got = mzhost::Summarize(card.text);
    const Listed summary{got.name, got.tel, got.email};
    const Listed record = FromRecord(card.text);
    for (const auto& [name, field] : kFields) {
      const auto known = differences.find(GetParam().input.filename().string() + " " +
                                          std::to_string(index) + " " + name);
      if (known == differences.end()) {
        EXPECT_EQ(summary.*field, record.*field) << name;
      } else {
        EXPECT_EQ(summary.*field, known->second) << name;
        EXPECT_NE(summary.*field, record.*field) << name << " is no longer a difference";
      }
    }
  }
}

std::vector<Golden> CardFiles() {
  std::vector<Golden> files = GoldenFiles();
  std::erase_if(files, [](const Golden& g) { return g.input.extension() != ".vcf"; });
  return files;
}

INSTANTIATE_TEST_SUITE_P(Files, SummaryTest, testing::ValuesIn(CardFiles()), TestName);

}  // namespace
