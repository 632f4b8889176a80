// The host as a service process, started by Wine's service control manager, and as a console
// program running the agent. That the agent runs is seen from outside: its named events
// appear, and another process can set them.
#include <gtest/gtest.h>

#include "host_runner.h"

namespace crvtest {
namespace {

constexpr wchar_t kScmEvent[] = L"CrvMNicSCMEvent";
constexpr DWORD kAgentStartMs = 30000;

bool EventExists(const wchar_t* name) {
  UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name));
  return static_cast<bool>(event);
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveService(); }
  void TearDown() override { RemoveService(); }

  // Installs with the host and starts the service; returns the running service process.
  UniqueHandle InstallAndStart() {
    EXPECT_EQ(RunHost(L"-install").output, Lines({"CRVNicMgmt installed."}));
    UniqueScHandle service = OpenAgentService(SERVICE_START | SERVICE_QUERY_STATUS);
    if (!service) return UniqueHandle();
    if (!StartServiceW(service.get(), 0, nullptr)) {
      ADD_FAILURE() << "StartServiceW failed, error " << GetLastError();
      return UniqueHandle();
    }
    SERVICE_STATUS_PROCESS status = {};
    EXPECT_TRUE(WaitForServiceState(service.get(), SERVICE_RUNNING, 10000, &status))
        << "state " << status.dwCurrentState;
    EXPECT_EQ(status.dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));
  }
};

TEST_F(ServiceTest, StartedByTheServiceManagerItRunsTheAgentUntilStopped) {
  UniqueHandle process = InstallAndStart();
  ASSERT_TRUE(process);

  UniqueHandle scmEvent = WaitForNamedEvent(kScmEvent, kAgentStartMs);
  ASSERT_TRUE(scmEvent) << "the agent did not create its events";
  EXPECT_TRUE(EventExists(L"CrvMNicInitEvent"));
  EXPECT_TRUE(EventExists(L"CrvMNicCmdDoneEvent"));
  EXPECT_TRUE(SetEvent(scmEvent.get()));
  scmEvent.reset();
  Sleep(500);
  EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the service process ended after its wake event was set";

  UniqueScHandle service = OpenAgentService(SERVICE_STOP | SERVICE_QUERY_STATUS);
  ASSERT_TRUE(service);
  SERVICE_STATUS stop = {};
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &stop)) << GetLastError();
  SERVICE_STATUS_PROCESS status = {};
  EXPECT_TRUE(WaitForServiceState(service.get(), SERVICE_STOPPED, 10000, &status));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(WaitForSingleObject(process.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the service process did not end";
  EXPECT_FALSE(EventExists(kScmEvent));
}

TEST_F(ServiceTest, UninstallStopsTheRunningServiceAndDeletesIt) {
  UniqueHandle process = InstallAndStart();
  ASSERT_TRUE(process);
  ASSERT_TRUE(WaitForNamedEvent(kScmEvent, kAgentStartMs));

  ProcessResult result = RunHost(L"-uninstall");
  EXPECT_EQ(result.output, Lines({"CRVNicMgmt uninstalled."}));
  EXPECT_EQ(WaitForSingleObject(process.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (IsRegistered() && GetTickCount64() < deadline) Sleep(50);
  EXPECT_FALSE(IsRegistered());
}

TEST_F(ServiceTest, ReinstallOfTheRunningServiceRemovesItSilently) {
  UniqueHandle process = InstallAndStart();
  ASSERT_TRUE(process);
  ASSERT_TRUE(WaitForNamedEvent(kScmEvent, kAgentStartMs));

  ProcessResult result = RunHost(L"-reinstall");
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(WaitForSingleObject(process.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (IsRegistered() && GetTickCount64() < deadline) Sleep(50);
  EXPECT_FALSE(IsRegistered());
}

// Without arguments the host first offers itself to the service control manager; from a
// console that fails (1063) and the agent runs in the console.
TEST_F(ServiceTest, FromAConsoleWithoutArgumentsTheAgentRuns) {
  UniqueHandle process = StartHost(L"");
  ASSERT_TRUE(process);
  UniqueHandle scmEvent = WaitForNamedEvent(kScmEvent, kAgentStartMs);
  EXPECT_TRUE(scmEvent) << "the agent did not start";
  EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(process.get(), 0);
  WaitForSingleObject(process.get(), 10000);
}

}  // namespace
}  // namespace crvtest
