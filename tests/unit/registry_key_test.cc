#include "publish/registry_key.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/sim_fixture.h"

namespace {

using crv::CRegistryKey;
using crv::RootKey;

constexpr char16_t kBase[] = u"SOFTWARE\\Test";

class RegistryKeyTest : public crvtest::SimTest {
 protected:
  RegistryKeyTest() { m.registry().CreateKey(kBase); }
  CRegistryKey OpenBase(uint32_t access) { return RootKey().Open(kBase, access, true); }
  sim::Machine& m = machine;
};

TEST_F(RegistryKeyTest, MissingPathGivesNoHandleAndReportsOnlyWhenAsked) {
  {
    CRegistryKey quiet = RootKey().Open(u"SOFTWARE\\Missing", platform::kKeyRead, false);
    EXPECT_EQ(quiet.Key(), nullptr);
    EXPECT_EQ(quiet.LastError(), 2);
    EXPECT_EQ(RootKey().LastError(), 2);
    CRegistryKey loud = RootKey().Open(u"SOFTWARE\\Missing", platform::kKeyRead, true);
  }
  EXPECT_EQ(m.CallCount("RegCloseKey"), 0u);
  EXPECT_EQ(crvtest::DescribeReports(m),
            "[0 ms] 0x84350108 SOFTWARE\\Missing value 2\n");  // not opened
}

TEST_F(RegistryKeyTest, CreateKeepsTheDispositionAndEveryHandleIsClosedOnce) {
  {
    CRegistryKey base = OpenBase(platform::kKeyAllAccess);
    CRegistryKey child =
        base.Create(u"A\\B", nullptr, platform::kRegOptionVolatile, platform::kKeyAllAccess);
    EXPECT_EQ(base.Disposition(), platform::kRegCreatedNewKey);
    CRegistryKey again =
        base.Create(u"A\\B", nullptr, platform::kRegOptionVolatile, platform::kKeyAllAccess);
    EXPECT_EQ(base.Disposition(), platform::kRegOpenedExistingKey);
    EXPECT_EQ(m.openHandles().registry, 3);
  }
  EXPECT_TRUE(m.registry().IsVolatile(u"SOFTWARE\\Test\\A\\B"));

  // Failures of Create and SetValue are reported whatever the caller asks (read-only here).
  CRegistryKey readOnly = OpenBase(platform::kKeyRead);
  EXPECT_EQ(readOnly.Create(u"New", nullptr, 0, platform::kKeyAllAccess).Key(), nullptr);
  uint32_t one = 1;
  EXPECT_EQ(readOnly.SetValue(u"Status", platform::kRegDword, &one, 4), 5);
  EXPECT_EQ(crvtest::DescribeReports(m),
            "[0 ms] 0x84350106 New value 5\n"       // key not created
            "[0 ms] 0x8435010B Status value 5\n");  // value not written
}

TEST_F(RegistryKeyTest, QueryDwordGivesZeroUnlessTheValueIsADword) {
  m.registry().SetDword(kBase, u"Dword", 0xFFFFFFFF);
  m.registry().SetValue(kBase, u"Binary", platform::kRegBinary, {1, 2, 3, 4});
  CRegistryKey base = OpenBase(platform::kKeyRead);
  uint32_t value = 99;
  int32_t signedValue = 0;
  EXPECT_EQ(base.QueryDword(u"Dword", &signedValue, true).LastError(), 0);
  EXPECT_EQ(signedValue, -1);
  EXPECT_EQ(base.QueryDword(u"Binary", &value, true).LastError(), 0);
  EXPECT_EQ(value, 0u);
  value = 99;
  EXPECT_EQ(base.QueryDword(u"Missing", &value, false).LastError(), 2);
  EXPECT_EQ(value, 0u);
  base.QueryDword(u"Missing", &value, true);  // the only query that reports
  m.FailAllocation(1);
  EXPECT_EQ(base.QueryValue(u"Dword", nullptr, nullptr, false), nullptr);
  EXPECT_EQ(
      crvtest::DescribeReports(m),
      "[0 ms] 0x84350109 Missing value 2\n"  // not read
      "[0 ms] 0x84350101  value 8\n"         // allocation failed
      "[0 ms] 0x44350127 CRegistryKey::QueryValue: failure to allocate value buffer value 8\n");
}

TEST_F(RegistryKeyTest, QueryStringIsBoundedByTheCallersBuffer) {
  m.registry().SetString(kBase, u"Name", u"Local Area Connection");
  m.registry().SetDword(kBase, u"Dword", 7);
  m.registry().SetValue(kBase, u"Bare", platform::kRegSz, {'x', 0, 'y', 0});  // no terminator
  CRegistryKey base = OpenBase(platform::kKeyRead);
  char16_t buffer[33] = {};  // the last stays the terminator of an untouched buffer
  auto query = [&](const char16_t* name, uint32_t bytes, bool report = true) {
    std::fill(buffer, buffer + 32, u'#');
    base.QueryString(name, buffer, bytes, report);
    return std::u16string(buffer);
  };
  EXPECT_EQ(query(u"Name", 12), u"Local");  // five characters and a terminator
  EXPECT_EQ(buffer[6], u'#');
  EXPECT_EQ(query(u"Name", 64), u"Local Area Connection");
  EXPECT_EQ(buffer[22], u'#');
  EXPECT_EQ(query(u"Bare", 64), u"xy");
  // A value of another type or none at all leaves the buffer alone.
  EXPECT_EQ(query(u"Dword", 64), std::u16string(32, u'#'));
  EXPECT_EQ(query(u"Missing", 64, false), std::u16string(32, u'#'));
}

TEST_F(RegistryKeyTest, EnumerationRunsToItsEndAndKeysWithSubkeysStay) {
  for (const char16_t* name : {u"b", u"A", u"C\\D"}) {
    m.registry().CreateKey(std::u16string(kBase) + u"\\" + name);
  }
  CRegistryKey base = OpenBase(platform::kKeyAllAccess);
  std::vector<std::u16string> names;
  while (base.EnumNextSubKey().LastError() == 0) names.emplace_back(base.EnumName());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"b", u"C"}));
  EXPECT_EQ(base.LastError(), 259);
  EXPECT_EQ(base.EnumIndex(), 4u);

  EXPECT_NE(base.DeleteSubKey(u"C").LastError(), 0);
  EXPECT_TRUE(m.registry().KeyExists(u"SOFTWARE\\Test\\C\\D"));
  EXPECT_EQ(base.DeleteSubKey(u"C\\D").DeleteSubKey(u"C").LastError(), 0);
  EXPECT_FALSE(m.registry().KeyExists(u"SOFTWARE\\Test\\C"));
}

}  // namespace
