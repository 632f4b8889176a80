// The host as a service process started by Wine's service control manager with the arguments
// an unquoted image path gives it, and as a console program. That the agent runs is seen from
// outside: its named events appear, and another process can set them. (Installing from Program
// Files, net start, net stop and -uninstall of the running service are the end-to-end run's,
// testbed/service-run.sh.)
#include <gtest/gtest.h>

#include <string>

#include "host_runner.h"

namespace crvtest {
namespace {

constexpr wchar_t kScmEvent[] = L"CrvMNicSCMEvent";

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveService(); }
  void TearDown() override { RemoveService(); }
};

// An earlier installation registered the path without quotes. Windows starts such a service
// with the unquoted path as its command line, which the C runtime splits at the blanks; Wine
// quotes the program's path when it starts it. So the registration here hands the host, after
// its quoted path, the pieces Windows' split would give it as arguments.
TEST_F(ServiceTest, GivenTheArgumentsOfAnUnquotedImagePathItRunsUntilStopped) {
  const std::wstring directory = L"C:\\Program Files\\Corvane NIC Test";
  CreateDirectoryW(directory.c_str(), nullptr);
  for (const wchar_t* name : {L"crvnichost.exe", L"crvnicmgmt.dll"}) {
    ASSERT_TRUE(CopyFileW(BinaryPath(name).c_str(), (directory + L"\\" + name).c_str(), FALSE))
        << GetLastError();
  }
  const std::wstring commandLine =
      L"\"" + directory + L"\\crvnichost.exe\" Files\\Corvane NIC Test\\crvnichost.exe";
  UniqueScHandle manager = OpenManager();
  ASSERT_TRUE(manager);
  UniqueScHandle service(CreateServiceW(
      manager.get(), kServiceName, L"Corvane NIC Management Agents", SERVICE_ALL_ACCESS,
      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
      nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(service) << "CreateServiceW failed, error " << GetLastError();
  ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
  SERVICE_STATUS_PROCESS status = {};
  ASSERT_TRUE(WaitForServiceState(service.get(), SERVICE_RUNNING, kLoadedStepMs, &status))
      << "the host did not connect as the service process, state " << status.dwCurrentState;
  EXPECT_EQ(status.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId));

  // The agent's events appear (one after the other), and setting the first does not end the
  // service.
  UniqueHandle scmEvent = WaitForNamedEvent(kScmEvent, kLoadedStepMs);
  ASSERT_TRUE(scmEvent) << "the agent did not create its events";
  EXPECT_TRUE(WaitForNamedEvent(L"CrvMNicInitEvent", kLoadedStepMs));
  EXPECT_TRUE(WaitForNamedEvent(L"CrvMNicCmdDoneEvent", kLoadedStepMs));
  EXPECT_TRUE(SetEvent(scmEvent.get()));
  scmEvent.reset();
  Sleep(500);
  EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the service process ended after its wake event was set";

  // A stop request ends the service and the process cleanly.
  SERVICE_STATUS stop = {};
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &stop)) << GetLastError();
  EXPECT_TRUE(WaitForServiceState(service.get(), SERVICE_STOPPED, kLoadedStepMs, &status));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(WaitForSingleObject(process.get(), kLoadedStepMs), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the service process did not end";
  EXPECT_FALSE(UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, kScmEvent)));
}

// Without arguments the host first offers itself to the service control manager; from a
// console that fails (1063) and the agent runs in the console.
TEST_F(ServiceTest, FromAConsoleWithoutArgumentsTheAgentRuns) {
  UniqueHandle process = StartHost(L"");
  ASSERT_TRUE(process);
  EXPECT_TRUE(WaitForNamedEvent(kScmEvent, kLoadedStepMs)) << "the agent did not start";
  EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(process.get(), 0);
  WaitForSingleObject(process.get(), kLoadedStepMs);
}

}  // namespace
}  // namespace crvtest
