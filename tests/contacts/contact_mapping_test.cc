// Record slots applied to a stored contact: which properties each code
// reaches, how structured values and dates are taken apart, and what a
// failing buffer allocation leaves.
#include "contacts/contact_mapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"

namespace {

using Text = std::map<std::string, std::string>;

// Text properties from alternating names and values, to keep the tables short.
Text Props(std::initializer_list<std::string> namesAndValues) {
  Text text;
  for (auto it = namesAndValues.begin(); it != namesAndValues.end(); it += 2) {
    text[*it] = *(it + 1);
  }
  return text;
}

struct Slot {
  mz::SlotClass slotClass;
  const char* code;
  const char* value;
};

// Puts `slot` at `index` of its class; the rest of the record stays zero.
void Fill(mz::ContactRecord* record, const Slot& slot, int32_t index) {
  auto put = [&](auto& slots) {
    std::strncpy(slots[index].code, slot.code, mz::kCodeSize);
    std::strncpy(slots[index].value, slot.value, sizeof slots[index].value - 1);
  };
  if (slot.slotClass == mz::kSlotShort) put(record->shortSlots);
  if (slot.slotClass == mz::kSlotMedium) put(record->mediumSlots);
  if (slot.slotClass == mz::kSlotLong) put(record->longSlots);
}

class ContactMappingTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IPOutlookApp, reinterpret_cast<void**>(&app_))));
    ASSERT_EQ(app_->Logon(0), S_OK);
    ASSERT_EQ(app_->GetDefaultFolder(olFolderContacts, &folder_), S_OK);
  }
  void TearDown() override {
    if (contact_) contact_->Release();
    if (folder_) folder_->Release();
    if (app_) app_->Release();
    CoUninitialize();
    DeviceTest::TearDown();
  }

  // Seeds a contact at the end of the store and opens it, releasing the
  // one opened before.
  void Open(const Text& seed, double birthday = 0.0) {
    if (contact_) contact_->Release();
    contact_ = nullptr;
    oid_ = emulator::SeedContact(seed, birthday);
    IPOutlookItemCollection* items = nullptr;
    ASSERT_EQ(folder_->get_Items(&items), S_OK);
    int count = 0;
    IDispatch* item = nullptr;
    EXPECT_EQ(items->get_Count(&count), S_OK);
    EXPECT_EQ(items->Item(count, &item), S_OK);
    items->Release();
    contact_ = static_cast<IContact*>(item);
  }

  // Applies each slot in turn, each at index 0 of a fresh record.
  void Apply(const std::vector<Slot>& slots) {
    for (const Slot& slot : slots) {
      mz::ContactRecord record{};
      Fill(&record, slot, 0);
      EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 0, slot.slotClass), 0) << slot.code;
    }
  }
  emulator::StoredContact ApplyAndRead(const std::vector<Slot>& slots) {
    Apply(slots);
    return Read();
  }

  emulator::StoredContact Read() {
    EXPECT_EQ(contact_->Save(), S_OK);
    return emulator::ReadContact(oid_).value_or(emulator::StoredContact{});
  }

  IContact* contact_ = nullptr;
  std::uint32_t oid_ = 0;

 private:
  IPOutlookApp* app_ = nullptr;
  IFolder* folder_ = nullptr;
};

constexpr mz::SlotClass kShort = mz::kSlotShort;
constexpr mz::SlotClass kMedium = mz::kSlotMedium;
constexpr mz::SlotClass kLong = mz::kSlotLong;

// Each case seeds a contact, applies its slots in turn and lists every text
// property after.
TEST_F(ContactMappingTest, CodesSetExactlyTheMappedProperties) {
  const std::string beyondSevenBit =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xF0\x9F\x98\x80 \xE6\x97\xA5";
  const Text affixes = Props({"Title", "Ms.", "Suffix", "III", "MiddleName", "X"});
  const Text country = Props({"BusinessAddressCountry", "Erewhon"});
  const struct {
    Text seed;
    std::vector<Slot> slots;
    Text expected;
  } cases[] = {
      // Every code onto an empty contact, each reaching only its own properties.
      {{},
       {{kShort, "N", "Doe;John;Q;Dr.;Jr."}},
       Props({"FirstName", "John", "LastName", "Doe", "MiddleName", "Q", "Title", "Dr.", "Suffix",
              "Jr."})},
      {{},
       {{kShort, "AH", "PO 7;Flat 2;1 Main St;Springfield;IL;62701;USA"},
        {kShort, "O", "Acme;Sales;Building 2"}},
       Props({"HomeAddressStreet", "1 Main St", "HomeAddressCity", "Springfield",
              "HomeAddressState", "IL", "HomeAddressPostalCode", "62701", "HomeAddressCountry",
              "USA", "CompanyName", "Acme", "Department", "Sales", "OfficeLocation",
              "Building 2"})},
      {{},
       {{kShort, "L", "Boss"},
        {kShort, "THV", "1"},
        {kShort, "TWV", "2"},
        {kShort, "THF", "3"},
        {kShort, "TWF", "4"},
        {kShort, "TPC", "5"},
        {kMedium, "EP", "a@b.c"},
        {kLong, "WP", "http://x"},
        {kShort, "M", beyondSevenBit.c_str()}},
       Props({"JobTitle", "Boss", "HomeTelephoneNumber", "1", "BusinessTelephoneNumber", "2",
              "HomeFaxNumber", "3", "BusinessFaxNumber", "4", "MobileTelephoneNumber", "5",
              "Email1Address", "a@b.c", "WebPage", "http://x", "Body", beyondSevenBit})},
      // Only a medium name keeps the stored title and suffix when it has none.
      {affixes, {{kShort, "N", "Doe;John"}}, Props({"FirstName", "John", "LastName", "Doe"})},
      {affixes,
       {{kMedium, "N", "Doe;John"}},
       Props({"FirstName", "John", "LastName", "Doe", "Title", "Ms.", "Suffix", "III"})},
      {affixes,
       {{kMedium, "N", "Doe;John;;Dr.;Jr."}},
       Props({"FirstName", "John", "LastName", "Doe", "Title", "Dr.", "Suffix", "Jr."})},
      {affixes, {{kLong, "N", "Doe;John"}}, Props({"FirstName", "John", "LastName", "Doe"})},
      // Structured values resolve escapes; a whole value keeps its backslash.
      {{},
       {{kShort, "N", "O\\;Neil;Ann"}, {kShort, "O", "A\\;B;C"}, {kShort, "M", "a\\;b"}},
       Props({"FirstName", "Ann", "LastName", "O;Neil", "CompanyName", "A;B", "Department", "C",
              "Body", "a\\;b"})},
      // Only a short work address keeps the stored country when it has none.
      {country,
       {{kShort, "AW", ";;2 Side St;Town;ST;123;"}},
       Props({"BusinessAddressStreet", "2 Side St", "BusinessAddressCity", "Town",
              "BusinessAddressState", "ST", "BusinessAddressPostalCode", "123",
              "BusinessAddressCountry", "Erewhon"})},
      {country, {{kShort, "AW", ";;;;;;Utopia"}}, Props({"BusinessAddressCountry", "Utopia"})},
      {Props({"BusinessAddressCountry", "Erewhon", "BusinessAddressCity", "Old"}),
       {{kMedium, "AW", ";;2 Side St"}},
       Props({"BusinessAddressStreet", "2 Side St"})},
      {Props({"OtherAddressCountry", "Erewhon"}),
       {{kShort, "AP", ";;3 Far Rd;Nowhere"}},
       Props({"OtherAddressStreet", "3 Far Rd", "OtherAddressCity", "Nowhere"})},
      {Props({"OfficeLocation", "Old"}),
       {{kShort, "O", "Acme;Sales"}},
       Props({"CompanyName", "Acme", "Department", "Sales"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slots[0].value);
    Open(c.seed);
    EXPECT_EQ(ApplyAndRead(c.slots).text, c.expected);
  }
}

// A value that fills its slot to the last byte, multi-byte characters
// included, reaches the setter whole in every class.
TEST_F(ContactMappingTest, FullSlotValuesArriveWhole) {
  const struct {
    mz::SlotClass slotClass;
    int bytes;
  } sizes[] = {{kShort, mz::kShortValueSize - 1},
               {kMedium, mz::kMediumValueSize - 1},
               {kLong, mz::kLongValueSize - 1}};
  Open({});
  for (const auto& size : sizes) {
    std::string value;
    while (static_cast<int>(value.size()) + 4 <= size.bytes) value += "\xF0\x9F\x98\x80";
    value.append(static_cast<std::size_t>(size.bytes) - value.size(), 'z');
    EXPECT_EQ(ApplyAndRead({{size.slotClass, "M", value.c_str()}}).text.at("Body"), value)
        << size.slotClass;
  }
}

TEST_F(ContactMappingTest, BirthdayTakesTheDateOrNone) {
  const struct {
    const char* value;
    double expected;
  } cases[] = {{"1990-05-12", 33005.0}, {"19900512", 33005.0}, {"19900512T231500Z", 33005.0},
               {"1990", 0.0},           {"19901332", 0.0},     {"", 0.0},
               {"00000512", 0.0}};
  for (const auto& c : cases) {
    Open({{"FirstName", "Ann"}}, 40000.0);
    const emulator::StoredContact stored = ApplyAndRead({{kShort, "B", c.value}});
    EXPECT_EQ(stored.birthday, c.expected) << c.value;
    EXPECT_EQ(stored.text, (Text{{"FirstName", "Ann"}})) << c.value;
  }
}

// Codes outside the mapping, codes that only look like mapped ones, and
// classes or indexes out of range leave the contact as it was.
TEST_F(ContactMappingTest, UnmappedSlotsChangeNothing) {
  const Text seed = {{"FirstName", "Ann"}, {"Body", "kept"}, {"Email1Address", "a@b"}};
  Open(seed, 40000.0);
  for (const char* code : {"TPV", "TPF", "THC", "TWC", "TPP", "TPM", "EH", "EW", "WH", "WW", "m",
                           "MM", "EP ", "", "ABCD"}) {
    Apply({{kShort, code, "1"}});
  }
  // A mapped slot named with a wrong class or index.
  mz::ContactRecord record{};
  Fill(&record, {kShort, "M", "changed"}, 0);
  const struct {
    mz::SlotClass slotClass;
    int32_t index;
  } misses[] = {{0, 0}, {4, 0}, {-1, 0}, {kShort, -1}, {kShort, 16}, {kMedium, 8}, {kLong, 2}};
  for (const auto& miss : misses) {
    EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, miss.index, miss.slotClass), 0);
  }
  EXPECT_EQ(mz::ApplySlotToContact(nullptr, &record, 0, kShort), 0);
  EXPECT_EQ(mz::ApplySlotToContact(contact_, nullptr, 0, kShort), 0);
  const emulator::StoredContact stored = Read();
  EXPECT_EQ(stored.text, seed);
  EXPECT_EQ(stored.birthday, 40000.0);
}

// A slot at a later index, and in a class other than the first, is found.
TEST_F(ContactMappingTest, SlotIsTakenFromItsClassAndIndex) {
  mz::ContactRecord record{};
  Fill(&record, {kShort, "M", "short"}, 3);
  Fill(&record, {kLong, "M", "long"}, 1);
  Open({});
  EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 3, kShort), 0);
  EXPECT_EQ(Read().text.at("Body"), "short");
  EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 1, kLong), 0);
  EXPECT_EQ(Read().text.at("Body"), "long");
}

// An unterminated slot (a damaged record) is cut at the slot's end.
TEST_F(ContactMappingTest, UnterminatedValueStaysInsideItsSlot) {
  mz::ContactRecord record;
  std::memset(&record, 'x', sizeof record);
  std::memcpy(record.shortSlots[0].code, "N", 2);
  std::memcpy(record.mediumSlots[0].code, "O", 2);
  Open({});
  EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 0, kShort), 0);
  EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 0, kMedium), 0);
  const Text text = Read().text;
  EXPECT_EQ(text.at("LastName"), std::string(mz::kShortValueSize - 1, 'x'));
  EXPECT_EQ(text.at("CompanyName"), std::string(mz::kMediumValueSize - 1, 'x'));
}

// A failed buffer allocation skips only the setters fed from that buffer.
TEST_F(ContactMappingTest, AllocationFailureSkipsOnlyThatBuffersSetters) {
  const Text seed = Props({"FirstName", "Old", "LastName", "Old", "Title", "Old", "Department",
                           "Old", "JobTitle", "Old", "HomeAddressCountry", "Old"});
  // The seed with the given properties laid over it.
  auto with = [&](std::initializer_list<std::string> changes) {
    Text text = Props(changes);
    text.insert(seed.begin(), seed.end());
    return text;
  };
  const struct {
    Slot slot;
    int nth;  // which buffer allocation fails
    Text expected;
  } cases[] = {
      {{kShort, "N", "Doe;John;;Dr."}, 1, with({"Title", "Dr."})},
      {{kShort, "N", "Doe;John;;Dr."}, 2, with({"FirstName", "John", "LastName", "Doe"})},
      {{kShort, "O", "Acme;Sales;B2"}, 2, with({"CompanyName", "Acme", "OfficeLocation", "B2"})},
      {{kShort, "L", "Boss"}, 1, seed},
      {{kShort, "AH", ";;St;City;;;"},
       1,
       with({"HomeAddressStreet", "St", "HomeAddressCity", "City"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.slot.code << " allocation " << c.nth);
    Open(seed);
    emulator::InjectFault("LocalAlloc", c.nth, static_cast<std::int32_t>(ERROR_NOT_ENOUGH_MEMORY));
    Apply({c.slot});
    emulator::ClearFaults();
    EXPECT_EQ(Read().text, c.expected);
  }
}

}  // namespace
