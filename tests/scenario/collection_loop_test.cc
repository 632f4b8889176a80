// The collection loop on the virtual clock: when it builds, publishes, retries and gives up,
// and what wake events, unreadable tables and extreme intervals do to it. Calls that do not
// come back: a miniport request that never completes stalls the collection pass, the service's
// thread sees it, reports it, writes the warning event and ends the agent with an error; the
// service control manager's recovery action, set by "-install", starts it again and the new
// agent publishes. A call that only blocks for a while is waited for.
#include <gtest/gtest.h>

#include "common/process_state.h"
#include "common/report.h"
#include "events/event_messages.h"
#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/harness/agent_process.h"
#include "scenario_helpers.h"
#include "service/collection_watchdog.h"
#include "service/dc_struct.h"
#include "service/recovery_actions.h"
#include "support/sim_fixture.h"

namespace {

using namespace scenariotest;

class CollectionLoopTest : public ServerTest {
 protected:
  CollectionLoopTest() {
    AddLoopback(machine);
    crvtest::AddTestAdapter(machine, 7);
  }

  // Samples the cycle counter (the number of publication cycles so far) at these times.
  void SampleCycles(std::initializer_list<uint64_t> times) {
    for (uint64_t t : times) {
      machine.At(t, [this, t] { cycles[t] = crv::State().cycleCounter; });
    }
  }

  std::vector<uint64_t> TimesOf(const std::u16string& message) const {
    return crvtest::ReportTimes(machine, message);
  }
  std::vector<uint64_t> WaitTimes() const {
    std::vector<uint32_t> waits = crvtest::ReportValues(machine, u"Collect poll Timeout");
    return {waits.begin(), waits.end()};
  }

  std::map<uint64_t, uint32_t> cycles;
};

TEST_F(CollectionLoopTest, PublishesAtOnceThenOncePerInterval) {
  SampleCycles({1, T - 1, T + 1, 2 * T + 1});
  machine.RecordRegistryWrites(true);
  RunAgent({"crvnichost.exe"}, 2 * T + 10);
  EXPECT_EQ((std::map<uint64_t, uint32_t>{{1, 1}, {T - 1, 1}, {T + 1, 2}, {2 * T + 1, 3}}), cycles);
  // Each cycle marks the tree as being rewritten, then ready, then writes the summary and
  // the time it finished.
  std::vector<std::u16string> first;
  for (const auto& w : machine.RegistryWrites()) {
    if (w.timeMs == 0) {
      first.push_back(w.valueName +
                      (w.type == 4 ? u"=" + std::u16string(1, u'0' + w.data[0]) : u""));
    }
  }
  EXPECT_EQ((std::vector<std::u16string>{
                u"Status=1", u"SoftwareRevisions", u"InterfaceData_Ready=0", u"InterfaceMap001",
                u"PhysAdapter001", u"InterfaceMap002", u"Statistics007", u"InterfaceData_Ready=1",
                u"IfTableInformation", u"MibStats", u"MibStats", u"InterfaceData_CycleTime"}),
            first);
  EXPECT_TRUE(TimesOf(u"Detected change in interface table, reinitializing").empty());
}

TEST_F(CollectionLoopTest, EveryBuildFailingEndsTheThreadAfterSixBuilds) {
  EXPECT_TRUE(machine.FailCall("GetIfTable", 0, 31));
  auto run = RunAgent({"crvnichost.exe"}, 100 * T);
  // Only the caller's watchdog is left, waking every 15 s.
  EXPECT_EQ(sim::RunEnd::kDurationOver, run.end);
  EXPECT_EQ((std::vector<uint64_t>{0, T, 3 * T, 7 * T, 15 * T, 31 * T}),
            TimesOf(u"::MyGetIfTable: GetIfTable failed"));
  EXPECT_EQ((std::vector<uint64_t>{T, 2 * T, 4 * T, 8 * T, 16 * T}), WaitTimes());
  EXPECT_EQ((std::vector<uint64_t>{31 * T}),
            TimesOf(u"DataCollectionThread: init failed after retries."));
  EXPECT_FALSE(machine.registry().KeyExists(u"SYSTEM\\TessarNetwork"));
  EXPECT_EQ(1u, machine.CallCount("CancelMibChangeNotify2"));  // its registration given back
  // Giving up is one error event after the start, with the last status.
  const auto& events = machine.eventLog().Events();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ(crv::kEventCollectionStopped, events[1].eventId);
  EXPECT_EQ(platform::kEventLogErrorType, events[1].type);
  EXPECT_EQ(31 * T, events[1].timeMs);
  EXPECT_EQ(std::vector<std::u16string>{u"0x0000001F"}, events[1].strings);
}

TEST_F(CollectionLoopTest, ASuccessfulRetryRestoresIntervalAndAllowanceForAFailedRebuild) {
  EXPECT_TRUE(machine.FailCall("GetIfTable", 1, 31));
  // Builds at 0 and T fail, the one at 3T succeeds.
  EXPECT_TRUE(machine.FailCall("GetIfTable", 2, 31));
  // A new interface at 5T, and every build after that change test fails: with the allowance
  // back at four, the rebuild and five retries run before the thread gives up.
  machine.At(5 * T - 1, [this] {
    machine.network().Add(crvtest::InterfaceRow(9, 6, "Broadcom NetXtreme Gigabit Ethernet", 9));
    // The change test right after this reads the table twice (size, then rows); every read
    // after those fails.
    uint64_t next = machine.CallCount("GetIfTable");
    for (uint64_t n = 3; n <= 40; ++n)
      EXPECT_TRUE(machine.FailCall("GetIfTable", static_cast<uint32_t>(next + n), 31));
  });
  SampleCycles({3 * T + 1});
  machine.RecordRegistryWrites(true);
  RunAgent({"crvnichost.exe"}, 200 * T);
  // The retry that succeeds publishes at once, a whole cycle, not only the empty tree.
  ASSERT_EQ(1u, cycles[3 * T + 1]);
  EXPECT_EQ(3 * T, ReadyWrites(machine, 1).at(0));
  auto waits = WaitTimes();
  ASSERT_GE(waits.size(), 4u);
  EXPECT_EQ((std::vector<uint64_t>{T, 2 * T, T, T}),
            std::vector<uint64_t>(waits.begin(), waits.begin() + 4));
  EXPECT_EQ((std::vector<uint64_t>{5 * T}),
            TimesOf(u"Detected change in interface table, reinitializing"));
  // The rebuild at 5T fails; retries after T, 2T, 4T, 8T and 16T; the fifth of them ends it.
  EXPECT_EQ((std::vector<uint64_t>{0, T, 5 * T, 6 * T, 8 * T, 12 * T, 20 * T, 36 * T}),
            TimesOf(u"::MyGetIfTable: GetIfTable failed"));
  EXPECT_EQ((std::vector<uint64_t>{36 * T}),
            TimesOf(u"DataCollectionThread: init failed after retries."));
  // The failed rebuild destroyed the old model and with it the published tree.
  EXPECT_FALSE(machine.registry().KeyExists(u"SYSTEM\\TessarNetwork\\Interface"));
}

TEST_F(CollectionLoopTest, WakeEventsOnlyCutTheWaitShort) {
  for (uint64_t t = 5000; t < 4 * T; t += 5000) {
    machine.SetEventAt(t, t % 10000 ? u"CrvMNicSCMEvent" : u"CrvMNicInitEvent");
  }
  SampleCycles({4 * T - 1, 5 * T - 1});
  RunAgent({"crvnichost.exe"}, 5 * T);
  EXPECT_EQ(1u, cycles[4 * T - 1]);                     // no refresh while the signals continue
  EXPECT_EQ(2u, cycles[5 * T - 1]);                     // one quiet interval after the last one
  EXPECT_EQ(machine.CallCount("GetIfTable"), 2u + 2u);  // the build, then one change test
}

TEST_F(CollectionLoopTest, UnreadableTableDuringAPollRepublishesTheOldModel) {
  EXPECT_TRUE(machine.FailCall("GetIfTable", 3, 31));  // the first change test
  machine.network().Add(
      crvtest::InterfaceRow(9, 6, "late", 9));  // would be a change, but cannot be seen
  SampleCycles({T + 1});
  RunAgent({"crvnichost.exe"}, T + 10);
  EXPECT_EQ(2u, cycles[T + 1]);
  EXPECT_TRUE(TimesOf(u"Detected change in interface table, reinitializing").empty());
}

// Out-of-range settings: all ones would be an INFINITE wait, and 2^31 wrapped to 0 when a
// failed build doubled it. Both are the longest interval, and polls go on at it.
TEST_F(CollectionLoopTest, AnIntervalOfAllOnesIsClampedToADayAndPollsGoOn) {
  constexpr uint64_t kDay = crv::kMaximumPollInterval;
  machine.registry().SetDword(kParameters, u"Timeout", 0xFFFFFFFFu);
  SampleCycles({1, kDay + 1});
  RunAgent({"crvnichost.exe"}, kDay + 10);
  EXPECT_EQ((std::map<uint64_t, uint32_t>{{1, 1}, {kDay + 1, 2}}), cycles);
  EXPECT_EQ((std::vector<uint64_t>{kDay, kDay}), WaitTimes());
}

TEST_F(CollectionLoopTest, RetryWaitsDoubleNoFurtherThanADay) {
  constexpr uint64_t kDay = crv::kMaximumPollInterval;
  machine.registry().SetDword(kParameters, u"Timeout", 0x80000000u);
  EXPECT_TRUE(machine.FailCall("GetIfTable", 0, 31));
  auto run = RunAgent({"crvnichost.exe"}, 10 * kDay);
  EXPECT_EQ((std::vector<uint64_t>{kDay, kDay, kDay, kDay, kDay}), WaitTimes());
  EXPECT_EQ((std::vector<uint64_t>{5 * kDay}),
            TimesOf(u"DataCollectionThread: init failed after retries."));
  EXPECT_EQ(sim::RunEnd::kDurationOver, run.end);
}

constexpr uint64_t kBlockFromMs = 95000;
// The first link query at or after kBlockFromMs is in the pass of the poll at 4 T.
constexpr uint64_t kStuckPassMs = 4 * T;

class HungCallTest : public CollectionLoopTest {
 protected:
  HungCallTest() { machine.RecordRegistryWrites(true); }

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
  std::vector<uint64_t> ready = ReadyWrites(machine, 1);
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
  std::vector<uint64_t> ready = ReadyWrites(machine, 1);
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
