// Helpers for the tests of the real Windows side: running crvnichost.exe and other programs of
// the build as child processes, and driving the service control manager directly.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

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

// CRLF line ends, as Windows programs print them.
std::string Lines(std::initializer_list<const char*> lines);

}  // namespace crvtest
