// Calls that do not come back: a miniport request that never completes stalls the collection
// pass, the service's thread sees it, reports it, writes the warning event and ends the agent
// with an error; the service control manager's recovery action, set by "-install", starts it
// again and the new agent publishes. A call that only blocks for a while is waited for.
#include <gtest/gtest.h>

#include "common/report.h"
#include "events/event_messages.h"
#include "platform/sim/agent_process.h"
#include "platform/sim/api/event_log_sim.h"
#include "scenario_helpers.h"
#include "service/collection_watchdog.h"
#include "service/recovery_actions.h"

namespace {

using namespace scenariotest;

constexpr uint64_t kBlockFromMs = 95000;
// The first link query at or after kBlockFromMs is in the pass of the poll at 4 T.
constexpr uint64_t kStuckPassMs = 4 * T;

class HungCallTest : public ServerTest {
 protected:
  HungCallTest() {
    AddLoopback(machine);
    crvtest::AddTestAdapter(machine, 2);
    machine.RecordRegistryWrites(true);
  }

  // When the tree was marked ready (InterfaceData_Ready = 1).
  std::vector<uint64_t> ReadyTimes() const {
    std::vector<uint64_t> times;
    for (const auto& write : machine.RegistryWrites()) {
      if (write.valueName == u"InterfaceData_Ready" && !write.data.empty() && write.data[0] == 1) {
        times.push_back(write.timeMs);
      }
    }
    return times;
  }
  std::vector<uint64_t> StallReports() const {
    return crvtest::ReportTimes(machine, u"Collection pass stalled, seconds");
  }
  std::vector<sim::EventRecord> StallEvents() {
    std::vector<sim::EventRecord> events;
    for (const auto& event : machine.eventLog().Events()) {
      if (event.eventId == crv::kEventCollectionStalled) events.push_back(event);
    }
    return events;
  }
};

TEST_F(HungCallTest, AMiniportRequestThatNeverCompletesRestartsTheService) {
  ASSERT_EQ(RunAgent({"crvnichost.exe", "-install"}).result, 0);
  ASSERT_TRUE(machine.BlockCall("DeviceIoControl", 0, kBlockFromMs, sim::FaultPlan::kBlockForever));
  sim::ServiceRun run = sim::RunServiceProcess(machine, u"CRVNicMgmt", 900000);

  const uint64_t limit = crv::StallLimitMs(static_cast<uint32_t>(T));
  ASSERT_EQ(StallReports().size(), 1u) << crvtest::DescribeReports(machine);
  const uint64_t seen = StallReports()[0];
  EXPECT_GT(seen, kStuckPassMs + limit);
  EXPECT_LE(seen, kStuckPassMs + limit + crv::kWatchdogCheckMs);
  auto events = StallEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, platform::kEventLogWarningType);
  EXPECT_EQ(events[0].strings, std::vector<std::u16string>{
                                   crv::Utf8ToUtf16(std::to_string((seen - kStuckPassMs) / 1000))});

  // The agent ended with the stall's code; the first recovery action restarted it.
  auto record = machine.services().Get(u"CRVNicMgmt");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ((std::vector<uint32_t>{record->win32ExitCode, record->serviceSpecificExitCode,
                                   record->failureCount}),
            (std::vector<uint32_t>{1066, static_cast<uint32_t>(crv::kExitCollectionStalled), 1}));
  ASSERT_EQ(run.startsMs.size(), 2u);
  EXPECT_TRUE(run.runs[0].returned);
  EXPECT_EQ(run.startsMs[1], seen + crv::kRecoveryActions[0].delayMs);
  EXPECT_FALSE(run.runs[1].returned);

  // Nothing was published while the pass hung; the restarted agent publishes every cycle.
  std::vector<uint64_t> ready = ReadyTimes();
  EXPECT_EQ(std::count_if(ready.begin(), ready.end(),
                          [&](uint64_t t) { return t >= kStuckPassMs && t < run.startsMs[1]; }),
            0);
  EXPECT_GE(
      std::count_if(ready.begin(), ready.end(), [&](uint64_t t) { return t >= run.startsMs[1]; }),
      (900000 - static_cast<int64_t>(run.startsMs[1])) / static_cast<int64_t>(T));
}

TEST_F(HungCallTest, ACallBlockedForLessThanTheLimitIsWaitedFor) {
  const uint64_t blockMs = crv::StallLimitMs(static_cast<uint32_t>(T)) - crv::kWatchdogCheckMs;
  ASSERT_TRUE(machine.BlockCall("DeviceIoControl", 0, kBlockFromMs, blockMs));
  sim::AgentRun run = RunAgent({"crvnichost.exe"}, 900000);
  EXPECT_FALSE(run.returned);
  EXPECT_TRUE(StallReports().empty());
  EXPECT_TRUE(StallEvents().empty());
  std::vector<uint64_t> ready = ReadyTimes();
  ASSERT_FALSE(ready.empty());
  EXPECT_GE(ready.back(), 900000 - T);  // polling goes on after the blocked call answered
}

// Run from a console (-runasexe) nobody would start the agent again: the stall is reported
// once and the agent goes on.
TEST_F(HungCallTest, RunAsAnExeAStallIsReportedOnceAndTheAgentStays) {
  ASSERT_TRUE(machine.BlockCall("DeviceIoControl", 0, kBlockFromMs, sim::FaultPlan::kBlockForever));
  sim::AgentRun run = RunAgent({"crvnichost.exe", "-runasexe"}, 900000);
  EXPECT_FALSE(run.returned);
  EXPECT_EQ(StallReports().size(), 1u);
  EXPECT_EQ(StallEvents().size(), 1u);
}

}  // namespace
