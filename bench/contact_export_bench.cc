// Exporting every contact of a device, one MZ_GetContactInfo per position, the
// way a host reads the whole address book.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "mz/mz.h"
#include "platform/emulator.h"

namespace {

// A temporary device holding `count` typical contacts, removed at exit.
class SeededDevice {
 public:
  explicit SeededDevice(int count) : dir_(emulator::OpenTempDevice()) {
    for (int i = 0; i < count; ++i) {
      const std::string n = std::to_string(i);
      emulator::SeedContact({{"FirstName", "First" + n},
                             {"LastName", "Example"},
                             {"MobileTelephoneNumber", "+1 555 01" + n},
                             {"HomeTelephoneNumber", "+1 555 02" + n},
                             {"Email1Address", "first" + n + "@example.com"},
                             {"CompanyName", "Example Corp"},
                             {"HomeAddressStreet", n + " Main St"},
                             {"HomeAddressCity", "Springfield"},
                             {"Body", "Met at the fair\r\nCall after six"}},
                            27462.0 + i % 10000);
    }
  }
  ~SeededDevice() {
    emulator::CloseDevice();
    emulator::RemoveDeviceDir(dir_);
  }
  SeededDevice(const SeededDevice&) = delete;
  SeededDevice& operator=(const SeededDevice&) = delete;

  void Use() const {
    if (emulator::DeviceDir() != dir_) emulator::OpenDevice(dir_);
  }

 private:
  std::string dir_;
};

const SeededDevice& Device(int count) {
  static std::map<int, std::unique_ptr<SeededDevice>> devices;
  auto& device = devices[count];
  if (!device) device = std::make_unique<SeededDevice>(count);
  return *device;
}

// One iteration exports positions 1 to the count.
void BM_ExportEveryContact(benchmark::State& state) {
  const int contacts = static_cast<int>(state.range(0));
  Device(contacts).Use();
  if (MZ_Init() != MZ_OK) {
    MZ_Done();
    return state.SkipWithError("MZ_Init failed");
  }
  int32_t count = 0;
  if (MZ_GetContactsCount(&count) != MZ_OK || count != contacts) {
    MZ_Done();
    return state.SkipWithError("unexpected contact count");
  }
  ContactTransfer transfer{};
  for (auto _ : state) {
    for (int32_t position = 1; position <= count; ++position) {
      if (MZ_GetContactInfo(position, &transfer) != MZ_OK) {
        state.SkipWithError("MZ_GetContactInfo failed");
        break;
      }
      benchmark::DoNotOptimize(transfer.vcard[0]);
    }
  }
  MZ_Done();
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ExportEveryContact)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
