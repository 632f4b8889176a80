// Threads and events of the simulated server: named events and last errors behave as Windows',
// a process ends the way Windows ends one. Timed waits on events and the clock are the
// collection loop's and the start time's, tested end to end. And its library loader, by the
// rules of Windows' loader the agent's leak checks rely on (names, case and entry points are
// the platform contract's).
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "platform/sim/state/library_sim.h"
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

// A blocked call keeps its thread for its virtual time; a rule by occurrence blocks that call
// only. (Calls blocked for good, and by time, are the hung-call scenarios'.)
TEST_F(SimKernelTest, ABlockedCallTakesItsVirtualTimeOnce) {
  ASSERT_TRUE(machine.BlockCall("GetModuleFileNameW", 2, 0, 5000));
  EXPECT_FALSE(machine.BlockCall("NoSuchCall", 1, 0, 5));
  std::vector<uint64_t> after;
  char16_t path[8];
  machine.Run(
      [&] {
        for (int i = 0; i < 3; ++i) {
          machine.platform().libraries->GetModuleFileName(nullptr, path, 8);
          after.push_back(machine.NowMs());
        }
      },
      60000);
  EXPECT_EQ(after, (std::vector<uint64_t>{0, 5000, 5000}));
}

TEST_F(SimKernelTest, ModulesAreCountedAndOnlyLoadedOnesAnswer) {
  DynamicLibrary& libraries = *machine.platform().libraries;
  machine.libraries().qlmapi().present = true;
  machine.libraries().bmapiLocal().present = true;
  EXPECT_EQ(nullptr, libraries.LoadLibrary(u"bmapi.dll"));  // not on the library search
  Module a = libraries.LoadLibrary(u"qlmapia.dll");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, machine.libraries().LoadedReferences());
  EXPECT_TRUE(libraries.FreeLibrary(a));
  EXPECT_FALSE(libraries.FreeLibrary(a));
  EXPECT_EQ(nullptr, libraries.GetProcAddress(a, "QLmapiGet579XXFwInfo"));
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

}  // namespace
