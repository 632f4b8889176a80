// The agent's events on the real Windows calls: the message table compiled into the module
// gives the Event Viewer each sentence with its inserts, and every event goes through
// advapi32's RegisterEventSourceW, ReportEventW and DeregisterEventSource without error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/event_messages.h"
#include "events/event_writer.h"
#include "host_runner.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace crvtest {
namespace {

// The sentence of the table with "<n>" for each insert, as FormatMessageW gives it from the
// module with those inserts: each message line ends with a line break.
std::wstring Expected(const crv::EventMessage& m) {
  std::wstring text;
  for (const char* c = m.text; *c != 0; ++c) {
    if (*c == '%' && c[1] >= '1' && c[1] <= '9') {
      text += L"<" + std::wstring(1, static_cast<wchar_t>(c[1])) + L">";
      ++c;
    } else {
      text += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
  }
  return text + L"\r\n";
}

TEST(EventLogTest, TheModulesMessageTableHoldsEverySentence) {
  HMODULE module =
      LoadLibraryExW(BinaryPath(L"crvnicmgmt.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << GetLastError();
  const wchar_t* inserts[] = {L"<1>", L"<2>", L"<3>", L"<4>", L"<5>", L"<6>"};
  for (const crv::EventMessage& m : crv::kEventMessages) {
    SCOPED_TRACE(m.symbolName);
    wchar_t text[1024] = {};
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, m.id, 0,
                       text, 1024, reinterpret_cast<va_list*>(const_cast<wchar_t**>(inserts)));
    ASSERT_GT(length, 0u) << GetLastError();
    EXPECT_EQ(std::wstring(text, length), Expected(m));
  }
  // An id the table does not hold has no sentence.
  wchar_t text[64] = {};
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module,
                           4242, 0, text, 64, nullptr),
            0u);
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
