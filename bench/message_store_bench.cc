// The message store's listing paths over a large folder: counting it and
// walking it one row at a time, the way a host lists messages.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/emulator.h"
#include "platform/message_store.h"

namespace {

constexpr int kSeeded = 10000;

// A temporary device whose Outbox holds kSeeded messages, with a session,
// the folder and its contents table open; removed at exit.
class Listing {
 public:
  static Listing& Get() {
    static Listing listing;
    return listing;
  }
  IMAPITable* table() const { return table_; }

 private:
  Listing() {
    dir_ = emulator::OpenTempDevice();
    emulator::MessageSeed seed;
    seed.folder = "Outbox";
    seed.flags = MSGFLAG_FROMME | MSGFLAG_UNSENT;
    seed.recipients = {{"Ann Example", "SMS", "+15550101", MAPI_TO}};
    for (int i = 0; i < kSeeded; ++i) {
      seed.subject = "Message " + std::to_string(i);
      seed.modifiedTime = 129753111670000000 + static_cast<std::uint64_t>(i) * 10000000;
      emulator::SeedMessage(seed);
    }
    MAPIInitialize(nullptr);
    if (FAILED(MAPILogonEx(0, nullptr, nullptr, 0, &session_))) return;
    IMAPITable* stores = nullptr;
    SRowSet* rows = nullptr;
    if (SUCCEEDED(session_->GetMsgStoresTable(MAPI_UNICODE, &stores)) &&
        SUCCEEDED(stores->QueryRows(1, 0, &rows)) && rows->cRows == 1) {  // SMS comes first
      const SBinary& id = rows->aRow[0].lpProps[0].Value.bin;
      session_->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS,
                          nullptr, reinterpret_cast<IUnknown**>(&store_));
    }
    FreeProws(rows);
    if (stores != nullptr) stores->Release();
    if (store_ == nullptr) return;
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_OUTBOX_ENTRYID}};
    ULONG count = 0;
    SPropValue* values = nullptr;
    if (store_->GetProps(reinterpret_cast<SPropTagArray*>(&tags), MAPI_UNICODE, &count, &values) ==
        S_OK) {
      store_->OpenEntry(values[0].Value.bin.cb,
                        reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb), nullptr, MAPI_MODIFY,
                        nullptr, reinterpret_cast<IUnknown**>(&folder_));
    }
    MAPIFreeBuffer(values);
    if (folder_ != nullptr) folder_->GetContentsTable(0, &table_);
  }
  ~Listing() {
    if (table_ != nullptr) table_->Release();
    if (folder_ != nullptr) folder_->Release();
    if (store_ != nullptr) store_->Release();
    if (session_ != nullptr) {
      session_->Logoff(0, 0, 0);
      session_->Release();
    }
    MAPIUninitialize();
    emulator::CloseDevice();
    emulator::RemoveDeviceDir(dir_);
  }

  std::string dir_;
  IMAPISession* session_ = nullptr;
  IMsgStore* store_ = nullptr;
  IMAPIFolder* folder_ = nullptr;
  IMAPITable* table_ = nullptr;
};

void BM_GetRowCount(benchmark::State& state) {
  IMAPITable* table = Listing::Get().table();
  if (table == nullptr) return state.SkipWithError("cannot open the folder");
  for (auto _ : state) {
    ULONG count = 0;
    table->GetRowCount(0, &count);
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_GetRowCount);

// A whole listing: rewind, then one row per QueryRows until the empty set.
void BM_QueryRowsWalk(benchmark::State& state) {
  IMAPITable* table = Listing::Get().table();
  if (table == nullptr) return state.SkipWithError("cannot open the folder");
  std::int64_t rowsRead = 0;
  for (auto _ : state) {
    table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    for (;;) {
      SRowSet* rows = nullptr;
      if (FAILED(table->QueryRows(1, 0, &rows))) {
        state.SkipWithError("QueryRows failed");
        break;
      }
      const bool end = rows->cRows == 0;
      rowsRead += rows->cRows;
      FreeProws(rows);
      if (end) break;
    }
  }
  state.SetItemsProcessed(rowsRead);
}
BENCHMARK(BM_QueryRowsWalk)->Unit(benchmark::kMillisecond);

}  // namespace
