// crv_testbed_debug_view.exe SERVICE SECONDS: attaches to the running service's process as a
// debugger, as an administrator's debug viewer does, and prints every debugger output line it
// writes during SECONDS, then detaches and leaves the service running. Exit code 0 when it could
// attach, 1 when not.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: crv_testbed_debug_view.exe SERVICE SECONDS\n");
    return 2;
  }
  const DWORD pid = ServiceProcessId(argv[1]);
  if (pid == 0 || !DebugActiveProcess(pid)) {
    fwprintf(stderr, L"crv_testbed_debug_view: cannot attach to %ls (process %lu): error %lu\n",
             argv[1], pid, GetLastError());
    return 1;
  }
  DebugSetProcessKillOnExit(FALSE);
  HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
  const ULONGLONG end = GetTickCount64() + 1000ull * wcstoul(argv[2], nullptr, 10);
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    DEBUG_EVENT event = {};
    if (!WaitForDebugEvent(&event, static_cast<DWORD>(end - now < 200 ? end - now : 200))) continue;
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT && process != nullptr) {
      wprintf(L"%ls", ReadDebugString(process, event.u.DebugString).c_str());
      fflush(stdout);
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
  return 0;
}
