#include "host_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace crvtest {

std::wstring BinaryPath(const wchar_t* fileName) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L"\\/") + 1) + fileName;
}

namespace {

// Starts the program with no standard input or error, its output to `output` or nowhere.
UniqueHandle Launch(const std::wstring& program, const std::wstring& arguments, HANDLE output,
                    DWORD creationFlags = 0) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;

  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr));

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.get();
  startup.hStdOutput = output != nullptr ? output : nul.get();
  startup.hStdError = nul.get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, creationFlags,
                      nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start the program, error " << GetLastError();
    return UniqueHandle();
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

}  // namespace

ProcessResult RunProgram(const std::wstring& program, const std::wstring& arguments,
                         DWORD timeoutMs) {
  // The output goes to a file of its own, read once the program has ended.
  wchar_t directory[MAX_PATH], path[MAX_PATH];
  GetTempPathW(MAX_PATH, directory);
  GetTempFileNameW(directory, L"crv", 0, path);
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE created = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                               CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ProcessResult result;
  if (created == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot create the output file, error " << GetLastError();
    return result;
  }
  UniqueHandle file(created);
  UniqueHandle process = Launch(program, arguments, file.get());
  if (!process) return result;
  result.finished = WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
  if (!result.finished) TerminateProcess(process.get(), 0xDEAD);
  WaitForSingleObject(process.get(), INFINITE);
  GetExitCodeProcess(process.get(), &result.exitCode);
  char buffer[4096];
  DWORD read = 0;
  SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    result.output.append(buffer, read);
  }
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
  if (UniqueScHandle service = OpenAgentService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)) {
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    WaitForServiceState(service.get(), SERVICE_STOPPED, kLoadedStepMs);
    DeleteService(service.get());
  }
  // The registration goes once the last handle to it is closed.
  const ULONGLONG deadline = GetTickCount64() + kLoadedStepMs;
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

namespace {

// The report a debug string carries, if it is one.
std::optional<ReportLine> ParseReportLine(const std::string& line) {
  ReportLine report;
  int end = 0;
  if (std::sscanf(line.c_str(), "CRVNicMgmt report 0x%8x value %u%n", &report.code, &report.value,
                  &end) < 2 ||
      end != 35 + static_cast<int>(std::to_string(report.value).size())) {
    return std::nullopt;
  }
  const std::string rest = line.substr(end);
  if (rest == "\n") return report;
  if (rest.size() < 3 || rest.rfind(": ", 0) != 0 || rest.back() != '\n') return std::nullopt;
  report.text = rest.substr(2, rest.size() - 3);
  return report;
}

}  // namespace

DebuggedProgram::~DebuggedProgram() {
  if (process_ && !exited_) Terminate(0xDEAD, kLoadedStepMs);
}

bool DebuggedProgram::Start(const std::wstring& program, const std::wstring& arguments) {
  process_ = Launch(program, arguments, nullptr, DEBUG_ONLY_THIS_PROCESS);
  return static_cast<bool>(process_);
}

bool DebuggedProgram::Step(DWORD waitMs) {
  DEBUG_EVENT event = {};
  if (!WaitForDebugEvent(&event, waitMs)) return false;
  DWORD continueStatus = DBG_CONTINUE;
  switch (event.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
      CloseHandle(event.u.CreateProcessInfo.hFile);
      break;
    case LOAD_DLL_DEBUG_EVENT:
      CloseHandle(event.u.LoadDll.hFile);
      break;
    case EXCEPTION_DEBUG_EVENT:
      // The start-up breakpoint is the debugger's; every other exception is the program's.
      if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
        continueStatus = DBG_EXCEPTION_NOT_HANDLED;
      }
      break;
    case OUTPUT_DEBUG_STRING_EVENT: {
      const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
      const size_t unit = info.fUnicode ? 2 : 1;
      std::string bytes(info.nDebugStringLength * unit, '\0');
      SIZE_T read = 0;
      ReadProcessMemory(process_.get(), info.lpDebugStringData, bytes.data(), bytes.size(), &read);
      bytes.resize(read);
      std::string text;
      for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
        if (bytes[i] == '\0' && (unit == 1 || bytes[i + 1] == '\0')) break;
        text.push_back(bytes[i]);  // the report lines are ASCII
      }
      debugStrings_.push_back(text);
      if (std::optional<ReportLine> report = ParseReportLine(text)) {
        report->receivedMs = GetTickCount64();
        reports_.push_back(std::move(*report));
      }
      break;
    }
    case EXIT_PROCESS_DEBUG_EVENT:
      exited_ = true;
      exitCode_ = event.u.ExitProcess.dwExitCode;
      break;
    default:
      break;
  }
  ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
  return true;
}

std::optional<ReportLine> DebuggedProgram::WaitForReport(
    const std::function<bool(const ReportLine&)>& match, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  size_t checked = reports_.size();
  while (process_ && !exited_) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    Step(static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 100)));
    for (; checked < reports_.size(); ++checked) {
      if (match(reports_[checked])) return reports_[checked];
    }
  }
  return std::nullopt;
}

bool DebuggedProgram::Terminate(UINT exitCode, DWORD timeoutMs) {
  if (!process_) return false;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  if (!exited_) TerminateProcess(process_.get(), exitCode);
  while (!exited_ && GetTickCount64() < deadline) Step(100);
  const ULONGLONG now = GetTickCount64();
  const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
  return exited_ && WaitForSingleObject(process_.get(), left) == WAIT_OBJECT_0;
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text.append(line).append("\r\n");
  return text;
}

}  // namespace crvtest
