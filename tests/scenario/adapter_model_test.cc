// The agent end to end on simulated adapters: what each interface and port publishes, and
// the traps a port's link changes raise.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "common/alloc.h"
#include "common/report.h"
#include "discovery/cycle_snapshot.h"
#include "model/logical_adapter.h"
#include "model/physical_adapter.h"
#include "platform/platform.h"
#include "platform/sim/state/smbios_builder.h"
#include "publish/records.h"
#include "publish/registry_key.h"
#include "scenario_helpers.h"
#include "support/sim_fixture.h"

namespace {

using namespace scenariotest;

const std::u16string kGuid = u"{6A1C0E52-0000-4000-8000-00000000000B}";

class AdapterModelTest : public ServerTest {
 protected:
  AdapterModelTest() {
    // The traps are checked against the poll cycles: no immediate passes on link changes.
    machine.registry().SetDword(kParameters, u"ImmediateUpdates", 0);
    AddLoopback(machine);
  }

  sim::SimAdapter Adapter(const std::u16string& guid, uint32_t ifIndex, uint8_t macLast) {
    return {.guid = guid,
            .mac = {0x00, 0x1B, 0x21, 0xA0, 0x10, macLast},
            .ifIndex = ifIndex,
            .description = u"Intel(R) Ethernet Controller X710",
            .bus = 5,
            .function = macLast - 1u,
            .uiNumber = 3,
            .service = u"i40ea",
            .speedBps = 10000000000ull,
            .ipv6 = {u"fe80::21b:21ff:fea0:1001%11"}};
  }
};

TEST_F(AdapterModelTest, SingleAdapterPublishesItsInterfaceAndPort) {
  sim::SimAdapter a = Adapter(kGuid, 11, 1);
  a.keywords[u"*SpeedDuplex"] = u"6";
  a.dhcp = true;
  a.firmware = "9.50.12";
  sim::AddAdapter(machine, a);
  // The last change counts from the agent's start, in hundredths of a second.
  const uint32_t start = static_cast<uint32_t>(machine.StartFileTime() / 100000);
  machine.network().Find(11)->row.dwLastChange = start + 4200;
  RunAgent({"crvnichost.exe"}, T / 2);
  EXPECT_EQ(1u, ReadRecord<uint32_t>(machine, u"", u"Status"));  // the list was built
  auto loopback = Interface(u"InterfaceMap001");
  auto ethernet = Interface(u"InterfaceMap002");
  auto port = Port(u"PhysAdapter001");
  ASSERT_TRUE(loopback && ethernet && port);
  EXPECT_EQ(Fields(1, 0, crv::kConditionOther, crv::kAddressStatic),
            Fields(loopback->memberIndexes[0], loopback->portCount, loopback->condition,
                   loopback->addressAssignment));
  // 10 Gbit/s does not fit the speed's 32 bits.
  const crv::InterfaceMapRecord& e = *ethernet;
  EXPECT_EQ(Fields(crv::kGroupingSingle, 1, 1, crv::kConditionOk, crv::kInterfaceStatusLinkOk, 1,
                   0xFFFFFFFFu, crv::kAddressDhcp, 4200),
            Fields(e.grouping, e.portCount, e.portNumbers[0], e.condition, e.status,
                   e.portsWithLink, e.speedBitsPerSecond, e.addressAssignment, e.lastChangeTime));
  EXPECT_STREQ("fe80::21b:21ff:fea0:1001%11", e.ipv6Address);
  EXPECT_STREQ("Intel(R) Ethernet Controller X710", e.description);
  // The port in card is the function + 1 when the inventory has no record.
  const crv::PhysAdapterRecord& p = *port;
  EXPECT_EQ(Fields(11, crv::kTeamRoleNone, 3, 1, crv::kConditionOk, 3, 10000, 8),
            Fields(p.interfaceIndex, p.teamRole, p.slotNumber, p.portInCard, p.linkCondition,
                   p.duplex, p.linkSpeed, p.speedDuplexConfig));
  EXPECT_STREQ("0000:05:00.0", port->pciLocation);
  EXPECT_STREQ("9.50.12", port->firmwareVersion);
  EXPECT_EQ(0, std::memcmp(port->macAddress, a.mac.data(), 6));
  auto stats =
      ReadRecord<crv::StatisticsRecord>(machine, u"\\Ethernet\\Statistics", u"Statistics00B");
  ASSERT_TRUE(stats);
  EXPECT_EQ(11u, stats->interfaceIndex);
  EXPECT_TRUE(Traps().empty());
}

// A loopback row that carries an address takes the next interface number and nothing else
// (no port, no texts); the adapter after it is numbered after it.
TEST_F(AdapterModelTest, ALoopbackWithAnAddressTakesOnlyItsNumber) {
  machine.network().Find(1)->row.dwPhysAddrLen = 6;
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  RunAgent({"crvnichost.exe"}, T / 2);
  auto loopback = Interface(u"InterfaceMap001");
  auto ethernet = Interface(u"InterfaceMap002");
  ASSERT_TRUE(loopback && ethernet);
  EXPECT_EQ(Fields(0, 1), Fields(loopback->portCount, ethernet->portCount));
}

// An Intel driver without a version answer publishes "n/a" and is not asked again; a version
// that stays empty is asked for at every refresh until the driver gives it.
TEST_F(AdapterModelTest, FirmwareVersionIsAskedForAgainOnlyWhileEmpty) {
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  const std::u16string mellanox = u"{6A1C0E52-0000-4000-8000-00000000000C}";
  sim::SimAdapter m = Adapter(mellanox, 12, 2);
  m.vendorId = 0x15B3;
  m.service = u"mlx5";
  sim::AddAdapter(machine, m);
  machine.At(2 * T + 1, [&] {
    std::vector<uint8_t> word = {0x10, 0, 0x05, 0, 0x0E, 0, 0, 0};  // 14.5.16
    machine.devices().FindNdis(mellanox)->oids[sim::kOidMellanoxFirmware] =
        sim::OidAnswer::Bytes(word);
  });
  std::optional<crv::PhysAdapterRecord> before;
  machine.At(2 * T, [&] { before = Port(u"PhysAdapter002"); });
  RunAgent({"crvnichost.exe"}, 3 * T + 1);
  ASSERT_TRUE(before);
  EXPECT_STREQ("", before->firmwareVersion);
  EXPECT_STREQ("n/a", Port(u"PhysAdapter001")->firmwareVersion);
  EXPECT_STREQ("14.5.16", Port(u"PhysAdapter002")->firmwareVersion);
  // Intel: asked once, when the port was located (through the driver's private device).
  size_t intelQueries = 0;
  for (const auto& q : machine.devices().queries())
    intelQueries += q.oid == sim::kOidPrivateAdapterInfo;
  EXPECT_EQ(1u, intelQueries);
  // Mellanox: when located, at the refreshes of 0, T and 2T, and at 3T, which finds it.
  EXPECT_EQ(5u, machine.devices().QueryCount(mellanox, sim::kOidMellanoxFirmware));
}

TEST_F(AdapterModelTest, LosingAndRegainingTheLinkRaisesTraps) {
  sim::SimAdapter a = Adapter(kGuid, 11, 1);
  a.device = 4;
  a.ipv4 = {{0x0B00000A, 0x00FFFFFF}};  // 10.0.0.11
  sim::AddAdapter(machine, a);
  LinkAt(2 * T - 1, kGuid, false);
  LinkAt(4 * T - 1, kGuid, true);
  std::optional<crv::InterfaceMapRecord> down;
  std::optional<crv::MibStatsRecord> downStats, downEthernetStats, upStats;
  std::optional<crv::IfTableInformationRecord> downInformation;
  machine.At(3 * T - 1, [&] {
    down = Interface(u"InterfaceMap002");
    downStats = ReadRecord<crv::MibStatsRecord>(machine, u"\\Interface", u"MibStats");
    downEthernetStats = ReadRecord<crv::MibStatsRecord>(machine, u"\\Ethernet", u"MibStats");
    downInformation =
        ReadRecord<crv::IfTableInformationRecord>(machine, u"\\Interface", u"IfTableInformation");
  });
  machine.At(5 * T - 1, [&] {
    upStats = ReadRecord<crv::MibStatsRecord>(machine, u"\\Interface", u"MibStats");
  });
  RunAgent({"crvnichost.exe"}, 5 * T);
  // The tree's overall condition is the worst interface's: failed while the link is down.
  ASSERT_TRUE(downStats && downEthernetStats && downInformation && upStats);
  EXPECT_EQ(crv::kMibStatsHeaderMark, downStats->headerMark);
  EXPECT_EQ(crv::kConditionFailed, downStats->overallCondition);
  EXPECT_EQ(T / 1000, uint32_t{downStats->pollIntervalSeconds});
  EXPECT_EQ(crv::kConditionFailed, downEthernetStats->overallCondition);
  EXPECT_EQ(crv::kConditionFailed, downInformation->overallCondition);
  EXPECT_EQ(crv::kConditionOk, upStats->overallCondition);
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapConnectivityLost, 2 * T, 1, 0, 0},
                                   {crv::kTrapConnectivityRegained, 4 * T, 1, 0, 0}}),
            Traps());
  // The record names the port's place and the interface's addresses as they were.
  auto lost = FirstTrap(u"Trap_ConnectivityLost");
  ASSERT_TRUE(lost && down);
  const crv::TrapRecord& l = *lost;
  EXPECT_EQ(Fields(crv::kTrapRecordMark, 3, 1, crv::kConditionFailed, 0x0B00000A, 5, 4, 0),
            Fields(l.recordMark, l.slotNumber, l.portInCard, l.portCondition, l.ipv4Address,
                   l.pciBus, l.pciDevice, l.interfacePortsWithLink));
  EXPECT_STREQ("Intel(R) Ethernet Controller X710", l.deviceDescription);
  EXPECT_STREQ("N/A", l.partNumber);
  EXPECT_STREQ("fe80::21b:21ff:fea0:1001%11", l.ipv6Address);
  EXPECT_EQ(0, std::memcmp(l.interfaceMacAddress, a.mac.data(), 6));
  EXPECT_EQ(Fields(crv::kConditionFailed, crv::kInterfaceStatusLinkFailure, 0, 0),
            Fields(down->condition, down->status, down->portsWithLink, down->speedBitsPerSecond));
  EXPECT_STREQ("N/A", down->ipv6Address);
}

TEST_F(AdapterModelTest, AnUnknownLinkRaisesNothing) {
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  machine.At(2 * T - 1, [this] {
    machine.devices().FindNdis(kGuid)->oids[0x00010114] = sim::OidAnswer::Fail(50);
  });
  std::optional<crv::PhysAdapterRecord> port;
  std::optional<crv::InterfaceMapRecord> unknown;
  machine.At(3 * T - 1, [&] {
    port = Port(u"PhysAdapter001");
    unknown = Interface(u"InterfaceMap002");
  });
  RunAgent({"crvnichost.exe"}, 4 * T);
  EXPECT_TRUE(Traps().empty());
  ASSERT_TRUE(port && unknown);
  EXPECT_EQ(Fields(crv::kConditionOther, crv::kConditionOther, 0),
            Fields(port->linkCondition, port->conditionCopies[1], port->linkSpeed));
  // The interface that was up goes from ok to unknown with its port.
  EXPECT_EQ(Fields(crv::kConditionOther, crv::kInterfaceStatusOther),
            Fields(unknown->condition, unknown->status));
  // A driver that rejects the connect status is asked once.
  EXPECT_EQ(3u, machine.devices().QueryCount(kGuid, 0x00010114));
}

TEST_F(AdapterModelTest, ALinkDownFromTheStartStaysQuietUntilItChanges) {
  sim::SimAdapter a = Adapter(kGuid, 11, 1);
  a.linkUp = false;
  sim::AddAdapter(machine, a);
  std::optional<crv::InterfaceMapRecord> early;
  machine.At(2 * T + 1, [&] { early = Interface(u"InterfaceMap002"); });
  LinkAt(3 * T - 1, kGuid, true);
  LinkAt(5 * T - 1, kGuid, false);
  RunAgent({"crvnichost.exe"}, 6 * T);
  ASSERT_TRUE(early);
  EXPECT_EQ(crv::kConditionOther, early->condition);
  EXPECT_EQ(1u, early->portsWithLink);
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapConnectivityRegained, 3 * T, 1, 0, 0},
                                   {crv::kTrapConnectivityLost, 5 * T, 1, 0, 0}}),
            Traps());
}

// The machine's own records make the port an on-board device (slot 0) where the PnP UI
// number says 3: the published slot changes after the condition is carried, and each rebuild
// must still find the port's condition, so that a link that stayed down or came back raises
// nothing twice.
TEST_F(AdapterModelTest, APortWhoseSlotTheInventorySetsKeepsItsConditionAcrossRebuilds) {
  sim::SmbiosDescription smbios;
  smbios.onboard.push_back({"Embedded NIC 1", 0x85, 1, 0, 5, 0});
  sim::InstallSmbios(machine.wmi(), smbios);
  machine.wmi().SetAvailable(true);
  const std::u16string second = u"{6A1C0E52-0000-4000-8000-00000000000C}";
  const std::u16string third = u"{6A1C0E52-0000-4000-8000-00000000000D}";
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  LinkAt(2 * T - 1, kGuid, false);
  // Hot-added ports (on another bus, outside the slot record) make two rebuilds: one while
  // the link is down, one after it came back.
  machine.At(3 * T - 1, [&] { sim::AddAdapter(machine, Adapter(second, 12, 2)); });
  LinkAt(4 * T - 1, kGuid, true);
  machine.At(5 * T - 1, [&] {
    sim::SimAdapter a = Adapter(third, 13, 3);
    a.bus = 9;
    sim::AddAdapter(machine, a);
  });
  std::optional<crv::PhysAdapterRecord> port;
  machine.At(6 * T - 1, [&] { port = Port(u"PhysAdapter001"); });
  RunAgent({"crvnichost.exe"}, 7 * T);
  ASSERT_TRUE(port);
  EXPECT_EQ(0u, uint32_t{port->slotNumber});
  EXPECT_EQ(crv::kConditionOk, port->linkCondition);
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapConnectivityLost, 2 * T, 1, 0, 0},
                                   {crv::kTrapConnectivityRegained, 3 * T, 2, 0, 0},
                                   {crv::kTrapConnectivityRegained, 4 * T, 1, 0, 0},
                                   {crv::kTrapConnectivityRegained, 5 * T, 3, 0, 0}}),
            Traps());
  auto texts = crvtest::ReportTexts(machine, crv::kReportInformation);
  EXPECT_EQ(0, std::count(texts.begin(), texts.end(),
                          "CTrap::SetAdapterCondition: failed to find adapter."));
  EXPECT_EQ(2, std::count(texts.begin(), texts.end(),
                          "Detected change in interface table, reinitializing"));
  // Numbering restarted at each rebuild: the newest port is the third of the last list.
  EXPECT_TRUE(Port(u"PhysAdapter003"));
  EXPECT_FALSE(Port(u"PhysAdapter004"));
}

// The inventory is asked by the port's PCI place: its location slot (a slot filed under its
// own number on another segment) and its device number.
TEST_F(AdapterModelTest, TheInventoryFindsAPortByItsLocationSlotAndDevice) {
  sim::SmbiosDescription smbios;
  smbios.slots.push_back({7, "PCIe Slot 7", 1, 6, 0});
  smbios.onboard.push_back({"Embedded NIC 2", 0x85, 2, 0, 5, 2 << 3});
  sim::InstallSmbios(machine.wmi(), smbios);
  machine.wmi().SetAvailable(true);
  sim::SimAdapter slotted = Adapter(kGuid, 11, 1);
  slotted.bus = 6;
  slotted.slot = 7;
  sim::AddAdapter(machine, slotted);
  sim::SimAdapter onboard = Adapter(u"{6A1C0E52-0000-4000-8000-00000000000C}", 12, 2);
  onboard.device = 2;
  onboard.function = 0;
  sim::AddAdapter(machine, onboard);
  RunAgent({"crvnichost.exe"}, T / 2);
  // Not found, each would keep the system's slot number, 3.
  EXPECT_EQ(7u, uint32_t{Port(u"PhysAdapter001")->slotNumber});
  EXPECT_EQ(0u, uint32_t{Port(u"PhysAdapter002")->slotNumber});
}

// A port the device tree does not know keeps its defaults and is still published.
TEST_F(AdapterModelTest, APortWithoutADeviceRecordKeepsItsDefaults) {
  sim::SimAdapter a = Adapter(kGuid, 11, 1);
  a.service = u"";  // never matched with a device of the tree
  sim::AddAdapter(machine, a);
  RunAgent({"crvnichost.exe"}, T / 2);
  auto port = Port(u"PhysAdapter001");
  ASSERT_TRUE(port);
  EXPECT_EQ(0xFFFFFFFFu, uint32_t{port->slotNumber});
  EXPECT_EQ(0xFFFFFFFFu, uint32_t{port->resourceValue});
  EXPECT_STREQ("", port->firmwareVersion);
}

// The loop goes on publishing without its trap sink, and says why there are no traps.
TEST_F(AdapterModelTest, WithoutATrapSinkNothingIsCarriedOrRaised) {
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  LinkAt(2 * T - 1, kGuid, false);
  machine.FailAllocation(4);  // queue, DCStruct, ... the trap sink is the thread's first
  RunAgent({"crvnichost.exe"}, 3 * T);
  EXPECT_TRUE(Traps().empty());
  auto texts = crvtest::ReportTexts(machine, crv::kReportInformation);
  EXPECT_EQ(1,
            std::count(texts.begin(), texts.end(), "DataCollectionThread: failure to create CTrap"))
      << crvtest::DescribeReports(machine);
  auto port = Port(u"PhysAdapter001");
  ASSERT_TRUE(port);
  EXPECT_EQ(crv::kConditionFailed, port->linkCondition);
}

TEST_F(AdapterModelTest, AnInterfaceWithoutAMiniportIsDroppedAndNumberingGoesOn) {
  machine.network().Add(crvtest::InterfaceRow(9, 6, "", 9));
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  RunAgent({"crvnichost.exe"}, T / 2);
  auto texts = crvtest::ReportTexts(machine, crv::kReportInformation);
  EXPECT_NE(std::find(texts.begin(), texts.end(),
                      "CLogicalAdapter::Init: search for miniport based on mac address failed!"),
            texts.end());
  auto second = Interface(u"InterfaceMap002");
  ASSERT_TRUE(second);
  EXPECT_EQ(11u, second->memberIndexes[0]);
  EXPECT_FALSE(Interface(u"InterfaceMap003"));
}

// A new interface, before a row fills it, is "not yet known"; its connection lookup says
// whether it found a name, and an adapter name is matched only whole. The lookup releases
// only the Winsock it started: the host's own use survives it.
TEST_F(AdapterModelTest, ANewInterfaceIsNotYetKnownAndLooksUpItsConnectionName) {
  platform::IpHelper& ip = *platform::Os().ipHelper;
  ASSERT_EQ(0, ip.WSAStartup(0x0202));
  crv::CLogicalAdapter adapter;
  const crv::InterfaceMapRecord& r = adapter.Record();
  EXPECT_EQ((std::vector<int>{1, 1, 1, 1}),
            (std::vector<int>{r.grouping, r.fixedOne, r.condition, r.status}));
  EXPECT_STREQ("N/A", r.ipv6Address);
  crv::InterfaceMapRecord found{};
  EXPECT_EQ(0u, adapter.GetConnectionInfo(kGuid.c_str(), found.ipv6Address, found.connectionName,
                                          nullptr));
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  EXPECT_EQ(1u, adapter.GetConnectionInfo(kGuid.c_str(), found.ipv6Address, found.connectionName,
                                          nullptr));
  EXPECT_STREQ("Ethernet 11", found.connectionName);
  EXPECT_EQ(0, ip.WSACleanup());

  EXPECT_TRUE(crv::AdapterNameEquals("{6a1c0e52-0000-4000-8000-00000000000b}", kGuid.c_str()));
  EXPECT_FALSE(crv::AdapterNameEquals(nullptr, kGuid.c_str()));
  const std::string longName(64, 'A');  // longer than any name held: never equal
  EXPECT_FALSE(crv::AdapterNameEquals(longName.c_str(), std::u16string(64, u'A').c_str()));
}

TEST_F(AdapterModelTest, SpeedAndDuplexConfigurationCodes) {
  struct Setting {
    const char16_t* value;
    uint32_t code;
  };
  // Every value of the drivers' own keywords that names a setting, and some that name none.
  const std::pair<const char16_t*, std::vector<Setting>> keywords[] = {
      {u"*SpeedDuplex",
       {{u"0", 2}, {u"6", 8}, {u"7", 9}, {u"-2130705662", 8}, {u"8", 1}, {u"-1", 1}}},
      {u"SpeedDuplex",
       {{u"0", 2}, {u"1", 3}, {u"2", 4}, {u"3", 5}, {u"4", 6}, {u"5", 1}, {u"6", 8}, {u"7", 1}}},
      {u"RequestedMediaType", {{u"0", 2}, {u"3", 3}, {u"4", 4}, {u"5", 5}, {u"6", 6}, {u"8", 8}}},
      {u"RequestedMediaType", {{u"12", 8}, {u"258", 4}, {u"4099", 3}, {u"4100", 4}, {u"4101", 5}}},
      {u"RequestedMediaType", {{u"4102", 6}, {u"8200", 8}, {u"65794", 3}, {u"66060", 5}}},
      {u"RequestedMediaType", {{u"16777986", 8}, {u"7", 1}}},
      {u"req_medium", {{u"514", 6}}},
      {nullptr, {{u"QLNDNIC", 9}, {u"i40ea", 2}}},  // no keyword: by the service (the value here)
  };
  std::vector<uint32_t> expected;
  auto next = [&](uint32_t code) {
    const uint8_t n = static_cast<uint8_t>(expected.size() + 1);
    expected.push_back(code);
    std::u16string g =
        u"{6A1C0E52-0000-4000-8000-0000000000" + crv::Utf8ToUtf16(std::to_string(10 + n)) + u"}";
    return Adapter(g, 10 + n, n);
  };
  for (const auto& [keyword, settings] : keywords) {
    for (const Setting& setting : settings) {
      sim::SimAdapter a = next(setting.code);
      if (keyword != nullptr) a.keywords[keyword] = setting.value;
      if (keyword == nullptr) a.service = setting.value;
      sim::AddAdapter(machine, a);
    }
  }
  // Keywords written as DWORDs; 0x81000302 is -2130705662.
  for (auto [keyword, value, code] : {std::tuple{u"*SpeedDuplex", 0x81000302u, 8u},
                                      std::tuple{u"SpeedDuplex", 0x00010002u, 1u}}) {
    sim::SimAdapter a = next(code);
    sim::AddAdapter(machine, a);
    machine.registry().SetDword(machine.devices().FindAdapter(a.guid)->classKey, keyword, value);
  }
  RunAgent({"crvnichost.exe"}, T / 2);
  // A keyword a driver does not have is no fault.
  EXPECT_EQ(std::vector<std::string>{}, crvtest::ReportTexts(machine, crv::kReportValueNotRead));
  for (size_t i = 0; i < expected.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "PhysAdapter%03zX", i + 1);
    auto port = Port(crv::Utf8ToUtf16(name));
    ASSERT_TRUE(port) << name;
    EXPECT_EQ(expected[i], uint32_t{port->speedDuplexConfig}) << name;
  }
  // Outside a cycle a port opens the network class key itself; without it the setting is
  // unknown, and the key is reported.
  const std::u16string classKey =
      u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
  machine.registry().DeleteTree(classKey);
  EXPECT_EQ(1u, crv::CPhysicalAdapter().GetSpeedDuplexConfig(kGuid.c_str(), nullptr));
  EXPECT_EQ(std::vector<std::string>{crv::Utf16ToUtf8(classKey)},
            crvtest::ReportTexts(machine, crv::kReportKeyNotOpened));
}

// A subkey the cycle's snapshot found but cannot open now is left to the caller's own search.
TEST_F(AdapterModelTest, ASnapshotSubkeyThatNoLongerOpensIsFoundButNotHandedOut) {
  sim::AddAdapter(machine, Adapter(kGuid, 11, 1));
  crv::CycleSnapshot snapshot;
  bool found = false;
  crv::CRegistryKey* key = nullptr;
  ASSERT_TRUE(snapshot.OpenClassSubkey(kGuid.c_str(), &found, &key));
  EXPECT_TRUE(found);
  crv::DeleteObject(key);
  ASSERT_TRUE(machine.FailCall("RegOpenKeyExW", machine.CallCount("RegOpenKeyExW") + 1, 5));
  EXPECT_FALSE(snapshot.OpenClassSubkey(kGuid.c_str(), &found, &key));
  EXPECT_TRUE(found);
  EXPECT_EQ(nullptr, key);
}

}  // namespace
