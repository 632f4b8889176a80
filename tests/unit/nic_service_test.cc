#include "service/nic_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "service/console_line.h"
#include "service/exports.h"
#include "support/sim_fixture.h"

namespace {

constexpr char16_t kParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
constexpr uint32_t kInfo = crv::kReportInformation;
using Seen = std::tuple<uint32_t, std::u16string, uint32_t>;  // code, message, value

class NicServiceTest : public crvtest::SimTest {
 protected:
  std::vector<Seen> SeenReports() const {
    std::vector<Seen> seen;
    for (const auto& r : machine.Reports()) seen.emplace_back(r.code, r.message, r.value);
    return seen;
  }
  std::vector<uint64_t> PollTimes() const {
    return crvtest::ReportTimes(machine, u"Collect poll Timeout");
  }
};

void SetTimeout(sim::Machine& m, uint32_t value) {
  m.registry().SetDword(kParameters, u"Timeout", value);
}

struct IntervalCase {
  const char* name;
  std::function<void(sim::Machine&)> seed;
  uint32_t interval;
  std::vector<Seen> warnings;
};
void PrintTo(const IntervalCase& c, std::ostream* os) { *os << c.name; }

class PollIntervalTest : public NicServiceTest,
                         public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(PollIntervalTest, ComesFromTimeout) {
  GetParam().seed(machine);
  RunAgent({"crvnichost.exe"}, 1000);
  std::vector<Seen> seen = SeenReports();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), (Seen{kInfo, u"Debug logging is enabled.", 0}));
  EXPECT_EQ(seen.back(), (Seen{kInfo, u"Collect poll Timeout", GetParam().interval}));
  std::erase_if(seen, [](const Seen& s) { return std::get<0>(s) == kInfo; });
  EXPECT_EQ(seen, GetParam().warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Timeout, PollIntervalTest,
    ::testing::Values(
        IntervalCase{
            "NoKey", [](sim::Machine&) {}, 120000, {{crv::kReportKeyNotOpened, kParameters, 2}}},
        IntervalCase{"NoValue",
                     [](sim::Machine& m) { m.registry().CreateKey(kParameters); },
                     120000,
                     {{crv::kReportValueNotRead, u"Timeout", 2}}},
        IntervalCase{
            "Text",
            [](sim::Machine& m) { m.registry().SetString(kParameters, u"Timeout", u"60000"); },
            30000,
            {}},
        // The upper bound, a day, is the collection loop's scenarios'.
        IntervalCase{"Small", [](sim::Machine& m) { SetTimeout(m, 1000); }, 30000, {}}),
    [](const ::testing::TestParamInfo<IntervalCase>& info) { return info.param.name; });

TEST_F(NicServiceTest, WakeEventsRestartTheWaitAndTheCommandDoneEventDoesNot) {
  SetTimeout(machine, 30000);
  crvtest::AddTestAdapter(machine, 7);  // builds succeed: every wait is a poll interval
  machine.SetEventAt(10000, u"CrvMNicSCMEvent");
  machine.SetEventAt(50000, u"CrvMNicInitEvent");
  machine.SetEventAt(65000, u"CrvMNicCmdDoneEvent");
  RunAgent({"crvnichost.exe"}, 100000);
  EXPECT_EQ(PollTimes(), (std::vector<uint64_t>{0, 10000, 40000, 50000, 80000}));
}

TEST_F(NicServiceTest, FailedWaitIsReportedAndTheLoopWaitsAgainAtOnce) {
  SetTimeout(machine, 30000);
  EXPECT_TRUE(machine.FailCall("WaitForMultipleObjects", 2, platform::kErrorInvalidHandle));
  RunAgent({"crvnichost.exe"}, 40000);
  EXPECT_EQ(PollTimes(), (std::vector<uint64_t>{0, 30000, 30000}));
  const sim::ReportRecord& failed = machine.Reports()[machine.Reports().size() - 2];
  EXPECT_EQ(failed.code, crv::kReportWaitFailed);
  EXPECT_FALSE(failed.hasMessage);
  EXPECT_EQ(failed.value, 6u);
}

// Initialize failing at each of its steps: the reports name the step, nothing is retried,
// RunAsExe is never reached, and Win2KMain returns 0 having released everything.
struct StepCase {
  const char* name;
  std::function<void(sim::Machine&)> fail;
  std::vector<Seen> after;  // reports after "Debug logging is enabled."
};
void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class InitializeStepTest : public NicServiceTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(InitializeStepTest, FailsCleanly) {
  SetTimeout(machine, 60000);
  GetParam().fail(machine);
  char program[] = "crvnichost.exe";
  char* argv[] = {program, nullptr};
  EXPECT_EQ(Win2KMain(1, argv), 0);  // called directly: nothing is released for it afterwards
  std::vector<Seen> expected{{kInfo, u"Debug logging is enabled.", 0}};
  expected.insert(expected.end(), GetParam().after.begin(), GetParam().after.end());
  EXPECT_EQ(SeenReports(), expected);
  EXPECT_EQ(machine.LiveAllocations(), 0u);
  EXPECT_EQ(machine.openHandles().kernel, 0);
  EXPECT_EQ(machine.openHandles().registry, 0);
  EXPECT_EQ(machine.CallCount("SleepEx"), 0u);
}

std::function<void(sim::Machine&)> FailCall(const char* call, uint32_t n, uint32_t status) {
  return [=](sim::Machine& m) { EXPECT_TRUE(m.FailCall(call, n, status)); };
}

INSTANTIATE_TEST_SUITE_P(
    Steps, InitializeStepTest,
    ::testing::Values(
        StepCase{"Queue", [](sim::Machine& m) { m.FailAllocation(1); }, {}},
        // The second allocation is the Timeout value's buffer.
        StepCase{"SharedStructure",
                 [](sim::Machine& m) { m.FailAllocation(3); },
                 {{crv::kReportAllocationFailed, u"", 8},
                  {kInfo, u"CMNicService::CreateDCStruct: failure to malloc dcstruct", 8}}},
        StepCase{"ScmEvent",
                 FailCall("CreateEventW", 1, 5),
                 {{kInfo, u"CMNicService::CreateDCStruct: creation of SCM Event failed", 5}}},
        StepCase{"InitEvent",
                 FailCall("CreateEventW", 2, 6),
                 {{kInfo, u"CMNicService::CreateDCStruct: creation of Command Event failed", 6}}},
        StepCase{
            "CommandDoneEvent",
            FailCall("CreateEventW", 3, 1450),
            {{kInfo, u"CMNicService::CreateDCStruct: creation of CommandDone Event failed", 1450}}},
        StepCase{"Thread",
                 FailCall("_beginthread", 1, 8),
                 {{crv::kReportThreadNotStarted, u"", 8},
                  {kInfo, u"CMNicService::Initialize: failure starting DC Thread.", 0}}}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return info.param.name; });

// A console line is at most 512 bytes and always ends with its newline.
TEST_F(NicServiceTest, AConsoleLineIsCutToItsBufferAndEnded) {
  const std::string text(600, 'x');
  crv::PrintServiceLine(u"CRVNicMgmt", text.c_str(), 5);
  EXPECT_EQ("CRVNicMgmt" + text.substr(0, 502) + "\n", machine.ConsoleOutput());
}

}  // namespace
