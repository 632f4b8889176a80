// The installation words against Wine's real service control manager, through the host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_runner.h"

namespace crvtest {
namespace {

class InstallWordsTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveService(); }
  void TearDown() override { RemoveService(); }
};

TEST_F(InstallWordsTest, InstallRegistersTheHostOnce) {
  ProcessResult first = RunHost(L"-install");
  ASSERT_TRUE(first.finished);
  EXPECT_EQ(first.exitCode, 0u);
  EXPECT_EQ(first.output, Lines({"CRVNicMgmt installed."}));

  ProcessResult second = RunHost(L"/INSTALL");
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_EQ(second.output, Lines({"CRVNicMgmt is already installed."}));

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
  // a blank (service_test.cc installs from such a path).
  std::wstring host = BinaryPath(L"crvnichost.exe");
  if (host.find(L' ') != std::wstring::npos) host = L"\"" + host + L"\"";
  EXPECT_EQ(std::wstring(config->lpBinaryPathName), host);
  EXPECT_EQ(std::wstring(config->lpDisplayName), L"Corvane NIC Management Agents");
  EXPECT_EQ(std::wstring(config->lpServiceStartName), L"LocalSystem");
}

TEST_F(InstallWordsTest, UninstallOfAStoppedServiceFailsAtTheStopRequest) {
  EXPECT_EQ(RunHost(L"-uninstall").output, Lines({"CRVNicMgmt is not installed."}));

  ASSERT_EQ(RunHost(L"-install").output, Lines({"CRVNicMgmt installed."}));
  ProcessResult result = RunHost(L"-uninstall");
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(result.output, Lines({"CRVNicMgmt: ControlService failed: 1062",
                                  "CRVNicMgmt failed to uninstall, error: 1062"}));
  EXPECT_TRUE(IsRegistered());
}

TEST_F(InstallWordsTest, ReinstallInstallsWhenAbsentAndFailsOnAStoppedService) {
  EXPECT_EQ(RunHost(L"-reinstall").output, Lines({"CRVNicMgmt reinstalled."}));
  EXPECT_TRUE(IsRegistered());

  EXPECT_EQ(RunHost(L"-reinstall").output, Lines({"CRVNicMgmt: ControlService failed: 1062",
                                                  "CRVNicMgmt failed to uninstall, error: 1062"}));
  EXPECT_TRUE(IsRegistered());
}

// An unknown word neither prints nor runs the agent (which would never return).
TEST_F(InstallWordsTest, UnknownWordPrintsNothingAndReturns) {
  for (const wchar_t* word : {L"-bogus", L"-"}) {
    ProcessResult result = RunProgram(BinaryPath(L"crvnichost.exe"), word, 20000);
    EXPECT_TRUE(result.finished) << "the agent ran for " << testing::PrintToString(word);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, "");
  }
  EXPECT_FALSE(IsRegistered());
}

}  // namespace
}  // namespace crvtest
