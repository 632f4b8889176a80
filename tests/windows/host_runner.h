// Helpers for the tests of the real Windows side: running crvnichost.exe and other programs of
// the build as child processes, and driving the service control manager directly.
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

// A file in the directory of the test executable, where the build puts every binary.
std::wstring BinaryPath(const wchar_t* fileName);

struct ProcessResult {
  bool finished = false;  // false: still running at the time-out, and then terminated
  DWORD exitCode = 0;
  std::string output;  // standard output, bytes as written
};

// Runs `program arguments` with standard output captured and no standard input, waits for it
// to end (terminating it after timeoutMs) and returns what it printed.
ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                         DWORD timeoutMs = 60000);
inline ProcessResult RunHost(const std::wstring& arguments) {
  return RunProgram(BinaryPath(L"crvnichost.exe"), arguments);
}

// Starts crvnichost.exe with the arguments and leaves it running (no captured output).
UniqueHandle StartHost(const std::wstring& arguments);

UniqueScHandle OpenManager();
// Null when the service is not registered (the last error says why).
UniqueScHandle OpenAgentService(DWORD access);
bool IsRegistered();

// Polls QueryServiceStatusEx until the service is in `state`; false after timeoutMs.
bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs,
                         SERVICE_STATUS_PROCESS* last = nullptr);

// Stops (when running) and deletes the registration, waiting until it is gone, so that a test
// starts from an unregistered service whatever the one before it left behind.
void RemoveService();

// Polls OpenEventW until the named event exists; null after timeoutMs.
UniqueHandle WaitForNamedEvent(const wchar_t* name, DWORD timeoutMs);

// One report line of the agent on the debugger output, taken apart.
struct ReportLine {
  uint32_t code = 0;
  uint32_t value = 0;
  std::string text;          // empty for a report without text
  ULONGLONG receivedMs = 0;  // GetTickCount64 when the debugger saw it
};

// Parses "CRVNicMgmt report 0x<code> value <value>[: <text>]\n"; nothing for another string.
std::optional<ReportLine> ParseReportLine(const std::string& line);

// A program of the build run as this process's debuggee, so that its debugger output (the
// agent's reports) reaches the test as it is written. The debuggee stops at every debug event
// until the test collects it, so a call that waits for reports keeps it running; between calls
// it is held at its next report. A debugger's calls must come from the thread that started
// the program, so an object is used on one thread only. The program is terminated, if it
// still runs, when the object goes away.
class DebuggedProgram {
 public:
  DebuggedProgram() = default;
  DebuggedProgram(const DebuggedProgram&) = delete;
  DebuggedProgram& operator=(const DebuggedProgram&) = delete;
  ~DebuggedProgram();

  // Starts `program arguments` with no standard input or output; false (with a test failure)
  // when it cannot be started.
  bool Start(const std::wstring& program, const std::wstring& arguments);

  // Collects debug events until a report that `match` accepts arrives (returned, and kept in
  // Reports() with every report before it), the program ends, or timeoutMs passes (nothing).
  std::optional<ReportLine> WaitForReport(const std::function<bool(const ReportLine&)>& match,
                                          DWORD timeoutMs);
  // Collects debug events for periodMs, or until the program ends.
  void Collect(DWORD periodMs);

  // Every report seen so far, in order.
  const std::vector<ReportLine>& Reports() const { return reports_; }
  // Every debug string seen so far as written, reports or not, in order.
  const std::vector<std::string>& DebugStrings() const { return debugStrings_; }
  bool Exited() const { return exited_; }
  DWORD ExitCode() const { return exitCode_; }
  HANDLE Process() const { return process_.get(); }

  // Terminates the program with exitCode and collects events until it has ended; false when
  // it did not end within timeoutMs.
  bool Terminate(UINT exitCode, DWORD timeoutMs);

 private:
  // Handles one debug event, waiting up to waitMs for it; false when none came.
  bool Step(DWORD waitMs);

  UniqueHandle process_;
  DWORD processId_ = 0;
  bool exited_ = false;
  DWORD exitCode_ = 0;
  std::vector<ReportLine> reports_;
  std::vector<std::string> debugStrings_;
};

// CRLF line ends, as Windows programs print them.
std::string Lines(std::initializer_list<const char*> lines);

}  // namespace crvtest
