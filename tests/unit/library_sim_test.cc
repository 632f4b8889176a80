// The simulated library loader: the rules of Windows' loader the agent's leak checks rely on.
#include <gtest/gtest.h>

#include "platform/sim/library_sim.h"
#include "support/sim_fixture.h"

namespace {

using LibrarySimTest = crvtest::SimTest;

TEST_F(LibrarySimTest, ModulesAreCountedAndOnlyLoadedOnesAnswer) {
  platform::DynamicLibrary& libraries = *machine.platform().libraries;
  machine.libraries().qlmapi().present = true;
  machine.libraries().bmapiLocal().present = true;
  EXPECT_EQ(nullptr, libraries.LoadLibrary(u"bmapi.dll"));  // not on the library search
  platform::Module a = libraries.LoadLibrary(u"QLMAPIA.DLL");
  platform::Module b = libraries.LoadLibrary(u"qlmapia.dll");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(2, machine.libraries().LoadedReferences());
  EXPECT_NE(nullptr, libraries.GetProcAddress(a, "QLmapiGet579XXFwInfo"));
  EXPECT_EQ(nullptr, libraries.GetProcAddress(a, "qlmapiget579xxfwinfo"));
  EXPECT_TRUE(libraries.FreeLibrary(a));
  EXPECT_TRUE(libraries.FreeLibrary(a));
  EXPECT_FALSE(libraries.FreeLibrary(a));
  EXPECT_EQ(nullptr, libraries.GetProcAddress(a, "QLmapiGet579XXFwInfo"));
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

}  // namespace
