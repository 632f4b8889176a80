// The interface change registration through the Win32 backend, against the system it runs on.
// Windows gives a handle and calls back at once when asked for the initial notification;
// Wine 8.0 answers success without a handle and never calls back, which the agent takes as
// "no notifications" (collect/interface_change_watch.h).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

namespace {

using namespace platform;

std::atomic<int> g_calls{0};

void Count(void*, const IpInterfaceChange*) { ++g_calls; }

TEST(InterfaceChangeTest, ARegistrationEitherCallsBackAndCancelsOrHasNoHandle) {
  win32::InstallWin32Platform();
  IpHelper& ip = *Os().ipHelper;
  Handle registration = reinterpret_cast<Handle>(1);
  ASSERT_EQ(ip.NotifyIpInterfaceChange(kAfUnspec, &Count, nullptr, true, &registration), 0u);
  if (registration == nullptr) {
    Sleep(1000);
    EXPECT_EQ(g_calls.load(), 0) << "called back on a registration without a handle";
    return;
  }
  for (int i = 0; i < 1200 && g_calls.load() == 0; ++i) Sleep(100);  // up to 2 minutes
  EXPECT_GE(g_calls.load(), 1) << "no initial notification";
  EXPECT_EQ(ip.CancelMibChangeNotify2(registration), 0u);
}

}  // namespace
