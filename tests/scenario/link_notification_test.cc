// Passes on interface change notifications: how soon a link change becomes a trap, what a
// storm costs, a change announced in the middle of a pass, and the agent without them.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/process_state.h"
#include "common/report.h"
#include "platform/sim/api/interface_notify_sim.h"
#include "platform/sim/scenario/scenario.h"
#include "scenario_helpers.h"
#include "support/sim_fixture.h"

namespace {

using namespace scenariotest;

const std::u16string kPort7 = u"{00000000-0000-0000-0000-000000000007}";
const std::u16string kUnavailable = u"Interface change notification unavailable, polling only";

class LinkNotificationTest : public ServerTest {
 protected:
  LinkNotificationTest() {
    AddLoopback(machine);
    crvtest::AddTestAdapter(machine, 7);
    machine.interfaceNotifier().SetDelayMs(100);
    machine.RecordRegistryWrites(true);
  }

  // Start times of the publication passes (the tree marked as being rewritten).
  std::vector<uint64_t> PassTimes() const { return ReadyWrites(machine, 0); }

  std::vector<uint32_t> ValuesOf(const std::u16string& message) const {
    return crvtest::ReportValues(machine, message);
  }
};

// The pull and the plug each get a pass 100 ms after the change; the regular poll goes on one
// interval after the last pass; an interface added then is rebuilt, and its port's link
// trapped, 100 ms after it comes.
TEST_F(LinkNotificationTest, ACablePullPlugAndAddedInterfaceGetAPassWithinASecond) {
  LinkAt(45000, kPort7, false);
  LinkAt(52000, kPort7, true);
  machine.At(85000, [this] { crvtest::AddTestAdapter(machine, 9); });
  RunAgent({"crvnichost.exe"}, 90000);
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapConnectivityLost, 45100, 1},
                                   {crv::kTrapConnectivityRegained, 52100, 1},
                                   {crv::kTrapConnectivityRegained, 85100, 2}}),
            Traps());
  EXPECT_EQ((std::vector<uint64_t>{0, T, 45100, 52100, 52100 + T, 85100}), PassTimes());
  EXPECT_EQ(1u, ValuesOf(u"Detected change in interface table, reinitializing").size());
  EXPECT_TRUE(Port(u"PhysAdapter002"));
  EXPECT_TRUE(ValuesOf(kUnavailable).empty());
}

// A port flapping every 100 ms for five seconds (two notifications per change, one per
// address family): passes at least a second apart, and the last state is published and
// trapped long before the next poll.
TEST_F(LinkNotificationTest, AStormIsHeldToOnePassASecondAndLosesNoChange) {
  bool up = true;
  for (uint64_t t = 40000; t <= 45000; t += 100) {
    up = !up;
    LinkAt(t, kPort7, up);
  }
  ASSERT_FALSE(up);  // the storm ends with the link down
  RunAgent({"crvnichost.exe"}, 59000);
  EXPECT_EQ((std::vector<uint64_t>{0, T, 40100, 41100, 42100, 43100, 44100, 45100}), PassTimes());
  EXPECT_EQ(51u * 2, machine.interfaceNotifier().Delivered());
  auto traps = Traps();
  ASSERT_FALSE(traps.empty());
  EXPECT_EQ((SeenTrap{crv::kTrapConnectivityLost, 45100, 1}), traps.back());
}

// A notification that arrives while a pass is running (a rebuild that waits for a vendor
// library) leads to one more pass right after the pause, not at the next poll.
TEST_F(LinkNotificationTest, ANotificationDuringAPassGetsAPassAfterIt) {
  // The default server: the hot-added port's rebuild loads the Broadcom library, whose
  // start-up pauses take virtual time.
  sim::Machine server;
  sim::Scenario scenario = LoadInto(server, ScenarioFile("default.json"));
  uint64_t rebuildAt = 0;
  uint32_t cyclesAtRebuild = 0;
  bool pulledMidPass = false;
  server.At(480300, [&] {
    for (const auto& r : server.Reports()) {
      if (r.message == u"Detected change in interface table, reinitializing") rebuildAt = r.timeMs;
    }
    cyclesAtRebuild = crv::State().cycleCounter;
  });
  server.At(480600, [&] {
    pulledMidPass = rebuildAt == 480100 && crv::State().cycleCounter == cyclesAtRebuild;
    // The Mellanox port, a plain one (the Intel ports are a team's members).
    sim::SetAdapterLink(server, u"{7D9A1F30-2E4B-4F7A-9BAC-3D4E5F6A7B01}", false);
  });
  server.RecordRegistryWrites(true);
  sim::RunAgentProcess(server, scenario.commandLine, 500000);
  ASSERT_TRUE(pulledMidPass) << crvtest::DescribeReports(server);
  std::vector<uint64_t> passes = ReadyWrites(server, 0), ends = ReadyWrites(server, 1);
  std::erase_if(passes, [](uint64_t t) { return t < 480000; });
  auto end = std::ranges::find_if(ends, [](uint64_t t) { return t >= 480000; });
  const uint64_t rebuildEnd = end != ends.end() ? *end : 0;
  ASSERT_GT(rebuildEnd, 480700u);  // the notification came while the rebuild ran
  // The rebuild's publication, then one pass as soon as the pause after it is over.
  EXPECT_EQ((std::vector<uint64_t>{rebuildEnd, rebuildEnd + 1000}), passes);
  uint64_t lostAt = 0;
  for (const auto& trap : scenariotest::Traps(server))
    if (trap.code == crv::kTrapConnectivityLost && trap.timeMs > 480600) lostAt = trap.timeMs;
  EXPECT_GT(lostAt, 0u);
  EXPECT_LE(lostAt, rebuildEnd + 1000);
}

// Where notifications cannot be had the agent says so once, and the link state watch, which
// then looks at every port's row, still finds the pull at the end of its quarter-second slice;
// the switch turns both off (nothing registered at all) and the agent polls as before.
struct WithoutCase {
  const char* name;
  sim::NotifyMode mode;  // kDeliver: the switch is off
  uint32_t value;
};

void PrintTo(const WithoutCase& c, std::ostream* out) { *out << c.name; }

class WithoutNotificationTest : public LinkNotificationTest,
                                public ::testing::WithParamInterface<WithoutCase> {};

TEST_P(WithoutNotificationTest, SaysSoOnce) {
  const WithoutCase& c = GetParam();
  const bool switchOff = c.mode == sim::NotifyMode::kDeliver;
  machine.interfaceNotifier().SetMode(c.mode);
  if (switchOff) machine.registry().SetDword(kParameters, u"ImmediateUpdates", 0);
  LinkAt(45000, kPort7, false);
  RunAgent({"crvnichost.exe"}, 2 * T + 10);
  const uint64_t trapped = switchOff ? 2 * T : 45000;  // 45000: a slice of the watch ends then
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapConnectivityLost, trapped, 1}}), Traps());
  EXPECT_EQ((std::vector<uint64_t>{0, T, trapped}), PassTimes());
  EXPECT_EQ((std::vector<uint32_t>{c.value}),
            ValuesOf(switchOff ? u"Interface change notification switched off, polling only"
                               : kUnavailable));
  EXPECT_EQ(switchOff ? 0u : 1u, machine.CallCount("NotifyIpInterfaceChange"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WithoutNotificationTest,
    ::testing::Values(WithoutCase{"RegistrationFails", sim::NotifyMode::kFail,
                                  sim::kErrorNotSupported},
                      WithoutCase{"RegisteredWithoutHandle", sim::NotifyMode::kSilent, 0},
                      WithoutCase{"SwitchedOff", sim::NotifyMode::kDeliver, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
