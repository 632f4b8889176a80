// Teams and VLAN interfaces, as the teaming driver describes them to the agent: member
// ports under one interface, VLAN interfaces grouped under their primary, redundancy traps.
#include <gtest/gtest.h>

#include <cstring>

#include "discovery/miniport.h"
#include "platform/sim/device_sim.h"
#include "publish/records.h"
#include "support/sim_fixture.h"

namespace {

constexpr uint64_t T = 30000;
const std::u16string kTree = u"SYSTEM\\TessarNetwork";
const std::u16string kMember1 = u"{7B000000-0000-4000-8000-000000000001}";
const std::u16string kMember2 = u"{7B000000-0000-4000-8000-000000000002}";
const std::vector<uint8_t> kTeamMac = {0x00, 0x1B, 0x21, 0x7E, 0x00, 0x01};

template <class Record>
std::optional<Record> ReadRecord(sim::Machine& machine, const std::u16string& key,
                                 const std::u16string& name) {
  auto value = machine.registry().GetValue(kTree + key, name);
  if (!value || value->data.size() != sizeof(Record)) return std::nullopt;
  Record record;
  std::memcpy(&record, value->data.data(), sizeof record);
  return record;
}

class TeamVlanTest : public crvtest::SimTest {
 protected:
  TeamVlanTest() {
    machine.registry().SetDword(u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS",
                                u"Timeout", static_cast<uint32_t>(T));
    // Two member ports of team 7; the teaming driver hides their own interfaces.
    AddMember(kMember1, 1);
    AddMember(kMember2, 2);
  }

  void SetTeamInformation(const std::u16string& guid, uint32_t index, uint32_t flags,
                          uint32_t attribute, uint8_t members) {
    crv::TeamInformation info{index, flags, attribute, members, {}, 1, 2};
    std::vector<uint8_t> bytes(sizeof info);
    std::memcpy(bytes.data(), &info, sizeof info);
    machine.devices().FindNdis(guid)->oids[crv::kOidTeamInformation] = sim::OidAnswer::Bytes(bytes);
  }

  void AddMember(const std::u16string& guid, uint8_t n) {
    sim::SimAdapter a;
    a.guid = guid;
    a.mac = {0x00, 0x1B, 0x21, 0x7E, 0x00, n};
    a.ifIndex = 0;
    a.description = u"Intel(R) Ethernet Controller X710";
    a.service = u"i40ea";
    a.bus = 4;
    a.function = n - 1;
    sim::AddAdapter(machine, a);
    SetTeamInformation(guid, 7, 1, 0, 0);
  }

  // A virtual adapter of team 7: the team itself (vlan 0) or one of its VLANs.
  void AddVirtual(const std::u16string& guid, uint32_t ifIndex, uint32_t vlan) {
    sim::SimAdapter a;
    a.guid = guid;
    a.mac = kTeamMac;
    a.ifIndex = ifIndex;
    a.kind = sim::AdapterKind::kOther;
    a.instanceId = u"ROOT\\CV_CRVTEAMMP\\" + crv::Utf8ToUtf16(std::to_string(ifIndex));
    a.description = u"Corvane Team Interface";  // the filter drops anything "Virtual"
    a.service = u"crvteam";
    a.ipv4 = {{0x0500000A + (ifIndex << 24), 0x00FFFFFF}};
    sim::AddAdapter(machine, a);
    SetTeamInformation(guid, 7, 2, vlan, 2);
  }
};

TEST_F(TeamVlanTest, ATeamPublishesItsMembersAndRaisesRedundancyTraps) {
  AddVirtual(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  machine.At(2 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, false); });
  machine.At(4 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, true); });
  std::optional<crv::InterfaceMapRecord> degraded;
  machine.At(3 * T - 1, [&] {
    degraded = ReadRecord<crv::InterfaceMapRecord>(machine, u"\\Interface\\LogInterfaceMap",
                                                   u"InterfaceMap001");
  });
  RunAgent({"crvnichost.exe"}, 5 * T);
  auto team = ReadRecord<crv::InterfaceMapRecord>(machine, u"\\Interface\\LogInterfaceMap",
                                                  u"InterfaceMap001");
  ASSERT_TRUE(team) << crvtest::DescribeReports(machine);
  EXPECT_EQ(crv::kGroupingTeam, team->grouping);
  EXPECT_EQ(2u, team->portCount);
  EXPECT_EQ(1u, team->portNumbers[0]);
  EXPECT_EQ(2u, team->portNumbers[1]);
  EXPECT_EQ(2u, team->portsWithLink);
  ASSERT_TRUE(degraded);
  EXPECT_EQ(1u, degraded->portsWithLink);
  EXPECT_EQ(crv::kConditionOk, degraded->condition);
  auto port =
      ReadRecord<crv::PhysAdapterRecord>(machine, u"\\Interface\\PhysInterface", u"PhysAdapter001");
  ASSERT_TRUE(port);
  EXPECT_EQ(20u, port->interfaceIndex);
  EXPECT_NE(crv::kTeamRoleNone, port->teamRole);

  auto reduced = machine.registry().ValueNames(kTree + u"\\Trap_RedundancyReduced");
  auto increased = machine.registry().ValueNames(kTree + u"\\Trap_RedundancyIncreased");
  ASSERT_EQ(1u, reduced.size());
  ASSERT_EQ(1u, increased.size());
  auto r = ReadRecord<crv::TrapRecord>(machine, u"\\Trap_RedundancyReduced", reduced[0]);
  EXPECT_EQ(crv::kTrapRedundancyReduced, r->trapCode);
  EXPECT_EQ(1u, r->teamInterfaceMapNumber);
  EXPECT_EQ(1u, r->teamPortsWithLink);
  EXPECT_EQ(1u, uint32_t{r->interfacePortsWithLink});
  auto i = ReadRecord<crv::TrapRecord>(machine, u"\\Trap_RedundancyIncreased", increased[0]);
  EXPECT_EQ(2u, i->teamPortsWithLink);
  EXPECT_FALSE(machine.registry().KeyExists(kTree + u"\\Trap_ConnectivityLost"));
}

TEST_F(TeamVlanTest, ATeamsStatisticsSumItsPortsCounters) {
  AddVirtual(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  auto& one = machine.devices().FindNdis(kMember1)->oids;
  auto& two = machine.devices().FindNdis(kMember2)->oids;
  one[0x01020101] = sim::OidAnswer::Dword(3);  // alignment errors
  two[0x01020101] = sim::OidAnswer::Dword(4);
  one[0x0002020D] = sim::OidAnswer::Dword(10);  // FCS errors
  two[0x01020203] = sim::OidAnswer::Dword(7);   // internal MAC receive errors
  RunAgent({"crvnichost.exe"}, T / 2);
  auto stats =
      ReadRecord<crv::StatisticsRecord>(machine, u"\\Ethernet\\Statistics", u"Statistics014");
  ASSERT_TRUE(stats);
  EXPECT_EQ(20u, stats->interfaceIndex);
  EXPECT_EQ(7u, uint32_t{stats->alignmentErrors});
  EXPECT_EQ(10u, uint32_t{stats->fcsErrors});
  EXPECT_EQ(7u, uint32_t{stats->internalMacReceiveErrors});
  EXPECT_EQ(0u, stats->sqeTestErrors);
  auto port =
      ReadRecord<crv::PhysAdapterRecord>(machine, u"\\Interface\\PhysInterface", u"PhysAdapter001");
  ASSERT_TRUE(port);
  EXPECT_EQ(3u, uint32_t{port->alignmentErrors});
  // The receive error sum is only made when all four of its counters are non-zero.
  EXPECT_EQ(0u, uint32_t{port->receiveErrorSum});
}

TEST_F(TeamVlanTest, ThreeVlansOnOneTeamGroupUnderTheFirst) {
  AddVirtual(u"{7B000000-0000-4000-8000-0000000000A1}", 21, 10);
  AddVirtual(u"{7B000000-0000-4000-8000-0000000000A2}", 22, 20);
  AddVirtual(u"{7B000000-0000-4000-8000-0000000000A3}", 23, 30);
  RunAgent({"crvnichost.exe"}, 2 * T + 10);
  auto primary = ReadRecord<crv::InterfaceMapRecord>(machine, u"\\Interface\\LogInterfaceMap",
                                                     u"InterfaceMap001");
  ASSERT_TRUE(primary) << crvtest::DescribeReports(machine);
  EXPECT_EQ(3u, primary->memberCount);
  EXPECT_EQ(21u, primary->memberIndexes[0]);
  EXPECT_EQ(22u, primary->memberIndexes[1]);
  EXPECT_EQ(23u, primary->memberIndexes[2]);
  EXPECT_EQ(3u, primary->vlanCount);
  EXPECT_EQ(1u, primary->vlanMapNumbers[0]);
  EXPECT_EQ(2u, primary->vlanMapNumbers[1]);
  EXPECT_EQ(3u, primary->vlanMapNumbers[2]);
  EXPECT_EQ(2u, primary->portCount);
  // The secondaries publish only their VLAN records, naming the primary's map number.
  EXPECT_EQ(1u, machine.registry().ValueNames(kTree + u"\\Interface\\LogInterfaceMap").size());
  for (uint32_t n = 1; n <= 3; ++n) {
    auto vlan = ReadRecord<crv::VlanMapRecord>(machine, u"\\Interface\\VlanInterface",
                                               u"VlanMap00" + crv::Utf8ToUtf16(std::to_string(n)));
    ASSERT_TRUE(vlan);
    EXPECT_EQ(n, vlan->vlanMapNumber);
    EXPECT_EQ(1u, vlan->interfaceMapNumber);
    EXPECT_EQ(20u + n, vlan->interfaceIndex);
    EXPECT_EQ(10u * n, vlan->vlanIndicator);
    EXPECT_STREQ("N/A", vlan->connectionName);
  }
  // The shared ports are asked once per cycle, however many interfaces share them.
  EXPECT_EQ(3u, machine.devices().QueryCount(kMember1, 0x00010107));  // link speed, 3 cycles
}

TEST_F(TeamVlanTest, ABridgedVlanTakesTheBridgesIndex) {
  machine.registry().SetString(kTree + u"\\Interface\\BridgingInfo", u"BridgeConnectionName",
                               u"n/a");
  machine.registry().SetDword(kTree + u"\\Interface\\BridgingInfo", u"BridgeIfTableIndex", 99);
  AddVirtual(u"{7B000000-0000-4000-8000-0000000000A1}", 21, 10);
  RunAgent({"crvnichost.exe"}, T / 2);
  auto vlan = ReadRecord<crv::VlanMapRecord>(machine, u"\\Interface\\VlanInterface", u"VlanMap001");
  ASSERT_TRUE(vlan);
  EXPECT_EQ(99u, vlan->interfaceIndex);
}

}  // namespace
