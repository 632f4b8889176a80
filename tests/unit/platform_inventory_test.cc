// The platform inventory's collection on simulated machines: the WMI read of the raw SMBIOS
// table (its calls, its failures and what it leaves held), the product name, the slot
// lookups, and the adapter walk's locations, slot rules and vendor queries.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/text.h"
#include "inventory/adapter_walk.h"
#include "inventory/platform_inventory.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/library_sim.h"
#include "platform/sim/state/smbios_builder.h"
#include "support/sim_fixture.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

class PlatformInventoryTest : public crvtest::SimTest {
 protected:
  PlatformInventoryTest() : com(*machine.platform().wmi) {}

  // Switches WMI on with a table of this product, slot 3 at bus 94 and two on-board ports.
  void InstallSmbios(std::optional<std::string> product = std::string("Rack 9")) {
    sim::SmbiosDescription d;
    d.productName = std::move(product);
    d.slots.push_back({3, "PCIe Slot 3", 0, 94, 0, 4});
    d.onboard.push_back({"NIC1", 0x85, 1, 0, 2, 0});
    d.onboard.push_back({"NIC2", 0x85, 2, 0, 2, 1});
    sim::InstallSmbios(machine.wmi(), d);
    machine.wmi().SetAvailable(true);
  }

  sim::AdapterRecord& Add(uint8_t n, std::u16string service, std::optional<uint32_t> ui,
                          sim::AdapterKind kind = sim::AdapterKind::kPci,
                          std::optional<std::u16string> location = std::nullopt) {
    return sim::AddAdapter(machine,
                           {.guid = u"{00000000-0000-0000-0000-000000000" +
                                    crv::Utf8ToUtf16(std::to_string(100 + n)) + u"}",
                            .mac = {0x00, 0x1B, 0x21, 0x00, 0x01, n},
                            .description = u"Adapter " + crv::Utf8ToUtf16(std::to_string(n)),
                            .kind = kind,
                            .bus = n,
                            .uiNumber = ui,
                            .location = std::move(location),
                            .service = std::move(service)});
  }

  // A collection as the interface list runs it: COM initialised around it.
  uint32_t Load() {
    com.CoInitializeEx(platform::kCoinitMultithreaded);
    uint32_t result = crv::LoadPlatformInventory();
    com.CoUninitialize();
    return result;
  }

  std::string ProductName() {
    char name[64];
    crv::GetSystemProductName(name, sizeof name);
    return name;
  }

  // The answer of a lookup: "slot/position" or "none" (the second extended value untouched).
  std::string Lookup(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function) {
    uint32_t slot = 0, ext1 = 0, position = 0, ext2 = 0x5A5A;
    uint32_t found = crv::LookupAdapterLocation(segment, bus, device, function, kNone, &slot, &ext1,
                                                &position, &ext2);
    EXPECT_EQ(ext1, kNone);
    if (found == 0) {
      EXPECT_EQ(slot, kNone);
      EXPECT_EQ(position, kNone);
      EXPECT_EQ(ext2, 0x5A5Au);
      return "none";
    }
    EXPECT_EQ(ext2, kNone);  // the SMBIOS records carry no extended values
    return std::to_string(slot) + "/" + std::to_string(position);
  }

  // The adapter location table, one "osSlot slot bus device function port: description
  // (feature)" line per entry (all ones shown as -).
  std::vector<std::string> Filed() {
    std::vector<std::string> lines;
    crv::PlatformAdapterLocations().ForEach([&lines](const crv::AdapterLocationEntry& e) {
      std::string line;
      for (uint32_t key : e.keys) line += key == kNone ? "- " : std::to_string(key) + " ";
      line += ": " + crv::Utf16ToUtf8(e.record.description);
      if (e.vendorFeature != 0) line += " (feature)";
      lines.push_back(line);
    });
    return lines;
  }

  platform::ComWmi& com;
};

TEST_F(PlatformInventoryTest, WithoutWmiNothingIsKnownAndEachLookupTriesAgain) {
  EXPECT_EQ(Load(), 0u);
  EXPECT_EQ(ProductName(), "Unknown");
  EXPECT_EQ(crv::HasExtendedFields(), 0u);
  EXPECT_EQ(Lookup(kNone, 2, 0, 0), "none");
  EXPECT_EQ(Lookup(kNone, 2, 0, 1), "none");
  EXPECT_EQ(machine.wmi().CountCalls("CoCreateInstance"), 3u);
  EXPECT_TRUE(Filed().empty());
  EXPECT_EQ(machine.wmi().Held(), "");
}

// The adapters' entries of each location text are the location test's.
TEST_F(PlatformInventoryTest, ReadsTheTableWithItsCallsAndFindsPortsBySlotAndOnboardRecords) {
  InstallSmbios();
  uint64_t live = machine.LiveAllocations();

  EXPECT_EQ(Load(), 1u);
  EXPECT_EQ(ProductName(), "Rack 9");
  EXPECT_EQ(Lookup(kNone, 2, 0, 0), "0/1");
  EXPECT_EQ(Lookup(kNone, 2, 0, 1), "0/2");
  EXPECT_EQ(Lookup(3, 94, 0, 1), "3/2");  // by the slot the location text names
  EXPECT_EQ(Lookup(kNone, 94, 0, 7), "3/8");
  EXPECT_EQ(Lookup(kNone, 95, 0, 0), "none");
  // The calls that carry settings; what is held afterwards shows every object released.
  const std::vector<std::string>& calls = machine.wmi().Calls();
  ASSERT_GE(calls.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 7),
            (std::vector<std::string>{
                "CoInitializeEx 0x0", "CoCreateInstance WbemLocator clsctx=0x17",
                "ConnectServer \\\\.\\root\\wmi",
                "CoSetProxyBlanket services authn=0xFFFFFFFF authz=0 level=3 imp=3 caps=0",
                "CreateInstanceEnum MSSmBios_RawSMBiosTables flags=0x1",
                "CoSetProxyBlanket enumerator authn=0xFFFFFFFF authz=0 level=3 imp=3 caps=0",
                "Next timeout=10000"}));
  EXPECT_EQ(calls.back(), "CoUninitialize");
  EXPECT_EQ(machine.wmi().Held(), "");
  crv::ResetPlatformInventory();
  EXPECT_EQ(machine.LiveAllocations(), live);
}

// The module's reset reaches the inventory through the reset it registered: what a
// collection holds is freed, and the next load collects again.
TEST_F(PlatformInventoryTest, TheModuleResetFreesTheInventoryAndTheNextLoadCollectsAgain) {
  InstallSmbios();
  uint64_t live = machine.LiveAllocations();
  EXPECT_EQ(Load(), 1u);
  EXPECT_GT(machine.LiveAllocations(), live);
  crv::ResetProcessState();
  EXPECT_EQ(machine.LiveAllocations(), live);
  EXPECT_EQ(Load(), 1u);
  EXPECT_EQ(ProductName(), "Rack 9");
  EXPECT_EQ(machine.wmi().CountCalls("CreateInstanceEnum"), 2u);
}

TEST_F(PlatformInventoryTest, EveryFailingWmiStepLeavesNothingHeld) {
  InstallSmbios();
  // The calls of a collection in their order; each fails at its own occurrence.
  std::istringstream order(
      "CoCreateInstance ConnectServer CoSetProxyBlanket CreateInstanceEnum CoSetProxyBlanket Next "
      "Get SafeArrayGetUBound SafeArrayGetLBound SafeArrayAccessData Get Get Get Get Get");
  std::map<std::string, uint32_t> seen;
  uint64_t live = machine.LiveAllocations();
  for (std::string call; order >> call;) {
    uint32_t n = ++seen[call];
    SCOPED_TRACE(call + " #" + std::to_string(n));
    EXPECT_TRUE(
        machine.FailCall(call, static_cast<uint32_t>(machine.CallCount(call) + n), 0x80041001u));
    EXPECT_EQ(Load(), 0u);
    EXPECT_EQ(ProductName(), "Unknown");
    EXPECT_EQ(machine.wmi().Held(), "");
    EXPECT_EQ(machine.LiveAllocations(), live);
  }
  // A table that does not arrive within ten seconds counts as none.
  machine.wmi().Class(u"root\\wmi", u"MSSmBios_RawSMBiosTables").deliveryDelayMs = 10001;
  uint64_t start = machine.NowMs();
  EXPECT_EQ(Load(), 0u);
  EXPECT_EQ(machine.NowMs() - start, 10000u);
  EXPECT_EQ(machine.wmi().Held(), "");
}

TEST_F(PlatformInventoryTest, OddTableObjectsAnswerUnknown) {
  machine.wmi().SetAvailable(true);
  // No object at all; then one whose data is null and whose other properties are missing.
  machine.wmi().Class(u"root\\wmi", u"MSSmBios_RawSMBiosTables");
  EXPECT_EQ(Load(), 0u);
  machine.wmi()
      .AddObject(u"root\\wmi", u"MSSmBios_RawSMBiosTables")
      .Set(u"SMBiosData", sim::WmiValue::Null());
  EXPECT_EQ(Load(), 0u);
  EXPECT_EQ(ProductName(), "Unknown");
  // Data that is not a byte array.
  sim::WmiObject& words = sim::InstallSmbiosTable(machine.wmi(), {1, 4, 0, 0, 0, 0, 0});
  words.Set(u"SMBiosData", sim::WmiValue::Array(platform::kVtI4, {1, 4, 0, 0}));
  EXPECT_EQ(Load(), 0u);
  // An empty byte array from the smallest lower bound: its upper bound wraps to the largest,
  // claiming four billion bytes, which are neither asked for nor read.
  words.Set(u"SMBiosData", sim::WmiValue::Bytes({}, INT32_MIN));
  EXPECT_EQ(Load(), 0u);
  EXPECT_EQ(ProductName(), "Unknown");
  EXPECT_LT(machine.LargestAllocationAsked(), size_t{1} << 24);
  // A null length word: no structures, so no product.
  std::vector<uint8_t> table = sim::BuildSmbiosTable({std::string("Box"), "M", {}, {}});
  sim::InstallSmbiosTable(machine.wmi(), table).Set(u"Size", sim::WmiValue::Null());
  EXPECT_EQ(Load(), 0u);
  EXPECT_EQ(machine.wmi().Held(), "");
}

TEST_F(PlatformInventoryTest, ATableWithoutASystemStructureIsKeptAndNotReadAgain) {
  InstallSmbios(std::nullopt);
  Add(2, u"e1express", 1);
  EXPECT_EQ(Load(), 0u);
  EXPECT_EQ(ProductName(), "Unknown");
  EXPECT_TRUE(Filed().empty());  // the walk does not run
  size_t reads = machine.wmi().CountCalls("CoCreateInstance");
  EXPECT_EQ(Lookup(kNone, 2, 0, 0), "0/1");
  EXPECT_EQ(Lookup(kNone, 7, 0, 0), "none");
  EXPECT_EQ(crv::HasExtendedFields(), 0u);
  EXPECT_EQ(machine.wmi().CountCalls("CoCreateInstance"), reads);
}

TEST_F(PlatformInventoryTest, LocationTextsAndTheQd8SlotSwap) {
  InstallSmbios("Arvenis QD8 Node R7");
  const sim::AdapterKind pci = sim::AdapterKind::kPci;
  Add(1, u"e1express", 4, pci, u"PCI bus 4, device 0, function 1");
  Add(2, u"e1express", 6, pci, u"PCI Slot 3 (PCI bus 4, device 0, function 1)");
  Add(3, u"e1express", 5, pci, u"PCI bus 4, device 0");
  Add(4, u"e1express", 7, pci, u"");  // no location property
  sim::SimAdapter longName = Add(5, u"e1express", std::nullopt).adapter;
  longName.description = std::u16string(300, u'x');
  sim::AddAdapter(machine, longName);
  EXPECT_EQ(Load(), 1u);
  EXPECT_EQ(Filed(), (std::vector<std::string>{"6 - 4 0 1 - : Adapter 1", "4 3 4 0 1 - : Adapter 2",
                                               "5 - - - - - : Adapter 3", "7 - - - - - : Adapter 4",
                                               "0 - 5 0 0 - : " + std::string(255, 'x')}));
}

TEST_F(PlatformInventoryTest, BusDriverPortsTakeTheirParentsSlotAndTheTw2Rule) {
  InstallSmbios(crv::kTw2ProductName);
  sim::SimAdapter eth = Add(1, u"mlx4eth63", 5, sim::AdapterKind::kMlx4).adapter;
  eth.port = 2;
  // The parent's location text is read however long it is, and not parsed.
  machine.devices()
      .FindNode(sim::AddAdapter(machine, eth).parentId)
      ->SetText(platform::kCmDrpLocationInformation, std::u16string(1500, u'7'));
  // An IP over InfiniBand port without a UI number of its own: its port comes from its text.
  sim::SimAdapter ib = Add(2, u"xoib62", 6, sim::AdapterKind::kIba).adapter;
  ib.port = 2;
  ib.portUiNumber = false;
  sim::AddAdapter(machine, ib);
  // The TW2 model's adapter, whose PCI function has no UI number, and another one.
  sim::AdapterRecord& tw2 = Add(3, u"mlx4eth63", std::nullopt, sim::AdapterKind::kMlx4);
  sim::DevNode* parent = machine.devices().FindNode(tw2.parentId);
  ASSERT_NE(parent, nullptr);
  parent->instanceId = std::u16string(u"PCI\\VEN_15B3&DEV_6746&SUBSYS_") +
                       crv::kTw2MellanoxSubsystemId + u"&REV_00\\4&1&0&0018";
  machine.devices().FindNode(tw2.instanceId)->parentId = parent->instanceId;
  Add(4, u"mlx4eth63", std::nullopt, sim::AdapterKind::kMlx4);
  EXPECT_EQ(Load(), 1u);
  EXPECT_EQ(Filed(),
            (std::vector<std::string>{"5 - - - - 2 : Adapter 1", "6 - - - - 2 : Adapter 2",
                                      "1 - - - - 1 : Adapter 3", "0 - - - - 1 : Adapter 4"}));

  // On another model the TW2 adapter has no slot number either, and the next adapter filed
  // at the same place replaces it.
  InstallSmbios("Rack 9");
  EXPECT_EQ(Load(), 1u);
  EXPECT_EQ(Filed(), (std::vector<std::string>{"5 - - - - 2 : Adapter 1", "6 - - - - 2 : Adapter 2",
                                               "0 - - - - 1 : Adapter 4"}));
}

TEST_F(PlatformInventoryTest, VendorQueriesGoByTheExactServiceNameAndReadTheAnswerSigned) {
  InstallSmbios();
  std::vector<uint8_t> two(20, 0), negative(20, 0);
  two[8] = 2;
  negative[8] = 2;
  negative[11] = 0x80;
  struct Case {
    const char16_t* service;
    uint32_t oid;  // the driver's answer to it, through the device path
    sim::OidAnswer answer;
    bool feature;
  };
  const Case cases[] = {{u"mlx4eth6", 0xFFA0C921, sim::OidAnswer::Bytes({2}), true},
                        {u"ipoib6x", 0xFFA0C921, sim::OidAnswer::Bytes({1}), false},
                        {u"be2net", 0xFF02029A, sim::OidAnswer::Dword(1), true},
                        {u"NXND6Vq", 0xFF010144, {two, 0, 0xD1C27B15}, true},  // signed request
                        {u"NXND5Vq", 0xFF010144, sim::OidAnswer::Bytes(negative), false},
                        {u"QLNDNIC", 0, {}, false},  // no answer: all ones, -1
                        {u"MLX4ETH6", 0xFFA0C921, sim::OidAnswer::Bytes({2}), false},
                        {u"l2nd", 0, {}, true},  // bmapi.dll answers 3 for it
                        {u"BXOIS", 0, {}, false},
                        {u"e1express", 0xFF02029A, sim::OidAnswer::Dword(1), false}};
  std::vector<std::string> expected;
  std::u16string l2nd;
  for (uint8_t i = 0; i < std::size(cases); ++i) {
    uint8_t bus = static_cast<uint8_t>(10 + i);
    sim::AdapterRecord& r = Add(bus, cases[i].service, bus);
    if (cases[i].oid != 0) {
      machine.devices().FindNdis(r.adapter.guid)->oids[cases[i].oid] = cases[i].answer;
    }
    if (std::u16string(cases[i].service) == u"l2nd") l2nd = r.adapter.guid;
    // Mellanox names file their port by the bus driver's rules (no parent number here).
    std::string n = std::to_string(bus);
    bool busPort = crv::FoldCase(cases[i].service[0]) == u'm' || cases[i].service[0] == u'i';
    expected.push_back((busPort ? "0 - - - - " + n : n + " - " + n + " 0 0 -") + " : Adapter " + n +
                       (cases[i].feature ? " (feature)" : ""));
  }
  const std::string nicId = "PCI\\VEN_14E4&DEV_165F&SUBSYS_00000000&REV_00\\17";
  ASSERT_TRUE(sim::AddBmapiClassDeviceFor(machine, crv::Utf8ToUtf16(nicId), l2nd));
  machine.libraries().bmapiLocal().present = true;
  machine.libraries().bmapiLocal().localNics = {{.handle = 1, .pnpDeviceId = nicId, .value = 3}};
  machine.devices().opens().clear();

  EXPECT_EQ(Load(), 1u);
  EXPECT_EQ(Filed(), expected);
  EXPECT_EQ(machine.devices().opens().size(), 6u);  // one per device-path query
  EXPECT_EQ(machine.CallCount("bmapi.dll!BmapiGetBRCMNicInfoEx"), 1u);
  EXPECT_EQ(machine.libraries().LoadedReferences(), 0);
  EXPECT_EQ(machine.openHandles().devices, 0);
}

TEST_F(PlatformInventoryTest, OutOfMemoryAnywhereLeavesNoLeak) {
  InstallSmbios();
  Add(2, u"e1express", 1);
  Add(3, u"l2nd", 2);
  uint64_t live = machine.LiveAllocations();
  for (uint64_t n = 1;; ++n) {
    SCOPED_TRACE(n);
    uint64_t before = machine.AllocationCount();
    machine.FailAllocation(n);
    Load();
    bool reached = machine.AllocationCount() - before >= n;
    crv::ResetPlatformInventory();
    EXPECT_EQ(machine.LiveAllocations(), live);
    EXPECT_EQ(machine.wmi().Held(), "");
    if (!reached) break;
  }
  machine.FailAllocation(UINT64_MAX / 2);
}

}  // namespace
