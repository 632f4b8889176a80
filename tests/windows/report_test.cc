// The report sink's lines on the debugger output: their format, and the whole way from the
// exported sink to OutputDebugStringW, watched as a debugger watches a running agent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_runner.h"
#include "platform/diagnostics.h"
#include "platform/platform.h"
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

// An empty text keeps its colon; a text too long for the line is cut and the line still ends.
// (Lines with and without a text are read from the debugger output below.)
TEST(ReportLineTest, FormatAndCut) {
  EXPECT_EQ(Format(0x0000000B, u"", 0xFFFFFFFF),
            u"CRVNicMgmt report 0x0000000B value 4294967295: \n");

  std::u16string text(3000, u'x');
  for (size_t capacity : {platform::win32::kReportLineCapacity, size_t{64}}) {
    std::u16string line = Format(0x84350106, text.c_str(), 2, capacity);
    EXPECT_EQ(line.size(), capacity - 1);
    EXPECT_EQ(line.rfind(u"CRVNicMgmt report 0x84350106 value 2: xxx", 0), 0u);
    EXPECT_EQ(line.back(), u'\n');
  }
}

TEST(ReportSinkTest, BothExportsWriteOneDebugLineEachAndReturnOne) {
  // The probe runs under this process as its debugger, so its debug strings reach the test.
  DebuggedProgram probe;
  ASSERT_TRUE(probe.Start(BinaryPath(L"crv_report_probe.exe"), L""));
  probe.Collect(kLoadedStepMs);  // until it ends
  ASSERT_TRUE(probe.Exited()) << "the probe did not end";
  EXPECT_EQ(probe.ExitCode(), 2u);
  std::vector<std::string> reports;
  for (const std::string& line : probe.DebugStrings()) {
    if (line.rfind("CRVNicMgmt", 0) == 0) reports.push_back(line);
  }
  EXPECT_EQ(reports, (std::vector<std::string>{
                         "CRVNicMgmt report 0x44350127 value 0: Debug logging is enabled.\n",
                         "CRVNicMgmt report 0x84350101 value 8\n"}));
}

// The debugger output may leave a last error of its own (it looks for a debug monitor's
// buffer, which no monitor has made here); the sink puts the caller's back.
TEST(ReportSinkTest, TheCallersLastErrorIsKeptAcrossAReport) {
  platform::win32::InstallWin32Platform();
  for (DWORD error : {DWORD{ERROR_INVALID_HANDLE}, DWORD{ERROR_SUCCESS}, DWORD{0xE0001234}}) {
    SetLastError(error);
    platform::Os().diagnostics->Report(0x84350101, nullptr, error);
    EXPECT_EQ(GetLastError(), error);
  }
}

}  // namespace
}  // namespace crvtest
