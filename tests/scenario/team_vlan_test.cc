// Teams and VLAN interfaces, as Windows NIC Teaming describes them through WMI: member
// ports under one interface, VLAN interfaces grouped under their primary, redundancy traps,
// and answers that do not fit leaving every port plain.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/report.h"
#include "discovery/lbfo_teams.h"
#include "discovery/miniport_list.h"
#include "platform/sim/state/wmi_sim.h"
#include "publish/records.h"
#include "scenario_helpers.h"
#include "support/sim_fixture.h"

namespace {

using namespace scenariotest;

const std::u16string kMember1 = u"{7B000000-0000-4000-8000-000000000001}";
const std::u16string kMember2 = u"{7B000000-0000-4000-8000-000000000002}";
const std::vector<uint8_t> kTeamMac = {0x00, 0x1B, 0x21, 0x7E, 0x00, 0x01};

std::u16string Text(const std::string& text) { return crv::Utf8ToUtf16(text); }

class TeamVlanTest : public ServerTest {
 protected:
  TeamVlanTest() {
    machine.registry().SetDword(kParameters, u"ImmediateUpdates", 0);
    team.name = u"Team1";
    // Two member ports; bound to the multiplexor only, they have no interface of their own.
    AddMember(kMember1, 1);
    AddMember(kMember2, 2);
  }

  // A port without an interface of its own, as a team's member is.
  void AddPort(const std::u16string& guid, uint8_t n, uint32_t bus, uint32_t function) {
    sim::AddAdapter(machine, {.guid = guid,
                              .mac = {0x00, 0x1B, 0x21, 0x7E, 0x00, n},
                              .description = u"Intel(R) Ethernet Controller X710",
                              .bus = bus,
                              .function = function,
                              .service = u"i40ea"});
  }
  void AddMember(const std::u16string& guid, uint8_t n) {
    AddPort(guid, n, 4, n - 1u);
    team.members.push_back({u"Ethernet " + Text(std::to_string(n)), guid});
  }

  // A team interface: the team's default one (vlan 0) or one of its VLANs.
  sim::LbfoTeamNic AddTeamNic(const std::u16string& guid, uint32_t ifIndex, uint32_t vlan) {
    sim::LbfoTeamNic nic{vlan == 0 ? u"Team1" : u"Team1 - VLAN " + Text(std::to_string(vlan)), guid,
                         vlan, vlan == 0};
    sim::SimAdapter a = sim::LbfoTeamNicAdapter(nic, kTeamMac, ifIndex);
    a.ipv4 = {{0x0500000A + (ifIndex << 24), 0x00FFFFFF}};
    sim::AddAdapter(machine, a);
    team.teamNics.push_back(nic);
    return nic;
  }

  // The team as WMI answers it from now on.
  void Install() { sim::AddLbfoTeam(machine.wmi(), team); }

  std::optional<crv::VlanMapRecord> Vlan(const std::u16string& name) {
    return ReadRecord<crv::VlanMapRecord>(machine, u"\\Interface\\VlanInterface", name);
  }

  // The team role of each published port, in port order.
  std::vector<uint32_t> TeamRoles() {
    auto names = machine.registry().ValueNames(kTree + u"\\Interface\\PhysInterface");
    std::sort(names.begin(), names.end());
    std::vector<uint32_t> roles;
    for (const auto& name : names) {
      auto port = Port(name);
      roles.push_back(port ? port->teamRole : ~0u);  // ~0: not a port record
    }
    return roles;
  }

  // The interface index the VLAN of a team with only that interface publishes.
  uint32_t PublishedVlanIndex() {
    AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A1}", 21, 10);
    Install();
    RunAgent({"crvnichost.exe"}, T / 2);
    auto vlan = Vlan(u"VlanMap001");
    return vlan ? vlan->interfaceIndex : 0;
  }

  std::vector<std::string> TeamingReports() {
    std::vector<std::string> found;
    for (const std::string& text : crvtest::ReportTexts(machine, crv::kReportInformation)) {
      if (text.rfind("NIC teaming", 0) == 0) found.push_back(text);
    }
    return found;
  }

  sim::LbfoTeam team;
};

TEST_F(TeamVlanTest, ATeamPublishesItsMembersAndRaisesRedundancyTraps) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  Install();
  machine.At(2 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, false); });
  machine.At(4 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, true); });
  std::optional<crv::InterfaceMapRecord> team, degraded;
  machine.At(3 * T - 1, [&] { degraded = Interface(u"InterfaceMap001"); });
  machine.At(5 * T - 10, [&] { team = Interface(u"InterfaceMap001"); });
  // Then both: the second port goes, and after it the first.
  machine.At(5 * T - 1, [&] { sim::SetAdapterLink(machine, kMember2, false); });
  machine.At(6 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, false); });
  RunAgent({"crvnichost.exe"}, 6 * T + T / 2);
  ASSERT_TRUE(team) << crvtest::DescribeReports(machine);
  ASSERT_TRUE(degraded);
  // Ports 1 and 2, both with link, their speeds summed.
  EXPECT_EQ(Fields(crv::kGroupingTeam, 2, 1, 2, 2, 2000000000),
            Fields(team->grouping, team->portCount, team->portNumbers[0], team->portNumbers[1],
                   team->portsWithLink, team->speedBitsPerSecond));
  EXPECT_EQ(Fields(1, 1000000000, crv::kConditionOk),
            Fields(degraded->portsWithLink, degraded->speedBitsPerSecond, degraded->condition));
  auto port = Port(u"PhysAdapter001");
  ASSERT_TRUE(port);
  EXPECT_EQ(20u, port->interfaceIndex);
  EXPECT_EQ(3u, port->teamRole);  // both ports active: load balancing
  // One port left is redundancy reduced (twice); the last one gone is connectivity lost.
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapRedundancyReduced, 2 * T, 1, 1, 1},
                                   {crv::kTrapRedundancyIncreased, 4 * T, 1, 1, 2},
                                   {crv::kTrapRedundancyReduced, 5 * T, 2, 1, 1},
                                   {crv::kTrapConnectivityLost, 6 * T, 1, 0, 0}}),
            Traps());
  // The interface's own count of ports with link: one left, then none.
  auto reduced = FirstTrap(u"Trap_RedundancyReduced"), lost = FirstTrap(u"Trap_ConnectivityLost");
  ASSERT_TRUE(reduced && lost);
  EXPECT_EQ(1u, uint32_t{reduced->interfacePortsWithLink});
  EXPECT_EQ(0u, uint32_t{lost->interfacePortsWithLink});
}

// Each driver counter lands in its own field of the port record; the error sums are made
// only when all four of their counters are non-zero; a team's statistics add up its ports.
TEST_F(TeamVlanTest, EveryCounterIsPublishedAndATeamsStatisticsSumItsPorts) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  Install();
  // Frames sent and received, alignment, FCS, one and more collisions, deferred, late,
  // excessive collisions, underruns, carrier lost, overruns.
  const uint32_t oids[] = {0x00020101, 0x00020102, 0x01020101, 0x0002020D, 0x01020102, 0x01020103,
                           0x01020201, 0x01020207, 0x01020202, 0x01020204, 0x01020206, 0x01020203};
  for (uint32_t i = 0; i < std::size(oids); ++i) {
    machine.devices().FindNdis(kMember1)->oids[oids[i]] = sim::OidAnswer::Dword(100 + i);
    machine.devices().FindNdis(kMember2)->oids[oids[i]] = sim::OidAnswer::Dword(i == 2 ? 0 : 7);
  }
  RunAgent({"crvnichost.exe"}, T / 2);
  auto port = Port(u"PhysAdapter001");
  auto other = Port(u"PhysAdapter002");
  auto stats =
      ReadRecord<crv::StatisticsRecord>(machine, u"\\Ethernet\\Statistics", u"Statistics014");
  ASSERT_TRUE(port && other && stats);
  const crv::PhysAdapterRecord& p = *port;
  EXPECT_EQ((std::vector<uint32_t>{p.framesTransmittedOk, p.framesReceivedOk, p.alignmentErrors,
                                   p.fcsErrors, p.singleCollisionFrames, p.multipleCollisionFrames,
                                   p.deferredTransmissions, p.lateCollisions, p.excessiveCollisions,
                                   p.internalMacTransmitErrors, p.carrierSenseErrors,
                                   p.internalMacReceiveErrors}),
            (std::vector<uint32_t>{100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111}));
  EXPECT_EQ(106u + 108 + 109 + 110, uint32_t{p.transmitErrorSum});
  EXPECT_EQ(103u + 107 + 111 + 102, uint32_t{p.receiveErrorSum});
  // The other port counts no alignment errors: no receive error sum.
  EXPECT_EQ(4u * 7, uint32_t{other->transmitErrorSum});
  EXPECT_EQ(0u, uint32_t{other->receiveErrorSum});
  const crv::StatisticsRecord& s = *stats;
  EXPECT_EQ(20u, uint32_t{s.interfaceIndex});
  EXPECT_EQ(
      (std::vector<uint32_t>{s.alignmentErrors, s.fcsErrors, s.singleCollisionFrames,
                             s.multipleCollisionFrames, s.sqeTestErrors, s.deferredTransmissions,
                             s.lateCollisions, s.excessiveCollisions, s.internalMacTransmitErrors,
                             s.carrierSenseErrors, s.frameTooLongs, s.internalMacReceiveErrors}),
      (std::vector<uint32_t>{102, 110, 111, 112, 0, 113, 114, 115, 116, 117, 0, 118}));
}

TEST_F(TeamVlanTest, ThreeVlansOnOneTeamGroupUnderTheFirst) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A1}", 21, 10);
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A2}", 22, 20);
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A3}", 23, 4094);  // the highest VLAN id
  Install();
  RunAgent({"crvnichost.exe"}, 2 * T + 10);
  auto primary = Interface(u"InterfaceMap001");
  ASSERT_TRUE(primary) << crvtest::DescribeReports(machine);
  EXPECT_EQ(3u, primary->memberCount);
  EXPECT_EQ((std::vector<uint32_t>{21, 22, 23}),
            std::vector<uint32_t>(primary->memberIndexes, primary->memberIndexes + 3));
  EXPECT_EQ(3u, primary->vlanCount);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}),
            std::vector<uint8_t>(primary->vlanMapNumbers, primary->vlanMapNumbers + 3));
  EXPECT_EQ(2u, primary->portCount);
  // The secondaries publish only their VLAN records, naming the primary's map number.
  EXPECT_EQ(1u, machine.registry().ValueNames(kTree + u"\\Interface\\LogInterfaceMap").size());
  for (uint32_t n = 1; n <= 3; ++n) {
    auto vlan = Vlan(u"VlanMap00" + crv::Utf8ToUtf16(std::to_string(n)));
    ASSERT_TRUE(vlan);
    EXPECT_EQ(Fields(n, 1, 20 + n, n == 3 ? 4094 : 10 * n),
              Fields(vlan->vlanMapNumber, vlan->interfaceMapNumber, vlan->interfaceIndex,
                     vlan->vlanIndicator));
    EXPECT_STREQ("N/A", vlan->connectionName);
  }
  // The tree that does not exist yet at the first build is looked in for bridges quietly.
  EXPECT_EQ(std::vector<std::string>{}, crvtest::ReportTexts(machine, crv::kReportKeyNotOpened));
  // The shared ports are asked once per cycle, however many interfaces share them.
  EXPECT_EQ(3u, machine.devices().QueryCount(kMember1, 0x00010107));  // link speed, 3 cycles
}

// The team's default interface, first in the interface table, is the primary of its VLANs:
// the team publishes one interface with its ports once, and a port's change raises one trap.
TEST_F(TeamVlanTest, TheDefaultTeamInterfaceGroupsItsVlans) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A1}", 21, 10);
  Install();
  machine.At(2 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, false); });
  RunAgent({"crvnichost.exe"}, 2 * T + T / 2);
  auto primary = Interface(u"InterfaceMap001");
  ASSERT_TRUE(primary) << crvtest::DescribeReports(machine);
  EXPECT_EQ((std::vector<uint32_t>{20, 21}),
            std::vector<uint32_t>(primary->memberIndexes, primary->memberIndexes + 2));
  EXPECT_EQ(1u, primary->vlanCount);
  EXPECT_FALSE(Interface(u"InterfaceMap002"));
  EXPECT_FALSE(Port(u"PhysAdapter003"));
  auto vlan = Vlan(u"VlanMap001");
  ASSERT_TRUE(vlan);
  EXPECT_EQ(1u, vlan->interfaceMapNumber);
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapRedundancyReduced, 2 * T, 1, 1, 1}}), Traps());
}

TEST_F(TeamVlanTest, ABridgedVlanTakesTheBridgesIndex) {
  machine.registry().SetString(kTree + u"\\Interface\\BridgingInfo", u"BridgeConnectionName",
                               u"n/a");
  machine.registry().SetDword(kTree + u"\\Interface\\BridgingInfo", u"BridgeIfTableIndex", 99);
  EXPECT_EQ(99u, PublishedVlanIndex());
}

// A bridge's key that names the VLAN's connection without its index: the missing value is
// reported and reads as 0, as every DWORD the agent cannot read.
TEST_F(TeamVlanTest, ABridgeWithoutItsIndexIsReported) {
  machine.registry().SetString(kTree + u"\\Interface\\BridgingInfo", u"BridgeConnectionName",
                               u"n/a");
  EXPECT_EQ(0u, PublishedVlanIndex());
  EXPECT_EQ(std::vector<std::string>{"BridgeIfTableIndex"},
            crvtest::ReportTexts(machine, crv::kReportValueNotRead));
}

// In a tree without the bridge's key, a VLAN keeps its own index and the missing key is
// reported.
TEST_F(TeamVlanTest, WithoutTheBridgesKeyAVlanKeepsItsIndex) {
  machine.registry().CreateKey(kTree);
  EXPECT_EQ(21u, PublishedVlanIndex());
  EXPECT_EQ(std::vector<std::string>{"Interface\\BridgingInfo"},
            crvtest::ReportTexts(machine, crv::kReportKeyNotOpened));
}

TEST_F(TeamVlanTest, ApplyingTheTeamsCountsThoseThatFit) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  crv::CMiniportList miniports;
  ASSERT_EQ(0u, miniports.Init());
  EXPECT_EQ(0u, crv::ApplyLbfoTeams(miniports));  // no NIC Teaming answer yet
  Install();
  EXPECT_EQ(1u, crv::ApplyLbfoTeams(miniports));
}

// MSFT_NetAdapter lists every adapter of the server; a team whose members come after the
// first hundred and more of them is still found.
using LargeServerTest = ServerTest;
TEST_F(LargeServerTest, TeamsAreFoundBehindEveryOtherAdapter) {
  auto port = [&](uint32_t n, std::u16string connectionName) {
    char guidText[40];
    std::snprintf(guidText, sizeof guidText, "{7C000000-0000-4000-8000-%012X}", n);
    std::u16string guid = Text(guidText);
    sim::AddAdapter(machine, {.guid = guid,
                              .mac = {0x00, 0x1B, 0x21, 0x7F, static_cast<uint8_t>(n >> 8),
                                      static_cast<uint8_t>(n)},
                              .description = u"Intel(R) Ethernet Controller X710",
                              .bus = 8 + n / 32,
                              .device = n % 32,
                              .service = u"i40ea",
                              .connectionName = std::move(connectionName)});
    return guid;
  };
  for (uint32_t n = 0; n < 200; ++n) port(n, {});
  sim::LbfoTeam team{.name = u"Team1"};
  for (uint32_t n : {200u, 201u}) {
    std::u16string name = u"Member " + Text(std::to_string(n));
    team.members.push_back({name, port(n, name)});
  }
  sim::LbfoTeamNic nic{u"Team1", u"{7C000000-0000-4000-8000-0000000000AA}", 0, true};
  sim::AddAdapter(machine, sim::LbfoTeamNicAdapter(nic, kTeamMac, 300));
  team.teamNics.push_back(nic);
  sim::AddLbfoTeam(machine.wmi(), team);

  crv::CMiniportList miniports;
  ASSERT_EQ(0u, miniports.Init());
  EXPECT_EQ(1u, crv::ApplyLbfoTeams(miniports));
}

// An adapter listed again and again under a member's name fills the answer: the rest is left
// out with a report, and the team read before it is untouched.
TEST_F(TeamVlanTest, AdaptersBeyondTheAnswerAreLeftOut) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  Install();
  for (int i = 0; i < 130; ++i) {
    machine.wmi()
        .AddObject(u"root\\StandardCimv2", u"MSFT_NetAdapter")
        .Set(u"Name", sim::WmiValue::Text(u"Ethernet 1"))
        .Set(u"InterfaceGuid", sim::WmiValue::Text(u"{7B000000-0000-4000-8000-0000000000FF}"));
  }
  crv::CMiniportList miniports;
  ASSERT_EQ(0u, miniports.Init());
  EXPECT_EQ(1u, crv::ApplyLbfoTeams(miniports));
  ASSERT_FALSE(TeamingReports().empty());
  for (const std::string& report : TeamingReports()) {
    EXPECT_NE(report.find("too many adapters"), std::string::npos) << report;
  }
}

// A team whose ports all carry traffic balances the load (role 3), whatever its teaming
// mode; a team that keeps a port in standby is a fail-over pair (role 2). The two names
// hash to one team index: the later team moves on to the next.
TEST_F(TeamVlanTest, TheTeamRoleFollowsTheTeamsMode) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  team.teamingMode = 2;  // LACP
  team.name = u"Team 440593";
  Install();
  sim::LbfoTeam standby;
  standby.name = u"Team 1084640";
  standby.members = {{u"Ethernet 3", u"{7B000000-0000-4000-8000-000000000003}"},
                     {u"Ethernet 4", u"{7B000000-0000-4000-8000-000000000004}", 1}};
  standby.teamNics = {{u"Team2", u"{7B000000-0000-4000-8000-0000000000BB}", 0, true}};
  for (uint8_t n : {3, 4}) AddPort(standby.members[n - 3u].guid, n, 5, n - 3u);
  sim::SimAdapter standbyNic =
      sim::LbfoTeamNicAdapter(standby.teamNics[0], {0x00, 0x1B, 0x21, 0x7E, 0x00, 0x03}, 30);
  standbyNic.ipv4 = {{0x1E00000A, 0x00FFFFFF}};  // a team interface without one is passed over
  sim::AddAdapter(machine, standbyNic);
  sim::AddLbfoTeam(machine.wmi(), standby);
  RunAgent({"crvnichost.exe"}, T / 2);
  EXPECT_TRUE(TeamingReports().empty()) << crvtest::DescribeReports(machine);
  EXPECT_EQ((std::vector<uint32_t>{3, 3, 2, 2}), TeamRoles());
}

// A team interface removed makes a rebuild without it, and when it comes back its VLAN is
// grouped again; the members' links did not change, so nothing is raised.
TEST_F(TeamVlanTest, ATeamInterfaceRemovedAndReAdded) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A1}", 21, 10);
  sim::LbfoTeamNic second = AddTeamNic(u"{7B000000-0000-4000-8000-0000000000A2}", 22, 20);
  Install();
  std::optional<crv::InterfaceMapRecord> without;
  machine.At(2 * T - 10, [&] {
    sim::RemoveAdapter(machine, second.guid);
    sim::RemoveLbfoTeamNic(machine.wmi(), second.name);
  });
  machine.At(3 * T - 1, [&] { without = Interface(u"InterfaceMap001"); });
  machine.At(4 * T - 10, [&] {
    sim::SimAdapter a = sim::LbfoTeamNicAdapter(second, kTeamMac, 22);
    a.ipv4 = {{0x1600000A, 0x00FFFFFF}};
    sim::AddAdapter(machine, a);
    sim::LbfoTeam back;
    back.name = u"Team1";
    back.teamNics = {second};
    sim::AddLbfoTeam(machine.wmi(), back);  // the team is there already: adds the interface
  });
  RunAgent({"crvnichost.exe"}, 5 * T);
  ASSERT_TRUE(without);
  EXPECT_EQ(1u, without->vlanCount);
  EXPECT_EQ(2u, without->portCount);
  auto with = Interface(u"InterfaceMap001");
  ASSERT_TRUE(with);
  EXPECT_EQ(2u, with->vlanCount);
  EXPECT_EQ(22u, with->memberIndexes[1]);
  auto vlan = Vlan(u"VlanMap002");
  ASSERT_TRUE(vlan);
  EXPECT_EQ(20u, vlan->vlanIndicator);
  EXPECT_TRUE(Traps().empty());
  EXPECT_TRUE(TeamingReports().empty()) << crvtest::DescribeReports(machine);
}

// A member that can no longer be located after a rebuild (its class key gone, so no PnP
// record names its GUID; or every PnP property unreadable) keeps the condition it had: links
// that hold raise nothing, poll after poll, and a link that then drops raises its trap.
class UnlocatedMemberTest : public TeamVlanTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnlocatedMemberTest, KeepsItsConditionAndRaisesNothingUntilItsLinkChanges) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  Install();
  machine.At(2 * T - 10, [&] {
    if (GetParam()) {
      machine.registry().DeleteTree(machine.devices().FindAdapter(kMember1)->classKey);
    } else {
      ASSERT_TRUE(machine.FailCall("CM_Get_DevNode_Registry_PropertyW", 0, 0x25));
    }
    // A new adapter changes the interface table: the model is built again.
    sim::AddAdapter(machine, {.guid = u"{7B000000-0000-4000-8000-0000000000C1}",
                              .mac = {0x00, 0x1B, 0x21, 0x7E, 0x00, 0x09},
                              .ifIndex = 30,
                              .description = u"Intel(R) Ethernet Controller X710",
                              .bus = 6,
                              .service = u"i40ea"});
  });
  machine.At(6 * T - 1, [&] { sim::SetAdapterLink(machine, kMember1, false); });
  RunAgent({"crvnichost.exe"}, 6 * T + T / 2);
  auto team = Interface(u"InterfaceMap001");
  ASSERT_TRUE(team) << crvtest::DescribeReports(machine);
  EXPECT_EQ(2u, team->portCount);
  // The members are ports 1 and 2 (the added adapter, new, is not this test's concern).
  std::vector<SeenTrap> members;
  for (const SeenTrap& t : Traps()) {
    if (t.port <= 2) members.push_back(t);
  }
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapRedundancyReduced, 6 * T, 1, 1, 1}}), members);
}

INSTANTIATE_TEST_SUITE_P(ClassKeyGoneOrPnpUnreadable, UnlocatedMemberTest, ::testing::Bool());

// A driver that gives the old private team question a meaning of its own and answers it with
// 24 bytes does not make a team: membership comes from NIC Teaming alone.
TEST_F(TeamVlanTest, APrivateTeamAnswerGroupsNothing) {
  sim::LbfoTeamNic nic = AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  std::vector<uint8_t> answer = {7, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,
                                 2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  machine.devices().FindNdis(nic.guid)->oids[0xFF020400] = sim::OidAnswer::Bytes(answer);
  machine.devices().FindNdis(kMember1)->oids[0xFF020400] = sim::OidAnswer::Bytes(answer);
  machine.wmi().SetAvailable(true);  // no NIC Teaming namespace
  RunAgent({"crvnichost.exe"}, T / 2);
  EXPECT_FALSE(Interface(u"InterfaceMap001"));  // the unread team's interface is left out
  EXPECT_EQ(0u, machine.devices().QueryCount(kMember1, 0xFF020400));
  EXPECT_EQ(0u, machine.devices().QueryCount(nic.guid, 0xFF020400));
}

// Every answer that does not fit leaves the team's ports plain, with one report per build:
// the team interface is then an adapter of its own, and no port is grouped.
class UnfitTeamTest : public TeamVlanTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnfitTeamTest, LeavesEveryPortPlainWithOneReport) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  const char* reason = nullptr;  // in the report, where the case shows it
  switch (GetParam()) {
    case 0:  // a member Windows names but has no adapter for
      team.members[1].guid.clear();
      break;
    case 1:  // a member that is no present adapter
      team.members[1].guid = u"{7B000000-0000-4000-8000-0000000000FF}";
      break;
    case 2:  // a team without a team interface
      team.teamNics.clear();
      break;
    case 3:  // a VLAN id out of range
      team.teamNics[0].isDefault = false;
      team.teamNics[0].vlanId = 4095;
      break;
    case 4: {  // one adapter a member of two teams, named first by the first team
      Install();
      sim::LbfoTeam other;
      other.name = u"Team2";
      other.members.push_back(team.members[1]);
      other.teamNics = team.teamNics;
      other.teamNics[0].name = u"Team2";
      sim::AddLbfoTeam(machine.wmi(), other);
      team.name.clear();  // both teams are in
      reason = "an adapter named twice in the teams";
      break;
    }
    case 5:  // a team name longer than any Windows gives, which cannot be held whole
      team.name = std::u16string(300, u'T');
      break;
    case 6:  // a team interface that is no present adapter
      team.teamNics[0].guid = u"{7B000000-0000-4000-8000-0000000000FF}";
      break;
  }
  if (!team.name.empty()) Install();
  RunAgent({"crvnichost.exe"}, T / 2);
  auto single = Interface(u"InterfaceMap001");
  ASSERT_TRUE(single) << crvtest::DescribeReports(machine);
  EXPECT_EQ(crv::kGroupingSingle, single->grouping);
  EXPECT_EQ(20u, single->memberIndexes[0]);
  EXPECT_EQ(std::vector<uint32_t>{crv::kTeamRoleNone}, TeamRoles());
  ASSERT_EQ(1u, TeamingReports().size()) << crvtest::DescribeReports(machine);
  if (reason != nullptr) {
    EXPECT_NE(TeamingReports()[0].find(reason), std::string::npos) << TeamingReports()[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, UnfitTeamTest, ::testing::Range(0, 7));

// A read that fails (a failed query, no NIC Teaming namespace, no WMI) leaves the team
// interface out, where it would be a port of its own made of a member's address, and is
// tried again at each poll: the first poll at which the teams answer publishes the team.
class UnreadTeamTest : public TeamVlanTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnreadTeamTest, LeavesTheTeamInterfaceOutUntilTheTeamsAnswer) {
  AddTeamNic(u"{7B000000-0000-4000-8000-0000000000AA}", 20, 0);
  uint64_t answersAt = 2 * T;
  switch (GetParam()) {
    case 0:  // a query that fails once
      Install();
      EXPECT_TRUE(machine.FailCall("CreateInstanceEnum", 2, 0x80041001u));
      answersAt = T;
      break;
    case 1:  // no NIC Teaming namespace until 1.5T
      machine.wmi().SetAvailable(true);
      machine.At(T + T / 2, [this] { Install(); });
      break;
    case 2:  // no WMI until 1.5T
      machine.At(T + T / 2, [this] { Install(); });
      break;
  }
  bool portEarly = true;
  machine.At(T / 2, [&] { portEarly = Port(u"PhysAdapter001").has_value(); });
  RunAgent({"crvnichost.exe"}, 2 * T + T / 2);
  EXPECT_FALSE(portEarly);
  EXPECT_EQ(
      std::vector<uint64_t>{answersAt},
      crvtest::ReportTimes(machine, u"NIC teaming: the teams can be read now, reinitializing"));
  auto teamInterface = Interface(u"InterfaceMap001");
  ASSERT_TRUE(teamInterface) << crvtest::DescribeReports(machine);
  EXPECT_EQ((std::vector<uint32_t>{3, 3}), TeamRoles());  // both members, balancing the load
  EXPECT_TRUE(Traps().empty());
}

INSTANTIATE_TEST_SUITE_P(Reads, UnreadTeamTest, ::testing::Range(0, 3));

}  // namespace
