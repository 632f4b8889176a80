// The indexes beside the agent's lists and the per-cycle snapshots change how the agent
// searches, never what it finds: the same servers run with them and without them (the
// process-wide switch) must publish the same values, raise the same traps and make the same
// reports, at the same virtual times and in the same order.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/process_state.h"
#include "common/utf.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/wmi_sim.h"
#include "scenario_helpers.h"
#include "support/sim_fixture.h"

extern "C" int32_t Win2KMain(int32_t argc, char** argv);

namespace {

using namespace scenariotest;

std::u16string Guid(uint32_t n) {
  char text[48];
  // The first digits differ, as in real instance GUIDs.
  std::snprintf(text, sizeof text, "{%08X-51C3-4E0A-9D2B-%012X}", n * 0x9E3779B1u, n);
  return crv::Utf8ToUtf16(text);
}

std::u16string Team(uint32_t team) { return u"Team " + crv::Utf8ToUtf16(std::to_string(team)); }

sim::SimAdapter Port(uint32_t n, uint32_t ifIndex, uint32_t bus, uint32_t function) {
  sim::SimAdapter a{
      .guid = Guid(n),
      .mac = {0x00, 0x1B, 0x21, 0x5E, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)},
      .ifIndex = ifIndex,
      .description = u"Intel(R) Ethernet Controller X710 #" + crv::Utf8ToUtf16(std::to_string(n)),
      .bus = bus,
      .function = function,
      .slot = bus,
      .uiNumber = bus,
      .service = u"i40ea",
      .keywords = {{u"*SpeedDuplex", crv::Utf8ToUtf16(std::to_string(n % 8))}},
      .firmware = "9.20.0"};
  if (ifIndex != 0) {
    a.ipv4 = {{0x0000000A + (ifIndex << 24), 0x00FFFFFF}};
    a.ipv6 = {u"fe80::1:" + crv::Utf8ToUtf16(std::to_string(ifIndex)) + u"%" +
              crv::Utf8ToUtf16(std::to_string(ifIndex))};
  }
  return a;
}

// A member port of a team: its own interface is hidden by the teaming driver.
void AddMember(sim::Machine& machine, uint32_t n, uint32_t team, uint32_t bus, uint32_t function) {
  sim::AddAdapter(machine, Port(n, 0, bus, function));
  sim::AddLbfoTeam(machine.wmi(), {.name = Team(team), .members = {{u"Port " + Guid(n), Guid(n)}}});
}

// A team's own interface (vlan 0) or one of its VLAN interfaces; they share the team's address.
void AddTeamInterface(sim::Machine& machine, uint32_t n, uint32_t team, uint32_t ifIndex,
                      uint32_t vlan, bool withAddress = true) {
  sim::SimAdapter a{.guid = Guid(n),
                    .mac = {0x02, 0x1B, 0x21, 0x7E, 0x00, static_cast<uint8_t>(team)},
                    .ifIndex = ifIndex,
                    .description = u"Corvane Team Interface",
                    .kind = sim::AdapterKind::kOther,
                    .instanceId = u"ROOT\\CV_CRVTEAMMP\\" + crv::Utf8ToUtf16(std::to_string(n)),
                    .service = u"crvteam"};
  if (withAddress) a.ipv4 = {{0x0000000B + (ifIndex << 24), 0x00FFFFFF}};
  sim::AddAdapter(machine, a);
  sim::AddLbfoTeam(
      machine.wmi(),
      {.name = Team(team), .teamNics = {{u"Team interface " + a.guid, a.guid, vlan, vlan == 0}}});
}

// Single ports (two of them on one PCI function, two with one station address), two teams
// of two ports, seven VLAN interfaces on two more teams (one without an IP address), a port
// without interface row; links that flap, a port removed and one hot-added, a VLAN
// interface removed and added again.
void MixedServer(sim::Machine& machine) {
  machine.registry().SetDword(kParameters, u"Timeout", static_cast<uint32_t>(T));
  AddLoopback(machine);
  machine.network().Add(crvtest::InterfaceRow(90, 71, "Wi-Fi 6 AX201"));
  for (uint32_t n = 1; n <= 6; ++n) sim::AddAdapter(machine, Port(n, 10 + n, n, 0));
  sim::AddAdapter(machine, Port(7, 17, 6, 0));  // the same PCI place as port 6
  sim::SimAdapter twin = Port(8, 18, 8, 0);
  twin.mac = Port(5, 0, 0, 0).mac;  // port 5's station address
  sim::AddAdapter(machine, twin);
  sim::AddAdapter(machine, Port(9, 0, 9, 0));  // no interface row
  for (uint32_t team = 1; team <= 4; ++team) {
    AddMember(machine, 20 + 2 * team, team, 20 + team, 0);
    AddMember(machine, 21 + 2 * team, team, 20 + team, 1);
  }
  AddTeamInterface(machine, 40, 1, 40, 0);
  AddTeamInterface(machine, 41, 2, 41, 0);
  for (uint32_t v = 0; v < 5; ++v) AddTeamInterface(machine, 50 + v, 3, 50 + v, 10 + v);
  AddTeamInterface(machine, 60, 4, 60, 100, false);
  AddTeamInterface(machine, 61, 4, 61, 101);

  auto link = [&machine](uint64_t t, uint32_t n, bool up) {
    machine.At(t, [&machine, n, up] { sim::SetAdapterLink(machine, Guid(n), up); });
  };
  link(T + 500, 2, false);
  // Ports 6 and 7 share their PCI place, and so their identity in the trap sink: from here on
  // their records differ, and each must carry its own over the rebuilds.
  link(2 * T + 800, 7, false);
  link(T + 700, 22, false);  // a member of team 1
  link(2 * T + 500, 2, true);
  link(3 * T + 500, 22, true);
  link(3 * T + 600, 26, false);  // a member of the VLANs' team
  machine.At(4 * T + 500, [&machine] { sim::RemoveAdapter(machine, Guid(3)); });
  machine.At(5 * T + 500, [&machine] { sim::AddAdapter(machine, Port(70, 70, 30, 0)); });
  machine.At(5 * T + 600, [&machine] { sim::RemoveAdapter(machine, Guid(52)); });
  link(6 * T + 500, 70, false);
  machine.At(7 * T + 500, [&machine] { AddTeamInterface(machine, 52, 3, 52, 12); });
  link(8 * T + 500, 26, true);
}

struct Observed {
  std::vector<sim::RegistryWrite> writes;
  std::vector<sim::ReportRecord> reports;
  std::string tree;
  uint64_t adapterAddressQueries = 0;
  uint64_t classKeyEnumerations = 0;
};

Observed Run(bool indexes, const std::function<void(sim::Machine&)>& server, uint64_t durationMs) {
  crv::ResetProcessState();
  Observed out;
  {
    sim::Machine machine;
    server(machine);
    machine.Install();
    machine.RecordRegistryWrites(true);
    crv::State().useListIndexes = indexes;
    std::string program = "crvnichost.exe";
    char* argv[] = {program.data(), nullptr};
    machine.Run([&] { Win2KMain(1, argv); }, durationMs);
    out.writes = machine.RegistryWrites();
    out.reports = machine.Reports();
    out.tree = machine.registry().Dump(kTree);
    out.adapterAddressQueries = machine.CallCount("GetAdaptersAddresses");
    out.classKeyEnumerations = machine.CallCount("RegEnumKeyExW");
    crv::ResetProcessState();  // while the machine is still there
    machine.ReleaseAbandoned();
  }
  return out;
}

// One line per write or report: the runs are compared line by line.
std::string Describe(const sim::RegistryWrite& w) {
  std::string text = std::to_string(w.timeMs) + " ms " + crv::Utf16ToUtf8(w.keyName) + "\\" +
                     crv::Utf16ToUtf8(w.valueName) + " type " + std::to_string(w.type) + ":";
  for (uint8_t byte : w.data) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02x", byte);
    text += hex;
  }
  return text;
}

std::string Describe(const sim::ReportRecord& r) {
  char head[48];
  std::snprintf(head, sizeof head, "%llu ms 0x%08X ", static_cast<unsigned long long>(r.timeMs),
                r.code);
  return head + (r.hasMessage ? crv::Utf16ToUtf8(r.message) : "(no text)") + " value " +
         std::to_string(r.value);
}

// Compares two sequences item by item and names the first difference.
template <class Item>
void ExpectSameSequence(const char* what, const std::vector<Item>& indexed,
                        const std::vector<Item>& plain) {
  for (size_t i = 0; i < std::min(indexed.size(), plain.size()); ++i) {
    if (Describe(indexed[i]) != Describe(plain[i])) {
      ADD_FAILURE() << what << " " << i << " differs:\n  with indexes:    " << Describe(indexed[i])
                    << "\n  without indexes: " << Describe(plain[i]);
      return;
    }
  }
  EXPECT_EQ(plain.size(), indexed.size()) << what << "s: one run made more than the other";
}

// Runs the server with and without indexes and compares; returns the two runs, in that order.
std::pair<Observed, Observed> ExpectEquivalent(const std::function<void(sim::Machine&)>& server,
                                               uint64_t durationMs) {
  Observed indexed = Run(true, server, durationMs);
  Observed plain = Run(false, server, durationMs);
  ExpectSameSequence("registry write", indexed.writes, plain.writes);
  ExpectSameSequence("report", indexed.reports, plain.reports);
  EXPECT_EQ(plain.tree, indexed.tree);
  return {indexed, plain};
}

TEST(IndexEquivalenceTest, TeamsVlansLinkFlapsAndHotPlugPublishAlike) {
  auto [indexed, plain] = ExpectEquivalent(MixedServer, 10 * T);
  // The switch did change how the agent asked: the shared answers were read once per cycle.
  EXPECT_LT(indexed.adapterAddressQueries, plain.adapterAddressQueries);
  EXPECT_LT(indexed.classKeyEnumerations, plain.classKeyEnumerations);
  // The runs were not empty: traps of every kind the flaps cause, VLAN records, rebuilds.
  std::map<std::u16string, size_t> writes;  // by key name and by value name
  for (const auto& w : indexed.writes) ++writes[w.keyName], ++writes[w.valueName];
  for (const char16_t* key : {u"Trap_ConnectivityLost", u"Trap_ConnectivityRegained",
                              u"Trap_RedundancyReduced", u"VlanInterface"})
    EXPECT_GT(writes[key], 0u) << crv::Utf16ToUtf8(key);
  EXPECT_GE(writes[u"Status"], 4u);
}

// Answers that fail, and a network class key that changes between cycles: the snapshots are
// read again each cycle, and a failed read leaves every caller to meet (and report) the
// failure as it would without them.
TEST(IndexEquivalenceTest, FailingAndChangingAnswersAreMetAlike) {
  ExpectEquivalent(
      [](sim::Machine& machine) {
        MixedServer(machine);
        EXPECT_TRUE(machine.FailCall("GetAdaptersAddresses", 0, 8));  // every call
        const std::u16string classKey =
            u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
        // Port 5's network class subkey goes, and port 2's takes port 4's GUID: port 4 then
        // has two, and the first in enumeration order is the one it reads. Then the whole
        // class key goes.
        machine.At(2 * T + 100, [&machine, classKey] {
          machine.registry().DeleteTree(classKey + u"\\0004");
          machine.registry().SetString(classKey + u"\\0001", u"NetCfgInstanceID", Guid(4));
        });
        machine.At(3 * T + 100, [&machine, classKey] { machine.registry().DeleteTree(classKey); });
      },
      6 * T);
}

}  // namespace
