// The agent run by "crvnichost.exe -runasexe" under Wine, watched as an administrator watches it:
// through its reports on the debugger output, with the poll interval set in the real registry
// and the wake events set from this process.
//
// Wine's configuration manager lists no network adapter, so the miniport list is always empty
// and every build of the model fails without a report or a tree. What this watches is the loop
// around the builds: the interval it reads, the wait it announces, and a wake event that only
// cuts the current wait short. (A wait that runs out is the end-to-end run's.)
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "host_runner.h"

namespace crvtest {
namespace {

constexpr wchar_t kParametersKey[] = L"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt";
constexpr wchar_t kTreeKey[] = L"SYSTEM\\TessarNetwork";
// Long enough that a wake cut short and a wait that ran out cannot be mistaken for each other,
// however busy the machine.
constexpr DWORD kPollIntervalMs = 600000;
constexpr uint32_t kInformation = 0x44350127;
// A woken wait is announced again at once; a lost wake is announced only at the interval's end.
constexpr DWORD kWokenWithinMs = kLoadedStepMs;
static_assert(kWokenWithinMs < kPollIntervalMs / 2);

std::string Describe(const std::vector<ReportLine>& reports) {
  std::string text = "reports so far:";
  for (const ReportLine& report : reports) text += "\n  " + report.text;
  return text;
}

bool IsPollAnnouncement(const ReportLine& report) {
  return report.code == kInformation && report.text == "Collect poll Timeout";
}

LSTATUS TreeKeyState() {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTreeKey, 0, KEY_READ, &key);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

// Sets Timeout under the agent's parameters key, whose service is not registered, and removes
// the service's key on the way out.
class AgentRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(IsRegistered());
    DWORD timeout = kPollIntervalMs;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kParametersKey, L"Timeout", REG_DWORD, &timeout,
                              sizeof timeout),
              ERROR_SUCCESS);
    ASSERT_EQ(TreeKeyState(), ERROR_FILE_NOT_FOUND) << "a tree is left from before";
  }
  void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceKey); }
};

TEST_F(AgentRunTest, WithoutMiniportsTheLoopWaitsAndAWakeEventOnlyCutsTheWaitShort) {
  DebuggedProgram agent;
  ASSERT_TRUE(agent.Start(BinaryPath(L"crvnichost.exe"), L"-runasexe"));

  // Start-up: the configured interval is announced as the first wait, after the first build.
  std::optional<ReportLine> first = agent.WaitForReport(IsPollAnnouncement, kLoadedStepMs);
  ASSERT_TRUE(first) << "no wait announced; " << Describe(agent.Reports());
  EXPECT_EQ(first->value, kPollIntervalMs);
  std::vector<std::string> startTexts;
  for (const ReportLine& report : agent.Reports()) startTexts.push_back(report.text);
  // Wine registers the interface change notification without a handle and never calls back:
  // the agent says once that it polls only.
  EXPECT_EQ(startTexts,
            (std::vector<std::string>{"Debug logging is enabled.",
                                      "Interface change notification unavailable, polling only",
                                      "Collect poll Timeout"}))
      << Describe(agent.Reports());
  EXPECT_EQ(TreeKeyState(), ERROR_FILE_NOT_FOUND);

  // Each wake event, set from this process, ends the wait at once: the same interval is
  // announced again, with no build between (no report) and no doubling.
  for (const wchar_t* name : {L"CrvMNicSCMEvent", L"CrvMNicInitEvent"}) {
    SCOPED_TRACE(testing::Message() << "woken through " << std::string(name, name + wcslen(name)));
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    ASSERT_TRUE(event) << "the agent has no such event, error " << GetLastError();
    const size_t before = agent.Reports().size();
    const ULONGLONG setAt = GetTickCount64();
    ASSERT_TRUE(SetEvent(event.get()));
    std::optional<ReportLine> next = agent.WaitForReport(IsPollAnnouncement, kWokenWithinMs);
    ASSERT_TRUE(next) << "the wait was not cut short; " << Describe(agent.Reports());
    EXPECT_EQ(next->value, kPollIntervalMs);
    EXPECT_EQ(agent.Reports().size(), before + 1) << Describe(agent.Reports());
    EXPECT_LT(next->receivedMs - setAt, kWokenWithinMs);
  }

  // Still running and without a tree; terminated, it leaves no event behind.
  agent.Collect(200);
  EXPECT_FALSE(agent.Exited());
  EXPECT_EQ(TreeKeyState(), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(agent.Terminate(0x7E57, kLoadedStepMs));
  EXPECT_FALSE(UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, L"CrvMNicSCMEvent")));
}

}  // namespace
}  // namespace crvtest
