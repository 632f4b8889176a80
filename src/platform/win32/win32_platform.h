// The real Windows platform: every platform interface implemented on the Win32 API. The
// module installs it when it loads; programs and tests that link the backend directly call
// InstallWin32Platform themselves.
//
// Reports go to the debugger output (OutputDebugStringW), one call and one line each, so that
// an administrator can watch a running agent with a debug viewer:
//
//   CRVNicMgmt report 0x<code> value <value>: <message>
//   CRVNicMgmt report 0x<code> value <value>
//
// <code> is the report code as eight upper-case hexadecimal digits, <value> the report's value
// in unsigned decimal (a Win32 error or status), <message> the report's text; the second form
// is used when a report has no text. Each line ends with "\n". A text too long for the line
// buffer (kReportLineCapacity characters with the terminator) is cut, never the prefix. For
// example:
//
//   CRVNicMgmt report 0x44350127 value 0: Debug logging is enabled.
//   CRVNicMgmt report 0x84350101 value 8
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::win32 {

// Installs the Win32 implementation of every platform interface (platform::Install).
void InstallWin32Platform();

// Room for one report line, terminator included.
constexpr size_t kReportLineCapacity = 1024;

// Writes the report line for (code, message, value) into line, which holds capacity
// characters (at least 64), terminated. Returns the characters written before the terminator.
size_t FormatReportLine(uint32_t code, const char16_t* message, uint32_t value, char16_t* line,
                        size_t capacity);

}  // namespace platform::win32
