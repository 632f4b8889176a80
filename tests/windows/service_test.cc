// The host as a service process, started by Wine's service control manager, and as a console
// program running the agent. That the agent runs is seen from outside: its named events
// appear, and another process can set them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_runner.h"

namespace crvtest {
namespace {

constexpr wchar_t kScmEvent[] = L"CrvMNicSCMEvent";
constexpr DWORD kAgentStartMs = 30000;

bool EventExists(const wchar_t* name) {
  UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name));
  return static_cast<bool>(event);
}

// The service process runs the agent: its events appear and setting the first does not end
// it. A stop request then ends the service and the process cleanly.
void ExpectAgentRunsUntilStopped(HANDLE process) {
  UniqueHandle scmEvent = WaitForNamedEvent(kScmEvent, kAgentStartMs);
  ASSERT_TRUE(scmEvent) << "the agent did not create its events";
  EXPECT_TRUE(EventExists(L"CrvMNicInitEvent"));
  EXPECT_TRUE(EventExists(L"CrvMNicCmdDoneEvent"));
  EXPECT_TRUE(SetEvent(scmEvent.get()));
  scmEvent.reset();
  Sleep(500);
  EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the service process ended after its wake event was set";

  UniqueScHandle service = OpenAgentService(SERVICE_STOP | SERVICE_QUERY_STATUS);
  ASSERT_TRUE(service);
  SERVICE_STATUS stop = {};
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &stop)) << GetLastError();
  SERVICE_STATUS_PROCESS status = {};
  EXPECT_TRUE(WaitForServiceState(service.get(), SERVICE_STOPPED, 10000, &status));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(WaitForSingleObject(process, 10000), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the service process did not end";
  EXPECT_FALSE(EventExists(kScmEvent));
}

// The host and the module copied into a directory with blanks, as an administrator installs
// them under Program Files; the host's path there. A copy left by an earlier test may still
// be held by its ending process for a moment.
std::wstring CopyHostToDirectoryWithBlanks() {
  const std::wstring directory = L"C:\\Program Files\\Corvane NIC Test";
  CreateDirectoryW(directory.c_str(), nullptr);
  for (const wchar_t* name : {L"crvnichost.exe", L"crvnicmgmt.dll"}) {
    const std::wstring target = directory + L"\\" + name;
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!CopyFileW(BinaryPath(name).c_str(), target.c_str(), FALSE)) {
      if (GetTickCount64() > deadline) {
        ADD_FAILURE() << "cannot copy " << testing::PrintToString(name) << ", error "
                      << GetLastError();
        break;
      }
      Sleep(100);
    }
  }
  return directory + L"\\crvnichost.exe";
}

std::wstring RegisteredImagePath() {
  UniqueScHandle service = OpenAgentService(SERVICE_QUERY_CONFIG);
  if (!service) return L"(not registered)";
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service.get(), config, needed, &needed)) return L"(no configuration)";
  return config->lpBinaryPathName;
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { RemoveService(); }
  void TearDown() override { RemoveService(); }

  // Installs with the host and starts the service; returns the running service process.
  UniqueHandle InstallAndStart() {
    EXPECT_EQ(RunHost(L"-install").output, Lines({"CRVNicMgmt installed."}));
    return Start();
  }

  // Starts the registered service; returns the running service process.
  UniqueHandle Start() {
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
  ExpectAgentRunsUntilStopped(process.get());
}

TEST_F(ServiceTest, InstalledFromAPathWithBlanksItIsRegisteredQuotedAndRunsAsTheService) {
  const std::wstring host = CopyHostToDirectoryWithBlanks();
  ProcessResult install = RunProgram(host, L"-install");
  EXPECT_EQ(install.output, Lines({"CRVNicMgmt installed."}));
  EXPECT_EQ(RegisteredImagePath(), L"\"" + host + L"\"");
  UniqueHandle process = Start();
  ASSERT_TRUE(process);
  ExpectAgentRunsUntilStopped(process.get());
}

// An earlier installation registered the path without quotes. Windows starts such a service
// with the unquoted path as its command line, which the C runtime splits at the blanks; Wine
// quotes the program's path when it starts it. So the registration here hands the host, after
// its quoted path, the pieces Windows' split would give it as arguments.
TEST_F(ServiceTest, GivenTheArgumentsOfAnUnquotedImagePathItRunsAsTheService) {
  const std::wstring host = CopyHostToDirectoryWithBlanks();
  const std::wstring pieces = host.substr(host.find(L' ') + 1);  // Files\Corvane NIC Test\...
  const std::wstring commandLine = L"\"" + host + L"\" " + pieces;
  {
    UniqueScHandle manager = OpenManager();
    ASSERT_TRUE(manager);
    UniqueScHandle service(CreateServiceW(
        manager.get(), kServiceName, L"Corvane NIC Management Agents", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(service) << "CreateServiceW failed, error " << GetLastError();
  }
  UniqueHandle process = Start();
  ASSERT_TRUE(process) << "the host did not connect as the service process";
  ExpectAgentRunsUntilStopped(process.get());
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
