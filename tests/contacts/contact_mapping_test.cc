// Record slots applied to a stored contact: which properties each code
// reaches, how structured values and dates are taken apart, and what a
// failing buffer allocation leaves.
#include "contacts/contact_mapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "device_fixture.h"
#include "platform/emulator.h"

namespace {

using Text = std::map<std::string, std::string>;

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

  // Applies each slot in turn (each at index 0 of a fresh record, unless
  // `index` says otherwise), saves and reads the contact back.
  emulator::StoredContact ApplyAndRead(const std::vector<Slot>& slots) {
    for (const Slot& slot : slots) {
      mz::ContactRecord record{};
      Fill(&record, slot, 0);
      EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 0, slot.slotClass), 0) << slot.code;
    }
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

struct TextCase {
  const char* name;
  Text seed;
  Slot slot;
  Text expected;  // every text property after the call
};

const TextCase kTextCases[] = {
    {"FullName",
     {},
     {kShort, "N", "Doe;John;Q;Dr.;Jr."},
     {{"FirstName", "John"},
      {"LastName", "Doe"},
      {"MiddleName", "Q"},
      {"Title", "Dr."},
      {"Suffix", "Jr."}}},
    {"ShortNameClearsAffixes",
     {{"Title", "Ms."}, {"Suffix", "III"}, {"MiddleName", "X"}},
     {kShort, "N", "Doe;John"},
     {{"FirstName", "John"}, {"LastName", "Doe"}}},
    {"MediumNameKeepsAffixes",
     {{"Title", "Ms."}, {"Suffix", "III"}, {"MiddleName", "X"}},
     {kMedium, "N", "Doe;John"},
     {{"FirstName", "John"}, {"LastName", "Doe"}, {"Title", "Ms."}, {"Suffix", "III"}}},
    {"MediumNameSetsGivenAffixes",
     {{"Title", "Ms."}, {"Suffix", "III"}},
     {kMedium, "N", "Doe;John;;Dr.;Jr."},
     {{"FirstName", "John"}, {"LastName", "Doe"}, {"Title", "Dr."}, {"Suffix", "Jr."}}},
    {"LongNameClearsAffixes",
     {{"Title", "Ms."}, {"Suffix", "III"}},
     {kLong, "N", "Doe;John"},
     {{"FirstName", "John"}, {"LastName", "Doe"}}},
    {"NameEscapesResolved",
     {},
     {kShort, "N", "O\\;Neil;Ann"},
     {{"FirstName", "Ann"}, {"LastName", "O;Neil"}}},
    {"HomeAddress",
     {},
     {kShort, "AH", "PO 7;Flat 2;1 Main St;Springfield;IL;62701;USA"},
     {{"HomeAddressStreet", "1 Main St"},
      {"HomeAddressCity", "Springfield"},
      {"HomeAddressState", "IL"},
      {"HomeAddressPostalCode", "62701"},
      {"HomeAddressCountry", "USA"}}},
    {"ShortWorkAddressKeepsCountry",
     {{"BusinessAddressCountry", "Erewhon"}},
     {kShort, "AW", ";;2 Side St;Town;ST;123;"},
     {{"BusinessAddressStreet", "2 Side St"},
      {"BusinessAddressCity", "Town"},
      {"BusinessAddressState", "ST"},
      {"BusinessAddressPostalCode", "123"},
      {"BusinessAddressCountry", "Erewhon"}}},
    {"ShortWorkAddressSetsCountry",
     {{"BusinessAddressCountry", "Erewhon"}},
     {kShort, "AW", ";;;;;;Utopia"},
     {{"BusinessAddressCountry", "Utopia"}}},
    {"MediumWorkAddressClearsCountry",
     {{"BusinessAddressCountry", "Erewhon"}, {"BusinessAddressCity", "Old"}},
     {kMedium, "AW", ";;2 Side St"},
     {{"BusinessAddressStreet", "2 Side St"}}},
    {"ShortOtherAddressClearsCountry",
     {{"OtherAddressCountry", "Erewhon"}},
     {kShort, "AP", ";;3 Far Rd;Nowhere"},
     {{"OtherAddressStreet", "3 Far Rd"}, {"OtherAddressCity", "Nowhere"}}},
    {"OrgWithoutOfficeClearsIt",
     {{"OfficeLocation", "Old"}},
     {kShort, "O", "Acme;Sales"},
     {{"CompanyName", "Acme"}, {"Department", "Sales"}}},
    {"OrgWithOffice",
     {},
     {kShort, "O", "Acme;Sales;Building 2"},
     {{"CompanyName", "Acme"}, {"Department", "Sales"}, {"OfficeLocation", "Building 2"}}},
    {"OrgEscapesResolved",
     {},
     {kShort, "O", "A\\;B;C"},
     {{"CompanyName", "A;B"}, {"Department", "C"}}},
    {"NoteKeepsBackslash", {}, {kShort, "M", "a\\;b"}, {{"Body", "a\\;b"}}},
    {"JobTitle", {}, {kShort, "L", "Boss"}, {{"JobTitle", "Boss"}}},
    {"HomeVoice", {}, {kShort, "THV", "1"}, {{"HomeTelephoneNumber", "1"}}},
    {"WorkVoice", {}, {kShort, "TWV", "2"}, {{"BusinessTelephoneNumber", "2"}}},
    {"HomeFax", {}, {kShort, "THF", "3"}, {{"HomeFaxNumber", "3"}}},
    {"WorkFax", {}, {kShort, "TWF", "4"}, {{"BusinessFaxNumber", "4"}}},
    {"Cell", {}, {kShort, "TPC", "5"}, {{"MobileTelephoneNumber", "5"}}},
    {"Email", {}, {kMedium, "EP", "a@b.c"}, {{"Email1Address", "a@b.c"}}},
    {"WebPage", {}, {kLong, "WP", "http://x"}, {{"WebPage", "http://x"}}},
    {"BeyondSevenBitArrivesWhole",
     {},
     {kShort, "M",
      "Gr\xC3\xBC\xC3\x9F"
      "e \xF0\x9F\x98\x80 \xE6\x97\xA5"},
     {{"Body",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xF0\x9F\x98\x80 \xE6\x97\xA5"}}},
};

void PrintTo(const TextCase& c, std::ostream* os) {
  *os << c.name;
}

class TextMapping : public ContactMappingTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextMapping, SetsExactlyTheMappedProperties) {
  const TextCase& c = GetParam();
  Open(c.seed);
  EXPECT_EQ(ApplyAndRead({c.slot}).text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Codes, TextMapping, ::testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.name); });

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

struct BirthdayCase {
  const char* value;
  double expected;
};

const BirthdayCase kBirthdayCases[] = {
    {"1990-05-12", 33005.0}, {"19900512", 33005.0}, {"19900512T231500Z", 33005.0},
    {"1990", 0.0},           {"19901332", 0.0},     {"", 0.0},
    {"00000512", 0.0},
};

TEST_F(ContactMappingTest, BirthdayTakesTheDateOrNone) {
  for (const BirthdayCase& c : kBirthdayCases) {
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
  const Slot unmapped[] = {
      {kShort, "TPV", "123"}, {kShort, "TPF", "1"}, {kShort, "THC", "1"},  {kShort, "TWC", "1"},
      {kShort, "TPP", "1"},   {kShort, "TPM", "1"}, {kShort, "EH", "x"},   {kShort, "EW", "x"},
      {kShort, "WH", "x"},    {kShort, "WW", "x"},  {kShort, "m", "x"},    {kShort, "MM", "x"},
      {kShort, "EP ", "x"},   {kShort, "", "x"},    {kShort, "ABCD", "x"},
  };
  Open(seed, 40000.0);
  for (const Slot& slot : unmapped) {
    mz::ContactRecord record{};
    Fill(&record, slot, 0);
    EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 0, slot.slotClass), 0) << slot.code;
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

struct AllocationCase {
  const char* name;
  Slot slot;
  int nth;  // which buffer allocation fails
  Text expected;
};

const Text kAllocationSeed = {
    {"FirstName", "Old"},  {"LastName", "Old"}, {"Title", "Old"},
    {"Department", "Old"}, {"JobTitle", "Old"}, {"HomeAddressCountry", "Old"},
};

const AllocationCase kAllocationCases[] = {
    {"NameBuffer",
     {kShort, "N", "Doe;John;;Dr."},
     1,
     {{"Department", "Old"},
      {"JobTitle", "Old"},
      {"HomeAddressCountry", "Old"},
      {"FirstName", "Old"},
      {"LastName", "Old"},
      {"Title", "Dr."}}},
    {"AffixBuffer",
     {kShort, "N", "Doe;John;;Dr."},
     2,
     {{"Department", "Old"},
      {"JobTitle", "Old"},
      {"HomeAddressCountry", "Old"},
      {"FirstName", "John"},
      {"LastName", "Doe"},
      {"Title", "Old"}}},
    {"Department",
     {kShort, "O", "Acme;Sales;B2"},
     2,
     {{"FirstName", "Old"},
      {"LastName", "Old"},
      {"Title", "Old"},
      {"JobTitle", "Old"},
      {"HomeAddressCountry", "Old"},
      {"CompanyName", "Acme"},
      {"Department", "Old"},
      {"OfficeLocation", "B2"}}},
    {"WholeValue", {kShort, "L", "Boss"}, 1, kAllocationSeed},
    {"Country",
     {kShort, "AH", ";;St;City;;;"},
     1,
     {{"FirstName", "Old"},
      {"LastName", "Old"},
      {"Title", "Old"},
      {"Department", "Old"},
      {"JobTitle", "Old"},
      {"HomeAddressCountry", "Old"},
      {"HomeAddressStreet", "St"},
      {"HomeAddressCity", "City"}}},
};

void PrintTo(const AllocationCase& c, std::ostream* os) {
  *os << c.name;
}

class AllocationFailure : public ContactMappingTest,
                          public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(AllocationFailure, SkipsOnlyThatBuffersSetters) {
  const AllocationCase& c = GetParam();
  Open(kAllocationSeed);
  emulator::InjectFault("LocalAlloc", c.nth, static_cast<std::int32_t>(ERROR_NOT_ENOUGH_MEMORY));
  mz::ContactRecord record{};
  Fill(&record, c.slot, 0);
  EXPECT_EQ(mz::ApplySlotToContact(contact_, &record, 0, c.slot.slotClass), 0);
  emulator::ClearFaults();
  EXPECT_EQ(Read().text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Buffers, AllocationFailure, ::testing::ValuesIn(kAllocationCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
