// vCard files cut into cards, and bad text given to the listing's summary
// (what it reads from good cards is checked against the reader in
// reader_golden_test.cc).
#include "vcf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using mzhost::Card;
using mzhost::CardSummary;
using mzhost::SplitCards;
using mzhost::Summarize;

std::string Join(const std::vector<std::string>& lines, const std::vector<std::string>& ends) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) out += lines[i] + ends[i % ends.size()];
  return out;
}

// No lone CR or LF: every line of the text ends in CR LF.
bool OnlyCrLf(const std::string& text) {
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

// The same file with each line-end style gives the same cards at the same
// line numbers.
TEST(SplitCardsTest, EveryLineEndStyleGivesTheSameCards) {
  const std::vector<std::string> lines = {
      "",                                           // 1
      "some text before",                           // 2
      "BEGIN:VCARD",                                // 3
      "VERSION:2.1",                                // 4
      "N:Doe;John",                                 // 5
      "NOTE;ENCODING=QUOTED-PRINTABLE:one=0D=0A=",  // 6
      "two",                                        // 7
      "END:VCARD",                                  // 8
      "",                                           // 9
      "between",                                    // 10
      "BEGIN:VCARD",                                // 11
      "FN:Jane",                                    // 12
      "END:VCARD",                                  // 13
  };
  const std::string first =
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;John\r\n"
      "NOTE;ENCODING=QUOTED-PRINTABLE:one=0D=0A=\r\ntwo\r\nEND:VCARD\r\n";
  const std::string second = "BEGIN:VCARD\r\nFN:Jane\r\nEND:VCARD\r\n";
  const std::vector<std::vector<std::string>> styles = {
      {"\n"}, {"\r"}, {"\r\n"}, {"\r\n", "\n", "\r"}, {"\r", "\r\n", "\n", "\n"}};
  for (const auto& ends : styles) {
    SCOPED_TRACE(testing::PrintToString(ends));
    for (bool lastEnded : {true, false}) {
      std::string file = Join(lines, ends);
      if (!lastEnded) file.erase(file.find_last_not_of("\r\n") + 1);
      const std::vector<Card> cards = SplitCards(file);
      ASSERT_EQ(cards.size(), 2u);
      EXPECT_EQ(cards[0].text, first);
      EXPECT_EQ(cards[0].line, 3u);
      EXPECT_EQ(cards[0].index, 1u);
      EXPECT_TRUE(cards[0].complete);
      EXPECT_EQ(cards[1].text, second);
      EXPECT_EQ(cards[1].line, 11u);
      EXPECT_EQ(cards[1].index, 2u);
      EXPECT_TRUE(cards[1].complete);
    }
  }
}

TEST(SplitCardsTest, RecognisesBeginAndEndWhateverTheCaseAndBlanks) {
  struct Case {
    std::string file;
    std::vector<std::string> texts;
  } cases[] = {
      {"begin:vcard\nend:vcard\n", {"begin:vcard\r\nend:vcard\r\n"}},
      {"begin : vcard\nFN:a\nEnd :\tVCard \n", {"begin : vcard\r\nFN:a\r\nEnd :\tVCard \r\n"}},
      {"  BEGIN:VCARD  \nEND:VCARD\n", {"BEGIN:VCARD\r\nEND:VCARD\r\n"}},
      {"\xEF\xBB\xBF"
       "BEGIN:VCARD\nEND:VCARD\n",
       {"BEGIN:VCARD\r\nEND:VCARD\r\n"}},
      // A second file pasted on, with its own byte order mark.
      {"BEGIN:VCARD\nEND:VCARD\n\xEF\xBB\xBF"
       "BEGIN:VCARD\nEND:VCARD\n",
       {"BEGIN:VCARD\r\nEND:VCARD\r\n", "BEGIN:VCARD\r\nEND:VCARD\r\n"}},
      // Not delimiters of a card.
      {"BEGIN:VCARDS\nX-BEGIN:VCARD\nBEGIN;X=1:VCARD\nBEGIN VCARD\nEND:VCARD\n", {}},
      {"BEGIN:VCARD\nEND:VCARDS\nX-END:VCARD\n END:VCARD\nEND:VCARD\n",
       {"BEGIN:VCARD\r\nEND:VCARDS\r\nX-END:VCARD\r\n END:VCARD\r\nEND:VCARD\r\n"}},
      // Other objects are skipped whole, even one holding BEGIN-like text.
      {"BEGIN:VCALENDAR\nBEGIN:VEVENT\nSUMMARY:x\nEND:VEVENT\nEND:VCALENDAR\n"
       "BEGIN:VCARD\nFN:a\nEND:VCARD\n",
       {"BEGIN:VCARD\r\nFN:a\r\nEND:VCARD\r\n"}},
      {"", {}},
      {"\n\r\n\r", {}},
      {"END:VCARD\nEND:VCARD\n", {}},
      {std::string("BEGIN:VCARD\nFN:a\0b\nEND:VCARD", 28),
       {std::string("BEGIN:VCARD\r\nFN:a\0b\r\nEND:VCARD\r\n", 32)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    std::vector<std::string> texts;
    for (const Card& card : SplitCards(c.file)) texts.push_back(card.text);
    EXPECT_EQ(texts, c.texts);
  }
}

TEST(SplitCardsTest, AnEmbeddedAgentCardStaysInsideItsCard) {
  const std::string file =
      "BEGIN:VCARD\n"
      "FN:Boss\n"
      "AGENT:\n"
      "BEGIN:VCARD\n"
      "FN:Assistant\n"
      "END:VCARD\n"
      "TEL:1\n"
      "END:VCARD\n"
      "BEGIN:VCARD\n"
      "FN:Next\n"
      "END:VCARD\n";
  const std::vector<Card> cards = SplitCards(file);
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].text,
            "BEGIN:VCARD\r\nFN:Boss\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:Assistant\r\nEND:VCARD\r\n"
            "TEL:1\r\nEND:VCARD\r\n");
  EXPECT_TRUE(cards[0].complete);
  EXPECT_EQ(cards[1].line, 9u);
  EXPECT_EQ(cards[1].index, 2u);
}

TEST(SplitCardsTest, ACardTheFileCutsShortIsKeptAsIncomplete) {
  struct Case {
    std::string file;
    std::string last;
    std::size_t line;
  } cases[] = {
      {"BEGIN:VCARD\nFN:a\nEND:VCARD\nBEGIN:VCARD\nFN:b", "BEGIN:VCARD\r\nFN:b\r\n", 4},
      {"BEGIN:VCARD\rFN:b\r", "BEGIN:VCARD\r\nFN:b\r\n", 1},
      {"BEGIN:VCARD", "BEGIN:VCARD\r\n", 1},
      // The embedded card ends, the outer one does not.
      {"\n\nBEGIN:VCARD\nAGENT:\nBEGIN:VCARD\nEND:VCARD\n",
       "BEGIN:VCARD\r\nAGENT:\r\nBEGIN:VCARD\r\nEND:VCARD\r\n", 3},
      // A folded END line is no end.
      {"BEGIN:VCARD\r\nNOTE:x\r\n END:VCARD\r\n", "BEGIN:VCARD\r\nNOTE:x\r\n END:VCARD\r\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    const std::vector<Card> cards = SplitCards(c.file);
    ASSERT_FALSE(cards.empty());
    for (std::size_t i = 0; i + 1 < cards.size(); ++i) EXPECT_TRUE(cards[i].complete);
    EXPECT_FALSE(cards.back().complete);
    EXPECT_EQ(cards.back().text, c.last);
    EXPECT_EQ(cards.back().line, c.line);
    EXPECT_EQ(cards.back().index, cards.size());
  }
}

// Every prefix of a file, whatever its line ends, cuts into cards whose
// lines all end in CR LF and whose text comes from the file in order.
TEST(SplitCardsTest, EveryPrefixOfAFileCutsCleanly) {
  const std::string file =
      "\xEF\xBB\xBF"
      "junk\r\rBEGIN:VCARD\r\nN:a;b\rAGENT:\nbegin:vcard\n\rFN:c\r\nend:vcard\n"
      "NOTE;QUOTED-PRINTABLE:x=\r\n y\r\nEND:VCARD\n\nBEGIN : VCARD\rEND : VCARD";
  for (std::size_t size = 0; size <= file.size(); ++size) {
    SCOPED_TRACE(size);
    const std::vector<Card> cards = SplitCards(std::string_view(file).substr(0, size));
    for (std::size_t i = 0; i < cards.size(); ++i) {
      EXPECT_TRUE(OnlyCrLf(cards[i].text)) << testing::PrintToString(cards[i].text);
      EXPECT_EQ(cards[i].index, i + 1);
      if (i + 1 < cards.size()) {
        EXPECT_TRUE(cards[i].complete);
      }
    }
    if (size == file.size()) {
      ASSERT_EQ(cards.size(), 2u);
      EXPECT_TRUE(cards[1].complete);
      EXPECT_EQ(cards[0].line, 3u);
      EXPECT_EQ(cards[1].line, 14u);
      EXPECT_EQ(cards[0].text,
                "BEGIN:VCARD\r\nN:a;b\r\nAGENT:\r\nbegin:vcard\r\n\r\nFN:c\r\nend:vcard\r\n"
                "NOTE;QUOTED-PRINTABLE:x=\r\n y\r\nEND:VCARD\r\n");
    }
  }
}

struct SummaryCase {
  const char* what;
  std::string card;
  CardSummary summary;
};

// Broken text gives what it can and nothing else; under the sanitizers this
// also shows no read beyond the text.
TEST(SummarizeTest, BadTextYieldsLessButNeverFails) {
  const SummaryCase cases[] = {
      {"empty", "", {}},
      {"no colons", "garbage\r\nFN\r\n\r\n", {}},
      {"colons only", ":::\r\n:\r\n", {}},
      {"an unclosed quote", "TEL;X=\"1:2\r\nEMAIL:e@x\r\n", {"", "", "e@x"}},
      {"END before BEGIN", "END:VCARD\r\nFN:x\r\n", {}},
      {"text after the card's end", "BEGIN:VCARD\r\nEND:VCARD\r\nFN:After\r\n", {}},
      {"a zero byte", std::string("FN:a\0b\r\n", 8), {std::string("a\0b", 3), "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const CardSummary summary = Summarize(c.card);
    EXPECT_EQ(summary.name, c.summary.name);
    EXPECT_EQ(summary.tel, c.summary.tel);
    EXPECT_EQ(summary.email, c.summary.email);
  }
  const std::string card =
      " \r\n\t\r\nBEGIN:VCARD\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BC=\r\nller;Z\r\n"
      "item1.TEL;X=\"q:\":1\\;2=\r\n 3\r\nEMAIL:\\\r\nEND:VCARD\r\n";
  for (std::size_t size = 0; size <= card.size(); ++size) {
    Summarize(std::string_view(card).substr(0, size));
  }
}

}  // namespace
