// The installation words against Wine's real service control manager, through the host.
// ("-uninstall" of the running service is the end-to-end run's, testbed/service-run.sh; its
// console line and the event source's removal are command_line_test.cc's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_runner.h"

namespace crvtest {
namespace {

constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CRVNicMgmt";

bool SourceRegistered() {
  return RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr,
                      nullptr, nullptr) == ERROR_SUCCESS;
}

class InstallWordsTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    RemoveService();
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
  }
};

TEST_F(InstallWordsTest, InstallRegistersTheHostAsAnOwnProcessDemandStartService) {
  ProcessResult first = RunHost(L"-install");
  EXPECT_EQ(first.exitCode, 0u);
  EXPECT_EQ(first.output, Lines({"CRVNicMgmt installed."}));

  UniqueScHandle service = OpenAgentService(SERVICE_QUERY_CONFIG);
  ASSERT_TRUE(service);
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  ASSERT_TRUE(QueryServiceConfigW(service.get(), config, needed, &needed)) << GetLastError();
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  // The host's own path as GetModuleFileNameW gives it, no arguments; quoted only when it has
  // a blank (the end-to-end run installs from such a path).
  std::wstring host = BinaryPath(L"crvnichost.exe");
  if (host.find(L' ') != std::wstring::npos) host = L"\"" + host + L"\"";
  EXPECT_EQ(std::wstring(config->lpBinaryPathName), host);
  EXPECT_EQ(std::wstring(config->lpDisplayName), L"Corvane NIC Management Agents");
  EXPECT_EQ(std::wstring(config->lpServiceStartName), L"LocalSystem");

  // The event source: the module's full path, unexpanded, and error, warning and information.
  wchar_t file[MAX_PATH] = {};
  DWORD types = 0, size = sizeof file;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"EventMessageFile",
                         RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, file, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(file), BinaryPath(L"crvnicmgmt.dll"));
  size = sizeof types;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kSourceKey, L"TypesSupported", RRF_RT_REG_DWORD,
                         nullptr, &types, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(types, 7u);
}

// Each word in turn, from no registration: what it prints and whether the service is
// registered afterwards. A stopped service is not uninstalled: the stop request fails.
TEST_F(InstallWordsTest, EachWordsOutputAndTheRegistrationItLeaves) {
  const std::string stopFailed = Lines(
      {"CRVNicMgmt: ControlService failed: 1062", "CRVNicMgmt failed to uninstall, error: 1062"});
  const struct {
    const wchar_t* word;
    std::string output;
    bool registered;
  } steps[] = {
      {L"-uninstall", Lines({"CRVNicMgmt is not installed."}), false},
      {L"-bogus", "", false},  // neither prints nor runs the agent (which would never return)
      {L"-", "", false},
      {L"-reinstall", Lines({"CRVNicMgmt reinstalled."}), true},
      {L"/INSTALL", Lines({"CRVNicMgmt is already installed."}), true},
      {L"-uninstall", stopFailed, true},
      {L"-reinstall", stopFailed, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::PrintToString(step.word));
    ProcessResult result = RunProgram(BinaryPath(L"crvnichost.exe"), step.word, kLoadedStepMs);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, step.output);
    EXPECT_EQ(IsRegistered(), step.registered);
    EXPECT_EQ(SourceRegistered(), step.registered);
  }
}

}  // namespace
}  // namespace crvtest
