// crv_testbed_debug_view.exe SERVICE SECONDS [UNTIL]: attaches to the running service's process
// as a debugger, as an administrator's debug viewer does, and prints every debugger output line
// it writes, then detaches and leaves the service running. It prints "attached" on standard
// error once the service's lines reach it, so that a script can make its changes after that
// and not lose a line. It watches for SECONDS, or until a line contains the text UNTIL (in any
// case). Exit code 0 when it could attach (and saw UNTIL, when given), 1 when not.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

DWORD ServiceProcessId(const wchar_t* name) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 0;
  SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
  DWORD pid = 0;
  if (service != nullptr) {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed)) {
      pid = status.dwProcessId;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return pid;
}

// The debug string of the event, read from the debuggee's memory (bounded).
std::wstring ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  const size_t units = info.nDebugStringLength < 4096 ? info.nDebugStringLength : 4096;
  if (info.fUnicode) {
    std::wstring text(units, L'\0');
    SIZE_T read = 0;
    ReadProcessMemory(process, info.lpDebugStringData, text.data(), units * sizeof(wchar_t), &read);
    text.resize(read / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
  std::string text(units, '\0');
  SIZE_T read = 0;
  ReadProcessMemory(process, info.lpDebugStringData, text.data(), units, &read);
  text.resize(read);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return std::wstring(text.begin(), text.end());
}

// Whether text holds part, ignoring case (GUIDs are written in either case).
bool ContainsIgnoringCase(std::wstring text, std::wstring part) {
  for (wchar_t& c : text) c = towupper(c);
  for (wchar_t& c : part) c = towupper(c);
  return text.find(part) != std::wstring::npos;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) {
    fwprintf(stderr, L"usage: crv_testbed_debug_view.exe SERVICE SECONDS [UNTIL]\n");
    return 2;
  }
  const DWORD pid = ServiceProcessId(argv[1]);
  if (pid == 0 || !DebugActiveProcess(pid)) {
    fwprintf(stderr, L"crv_testbed_debug_view: cannot attach to %ls (process %lu): error %lu\n",
             argv[1], pid, GetLastError());
    return 1;
  }
  DebugSetProcessKillOnExit(FALSE);
  fwprintf(stderr, L"attached\n");
  fflush(stderr);
  const wchar_t* until = argc == 4 ? argv[3] : nullptr;
  bool seen = until == nullptr;
  HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
  const ULONGLONG end = GetTickCount64() + 1000ull * wcstoul(argv[2], nullptr, 10);
  for (ULONGLONG now = GetTickCount64(); now < end && !seen; now = GetTickCount64()) {
    DEBUG_EVENT event = {};
    if (!WaitForDebugEvent(&event, static_cast<DWORD>(end - now < 200 ? end - now : 200))) continue;
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT && process != nullptr) {
      const std::wstring line = ReadDebugString(process, event.u.DebugString);
      wprintf(L"%ls", line.c_str());
      fflush(stdout);
      if (until != nullptr && ContainsIgnoringCase(line, until)) seen = true;
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
               event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
      status = DBG_EXCEPTION_NOT_HANDLED;
    } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      CloseHandle(event.u.LoadDll.hFile);
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  DebugActiveProcessStop(pid);
  if (process != nullptr) CloseHandle(process);
  return seen ? 0 : 1;
}
