// The contact store's hot paths: a positional scan of a large store, saving
// new contacts, and reading every property of a contact.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "platform/contact_store.h"
#include "platform/emulator.h"

namespace {

constexpr int kSeeded = 10000;

// Two temporary devices for the whole run: one seeded with kSeeded contacts
// for the read benchmarks, one that the save benchmark fills, so that saving
// never changes what the reads see. Both are removed at exit.
class Devices {
 public:
  static Devices& Get() {
    static Devices devices;
    return devices;
  }
  void UseSeeded() { Use(seeded_); }
  void UseScratch() { Use(scratch_); }

 private:
  Devices() {
    scratch_ = emulator::OpenTempDevice();
    seeded_ = emulator::OpenTempDevice();
    std::map<std::string, std::string> text;
    for (const auto& name : emulator::ContactPropertyNames()) text[name] = name + " value";
    for (int i = 0; i < kSeeded; ++i) {
      text["FirstName"] = "First " + std::to_string(i);
      emulator::SeedContact(text, 30000.0 + i);
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }
  ~Devices() {
    CoUninitialize();
    emulator::CloseDevice();
    emulator::RemoveDeviceDir(seeded_);
    emulator::RemoveDeviceDir(scratch_);
  }
  void Use(const std::string& dir) {
    if (emulator::DeviceDir() != dir) emulator::OpenDevice(dir);
  }

  std::string seeded_;
  std::string scratch_;
};

// The contacts collection of the current device, released in reverse order.
class Contacts {
 public:
  Contacts() {
    CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp,
                     reinterpret_cast<void**>(&app_));
    if (app_ == nullptr || FAILED(app_->Logon(0)) ||
        FAILED(app_->GetDefaultFolder(olFolderContacts, &folder_)) ||
        FAILED(folder_->get_Items(&items_))) {
      items_ = nullptr;
    }
  }
  ~Contacts() {
    if (items_ != nullptr) items_->Release();
    if (folder_ != nullptr) folder_->Release();
    if (app_ != nullptr) app_->Release();
  }
  Contacts(const Contacts&) = delete;
  Contacts& operator=(const Contacts&) = delete;

  IPOutlookItemCollection* get() const { return items_; }
  IFolder* folder() const { return folder_; }

 private:
  IPOutlookApp* app_ = nullptr;
  IFolder* folder_ = nullptr;
  IPOutlookItemCollection* items_ = nullptr;
};

// What FindContactByOid-style lookups pay per position: Item + get_Oid +
// Release on a collection whose snapshot is already taken.
void BM_ScanItemAndOid(benchmark::State& state) {
  Devices::Get().UseSeeded();
  Contacts contacts;
  if (contacts.get() == nullptr) return state.SkipWithError("cannot open the contacts");
  int count = 0;
  contacts.get()->get_Count(&count);
  for (auto _ : state) {
    for (int i = 1; i <= count; ++i) {
      IDispatch* item = nullptr;
      contacts.get()->Item(i, &item);
      auto* contact = static_cast<IContact*>(item);
      LONG oid = 0;
      contact->get_Oid(&oid);
      benchmark::DoNotOptimize(oid);
      contact->Release();
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ScanItemAndOid)->Unit(benchmark::kMillisecond);

// Opening a collection again when nothing changed: the ordered ids read
// before are shared (a cold read of 10,000 ids costs about 0.4 ms).
void BM_CollectionSnapshot(benchmark::State& state) {
  Devices::Get().UseSeeded();
  Contacts contacts;
  if (contacts.get() == nullptr) return state.SkipWithError("cannot open the contacts");
  for (auto _ : state) {
    IPOutlookItemCollection* collection = nullptr;
    if (FAILED(contacts.folder()->get_Items(&collection))) {
      state.SkipWithError("get_Items failed");
      break;
    }
    collection->Release();
  }
  state.SetItemsProcessed(state.iterations() * kSeeded);
}
BENCHMARK(BM_CollectionSnapshot)->Unit(benchmark::kMillisecond);

void BM_SaveNewContact(benchmark::State& state) {
  Devices::Get().UseScratch();
  Contacts contacts;
  if (contacts.get() == nullptr) return state.SkipWithError("cannot open the contacts");
  WCHAR first[] = u"Sam";
  WCHAR last[] = u"Example";
  WCHAR mobile[] = u"+1 555 0100";
  for (auto _ : state) {
    IDispatch* item = nullptr;
    contacts.get()->Add(&item);
    auto* contact = static_cast<IContact*>(item);
    contact->put_FirstName(first);
    contact->put_LastName(last);
    contact->put_MobileTelephoneNumber(mobile);
    HRESULT saved = contact->Save();
    contact->Release();
    if (FAILED(saved)) {
      state.SkipWithError("Save failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveNewContact);

void BM_FullContactRead(benchmark::State& state) {
  Devices::Get().UseSeeded();
  Contacts contacts;
  if (contacts.get() == nullptr) return state.SkipWithError("cannot open the contacts");
  static constexpr HRESULT (IContact::*kGetters[])(BSTR*) = {
#define GETTER(Name) &IContact::get_##Name,
      PLATFORM_CONTACT_TEXT_PROPERTIES(GETTER)
#undef GETTER
  };
  int index = 0;
  for (auto _ : state) {
    IDispatch* item = nullptr;
    contacts.get()->Item(index % kSeeded + 1, &item);
    ++index;
    auto* contact = static_cast<IContact*>(item);
    for (auto getter : kGetters) {
      BSTR value = nullptr;
      (contact->*getter)(&value);
      benchmark::DoNotOptimize(value);
      SysFreeString(value);
    }
    contact->Release();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullContactRead);

}  // namespace
