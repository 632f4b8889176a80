// Team members' links, which no interface change notification announces: the link state
// watch on the default server, whose Intel ports are the members of a team.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/report.h"
#include "platform/sim/api/interface_notify_sim.h"
#include "scenario_helpers.h"

namespace {

using namespace scenariotest;

const std::u16string kMember1 = u"{3F1A6C10-8A2E-4C51-9B0D-1E2F3A4B5C01}";
const std::u16string kMember2 = u"{3F1A6C10-8A2E-4C51-9B0D-1E2F3A4B5C02}";
const std::u16string kWatchFailed =
    u"Link state watch: GetIfEntry2 failed, team members' links wait for the poll";
constexpr uint64_t kWithin = 1000;  // what the watch promises: a trap within a second

class MemberLinkWatchTest : public ScenarioServerTest {
 public:
  MemberLinkWatchTest() { machine.RecordRegistryWrites(true); }

  // Without the watch a member's change waits for the poll: GetIfEntry2 failing (one report,
  // and the watch ends) or the switch off (no report of the watch's).
  void ExpectTheMemberWaitsForThePoll(size_t watchReports) {
    LinkAt(73400, kMember2, false);
    Run(100000);
    auto traps = Traps(machine);
    ASSERT_EQ(1u, traps.size()) << crvtest::DescribeReports(machine);
    EXPECT_EQ(crv::kTrapRedundancyReduced, traps[0].code);
    EXPECT_GT(traps[0].timeMs, 73400 + kWithin);
    EXPECT_EQ(watchReports, crvtest::ReportValues(machine, kWatchFailed).size());
  }
};

void ExpectTrappedWithin(const SeenTrap& trap, uint64_t t) {
  EXPECT_TRUE(trap.timeMs >= t && trap.timeMs <= t + kWithin) << trap.timeMs << " for " << t;
}

// The case: the second member pulled and plugged back between polls (poll 30 s).
TEST_F(MemberLinkWatchTest, APulledAndPluggedMemberIsTrappedWithinASecond) {
  LinkAt(73400, kMember2, false);
  LinkAt(167700, kMember2, true);
  Run(200000);
  auto traps = Traps(machine);
  ASSERT_EQ(2u, traps.size()) << crvtest::DescribeReports(machine);
  EXPECT_EQ(
      Fields(crv::kTrapRedundancyReduced, 1, crv::kTrapRedundancyIncreased, 2, traps[0].port),
      Fields(traps[0].code, traps[0].teamLinks, traps[1].code, traps[1].teamLinks, traps[1].port));
  ExpectTrappedWithin(traps[0], 73400);
  ExpectTrappedWithin(traps[1], 167700);
  // The IP stack said nothing: the members and the team's interfaces are no IP interfaces
  // whose state changed.
  EXPECT_EQ(0u, machine.interfaceNotifier().Delivered());
}

// Both members lost 50 ms apart, seen by one pass: "redundancy reduced" (one link left) for
// the first port, "connectivity lost" for the second, within a second of the last loss.
TEST_F(MemberLinkWatchTest, BothMembersLostInOneBurst) {
  LinkAt(73400, kMember2, false);
  LinkAt(73450, kMember1, false);
  Run(120000);
  auto traps = Traps(machine);
  ASSERT_EQ(2u, traps.size()) << crvtest::DescribeReports(machine);
  std::ranges::sort(traps, {}, &SeenTrap::port);
  EXPECT_EQ((std::vector<uint64_t>{crv::kTrapRedundancyReduced, 1, crv::kTrapConnectivityLost}),
            Fields(traps[0].code, traps[0].teamLinks, traps[1].code));
  EXPECT_EQ(traps[0].timeMs, traps[1].timeMs);
  EXPECT_LE(traps[1].timeMs, 73450 + kWithin);
}

// A member flapping every 100 ms for five seconds: passes at least a second apart, and the
// last state (down) trapped within a second of the storm's end.
TEST_F(MemberLinkWatchTest, AStormOnAMemberIsHeldToOnePassASecond) {
  for (uint64_t t = 70000; t <= 75000; t += 100) LinkAt(t, kMember2, (t - 70000) / 100 % 2 == 1);
  Run(89000);  // before the next poll
  auto passes = ReadyWrites(machine, 0);
  passes.erase(passes.begin(), std::lower_bound(passes.begin(), passes.end(), 70000u));
  ASSERT_FALSE(passes.empty());
  EXPECT_LE(passes.size(), 7u);
  for (size_t i = 1; i < passes.size(); ++i) EXPECT_GE(passes[i] - passes[i - 1], 1000u);
  auto traps = Traps(machine);
  ASSERT_FALSE(traps.empty());
  EXPECT_EQ(crv::kTrapRedundancyReduced, traps.back().code);
  EXPECT_LE(traps.back().timeMs, 75000 + kWithin);
}

// The wait of the pause after a notified pass fails: it is reported with its own error, and
// the watch goes on.
TEST_F(MemberLinkWatchTest, APauseWhoseWaitFailsIsReportedWithItsError) {
  LinkAt(73400, kMember2, false);
  machine.At(73400, [this] {
    // The slice waiting now returns, the pass drains the notification event, then the pause.
    uint32_t pause = static_cast<uint32_t>(machine.CallCount("WaitForMultipleObjects")) + 2;
    EXPECT_TRUE(machine.FailCall("WaitForMultipleObjects", pause, platform::kErrorInvalidHandle));
  });
  LinkAt(80000, kMember2, true);
  Run(89000);
  std::vector<uint32_t> failedWaits;
  for (const auto& report : machine.Reports()) {
    if (report.code == crv::kReportWaitFailed) failedWaits.push_back(report.value);
  }
  EXPECT_EQ(std::vector<uint32_t>{platform::kErrorInvalidHandle}, failedWaits);
  auto traps = Traps(machine);
  ASSERT_EQ(2u, traps.size()) << crvtest::DescribeReports(machine);
  ExpectTrappedWithin(traps[1], 80000);
}

TEST_F(MemberLinkWatchTest, GetIfEntry2FailingLeavesMembersToThePoll) {
  ASSERT_TRUE(machine.FailCall("GetIfEntry2", 0, platform::kErrorProcNotFound));
  ExpectTheMemberWaitsForThePoll(1);
}

TEST_F(MemberLinkWatchTest, SwitchedOffMembersWaitForThePoll) {
  machine.registry().SetDword(kParameters, u"ImmediateUpdates", 0);
  ExpectTheMemberWaitsForThePoll(0);
}

}  // namespace
