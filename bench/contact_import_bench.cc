// Importing and updating contacts the way a sync program does: MZ_AddContact
// for every card of a new address book, then MZ_WriteContact for every one of
// them. The update finds its contact by a linear scan over positions, so its
// cost per call grows with the number of contacts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mz/mz.h"
#include "platform/emulator.h"

namespace {

void FillCard(ContactTransfer* card, int i, const char* note) {
  std::memset(card, 0, sizeof *card);
  std::snprintf(card->vcard, sizeof card->vcard,
                "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Example;First%d\r\nTEL;CELL:+1 555 01%d\r\n"
                "TEL;HOME:+1 555 02%d\r\nEMAIL;INTERNET:first%d@example.com\r\n"
                "ADR;HOME:;;%d Main St;Springfield;IL;62701;USA\r\nORG:Example Corp;Sales\r\n"
                "NOTE:%s\r\nEND:VCARD\r\n",
                i, i, i, i, i, note);
}

// A fresh device per run: `contacts` added (timed as one pass), then every one
// updated (timed as a second pass).
void Run(benchmark::State& state, bool update) {
  const int contacts = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = emulator::OpenTempDevice();
    if (MZ_Init() != MZ_OK) state.SkipWithError("MZ_Init failed");
    std::vector<std::string> ids;
    ContactTransfer card;
    char id[MZ_NEW_ID_SIZE];
    if (update) {
      for (int i = 0; i < contacts; ++i) {
        FillCard(&card, i, "first");
        MZ_AddContact(&card, id, sizeof id);
        ids.emplace_back(id);
      }
    }
    state.ResumeTiming();
    for (int i = 0; i < contacts; ++i) {
      FillCard(&card, i, update ? "second" : "first");
      if (update) {
        std::snprintf(card.contactId, sizeof card.contactId, "%s", ids[i].c_str());
        if (MZ_WriteContact(&card) != MZ_OK) state.SkipWithError("MZ_WriteContact failed");
      } else if (MZ_AddContact(&card, id, sizeof id) != MZ_OK) {
        state.SkipWithError("MZ_AddContact failed");
      }
    }
    state.PauseTiming();
    MZ_Done();
    emulator::CloseDevice();
    emulator::RemoveDeviceDir(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * contacts);
}

void BM_AddEveryContact(benchmark::State& state) {
  Run(state, false);
}
void BM_UpdateEveryContact(benchmark::State& state) {
  Run(state, true);
}

BENCHMARK(BM_AddEveryContact)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_UpdateEveryContact)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
