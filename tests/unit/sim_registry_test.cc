// The simulated registry must answer as Windows does, or agent tests prove nothing.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

class SimRegistryTest : public crvtest::SimTest {
 protected:
  Registry& reg() { return *Os().registry; }
  RegKey Create(const char16_t* path, uint32_t options, uint32_t* disposition = nullptr) {
    RegKey key = nullptr;
    EXPECT_EQ(0, reg().CreateKeyEx(kHkeyLocalMachine, path, nullptr, options, kKeyAllAccess, &key,
                                   disposition));
    return key;
  }
};

// A read-only key refusing a value or a subkey and the dispositions of a create are the
// registry key class's tests.
TEST_F(SimRegistryTest, OpenCreateVolatilityRightsAndDeletion) {
  RegKey key = reinterpret_cast<RegKey>(1);
  EXPECT_EQ(2, reg().OpenKeyEx(kHkeyLocalMachine, u"SYSTEM\\Missing", 0, kKeyRead, &key));
  EXPECT_EQ(nullptr, key);
  RegKey tree = Create(u"SYSTEM\\Tree\\Leaf", kRegOptionVolatile);
  EXPECT_EQ(0, reg().CloseKey(tree));
  uint32_t disposition = 0;
  tree = Create(u"SYSTEM\\TREE\\leaf", kRegOptionVolatile, &disposition);
  EXPECT_EQ(kRegOpenedExistingKey, disposition);
  EXPECT_EQ(0, reg().CloseKey(tree));
  RegKey stable = nullptr;
  EXPECT_EQ(static_cast<int32_t>(kErrorChildMustBeVolatile),
            reg().CreateKeyEx(kHkeyLocalMachine, u"SYSTEM\\Tree\\Stable", nullptr,
                              kRegOptionNonVolatile, kKeyAllAccess, &stable, nullptr));
  machine.registry().DropVolatileKeys();
  EXPECT_FALSE(machine.registry().KeyExists(u"SYSTEM\\Tree"));
  EXPECT_TRUE(machine.registry().KeyExists(u"SYSTEM"));

  // A key opened to set values cannot read them.
  RegKey leaf = Create(u"SYSTEM\\A\\B", 0);
  RegKey writer = nullptr;
  ASSERT_EQ(0, reg().OpenKeyEx(kHkeyLocalMachine, u"SYSTEM\\A\\B", 0, kKeySetValue, &writer));
  uint8_t one = 1;
  EXPECT_EQ(0, reg().SetValueEx(writer, u"V", kRegBinary, &one, 1));
  uint32_t size = 0;
  EXPECT_EQ(5, reg().QueryValueEx(writer, u"V", nullptr, nullptr, &size));
  reg().CloseKey(writer);

  // Deletion needs an empty key and leaves open handles to the deleted key useless.
  EXPECT_EQ(5, reg().DeleteKey(kHkeyLocalMachine, u"SYSTEM\\A"));
  EXPECT_EQ(0, reg().DeleteKey(kHkeyLocalMachine, u"SYSTEM\\A\\B"));
  EXPECT_EQ(2, reg().DeleteKey(kHkeyLocalMachine, u"SYSTEM\\A\\B"));
  EXPECT_EQ(static_cast<int32_t>(kErrorKeyDeleted),
            reg().SetValueEx(leaf, u"V", kRegBinary, &one, 1));
  EXPECT_EQ(0, reg().DeleteKey(kHkeyLocalMachine, u"SYSTEM\\A"));
  reg().CloseKey(leaf);
  EXPECT_EQ(0, machine.openHandles().registry);
}

TEST_F(SimRegistryTest, QueryValueSizeFirstAndSubkeysInNameOrder) {
  machine.registry().SetString(u"SYSTEM\\K", u"Text", u"abc");
  for (const char16_t* name : {u"beta", u"Alpha", u"gamma"}) {
    machine.registry().CreateKey(std::u16string(u"SYSTEM\\K\\") + name);
  }
  RegKey key = nullptr;
  ASSERT_EQ(0, reg().OpenKeyEx(kHkeyLocalMachine, u"SYSTEM\\K", 0, kKeyRead, &key));
  uint32_t type = 0, size = 0;
  EXPECT_EQ(0, reg().QueryValueEx(key, u"TEXT", &type, nullptr, &size));
  EXPECT_EQ(kRegSz, type);
  EXPECT_EQ(8u, size);
  uint8_t small[4];
  size = sizeof small;
  EXPECT_EQ(static_cast<int32_t>(kErrorMoreData),
            reg().QueryValueEx(key, u"Text", &type, small, &size));
  EXPECT_EQ(8u, size);
  EXPECT_EQ(2, reg().QueryValueEx(key, u"Nope", &type, nullptr, &size));

  // Value names are bound like key names (the agent enumerates no values).
  char16_t name[261];
  uint32_t length = 4;  // "Text" needs 5 with its terminator
  EXPECT_EQ(static_cast<int32_t>(kErrorMoreData),
            reg().EnumValue(key, 0, name, &length, nullptr, nullptr, nullptr));

  // Subkeys in name order without regard to case, named without their terminator.
  length = 261;
  ASSERT_EQ(0, reg().EnumKeyEx(key, 1, name, &length, nullptr));
  EXPECT_EQ(u"beta", std::u16string(name, length));
  length = 261;
  EXPECT_EQ(static_cast<int32_t>(kErrorNoMoreItems),
            reg().EnumKeyEx(key, 3, name, &length, nullptr));
  uint32_t tiny = 5;  // "Alpha" needs 6 with its terminator
  EXPECT_EQ(static_cast<int32_t>(kErrorMoreData), reg().EnumKeyEx(key, 0, name, &tiny, nullptr));
  reg().CloseKey(key);
}

}  // namespace
