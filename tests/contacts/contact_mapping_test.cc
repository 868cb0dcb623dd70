// Record slots applied to a stored contact: which properties each code
// reaches, how structured values and dates are taken apart, and what a
// failing buffer allocation leaves.
#include "contacts/contact_mapping.h"
#include "contacts/contact_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/com_ref.h"
#include "case_file.h"
#include "device_fixture.h"
#include "platform/emulator.h"

namespace {

using Text = std::map<std::string, std::string>;
using mz::ComRef;

// Text properties written as Name=value joined by "|".
Text PropsOf(const std::string& text) {
  Text props;
  std::istringstream in(text);
  for (std::string pair; std::getline(in, pair, '|');) {
    props[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
  }
  return props;
}

struct Slot {
  mz::SlotClass slotClass;
  std::string code;
  std::string value;
  int32_t index = 0;
};

// A slot written as its class letter (S, M or L) and its index (0 when
// left out), a blank and code=value.
Slot SlotOf(const std::string& text) {
  const std::size_t blank = text.find(' '), equals = text.find('=');
  const mz::SlotClass slotClass = text[0] == 'S'   ? mz::kSlotShort
                                  : text[0] == 'M' ? mz::kSlotMedium
                                                   : mz::kSlotLong;
  return {slotClass, text.substr(blank + 1, equals - blank - 1), text.substr(equals + 1),
          blank > 1 ? std::stoi(text.substr(1, blank - 1)) : 0};
}

// Puts `slot` at its index of its class; the rest of the record stays zero.
void Fill(mz::ContactRecord* record, const Slot& slot) {
  auto put = [&](auto& slots) {
    std::strncpy(slots[slot.index].code, slot.code.c_str(), mz::kCodeSize);
    std::strncpy(slots[slot.index].value, slot.value.c_str(), sizeof slots[0].value - 1);
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
    ASSERT_EQ(mz::OpenContactSession(), S_OK);
    ASSERT_EQ(mz::GetContactsFolder(folder_.put()), S_OK);
  }
  void TearDown() override {
    contact_.Reset();
    folder_.Reset();
    mz::CloseContactSession();
    CoUninitialize();
    DeviceTest::TearDown();
  }

  // Seeds a contact at the end of the store and opens it, releasing the
  // one opened before.
  void Open(const Text& seed, double birthday = 0.0) {
    contact_.Reset();
    oid_ = emulator::SeedContact(seed, birthday);
    ComRef<IPOutlookItemCollection> items;
    ASSERT_EQ(folder_->get_Items(items.put()), S_OK);
    int count = 0;
    EXPECT_EQ(items->get_Count(&count), S_OK);
    EXPECT_EQ(items->Item(count, contact_.put_as<IDispatch>()), S_OK);
  }

  // Applies each slot of `slots` (joined by "|") in turn, each alone in a
  // fresh record.
  void Apply(const std::string& slots) {
    std::istringstream in(slots);
    for (std::string text; std::getline(in, text, '|');) {
      const Slot slot = SlotOf(text);
      mz::ContactRecord record{};
      Fill(&record, slot);
      EXPECT_EQ(mz::ApplySlotToContact(contact_.get(), &record, slot.index, slot.slotClass), 0)
          << slot.code;
    }
  }

  emulator::StoredContact Read() {
    EXPECT_EQ(contact_->Save(), S_OK);
    return emulator::ReadContact(oid_).value_or(emulator::StoredContact{});
  }

  ComRef<IContact> contact_;
  std::uint32_t oid_ = 0;

 private:
  ComRef<IFolder> folder_;
};

using mz::kSlotLong, mz::kSlotMedium, mz::kSlotShort;

// Each row of contact_mapping.tsv: the properties the slots reach, or the
// birthday a B slot gives.
class ContactMappingCase : public ContactMappingTest,
                           public ::testing::WithParamInterface<CaseRow> {};

TEST_P(ContactMappingCase, SetsExactlyTheMappedProperties) {
  const CaseRow& row = GetParam();
  if (row[0] == "birthday") {
    Open({{"FirstName", "Ann"}}, 40000.0);
    Apply("S B=" + row[1]);
    const emulator::StoredContact stored = Read();
    EXPECT_EQ(stored.birthday, std::stod(row[2]));
    EXPECT_EQ(stored.text, (Text{{"FirstName", "Ann"}}));
    return;
  }
  Open(PropsOf(row[1]));
  if (row.Has(4)) {
    emulator::InjectFault("LocalAlloc", row.Int(4), static_cast<int32_t>(ERROR_NOT_ENOUGH_MEMORY));
  }
  Apply(row[2]);
  emulator::ClearFaults();
  EXPECT_EQ(Read().text, PropsOf(row[3]));
}

INSTANTIATE_TEST_SUITE_P(Table, ContactMappingCase, Cases("contact_mapping.tsv"), LineName);

// A slot named with a wrong class or index, or no contact or record, leaves
// the contact as it was; unmapped codes are in contact_mapping.tsv.
TEST_F(ContactMappingTest, SlotsOutOfRangeChangeNothing) {
  const Text seed = {{"FirstName", "Ann"}, {"Body", "kept"}};
  Open(seed, 40000.0);
  mz::ContactRecord record{};
  Fill(&record, {kSlotShort, "M", "changed"});
  const std::pair<mz::SlotClass, int32_t> misses[] = {
      {0, 0},           {4, 0},           {-1, 0},       {kSlotShort, -1},
      {kSlotShort, 16}, {kSlotMedium, 8}, {kSlotLong, 2}};
  for (const auto& [slotClass, index] : misses) {
    EXPECT_EQ(mz::ApplySlotToContact(contact_.get(), &record, index, slotClass), 0);
  }
  EXPECT_EQ(mz::ApplySlotToContact(nullptr, &record, 0, kSlotShort), 0);
  EXPECT_EQ(mz::ApplySlotToContact(contact_.get(), nullptr, 0, kSlotShort), 0);
  const emulator::StoredContact stored = Read();
  EXPECT_EQ(stored.text, seed);
  EXPECT_EQ(stored.birthday, 40000.0);
}

// An unterminated slot (a damaged record) is cut at the slot's end.
TEST_F(ContactMappingTest, UnterminatedValueStaysInsideItsSlot) {
  mz::ContactRecord record;
  std::memset(&record, 'x', sizeof record);
  std::memcpy(record.shortSlots[0].code, "N", 2);
  std::memcpy(record.mediumSlots[0].code, "O", 2);
  Open({});
  EXPECT_EQ(mz::ApplySlotToContact(contact_.get(), &record, 0, kSlotShort), 0);
  EXPECT_EQ(mz::ApplySlotToContact(contact_.get(), &record, 0, kSlotMedium), 0);
  const Text text = Read().text;
  EXPECT_EQ(text.at("LastName"), std::string(mz::kShortValueSize - 1, 'x'));
  EXPECT_EQ(text.at("CompanyName"), std::string(mz::kMediumValueSize - 1, 'x'));
}

}  // namespace
