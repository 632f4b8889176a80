// The default server end to end: as Windows lists and starts it (filter and member rows in the
// interface table, NIC Teaming's WMI provider missing for the first minutes, device lists that
// grow between their size call and their read), and the agent's events in its Application log
// (one per trap record, written with it and carrying its data, and the start of collection;
// its end is the collection loop's test), a log that refuses them costing one report each.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "common/process_state.h"
#include "events/event_messages.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/harness/agent_process.h"
#include "platform/sim/harness/event_text.h"
#include "platform/sim/scenario/scenario.h"
#include "scenario_helpers.h"

namespace {

using namespace scenariotest;

// A port as the management service tells ports apart: slot, number within the card, PCI
// identity, MAC address and team role.
using PortIdentity = std::string;

std::set<PortIdentity> PublishedPorts(sim::Machine& machine) {
  std::set<PortIdentity> ports;
  const std::u16string key = u"\\Interface\\PhysInterface";
  if (!machine.registry().KeyExists(kTree + key)) return ports;
  for (const auto& name : machine.registry().ValueNames(kTree + key)) {
    auto port = ReadRecord<crv::PhysAdapterRecord>(machine, key, name);
    if (!port) continue;
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02x-%02x-%02x-%02x-%02x-%02x", port->macAddress[0],
                  port->macAddress[1], port->macAddress[2], port->macAddress[3],
                  port->macAddress[4], port->macAddress[5]);
    ports.insert("slot " + std::to_string(port->slotNumber) + " port " +
                 std::to_string(port->portInCard) + " " + port->pciIdentity + " " + mac + " role " +
                 std::to_string(port->teamRole));
  }
  return ports;
}

struct ServerRun {
  std::set<PortIdentity> portsEarly;  // published at 100 s
  std::set<PortIdentity> portsAtEnd;
  std::vector<SeenTrap> traps;
  std::vector<uint64_t> teamRebuilds;  // when the model was rebuilt for the teams
  uint32_t cyclesBeforePoll = 0;       // publication cycles before the first poll
  std::vector<uint32_t> waits;         // the collection loop's waits
  std::string tree;                    // the interface tree at the end
  size_t rebuilds = 0;                 // rebuilds for a changed interface table
  std::vector<sim::EventRecord> events;
  std::string console;
  std::vector<sim::ReportRecord> reports;
};

// The default server with a change to its scenario, run for its whole duration.
ServerRun RunDefaultServer(const std::function<void(nlohmann::json&)>& change) {
  nlohmann::json description = nlohmann::json::parse(ScenarioFile("default.json"));
  change(description);
  sim::Machine server;
  sim::Scenario scenario = LoadInto(server, description.dump());
  ServerRun run;
  server.At(100000, [&] { run.portsEarly = PublishedPorts(server); });
  server.At(T - 1, [&] { run.cyclesBeforePoll = crv::State().cycleCounter; });
  sim::RunAgentProcess(server, scenario.commandLine, scenario.durationMs);
  run.portsAtEnd = PublishedPorts(server);
  run.traps = Traps(server);
  run.tree = server.registry().Dump(kTree + u"\\Interface");
  run.rebuilds =
      crvtest::ReportValues(server, u"Detected change in interface table, reinitializing").size();
  run.waits = crvtest::ReportValues(server, u"Collect poll Timeout");
  run.teamRebuilds =
      crvtest::ReportTimes(server, u"NIC teaming: the teams can be read now, reinitializing");
  run.events = server.eventLog().Events();
  run.console = server.ConsoleOutput();
  run.reports = server.Reports();
  EXPECT_EQ(0, server.eventLog().OpenSources());
  crv::ResetProcessState();
  return run;
}

const ServerRun& Reference() {
  static const ServerRun run = RunDefaultServer([](nlohmann::json&) {});
  return run;
}

bool IsPhantom(const PortIdentity& port) {
  return port.rfind("slot 4294967295 ", 0) == 0 || port.find("PCIID0x00000000") != port.npos;
}

// The default server lists filter rows around every adapter and the team members' own rows:
// it publishes and traps what it does without them, and only the hot-add rebuilds.
TEST(DefaultServerShapeTest, FilterAndMemberRowsChangeNothingPublished) {
  ASSERT_NE(std::string::npos, ScenarioFile("default.json").find("ndis_filters"));
  ServerRun plain = RunDefaultServer([](nlohmann::json& d) {
    d.erase("ndis_filters");
    for (auto& adapter : d["adapters"]) {
      if (!adapter.value("ip_binding", true)) adapter["if_index"] = 0;  // no row of its own
    }
  });
  EXPECT_EQ(Reference().tree, plain.tree);
  EXPECT_EQ(Reference().traps, plain.traps);
  EXPECT_FALSE(Reference().traps.empty());
  EXPECT_EQ(1u, Reference().rebuilds);  // the hot-added port
}

// NIC Teaming's namespace appears only two minutes after start. Until then the team
// interfaces are left out (no phantom port made of a team interface); the first poll after
// it appears rebuilds the model with the team, and every trap is the one the links justify.
TEST(WindowsAtBootTest, ATeamMissingFromWmiAtStartIsPublishedOnceWmiAnswers) {
  ServerRun run = RunDefaultServer([](nlohmann::json& d) {
    d["wmi"]["namespaces"] = {{{"namespace", "root\\StandardCimv2"}, {"missing_until_ms", 120000}}};
  });
  ASSERT_FALSE(run.portsEarly.empty());
  for (const auto& port : run.portsEarly) EXPECT_FALSE(IsPhantom(port)) << port;
  ASSERT_EQ(1u, run.teamRebuilds.size());
  EXPECT_GE(run.teamRebuilds[0], 120000u);
  EXPECT_LE(run.teamRebuilds[0], 150000u);  // the first poll after it
  EXPECT_EQ(Reference().portsAtEnd, run.portsAtEnd);
  EXPECT_EQ(Reference().traps, run.traps);
}

// A provider that is slow at boot (each object after 7 s, longer than one wait for it) is
// waited for: the first build has the team.
TEST(WindowsAtBootTest, ASlowTeamProviderIsWaitedFor) {
  ServerRun run = RunDefaultServer([](nlohmann::json& d) {
    d["wmi"]["classes"] = {{{"namespace", "root\\StandardCimv2"},
                            {"class", "MSFT_NetLbfoTeamMember"},
                            {"delivery_delay_ms", 7000},
                            {"delivery_delay_until_ms", 60000}}};
  });
  EXPECT_TRUE(run.teamRebuilds.empty());
  EXPECT_EQ(Reference().portsAtEnd, run.portsAtEnd);
  EXPECT_EQ(Reference().traps.size(), run.traps.size());
}

// The port hot-added at 8 minutes arrives instead while the first build reads a device list,
// between the size call and the read. The list is read again: the first build publishes at
// (before the first poll) with every other port, and with the new one when it arrived in
// the list of adapters; the interval is not doubled.
TEST(WindowsAtBootTest, AListThatGrowsWhileReadIsReadAgain) {
  for (const char* list : {"device_id_list", "device_interface_list"}) {
    SCOPED_TRACE(list);
    bool inIdList = std::string(list) == "device_id_list";
    ServerRun run = RunDefaultServer([list](nlohmann::json& d) {
      for (auto& entry : d["timeline"]) {
        if (!entry.contains("adapter_add")) continue;
        entry["at_ms"] = 0;
        entry["arrive_during"] = list;
      }
    });
    EXPECT_GE(run.cyclesBeforePoll, 1u);
    ASSERT_FALSE(run.waits.empty());
    EXPECT_EQ(T, run.waits[0]);
    if (inIdList) {
      size_t slot4 = 0;
      for (const auto& port : run.portsEarly) slot4 += port.rfind("slot 4 ", 0) == 0;
      EXPECT_EQ(1u, slot4);
    }
    for (const auto& port : Reference().portsAtEnd) {
      if (port.rfind("slot 4 ", 0) != 0) {
        EXPECT_EQ(1u, run.portsEarly.count(port)) << port;
      }
    }
  }
}

constexpr uint16_t kWarning = platform::kEventLogWarningType;
constexpr uint16_t kInformation = platform::kEventLogInformationType;

std::vector<std::string> Texts(const sim::EventRecord& event) {
  std::vector<std::string> texts;
  for (const auto& s : event.strings) texts.push_back(crv::Utf16ToUtf8(s));
  return texts;
}

TEST(EventLogTest, EveryTrapRecordHasItsEventWrittenAtTheSameMomentWithItsData) {
  const ServerRun& run = Reference();
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(crv::kEventAgentStarted, run.events[0].eventId);
  EXPECT_EQ(kInformation, run.events[0].type);
  EXPECT_EQ(std::vector<std::string>{"30"}, Texts(run.events[0]));

  std::vector<sim::EventRecord> linkEvents(run.events.begin() + 1, run.events.end());
  ASSERT_EQ(5u, run.traps.size());  // lost, reduced, increased, regained, the hot-added port
  ASSERT_EQ(run.traps.size(), linkEvents.size());
  const std::pair<uint32_t, uint16_t> kinds[] = {{crv::kEventConnectivityLost, kWarning},
                                                 {crv::kEventRedundancyReduced, kWarning},
                                                 {crv::kEventRedundancyIncreased, kInformation},
                                                 {crv::kEventConnectivityRegained, kInformation},
                                                 {crv::kEventConnectivityRegained, kInformation}};
  for (size_t i = 0; i < run.traps.size(); ++i) {
    const sim::EventRecord& event = linkEvents[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(kinds[i], std::pair(event.eventId, event.type));
    EXPECT_EQ(u"CRVNicMgmt", event.source);
    EXPECT_EQ(run.traps[i].timeMs, event.timeMs);
    EXPECT_EQ(crv::FindEventMessage(event.eventId)->inserts, event.strings.size());
  }
  // The Broadcom cable: the second on-board port; the Intel one: the second port of the team
  // in slot 3, whose other port keeps its link.
  EXPECT_EQ((std::vector<std::string>{"2", "0", "bus 2, device 0, function 1",
                                      "Ethernet 4 (Broadcom NetXtreme Gigabit Ethernet #2)"}),
            Texts(linkEvents[0]));
  EXPECT_EQ((std::vector<std::string>{
                "2", "3", "bus 5, device 0, function 1",
                "Team1 - VLAN 10 (Microsoft Network Adapter Multiplexor Driver)", "1", "2"}),
            Texts(linkEvents[1]));
  EXPECT_EQ("2", Texts(linkEvents[2])[4]);
  EXPECT_EQ(Texts(linkEvents[0]), Texts(linkEvents[3]));

  // As nicsim --events shows them: the inserts in their places; an id without a sentence.
  EXPECT_EQ(
      "Network connectivity lost on interface Ethernet 4 (Broadcom NetXtreme Gigabit "
      "Ethernet #2): port 2 in slot 0 (PCI bus 2, device 0, function 1) has no link. Check "
      "the cable and the switch port it is connected to.",
      crv::Utf16ToUtf8(sim::FormatEventMessage(linkEvents[0])));
  sim::EventRecord unknown{.source = u"CRVNicMgmt", .eventId = 4242, .strings = {u"a", u"b"}};
  EXPECT_EQ(u"The description for Event ID 4242 from source CRVNicMgmt cannot be found. a b",
            sim::FormatEventMessage(unknown));
}

// A log that cannot be written to: one report per event, and the console, the trap records
// and everything else as in a run with a working log.
TEST(EventLogTest, ALogThatRefusesEventsCostsOneReportEachAndNothingElse) {
  const ServerRun& good = Reference();
  for (const char* call : {"RegisterEventSourceW", "ReportEventW"}) {
    SCOPED_TRACE(call);
    ServerRun bad = RunDefaultServer([call](nlohmann::json& d) {
      d["faults"].push_back({{"call", call}, {"status", platform::kErrorAccessDenied}});
    });
    EXPECT_TRUE(bad.events.empty());
    EXPECT_EQ(good.traps, bad.traps);
    EXPECT_EQ(good.console, bad.console);
    // The working run's reports and one more for each event.
    std::u16string refused = std::string(call) == "ReportEventW"
                                 ? u"Event log: failure to report an event"
                                 : u"Event log: failure to register the event source";
    auto refusals = std::count_if(bad.reports.begin(), bad.reports.end(), [&](const auto& r) {
      return r.message == refused && r.value == platform::kErrorAccessDenied;
    });
    EXPECT_EQ(static_cast<std::ptrdiff_t>(good.events.size()), refusals);
    EXPECT_EQ(good.reports.size() + good.events.size(), bad.reports.size());
  }
}

}  // namespace
