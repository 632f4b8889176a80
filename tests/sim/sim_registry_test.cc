// The simulated registry's own machinery (the answers of the registry calls are the platform
// contract's): volatile keys go with a restart of the machine, and open keys are counted.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;
using SimRegistryTest = crvtest::SimTest;

TEST_F(SimRegistryTest, VolatileKeysGoWithARestartAndOpenKeysAreCounted) {
  RegKey tree = nullptr;
  ASSERT_EQ(0, Os().registry->CreateKeyEx(kHkeyLocalMachine, u"SYSTEM\\Tree\\Leaf", nullptr,
                                          kRegOptionVolatile, kKeyAllAccess, &tree, nullptr));
  EXPECT_EQ(1, machine.openHandles().registry);
  EXPECT_EQ(0, Os().registry->CloseKey(tree));
  EXPECT_EQ(0, machine.openHandles().registry);
  machine.registry().DropVolatileKeys();
  EXPECT_FALSE(machine.registry().KeyExists(u"SYSTEM\\Tree"));
  EXPECT_TRUE(machine.registry().KeyExists(u"SYSTEM"));
}

}  // namespace
