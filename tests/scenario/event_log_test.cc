// The agent's events in the simulated server's Application log: one per trap record, written
// with it and carrying its data, and the start of collection (its end is the collection loop's
// test); and a log that refuses them costing one report each and nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/utf.h"
#include "events/event_messages.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/scenario/scenario.h"
#include "scenario_helpers.h"
#include "support/sim_fixture.h"

namespace {

using namespace scenariotest;

constexpr uint16_t kWarning = platform::kEventLogWarningType;
constexpr uint16_t kInformation = platform::kEventLogInformationType;

struct ServerRun {
  std::vector<sim::EventRecord> events;
  std::vector<SeenTrap> traps;
  std::string console;
  std::vector<sim::ReportRecord> reports;
};

// The default server's run (its cable pulls raise every kind of trap), with the faults set.
ServerRun RunDefaultServer(const std::vector<std::pair<std::string, uint32_t>>& failAlways = {}) {
  sim::Machine server;
  sim::Scenario scenario = LoadInto(server, ScenarioFile("default.json"));
  for (const auto& [call, status] : failAlways) EXPECT_TRUE(server.FailCall(call, 0, status));
  sim::RunAgentProcess(server, scenario.commandLine, scenario.durationMs);
  ServerRun run{server.eventLog().Events(), Traps(server), server.ConsoleOutput(),
                server.Reports()};
  EXPECT_EQ(0, server.eventLog().OpenSources());
  crv::ResetProcessState();
  return run;
}

std::vector<std::string> Texts(const sim::EventRecord& event) {
  std::vector<std::string> texts;
  for (const auto& s : event.strings) texts.push_back(crv::Utf16ToUtf8(s));
  return texts;
}

TEST(EventLogTest, EveryTrapRecordHasItsEventWrittenAtTheSameMomentWithItsData) {
  ServerRun run = RunDefaultServer();
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
  ServerRun good = RunDefaultServer();
  for (const char* call : {"RegisterEventSourceW", "ReportEventW"}) {
    SCOPED_TRACE(call);
    ServerRun bad = RunDefaultServer({{call, platform::kErrorAccessDenied}});
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
