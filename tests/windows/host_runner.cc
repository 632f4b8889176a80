#include "host_runner.h"

#include <gtest/gtest.h>

namespace crvtest {

std::wstring BinaryPath(const wchar_t* fileName) {
  std::wstring path(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + fileName;
}

namespace {

UniqueHandle Inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return UniqueHandle();
  }
  return UniqueHandle(copy);
}

UniqueHandle Launch(const std::wstring& program, const std::wstring& arguments, HANDLE output) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;

  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr));
  UniqueHandle errors = Inheritable(GetStdHandle(STD_ERROR_HANDLE));

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.get();
  startup.hStdOutput = output != nullptr ? output : nul.get();
  startup.hStdError = errors ? errors.get() : nul.get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start the program, error " << GetLastError();
    return UniqueHandle();
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

}  // namespace

ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                         DWORD timeoutMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe failed, error " << GetLastError();
    return result;
  }
  UniqueHandle reader(readEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  UniqueHandle process;
  {
    UniqueHandle writer(writeEnd);  // the child keeps the only write end
    process = Launch(program, arguments, writeEnd);
  }
  if (!process) return result;

  // Drain the pipe while waiting, so that a chatty child cannot block on a full pipe.
  auto drain = [&] {
    char buffer[4096];
    DWORD available = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      DWORD read = 0;
      if (!ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr)) break;
      result.output.append(buffer, read);
    }
  };
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    drain();
    if (WaitForSingleObject(process.get(), 10) == WAIT_OBJECT_0) break;
    if (GetTickCount64() > deadline) {
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), INFINITE);
      return result;
    }
  }
  drain();
  result.finished = true;
  GetExitCodeProcess(process.get(), &result.exitCode);
  return result;
}

UniqueHandle StartHost(const std::wstring& arguments) {
  return Launch(BinaryPath(L"crvnichost.exe"), arguments, nullptr);
}

UniqueScHandle OpenManager() {
  UniqueScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  EXPECT_TRUE(manager) << "OpenSCManagerW failed, error " << GetLastError();
  return manager;
}

UniqueScHandle OpenAgentService(DWORD access) {
  UniqueScHandle manager = OpenManager();
  if (!manager) return UniqueScHandle();
  return UniqueScHandle(OpenServiceW(manager.get(), kServiceName, access));
}

bool IsRegistered() { return static_cast<bool>(OpenAgentService(SERVICE_QUERY_CONFIG)); }

bool WaitForServiceState(SC_HANDLE service, DWORD state, DWORD timeoutMs,
                         SERVICE_STATUS_PROCESS* last) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  SERVICE_STATUS_PROCESS status = {};
  for (;;) {
    DWORD needed = 0;
    bool queried = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
    if (last != nullptr) *last = status;
    if (queried && status.dwCurrentState == state) return true;
    if (GetTickCount64() > deadline) return false;
    Sleep(50);
  }
}

void RemoveService() {
  {
    UniqueScHandle service = OpenAgentService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) return;
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(service.get(), SERVICE_STOPPED, 20000);
    DeleteService(service.get());
  }
  const ULONGLONG deadline = GetTickCount64() + 20000;
  while (IsRegistered() && GetTickCount64() < deadline) Sleep(50);
  ASSERT_FALSE(IsRegistered()) << "the service registration did not go away";
}

UniqueHandle WaitForNamedEvent(const wchar_t* name, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name));
    if (event || GetTickCount64() > deadline) return event;
    Sleep(50);
  }
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text.append(line).append("\r\n");
  return text;
}

}  // namespace crvtest
