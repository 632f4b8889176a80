// The agent's events on the real Windows calls: the message table compiled into the module
// gives the Event Viewer each sentence, and every event goes through
// advapi32's RegisterEventSourceW, ReportEventW and DeregisterEventSource without error.
#include <gtest/gtest.h>

#include <string>

#include "events/event_messages.h"
#include "events/event_writer.h"
#include "host_runner.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace crvtest {
namespace {

// FormatMessageW gives each sentence of the table from the module as it is, its inserts
// left in place, ending in a line break.
TEST(EventLogTest, TheModulesMessageTableHoldsEverySentence) {
  HMODULE module =
      LoadLibraryExW(BinaryPath(L"crvnicmgmt.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  for (const crv::EventMessage& m : crv::kEventMessages) {
    SCOPED_TRACE(m.symbolName);
    wchar_t text[1024] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  module, m.id, 0, text, 1024, nullptr);
    ASSERT_GT(length, 0u) << GetLastError();
    std::string expected = std::string(m.text) + "\r\n";
    EXPECT_EQ(std::wstring(text, length), std::wstring(expected.begin(), expected.end()));
  }
  FreeLibrary(module);
}

TEST(EventLogTest, EveryEventGoesThroughTheRealCallsAndKeepsTheLastError) {
  platform::win32::InstallWin32Platform();
  const char16_t* inserts[] = {u"1",          u"2", u"bus 3, device 0, function 1",
                               u"Ethernet 2", u"1", u"2"};
  for (const crv::EventMessage& m : crv::kEventMessages) {
    SCOPED_TRACE(m.symbolName);
    SetLastError(1234);
    EXPECT_TRUE(crv::WriteEvent(m.id, m.inserts, inserts));
    EXPECT_EQ(GetLastError(), 1234u);
  }
  // An id the table does not hold is not written at all.
  EXPECT_FALSE(crv::WriteEvent(4242, 0, nullptr));
}

}  // namespace
}  // namespace crvtest
