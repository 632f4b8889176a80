// crvnichost.exe: the process that carries the NIC management agent. It loads
// crvnicmgmt.dll from its own directory and hands it the command line through Win2KMain.
//
// From a console, the arguments go to Win2KMain as they are: "-install", "-uninstall" and
// "-reinstall" register or remove the service (whose executable is this program), and
// "-runasexe" or a command line without a word runs the agent in the console until the process
// is ended.
//
// Unless it is given one of those four words (service_start.h), the host first offers itself
// to the service control manager. Started by it, the host connects as the service process of
// CRVNicMgmt, reports running and runs Win2KMain on a worker thread; from a console the
// connection fails and the host goes on as a console program. A stop or shutdown request is
// answered by reporting stopped and ending the process; the agent has no stop sequence of its
// own. Should Win2KMain return, the service reports stopped with a service-specific exit code:
// what Win2KMain returned (2: a collection pass stalled and the agent ended for it), or 1 when
// that is 0 (the agent could not start). A module that cannot be loaded is reported as the
// stopped service's Win32 exit code. The recovery actions that "-install" sets make the service
// control manager start the service again after such a stop.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "library_search.h"
#include "service_start.h"

// Arguments reach Win2KMain exactly as typed: no wildcard expansion by the C runtime.
extern "C" {
int _dowildcard = 0;
}

namespace {

constexpr wchar_t kServiceName[] = L"CRVNicMgmt";
constexpr wchar_t kModuleName[] = L"crvnicmgmt.dll";
constexpr DWORD kAgentDidNotStart = 1;  // service-specific exit code
constexpr DWORD kStopWaitHintMs = 5000;

using Win2KMainFunction = int32_t (*)(int32_t argc, char** argv);

struct Host {
  Win2KMainFunction win2kMain = nullptr;
  DWORD loadError = ERROR_SUCCESS;
  int argc = 0;
  char** argv = nullptr;
  SERVICE_STATUS_HANDLE status = nullptr;
  HANDLE stopRequested = nullptr;
};
Host g_host;

// Loads the module from the directory of this executable, never from the search path.
// The library search is restricted before (RestrictLibrarySearch), so whatever the agent
// loads by name comes from the system or this directory only.
void LoadAgent() {
  static wchar_t path[32768];
  DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
  if (length == 0 || length >= ARRAYSIZE(path)) {
    g_host.loadError = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    return;
  }
  DWORD directoryEnd = length;
  while (directoryEnd > 0 && path[directoryEnd - 1] != L'\\' && path[directoryEnd - 1] != L'/') {
    --directoryEnd;
  }
  if (directoryEnd + ARRAYSIZE(kModuleName) > ARRAYSIZE(path)) {
    g_host.loadError = ERROR_FILENAME_EXCED_RANGE;
    return;
  }
  for (size_t i = 0; i < ARRAYSIZE(kModuleName); ++i) path[directoryEnd + i] = kModuleName[i];

  HMODULE module = LoadLibraryW(path);
  if (module == nullptr) {
    g_host.loadError = GetLastError();
    fprintf(stderr, "crvnichost: cannot load %ls: error %lu\n", path, g_host.loadError);
    return;
  }
  g_host.win2kMain = reinterpret_cast<Win2KMainFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "Win2KMain")));
  if (g_host.win2kMain == nullptr) {
    g_host.loadError = GetLastError();
    fprintf(stderr, "crvnichost: %ls has no Win2KMain: error %lu\n", path, g_host.loadError);
  }
}

void ReportServiceStatus(DWORD state, DWORD win32ExitCode = NO_ERROR,
                         DWORD serviceSpecificExitCode = 0, DWORD waitHint = 0) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = win32ExitCode;
  status.dwServiceSpecificExitCode = serviceSpecificExitCode;
  status.dwWaitHint = waitHint;
  SetServiceStatus(g_host.status, &status);
}

// Runs on the dispatcher's thread: answer at once, the service thread does the stopping.
DWORD WINAPI HandleControl(DWORD control, DWORD /*eventType*/, void* /*eventData*/,
                           void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, 0, kStopWaitHintMs);
      SetEvent(g_host.stopRequested);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// The thread's exit code is what Win2KMain returned.
DWORD WINAPI RunAgent(void* /*unused*/) {
  return static_cast<DWORD>(g_host.win2kMain(g_host.argc, g_host.argv));
}

// The service's main function, on a thread of the dispatcher. It stays until the service has
// stopped, so that the stopped report comes from here and not from the control handler.
void WINAPI ServiceMain(DWORD /*argc*/, wchar_t** /*argv*/) {
  // The event exists before the handler can be called.
  g_host.stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const DWORD eventError = GetLastError();
  g_host.status = RegisterServiceCtrlHandlerExW(kServiceName, HandleControl, nullptr);
  if (g_host.status == nullptr) return;
  if (g_host.win2kMain == nullptr) {
    ReportServiceStatus(SERVICE_STOPPED, g_host.loadError);
    return;
  }
  if (g_host.stopRequested == nullptr) {
    ReportServiceStatus(SERVICE_STOPPED, eventError);
    return;
  }

  ReportServiceStatus(SERVICE_RUNNING);
  HANDLE agent = CreateThread(nullptr, 0, RunAgent, nullptr, 0, nullptr);
  if (agent == nullptr) {
    ReportServiceStatus(SERVICE_STOPPED, GetLastError());
    return;
  }
  const HANDLE waits[] = {g_host.stopRequested, agent};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
    ReportServiceStatus(SERVICE_STOPPED);
  } else {
    DWORD agentResult = 0;
    if (!GetExitCodeThread(agent, &agentResult) || agentResult == 0) {
      agentResult = kAgentDidNotStart;
    }
    ReportServiceStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, agentResult);
  }
}

// Runs as the service process when the service control manager started this program. False
// when it did not (a console), with the reason in the last error.
bool RunAsServiceProcess() {
  SERVICE_TABLE_ENTRYW services[] = {{const_cast<wchar_t*>(kServiceName), ServiceMain},
                                     {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(services);
}

}  // namespace

int main(int argc, char** argv) {
  g_host.argc = argc;
  g_host.argv = argv;
  RestrictLibrarySearch();
  LoadAgent();

  if (crvhost::ConnectsAsService(argc, argv)) {
    if (RunAsServiceProcess()) {
      // The service has stopped. The agent's thread may still be inside the module, so the
      // process ends here without unloading it.
      fflush(nullptr);
      TerminateProcess(GetCurrentProcess(), 0);
    }
    DWORD error = GetLastError();
    if (error != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      fprintf(stderr, "crvnichost: cannot connect to the service control manager: error %lu\n",
              error);
      return static_cast<int>(error);
    }
  }

  if (g_host.win2kMain == nullptr) return 1;
  return g_host.win2kMain(argc, argv);
}
