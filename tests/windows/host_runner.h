// Helpers for the tests of the real Windows side: running crvnichost.exe and other programs of
// the build as child processes or debuggees, and driving the service control manager.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/handles.h"

namespace crvtest {

using platform::win32::UniqueHandle;
using platform::win32::UniqueScHandle;

constexpr wchar_t kServiceName[] = L"CRVNicMgmt";
// The longest a step of Wine's (a process start, a service state change, the agent's first
// build) may take on a loaded 2-core machine. Only a failing test waits this long.
constexpr DWORD kLoadedStepMs = 120000;

// A file in the directory of the test executable, where the build puts every binary.
std::wstring BinaryPath(const wchar_t* fileName);

struct ProcessResult {
  bool finished = false;  // false: still running at the time-out, and then terminated
  DWORD exitCode = 0;
  std::string output;  // standard output, bytes as written
};

// Runs `program arguments` with no standard input, waits for it to end (terminating it after
// timeoutMs) and returns what it printed.
ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                         DWORD timeoutMs = 60000);
inline ProcessResult RunHost(const std::wstring& arguments) {
  return RunProgram(BinaryPath(L"crvnichost.exe"), arguments);
}
// Starts crvnichost.exe and leaves it running.
UniqueHandle StartHost(const std::wstring& arguments);

UniqueScHandle OpenManager();
// Null when the service is not registered (the last error says why).
UniqueScHandle OpenAgentService(DWORD access);
inline bool IsRegistered() { return static_cast<bool>(OpenAgentService(SERVICE_QUERY_CONFIG)); }
// Polls until the service is in `state`; false after timeoutMs.
bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs,
                         SERVICE_STATUS_PROCESS* last = nullptr);
// Stops (when running) and deletes the registration, whatever the test before left behind.
void RemoveService();
// Polls until the named event exists; null after timeoutMs.
UniqueHandle WaitForNamedEvent(const wchar_t* name, DWORD timeoutMs);

// One report line of the agent on the debugger output:
// "CRVNicMgmt report 0x<code> value <value>[: <text>]\n".
struct ReportLine {
  uint32_t code = 0;
  uint32_t value = 0;
  std::string text;
  ULONGLONG receivedMs = 0;  // GetTickCount64 when the debugger saw it
};

// A program of the build run as this process's debuggee, so that its debugger output reaches
// the test as it is written. The debuggee is held at each debug event until the test collects
// it. All calls must come from the thread that started it; it is terminated, if still running,
// when the object goes away.
class DebuggedProgram {
 public:
  DebuggedProgram() = default;
  DebuggedProgram(const DebuggedProgram&) = delete;
  ~DebuggedProgram();

  bool Start(const std::wstring& program, const std::wstring& arguments);
  // Collects debug events until a report that `match` accepts arrives (returned), the program
  // ends, or timeoutMs passes (nothing).
  std::optional<ReportLine> WaitForReport(const std::function<bool(const ReportLine&)>& match,
                                          DWORD timeoutMs);
  void Collect(DWORD periodMs) {
    WaitForReport([](const ReportLine&) { return false; }, periodMs);
  }
  // Terminates the program and collects events until it has ended; false after timeoutMs.
  bool Terminate(UINT exitCode, DWORD timeoutMs);

  const std::vector<ReportLine>& Reports() const { return reports_; }
  const std::vector<std::string>& DebugStrings() const { return debugStrings_; }
  bool Exited() const { return exited_; }
  DWORD ExitCode() const { return exitCode_; }

 private:
  bool Step(DWORD waitMs);  // one debug event; false when none came within waitMs

  UniqueHandle process_;
  bool exited_ = false;
  DWORD exitCode_ = 0;
  std::vector<ReportLine> reports_;
  std::vector<std::string> debugStrings_;
};

// CRLF line ends, as Windows programs print them.
std::string Lines(std::initializer_list<const char*> lines);

}  // namespace crvtest
