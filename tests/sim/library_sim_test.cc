// The simulated library loader: the rules of Windows' loader the agent's leak checks rely on
// (names, case and entry points are the platform contract's).
#include <gtest/gtest.h>

#include "platform/sim/state/library_sim.h"
#include "support/sim_fixture.h"

namespace {

using LibrarySimTest = crvtest::SimTest;

TEST_F(LibrarySimTest, ModulesAreCountedAndOnlyLoadedOnesAnswer) {
  platform::DynamicLibrary& libraries = *machine.platform().libraries;
  machine.libraries().qlmapi().present = true;
  machine.libraries().bmapiLocal().present = true;
  EXPECT_EQ(nullptr, libraries.LoadLibrary(u"bmapi.dll"));  // not on the library search
  platform::Module a = libraries.LoadLibrary(u"qlmapia.dll");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, machine.libraries().LoadedReferences());
  EXPECT_TRUE(libraries.FreeLibrary(a));
  EXPECT_FALSE(libraries.FreeLibrary(a));
  EXPECT_EQ(nullptr, libraries.GetProcAddress(a, "QLmapiGet579XXFwInfo"));
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

}  // namespace
