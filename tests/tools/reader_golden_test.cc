// The reader's golden files: each input NAME.vcf or NAME.vcs under
// tests/data/reader, and each fuzz seed, beside NAME.json, the exact
// vcardinfo output for it (a seed's under tests/data/reader/fuzz-corpus, out
// of the corpus folder). scripts/regen-golden rewrites the outputs from the
// current build. The host's listing of each .vcf input is in
// data/listings.tsv, which says where it differs from the reader's record;
// the outputs' codes check the record code table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "object_json.h"
#include "program.h"
#include "table.h"
#include "vcf.h"
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
  std::string name = info.param.json.parent_path().filename() == "fuzz-corpus" ? "fuzz_" : "";
  for (char c : info.param.input.filename().string())
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

class ReaderGoldenTest : public testing::TestWithParam<Golden> {};

// gtest prints a line diff of the two texts when they differ. A card file's
// listing has all its cards' rows, in order.
TEST_P(ReaderGoldenTest, OutputMatchesTheJsonFileAndTheListingItsRows) {
  ASSERT_TRUE(fs::exists(GetParam().json)) << GetParam().json << ": run scripts/regen-golden";
  std::string data = FileContents(GetParam().input), out;
  ASSERT_TRUE(mztools::DescribeObjects(data, [&](std::string_view text) { out += text; }));
  EXPECT_EQ(out, FileContents(GetParam().json))
      << "scripts/regen-golden rewrites " << GetParam().json;
  if (GetParam().input.extension() != ".vcf") return;
  const std::string file = GetParam().input.filename().string();
  std::vector<TableRow> expected, listed;
  for (const TableRow& row : ReadTable(TOOLS_DATA_DIR "/listings.tsv")) {
    if (row.at(0) == file) expected.push_back(row);
  }
  for (const mzhost::Card& card : mzhost::SplitCards(FileContents(GetParam().input))) {
    const mzhost::CardSummary got = mzhost::Summarize(card.text);
    listed.push_back({file, std::to_string(card.index), got.name, got.tel, got.email});
  }
  EXPECT_EQ(listed, expected);
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

}  // namespace
