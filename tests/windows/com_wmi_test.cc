// The COM backend's SAFEARRAY access on arrays WMI never hands over: what it refuses to copy
// and a byte array's elements. COM's initialisation, connections, properties, variants and the
// arrays of WMI's own objects are the platform contract's, on Wine and the simulated server
// alike; what the agent's readers meet in Wine's classes is wmi_readers_test.cc's.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"

#include <oleauto.h>

namespace crvtest {
namespace {

using namespace platform;

constexpr HResult kDispEBadVarType = static_cast<HResult>(0x80020008u);

class ComWmiBackendTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { win32::InstallWin32Platform(); }
  void SetUp() override { ASSERT_GE(wmi().CoInitializeEx(kCoinitMultithreaded), 0); }
  void TearDown() override { wmi().CoUninitialize(); }

  static ComWmi& wmi() { return *Os().wmi; }
};

// Elements the seam could not free (texts), and arrays one index cannot address, are not
// copied out; a byte array copies one byte per element.
TEST_F(ComWmiBackendTest, ElementsAreCopiedOnlyWhenNothingIsLeftToFree) {
  auto array = [](SAFEARRAY* sdk) { return reinterpret_cast<SafeArray>(sdk); };
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  void* unused = nullptr;
  EXPECT_EQ(wmi().SafeArrayGetElement(array(texts), 0, &unused), kDispEBadVarType);
  SafeArrayDestroy(texts);

  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* square = SafeArrayCreate(VT_I4, 2, bounds);
  int32_t word = 0;
  EXPECT_EQ(wmi().SafeArrayGetElement(array(square), 0, &word), kDispEBadIndex);
  SafeArrayDestroy(square);

  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 1, 3);
  uint8_t* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(bytes, reinterpret_cast<void**>(&data)), S_OK);
  std::memcpy(data, "\x11\x22\x33", 3);
  SafeArrayUnaccessData(bytes);
  uint32_t slot = 0xFFFFFF00u;
  EXPECT_EQ(wmi().SafeArrayGetElement(array(bytes), 2, &slot), kSOk);
  EXPECT_EQ(slot, 0xFFFFFF22u);
  EXPECT_EQ(wmi().SafeArrayGetElement(array(bytes), 0, &slot), kDispEBadIndex);
  SafeArrayDestroy(bytes);
}

}  // namespace
}  // namespace crvtest
