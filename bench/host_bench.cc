// The host's file handling: cutting a 10,000-card file into cards (as
// `mzhost contacts import` does before anything is stored) and reading the
// listing's fields out of each card. Both must stay linear in the input.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "vcf.h"

namespace {

constexpr int kCards = 10000;

std::string Card(int i, const char* eol) {
  const std::string n = std::to_string(i);
  std::string text;
  for (const std::string& line :
       {std::string("BEGIN:VCARD"), std::string("VERSION:2.1"),
        std::string("N;CHARSET=UTF-8:M\xc3\xbcller;Zo\xc3\xab"), "TEL;CELL:+1 555 01" + n,
        "TEL;WORK;FAX:+1 555 02" + n, "EMAIL;INTERNET:person" + n + "@example.org",
        "ADR;HOME:;;" + n + " Garden Row;Springfield;ST;12345;Land",
        std::string("NOTE;ENCODING=QUOTED-PRINTABLE:line one=0D=0A="), std::string("line two"),
        std::string("END:VCARD")}) {
    text += line + eol;
  }
  return text;
}

std::string File(const char* eol) {
  std::string all;
  for (int i = 0; i < kCards; ++i) all += Card(i, eol);
  return all;
}

// The file's line ends: CR LF as the phone writes them, LF as many tools do.
void BM_SplitCards(benchmark::State& state) {
  const std::string file = File(state.range(0) == 0 ? "\r\n" : "\n");
  for (auto _ : state) {
    std::vector<mzhost::Card> cards = mzhost::SplitCards(file);
    benchmark::DoNotOptimize(cards.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
  state.SetItemsProcessed(state.iterations() * kCards);
}
BENCHMARK(BM_SplitCards)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Summarize(benchmark::State& state) {
  const std::vector<mzhost::Card> cards = mzhost::SplitCards(File("\r\n"));
  for (auto _ : state) {
    for (const auto& card : cards) {
      mzhost::CardSummary summary = mzhost::Summarize(card.text);
      benchmark::DoNotOptimize(summary.name.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kCards);
}
BENCHMARK(BM_Summarize)->Unit(benchmark::kMillisecond);

}  // namespace
