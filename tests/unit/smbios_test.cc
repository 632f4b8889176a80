#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "inventory/platform_inventory.h"
#include "inventory/slot_inventory.h"
#include "inventory/smbios_table.h"
#include "inventory/smbios_wmi.h"
#include "platform/sim/state/smbios_builder.h"
#include "support/sim_fixture.h"

namespace {

// The lookup table allocates through the agent's heap, which a simulated machine provides.
using SmbiosSlots = crvtest::SimTest;
using SmbiosInventory = crvtest::SimTest;

using Bytes = std::vector<uint8_t>;

// A structure: formatted area (type, its length, handle, then the fields given) and strings.
Bytes Structure(uint8_t type, uint16_t handle, std::initializer_list<uint8_t> fields,
                std::initializer_list<const char*> strings = {}) {
  Bytes s = {type, static_cast<uint8_t>(4 + fields.size()), static_cast<uint8_t>(handle),
             static_cast<uint8_t>(handle >> 8)};
  for (uint8_t field : fields) s.push_back(field);
  for (const char* text : strings) s.insert(s.end(), text, text + std::strlen(text) + 1);
  if (strings.size() == 0) s.push_back(0);
  s.push_back(0);
  return s;
}

Bytes Table(std::initializer_list<Bytes> structures) {
  Bytes t;
  for (const Bytes& s : structures) t.insert(t.end(), s.begin(), s.end());
  return t;
}

// The raw block: header (table length as given, the real length by default) and the table.
Bytes RawBlock(const Bytes& table, uint32_t length = 0xFFFFFFFFu) {
  if (length == 0xFFFFFFFFu) length = static_cast<uint32_t>(table.size());
  Bytes b = {0, 3, 4, 0};
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<uint8_t>(length >> shift));
  b.insert(b.end(), table.begin(), table.end());
  return b;
}

Bytes SystemInfo(const char* product) {
  // Manufacturer (1), product name (2), version, serial number.
  return Structure(1, 0x100, {1, 2, 0, 0}, {"Maker", product});
}

std::vector<uint8_t> Types(const crv::SmbiosTable& table) {
  std::vector<uint8_t> types;
  crv::SmbiosStructure s;
  for (bool more = table.First(&s); more; more = table.Next(s, &s)) types.push_back(s.type);
  return types;
}

TEST(SmbiosTable, WalksStructuresAndFindsTheNthOfAType) {
  Bytes t = Table({Structure(0, 1, {1}, {"BIOS"}), SystemInfo("Box"), Structure(9, 2, {0}),
                   Structure(9, 3, {0}, {"a", "b"}), Structure(127, 4, {})});
  crv::SmbiosTable table(t.data(), t.size());
  EXPECT_EQ(Types(table), (std::vector<uint8_t>{0, 1, 9, 9, 127}));
  crv::SmbiosStructure s;
  ASSERT_TRUE(table.Find(9, 1, &s));
  EXPECT_EQ(s.handle, 3);
  EXPECT_FALSE(table.Find(9, 2, &s));
  EXPECT_FALSE(table.Find(4, 0, &s));

  // The header's length bounds the walk; a length of 0 has no structures.
  Bytes raw = RawBlock(t, static_cast<uint32_t>(t.size() - 6));
  EXPECT_EQ(Types(crv::SmbiosTable::FromRawBlock(raw.data(), raw.size())),
            (std::vector<uint8_t>{0, 1, 9, 9}));
  raw = RawBlock(t, 0);
  EXPECT_TRUE(Types(crv::SmbiosTable::FromRawBlock(raw.data(), raw.size())).empty());
  // A header claiming more than was read is cut to what is there; a block without a whole
  // header has nothing.
  raw = RawBlock(t, 0x10000);
  EXPECT_EQ(Types(crv::SmbiosTable::FromRawBlock(raw.data(), raw.size())).size(), 5u);
  EXPECT_TRUE(Types(crv::SmbiosTable::FromRawBlock(raw.data(), 7)).empty());
}

TEST(SmbiosTable, StringNumbersZeroAndBeyondTheSetAreEmpty) {
  Bytes t =
      Table({Structure(1, 1, {1, 2, 3, 0}, {"first", "second", "\x7F\x80"}), Structure(2, 2, {1})});
  crv::SmbiosTable table(t.data(), t.size());
  crv::SmbiosStructure s;
  ASSERT_TRUE(table.First(&s));
  char text[16] = "junk";
  EXPECT_TRUE(s.CopyString(0, text, sizeof(text)));
  EXPECT_STREQ(text, "");
  EXPECT_TRUE(s.CopyString(2, text, sizeof(text)));
  EXPECT_STREQ(text, "second");
  EXPECT_FALSE(s.CopyString(4, text, sizeof(text)));  // not into the next structure
  EXPECT_STREQ(text, "");
  char16_t wide[4];
  EXPECT_TRUE(s.CopyString(1, wide, 4));  // cut to fit, terminated
  EXPECT_EQ(std::u16string(wide), u"fir");
  EXPECT_TRUE(s.CopyString(3, wide, 4));  // only ASCII is taken as it is
  EXPECT_EQ(std::u16string(wide), u"\x7F?");

  // A structure without strings answers every number but 0 with the empty text.
  ASSERT_TRUE(table.Next(s, &s));
  EXPECT_FALSE(s.CopyString(1, text, sizeof(text)));
  EXPECT_STREQ(text, "");
}

TEST(SmbiosTable, TruncatedAndMalformedStructuresEndTheWalkInBounds) {
  Bytes good = SystemInfo("Box");
  crv::SmbiosStructure s;
  char text[16];
  {
    // A string set cut off by the end of the table: the structure is given, its cut string
    // is not, and the walk ends there. Copied to the heap so that the sanitizers see the end.
    Bytes t = Table({good, Structure(3, 5, {1}, {"whole", "cut"})});
    t.resize(t.size() - 3);
    Bytes exact(t);
    crv::SmbiosTable table(exact.data(), exact.size());
    ASSERT_TRUE(table.Find(3, 0, &s));
    EXPECT_FALSE(s.terminated);
    EXPECT_TRUE(s.CopyString(1, text, sizeof(text)));
    EXPECT_FALSE(s.CopyString(2, text, sizeof(text)));
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(table.Next(s, &s));
  }
  {
    // A table that ends right after a string, its set's closing zero missing: the search for
    // a later string stops at the end (an exact copy, for the sanitizers).
    Bytes t = Table({good, Structure(3, 5, {1}, {"whole", "cut"})});
    Bytes exact(t.begin(), t.end() - 1);
    crv::SmbiosTable table(exact.data(), exact.size());
    ASSERT_TRUE(table.Find(3, 0, &s));
    EXPECT_FALSE(s.CopyString(3, text, sizeof(text)));
  }
  {
    // A formatted area reaching past the table, or one shorter than its own header.
    for (const Bytes& t : {Table({good, {9, 0x40, 0, 0, 1, 2, 3}}),
                           Table({good, {9, 2, 0, 0, 0, 0}, good}), Table({good, {9, 4, 0}})})
      EXPECT_EQ(Types(crv::SmbiosTable(t.data(), t.size())), (std::vector<uint8_t>{1}));
  }
  {
    // A field beyond a short formatted area is not read.
    Bytes t = Structure(1, 1, {1}, {"name"});
    crv::SmbiosTable table(t.data(), t.size());
    ASSERT_TRUE(table.First(&s));
    EXPECT_EQ(s.Byte(4), 1);
    EXPECT_EQ(s.Byte(5), 0);
    EXPECT_EQ(s.Word(3), 0x0100);
    EXPECT_EQ(s.Word(4), 0);
  }
}

TEST(SmbiosProductName, FromTheFirstSystemStructureOrUnknown) {
  char name[crv::kProductNameBytes];
  Bytes t = Table({Structure(0, 1, {}), SystemInfo("Arvenis QD8 Node R7"), SystemInfo("Other")});
  EXPECT_TRUE(crv::ReadSystemProductName(crv::SmbiosTable(t.data(), t.size()), name, sizeof(name)));
  EXPECT_STREQ(name, "Arvenis QD8 Node R7");

  t = Table({Structure(0, 1, {}), Structure(2, 2, {1}, {"Board"})});
  EXPECT_FALSE(
      crv::ReadSystemProductName(crv::SmbiosTable(t.data(), t.size()), name, sizeof(name)));
  EXPECT_STREQ(name, "Unknown");

  // A structure too short to hold the product's string number has none (string numbers 0 and
  // beyond the set are the string copy's test).
  t = Structure(1, 1, {1}, {"Maker"});
  EXPECT_TRUE(crv::ReadSystemProductName(crv::SmbiosTable(t.data(), t.size()), name, sizeof(name)));
  EXPECT_STREQ(name, "");
}

TEST_F(SmbiosSlots, SlotsAndOnboardDevicesFillTheLookupTable) {
  sim::SmbiosDescription d{.productName = "Box",
                           .slots = {{3, "PCIe Slot 3", 0, 0x5E, 0x00},
                                     {7, "PCIe Slot 7", 1, 0x20, 0x10},
                                     {8, "Empty", 0xFFFF, 0xFF, 0xFF}},   // not applicable
                           .onboard = {{"NIC3", 0x85, 3, 0, 0x02, 0x10},  // device 2 on bus 2
                                       {"NIC1", 0x85, 1, 0, 0x02, 0x00},
                                       {"NIC2", 0x85, 2, 0, 0x02, 0x01},
                                       // A slot's location: the first filed wins.
                                       {"Shadowed", 0x85, 9, 0, 0x5E, 0x00}}};
  // Records too short to hold a location (a slot record from before segment and bus were
  // recorded, an on-board record cut short) file nothing.
  Bytes t =
      Table({sim::BuildSmbiosTable(d), Structure(9, 1, {1, 0xA5, 0x0D, 4, 4, 3, 0, 4, 1}, {"Old"}),
             Structure(41, 2, {1, 0x85, 1, 0, 0, 6}, {"Short"})});
  crv::LocationLookupTable lookup;
  ASSERT_TRUE(crv::FillLookupTable(crv::SmbiosTable(t.data(), t.size()), &lookup));
  constexpr uint32_t kAny = crv::kUnknownLocation;

  // Slot 3's card (its functions found under segment 0 or slot 3 are the platform inventory's
  // lookups): not another device, nor a Mellanox port.
  EXPECT_EQ(lookup.Find(kAny, 0x5E, 1, 0, kAny), nullptr);
  EXPECT_EQ(lookup.Find(kAny, 0x5E, 0, 0, 1), nullptr);  // a Mellanox port number differs

  // Segment 1 is its own key; device 2 of devfn 0x10.
  ASSERT_NE(lookup.Find(1, 0x20, 2, 0, kAny), nullptr);
  EXPECT_EQ(lookup.Find(kAny, 0x20, 2, 0, kAny), nullptr);

  // On-board ports (slot 0, numbered by their instance) keep their reference designation,
  // each under its own device and function.
  for (uint32_t function : {0u, 1u}) {
    const crv::LocationRecord* r = lookup.Find(kAny, 2, 0, function, kAny);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::u16string(r->description), function == 0 ? u"NIC1" : u"NIC2");
  }
  EXPECT_EQ(lookup.Find(kAny, 0x5E, 0, 0, kAny)->w2, 3u);
  EXPECT_EQ(lookup.Find(kAny, 6, 0, 0, kAny), nullptr);  // the short on-board record's bus

  crv::LocationLookupTable refused;  // an entry the heap refuses ends the filing with false
  machine.FailAllocation(1);
  EXPECT_FALSE(crv::FillLookupTable(crv::SmbiosTable(t.data(), t.size()), &refused));
}

// Without WMI or a system structure, and the walk's location texts and product rules, are
// in platform_inventory_test.cc; here the table handed in directly.
TEST_F(SmbiosInventory, ATableHandedInAnswersUntilTheNextCollectionAndKeepsWhatItCouldFile) {
  auto lookup = [](uint32_t function) {
    uint32_t slot = 0, ext1 = 0, position = 0, ext2 = 0, none = 0xFFFFFFFFu;
    if (crv::LookupAdapterLocation(none, 2, 0, function, none, &slot, &ext1, &position, &ext2) == 0)
      return std::string("none");
    return std::to_string(slot) + "/" + std::to_string(position);
  };
  char name[64];
  Bytes raw = RawBlock(
      sim::BuildSmbiosTable({.productName = "Rack 9",
                             .onboard = {{"NIC1", 0x85, 1, 0, 2, 0}, {"NIC2", 0x85, 2, 0, 2, 1}}}));
  EXPECT_EQ(crv::LoadPlatformInventoryFromTable(raw.data(), raw.size()), 1u);
  Bytes copy = raw;
  raw.assign(raw.size(), 0);  // the inventory keeps its own copy
  EXPECT_EQ(lookup(0), "0/1");
  crv::GetSystemProductName(name, sizeof(name));
  EXPECT_STREQ(name, "Rack 9");
  crv::LoadPlatformInventory();  // the agent's own collection discards it all
  EXPECT_EQ(lookup(0), "none");

  machine.FailAllocation(1);  // the copy of the block
  EXPECT_EQ(crv::LoadPlatformInventoryFromTable(copy.data(), copy.size()), 0u);
  crv::GetSystemProductName(name, sizeof(name));
  EXPECT_STREQ(name, "Unknown");
  machine.FailAllocation(4);  // the block, NIC1's entry and node, then NIC2's entry
  EXPECT_EQ(crv::LoadPlatformInventoryFromTable(copy.data(), copy.size()), 1u);
  EXPECT_EQ(lookup(0), "0/1");
  EXPECT_EQ(lookup(1), "none");
  crv::LoadPlatformInventory();  // nothing of this machine's heap outlives the test
}

TEST(SmbiosLocationText, AnUnterminatedTextIsReadOnlyUpToTheBound) {
  const char16_t cut[] = {u'b', u'1', u' ', u'2', u' ', u'3', u' ', u'4'};
  crv::InventoryLocation l = crv::ParseInventoryLocation(cut, 6);
  EXPECT_EQ(l.slot, 0xFFFFFFFFu);
  EXPECT_EQ(l.bus, 1u);
  EXPECT_EQ(l.function, 3u);
}

// The swap of slots 4 and 6 and the TW2 adapter are the adapter walk's tests; here the exact
// product name and the bound of the hardware ID.
TEST(SmbiosProductRules, TheProductNameMatchesExactlyAndTheIdWithinItsBound) {
  EXPECT_EQ(crv::ProductSlotNumber("Arvenis QD8 Node R7 ", 4), 4u);
  EXPECT_EQ(crv::ProductSlotNumber("arvenis QD8 Node R7", 6), 6u);  // from its first letter
  std::u16string id =
      std::u16string(u"pci\\ven_15b3&dev_6746&subsys_") + crv::kTw2MellanoxSubsystemId + u"&REV_00";
  EXPECT_FALSE(crv::IsTw2MellanoxHardwareId(id.c_str(), 30));  // the bound cuts the id short
}

// The block read through WMI: a header from the object's properties (a null one counts as
// 0), then the table.
TEST_F(SmbiosInventory, TheRawBlockCarriesTheHeaderWmiGives) {
  const Bytes table = Table({SystemInfo("Rack 9")});
  sim::InstallSmbiosTable(machine.wmi(), table, {true, 3, 4, 1})
      .Set(u"SmbiosMinorVersion", sim::WmiValue::Null());
  machine.wmi().SetAvailable(true);
  platform::ComWmi& wmi = *platform::Os().wmi;
  ASSERT_EQ(0, wmi.CoInitializeEx(platform::kCoinitMultithreaded));
  uint8_t* block = nullptr;
  size_t bytes = 0;
  EXPECT_EQ(0u, crv::ReadRawSmbiosBlock(&block, &bytes));
  wmi.CoUninitialize();
  ASSERT_NE(nullptr, block);
  Bytes expected = RawBlock(table);
  expected[0] = 1;  // the 2.0 calling method
  expected[2] = 0;
  expected[3] = 1;
  EXPECT_EQ(expected, Bytes(block, block + expected.size()));
  crv::FreeBlock(block);
}

}  // namespace
