// The report sink's lines on the debugger output: their format, and the whole way from the
// exported sink to OutputDebugStringW, watched as a debugger watches a running agent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_runner.h"
#include "platform/win32/win32_platform.h"

namespace crvtest {
namespace {

using platform::win32::FormatReportLine;

std::u16string Format(uint32_t code, const char16_t* message, uint32_t value,
                      size_t capacity = platform::win32::kReportLineCapacity) {
  std::u16string line(capacity, u'?');
  size_t length = FormatReportLine(code, message, value, line.data(), capacity);
  EXPECT_EQ(line[length], u'\0');
  line.resize(length);
  return line;
}

TEST(ReportLineTest, CodeInHexValueInDecimalTextAfterAColon) {
  EXPECT_EQ(Format(0x44350127, u"CIFList::Build: no interfaces", 0),
            u"CRVNicMgmt report 0x44350127 value 0: CIFList::Build: no interfaces\n");
  EXPECT_EQ(Format(0x84350101, nullptr, 8), u"CRVNicMgmt report 0x84350101 value 8\n");
  EXPECT_EQ(Format(0x0000000B, u"", 0xFFFFFFFF),
            u"CRVNicMgmt report 0x0000000B value 4294967295: \n");
}

TEST(ReportLineTest, ALongTextIsCutAndTheLineStillEnds) {
  std::u16string text(3000, u'x');
  std::u16string line = Format(0x84350106, text.c_str(), 2);
  EXPECT_EQ(line.size(), platform::win32::kReportLineCapacity - 1);
  EXPECT_EQ(line.rfind(u"CRVNicMgmt report 0x84350106 value 2: xxx", 0), 0u);
  EXPECT_EQ(line.back(), u'\n');

  std::u16string small = Format(0x84350106, text.c_str(), 2, 64);
  EXPECT_EQ(small.size(), 63u);
  EXPECT_EQ(small.back(), u'\n');
}

// Runs the probe under this process as its debugger and collects its debug strings.
std::vector<std::string> DebugStringsOf(const std::wstring& program, DWORD* exitCode) {
  std::vector<std::string> strings;
  std::wstring commandLine = L"\"" + program + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start the probe, error " << GetLastError();
    return strings;
  }
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  for (;;) {
    DEBUG_EVENT event = {};
    if (!WaitForDebugEvent(&event, 30000)) {
      ADD_FAILURE() << "no debug event, error " << GetLastError();
      TerminateProcess(process.hProcess, 1);
      return strings;
    }
    DWORD continueStatus = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr)
          CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT:
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
          continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case OUTPUT_DEBUG_STRING_EVENT: {
        const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
        size_t unit = info.fUnicode ? 2 : 1;
        std::string bytes(info.nDebugStringLength * unit, '\0');
        SIZE_T read = 0;
        ReadProcessMemory(process.hProcess, info.lpDebugStringData, bytes.data(), bytes.size(),
                          &read);
        bytes.resize(read);
        std::string text;
        for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
          if (bytes[i] == '\0' && (unit == 1 || bytes[i + 1] == '\0')) break;
          text.push_back(bytes[i]);  // the lines are ASCII
        }
        strings.push_back(text);
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        *exitCode = event.u.ExitProcess.dwExitCode;
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
        return strings;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
  }
}

TEST(ReportSinkTest, BothExportsWriteOneDebugLineEachAndReturnOne) {
  DWORD exitCode = 0;
  std::vector<std::string> lines = DebugStringsOf(BinaryPath(L"crv_report_probe.exe"), &exitCode);
  EXPECT_EQ(exitCode, 2u);
  std::vector<std::string> reports;
  for (const std::string& line : lines) {
    if (line.rfind("CRVNicMgmt", 0) == 0) reports.push_back(line);
  }
  EXPECT_EQ(reports, (std::vector<std::string>{
                         "CRVNicMgmt report 0x44350127 value 0: Debug logging is enabled.\n",
                         "CRVNicMgmt report 0x84350101 value 8\n"}));
}

}  // namespace
}  // namespace crvtest
