// vCard files cut into cards (the cases are files under data/split), and
// what a listing reads from a card (data/summary.tsv).
#include "vcf.h"

#include "program.h"
#include "table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using mzhost::Card;
using mzhost::SplitCards;

namespace fs = std::filesystem;

// `file` with its line ends (CR LF, LF or a lone CR) replaced in turn by
// those of `ends`.
std::string Reended(std::string_view file, const std::vector<std::string>& ends) {
  std::string out;
  std::size_t count = 0;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] != '\r' && file[i] != '\n') {
      out += file[i];
      continue;
    }
    if (file.substr(i, 2) == "\r\n") ++i;
    out += ends[count++ % ends.size()];
  }
  return out;
}

// The cards as a NAME.cards file lists them: "== line N" (", incomplete"
// when the file ended inside) and the card's lines, here ending in LF.
std::string Listing(const std::vector<Card>& cards) {
  std::string listing;
  for (std::size_t i = 0; i < cards.size(); ++i) {
    EXPECT_EQ(cards[i].index, i + 1);
    listing += "== line " + std::to_string(cards[i].line) +
               (cards[i].complete ? "\n" : ", incomplete\n") + Reended(cards[i].text, {"\n"});
  }
  return listing;
}

// No lone CR or LF: every line of the text ends in CR LF.
bool OnlyCrLf(const std::string& text) {
  return text.ends_with("\r\n") && Reended(text, {"\r\n"}) == text;
}

// Each data/split/NAME.vcf cuts into the cards NAME.cards lists, whatever
// its line ends and whether its last line has one; and every prefix of it,
// in mixed line ends, cuts into cards whose lines all end in CR LF, numbered
// in order, all but the last complete.
TEST(SplitCardsTest, EachFileGivesItsListedCardsWithAnyLineEndsAndCutsCleanlyAnywhere) {
  const std::vector<std::vector<std::string>> styles = {
      {"\n"}, {"\r"}, {"\r\n"}, {"\r\n", "\n", "\r"}, {"\r", "\r\n", "\n", "\n"}};
  for (const auto& entry : fs::directory_iterator(TEST_DATA_DIR "/split")) {
    if (entry.path().extension() != ".vcf") continue;
    const std::string file = FileContents(entry.path());
    const std::string expected = FileContents(fs::path(entry.path()).replace_extension(".cards"));
    for (const auto& ends : styles) {
      SCOPED_TRACE(entry.path().filename().string() + " with " + testing::PrintToString(ends));
      std::string text = Reended(file, ends);
      EXPECT_EQ(Listing(SplitCards(text)), expected);
      if (file.ends_with("\n") && !file.ends_with("\n\n")) {
        text.erase(text.find_last_not_of("\r\n") + 1);
        EXPECT_EQ(Listing(SplitCards(text)), expected) << "without the last line end";
      }
    }
    const std::string mixed = Reended(file, styles.back());
    for (std::size_t size = 0; size <= mixed.size(); ++size) {
      SCOPED_TRACE(entry.path().filename().string() + " cut at " + std::to_string(size));
      const std::vector<Card> cards = SplitCards(std::string_view(mixed).substr(0, size));
      for (std::size_t i = 0; i < cards.size(); ++i) {
        EXPECT_TRUE(OnlyCrLf(cards[i].text)) << testing::PrintToString(cards[i].text);
        EXPECT_EQ(cards[i].index, i + 1);
        EXPECT_TRUE(cards[i].complete || i + 1 == cards.size());
      }
    }
  }
}

// What a listing reads from each card of data/summary.tsv, and that every
// prefix of it reads without failing.
TEST(SummarizeTest, EachCardGivesItsRowsFields) {
  for (const TableRow& row : ReadTable(TEST_DATA_DIR "/summary.tsv")) {
    SCOPED_TRACE(testing::PrintToString(row.at(0)));
    const mzhost::CardSummary summary = mzhost::Summarize(row.at(0));
    EXPECT_EQ((TableRow{row.at(0), summary.name, summary.tel, summary.email}), row);
    for (std::size_t size = 0; size < row.at(0).size(); ++size) {
      mzhost::Summarize(std::string_view(row.at(0)).substr(0, size));
    }
  }
}

}  // namespace
