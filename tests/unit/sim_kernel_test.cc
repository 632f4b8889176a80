// Threads, events and time of the simulated server: events wake the waiter with their index,
// named events and last errors behave as Windows', a process ends the way Windows ends one.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

class SimKernelTest : public crvtest::SimTest {
 protected:
  Kernel& k() { return *Os().kernel; }
};

TEST_F(SimKernelTest, TimelineEventWakesTheWaiterWithItsIndexAndResets) {
  std::vector<std::pair<uint32_t, uint64_t>> results;
  machine.SetEventAt(5000, u"Second");
  machine.SetEventAt(9000, u"First");
  machine.Run(
      [&] {
        Handle events[2] = {k().CreateEvent(false, false, u"First"),
                            k().CreateEvent(false, false, u"Second")};
        for (int i = 0; i < 3; ++i) {
          uint32_t result = k().WaitForMultipleObjects(2, events, false, 30000);
          results.emplace_back(result, machine.NowMs());
        }
      },
      60000);
  ASSERT_EQ(3u, results.size());
  EXPECT_EQ(std::make_pair(kWaitObject0 + 1, uint64_t{5000}), results[0]);
  EXPECT_EQ(std::make_pair(kWaitObject0, uint64_t{9000}), results[1]);
  EXPECT_EQ(std::make_pair(kWaitTimeout, uint64_t{39000}), results[2]);
}

TEST_F(SimKernelTest, NamedEventsAreSharedAndClosedWithTheProcess) {
  Handle outside = k().CreateEvent(false, false, u"Shared");
  EXPECT_EQ(0u, k().GetLastError());
  Handle again = nullptr;
  uint32_t error = 0;
  machine.Run(
      [&] {
        again = k().CreateEvent(false, false, u"Shared");
        error = k().GetLastError();
        k().CreateEvent(false, false, u"ProcessOnly");
      },
      1000);
  EXPECT_NE(nullptr, again);
  EXPECT_EQ(kErrorAlreadyExists, error);
  EXPECT_TRUE(machine.EventExists(u"Shared"));
  EXPECT_FALSE(machine.EventExists(u"ProcessOnly"));
  EXPECT_TRUE(k().CloseHandle(outside));
  EXPECT_FALSE(machine.EventExists(u"Shared"));
  EXPECT_FALSE(k().CloseHandle(outside));
  EXPECT_EQ(kErrorInvalidHandle, k().GetLastError());
}

TEST_F(SimKernelTest, ThreadIdsAndLastErrorsArePerThread) {
  uint32_t mainId = 0, workerId = 0, mainError = 0;
  static uint32_t* workerIdOut;
  workerIdOut = &workerId;
  machine.Run(
      [&] {
        mainId = k().GetCurrentThreadId();
        k().SetLastError(42);
        k().BeginThread(
            [](void*) {
              *workerIdOut = Os().kernel->GetCurrentThreadId();
              Os().kernel->SetLastError(7);
            },
            0, nullptr);
        k().SleepEx(10, false);
        mainError = k().GetLastError();
      },
      1000);
  EXPECT_NE(0u, mainId);
  EXPECT_NE(0u, workerId);
  EXPECT_NE(mainId, workerId);
  EXPECT_EQ(42u, mainError);
}

TEST_F(SimKernelTest, SystemTimeFollowsTheVirtualClock) {
  machine.AdvanceTo(90500);
  SystemTime t;
  k().GetSystemTime(&t);
  EXPECT_EQ((std::vector<int>{2026, 1, 1, 5, 8, 1, 30, 500}),  // a Monday
            (std::vector<int>{t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second,
                              t.milliseconds}));
  FileTime converted, now;
  ASSERT_TRUE(k().SystemTimeToFileTime(&t, &converted));
  k().GetSystemTimeAsFileTime(&now);
  EXPECT_EQ(now.low, converted.low);
  EXPECT_EQ(now.high, converted.high);
  // 1601-01-01 is file time 0.
  SystemTime epoch{1601, 1, 1, 1, 0, 0, 0, 0};
  ASSERT_TRUE(k().SystemTimeToFileTime(&epoch, &converted));
  EXPECT_EQ(0u, converted.low | converted.high);
}

TEST_F(SimKernelTest, ModuleFileNameIsCutToTheBuffer) {
  machine.SetModuleFileName(u"C:\\x\\host.exe");
  char16_t buffer[8];
  EXPECT_EQ(8u, k().GetModuleFileName(buffer, 8));
  EXPECT_EQ(std::u16string(u"C:\\x\\ho"), std::u16string(buffer));
  EXPECT_EQ(kErrorInsufficientBuffer, k().GetLastError());
  char16_t whole[32];
  EXPECT_EQ(13u, k().GetModuleFileName(whole, 32));
  EXPECT_EQ(std::u16string(u"C:\\x\\host.exe"), std::u16string(whole));
}

}  // namespace
