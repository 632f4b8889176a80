// Threads and events of the simulated server: named events and last errors behave as Windows',
// a process ends the way Windows ends one. Timed waits on events and the clock are the
// collection loop's and the start time's, tested end to end.
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

TEST_F(SimKernelTest, NamedEventsAreSharedAndClosedWithTheProcess) {
  Handle outside = k().CreateEvent(false, false, u"Shared");
  Handle again = nullptr;
  uint32_t error = 0;
  machine.Run(
      [&] {
        again = k().CreateEvent(false, false, u"Shared");
        error = k().GetLastError();
        k().CreateEvent(false, false, u"ProcessOnly");
      },
      1000);
  EXPECT_TRUE(again != nullptr && error == kErrorAlreadyExists) << error;
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
  EXPECT_TRUE(mainId != 0 && workerId != 0 && mainId != workerId) << mainId << " " << workerId;
  EXPECT_EQ(42u, mainError);
}

// A blocked call keeps its thread for its virtual time, or for good while the others go on;
// each rule blocks one call, chosen by occurrence or by time.
TEST_F(SimKernelTest, BlockedCallsHoldTheirThreadOnly) {
  ASSERT_TRUE(machine.BlockCall("GetModuleFileNameW", 2, 0, 5000));
  ASSERT_TRUE(machine.BlockCall("SetEvent", 0, 20000, sim::FaultPlan::kBlockForever));
  EXPECT_FALSE(machine.BlockCall("NoSuchCall", 1, 0, 5));
  char16_t path[8];
  static std::vector<uint64_t> workerSteps;
  workerSteps.clear();
  sim::RunEnd end = machine.Run(
      [&] {
        k().GetModuleFileName(path, 8);
        EXPECT_EQ(machine.NowMs(), 0u);
        k().GetModuleFileName(path, 8);
        EXPECT_EQ(machine.NowMs(), 5000u);
        k().BeginThread(
            [](void*) {
              Handle event = Os().kernel->CreateEvent(false, false, nullptr);
              for (;;) {
                Os().kernel->SetEvent(event);  // the first at or after 20 s never returns
                workerSteps.push_back(0);
                Os().kernel->SleepEx(10000, false);
              }
            },
            0, nullptr);
        for (int i = 0; i < 6; ++i) k().SleepEx(10000, false);
      },
      3600000);
  EXPECT_EQ(end, sim::RunEnd::kReturned);
  EXPECT_EQ(machine.NowMs(), 65000u);
  EXPECT_EQ(workerSteps.size(), 2u);  // at 5 s and 15 s; stuck at 25 s
}

}  // namespace
