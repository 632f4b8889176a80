// The COM and WMI backend against Wine's own WMI (wbemprox): the calls' HRESULTs as they come,
// VARIANTs seen through platform::Variant and freed by VariantClear, and SAFEARRAY access. What
// the agent's readers meet in Wine's classes is wmi_readers_test.cc's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/handles.h"
#include "platform/win32/win32_platform.h"

#include <oleauto.h>

namespace crvtest {
namespace {

using namespace platform;

constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);
constexpr HResult kEUnexpected = static_cast<HResult>(0x8000FFFFu);
constexpr HResult kDispEBadVarType = static_cast<HResult>(0x80020008u);
constexpr uint32_t kCoinitApartmentThreaded = 0x2;

class ComWmiBackendTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { win32::InstallWin32Platform(); }
  void SetUp() override { ASSERT_GE(wmi().CoInitializeEx(kCoinitMultithreaded), 0); }
  void TearDown() override {
    for (ComObject object : objects_) wmi().Release(object);
    wmi().CoUninitialize();
  }

  static ComWmi& wmi() { return *Os().wmi; }

  // Kept for release at the end of the test.
  ComObject Keep(ComObject object) {
    if (object != nullptr) objects_.push_back(object);
    return object;
  }

  // The first instance of a class in ROOT\CIMV2.
  ComObject FirstInstance(const char16_t* className) {
    ComObject locator = nullptr, services = nullptr;
    EXPECT_EQ(wmi().CreateWbemLocator(kClsctxInprocServer, &locator), kSOk);
    Keep(locator);
    EXPECT_EQ(wmi().ConnectServer(locator, u"ROOT\\CIMV2", &services), kSOk);
    if (Keep(services) == nullptr) return nullptr;
    ComObject enumerator = nullptr;
    EXPECT_EQ(wmi().CreateInstanceEnum(services, className, kWbemFlagShallow, &enumerator), kSOk);
    Keep(enumerator);
    ComObject object = nullptr;
    uint32_t returned = 0;
    EXPECT_EQ(wmi().Next(enumerator, 10000, &object, &returned), kSOk);
    EXPECT_EQ(returned, 1u);
    return Keep(object);
  }

 private:
  std::vector<ComObject> objects_;
};

TEST_F(ComWmiBackendTest, InitialisationIsCountedPerThreadAndKeepsItsModel) {
  EXPECT_EQ(wmi().CoInitializeEx(kCoinitMultithreaded), kSFalse);
  wmi().CoUninitialize();
  EXPECT_EQ(wmi().CoInitializeEx(kCoinitApartmentThreaded), kRpcEChangedMode);
}

TEST_F(ComWmiBackendTest, TypedPropertiesOfTheOperatingSystemAndTheEndOfTheEnumeration) {
  ComObject locator = nullptr;
  ASSERT_EQ(wmi().CreateWbemLocator(kClsctxAll, &locator), kSOk);
  Keep(locator);
  ComObject services = nullptr;
  EXPECT_EQ(wmi().ConnectServer(locator, u"root\\crvnosuchnamespace", &services),
            kWbemEInvalidNamespace);
  EXPECT_EQ(services, nullptr);
  ASSERT_EQ(wmi().ConnectServer(locator, u"ROOT\\CIMV2", &services), kSOk);
  Keep(services);
  // The services object and its enumerators take a proxy blanket; the locator, an
  // in-process object, has no proxy to take one.
  auto blanket = [](ComObject object, uint32_t authentication) {
    return wmi().SetProxyBlanket(object, authentication, kRpcCAuthzNone, kRpcCAuthnLevelCall,
                                 kRpcCImpLevelImpersonate, kEoacNone);
  };
  EXPECT_EQ(blanket(services, kRpcCAuthnWinnt), kSOk);
  EXPECT_EQ(blanket(locator, kRpcCAuthnWinnt), kENoInterface);
  ComObject enumerator = nullptr;
  ASSERT_EQ(
      wmi().CreateInstanceEnum(services, u"Win32_OperatingSystem", kWbemFlagShallow, &enumerator),
      kSOk);
  Keep(enumerator);
  EXPECT_EQ(blanket(enumerator, kRpcCAuthnDefault), kSOk);
  ComObject os = nullptr;
  uint32_t returned = 0;
  ASSERT_EQ(wmi().Next(enumerator, 10000, &os, &returned), kSOk);
  ASSERT_EQ(returned, 1u);
  Keep(os);

  // Texts, integers and booleans by their variant types; WMI hands 64-bit integers over as
  // decimal text. Clearing a text frees it and empties the variant.
  const struct {
    const char16_t* name;
    uint16_t type;
  } properties[] = {{u"Version", kVtBstr},
                    {u"OSType", kVtI4},
                    {u"Primary", kVtBool},
                    {u"FreePhysicalMemory", kVtBstr}};
  Variant value;
  for (const auto& property : properties) {
    SCOPED_TRACE(testing::Message() << win32::Wide(property.name));
    ASSERT_EQ(wmi().Get(os, property.name, &value), kSOk);
    EXPECT_EQ(value.type, property.type);
    if (value.type == kVtBstr) {
      EXPECT_GT(value.textLength, 0u);
      EXPECT_NE(value.native, nullptr);
    }
    EXPECT_EQ(wmi().VariantClear(&value), kSOk);
    EXPECT_EQ(value.type, kVtEmpty);
    EXPECT_EQ(value.text, nullptr);
    EXPECT_EQ(value.native, nullptr);
  }
  ASSERT_EQ(wmi().Get(os, u"OSType", &value), kSOk);
  EXPECT_EQ(value.integer, 18);  // CIM's "WINNT"
  wmi().VariantClear(&value);

  EXPECT_EQ(wmi().Get(os, u"CrvNoSuchProperty", &value), kWbemENotFound);
  EXPECT_EQ(value.type, kVtEmpty);
  EXPECT_EQ(value.native, nullptr);

  ComObject none = reinterpret_cast<ComObject>(1);
  returned = 7;
  EXPECT_EQ(wmi().Next(enumerator, 10000, &none, &returned), kSFalse);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(none, nullptr);
}

TEST_F(ComWmiBackendTest, AnIntegerArrayByBoundsDataAndElement) {
  ComObject enclosure = FirstInstance(u"Win32_SystemEnclosure");
  ASSERT_NE(enclosure, nullptr);
  Variant value;
  ASSERT_EQ(wmi().Get(enclosure, u"ChassisTypes", &value), kSOk);
  ASSERT_EQ(value.type, kVtArray | kVtI4);  // uint16 elements travel as VT_I4
  ASSERT_NE(value.array, nullptr);
  int32_t lower = -1, upper = -1;
  ASSERT_EQ(wmi().SafeArrayGetLBound(value.array, 1, &lower), kSOk);
  ASSERT_EQ(wmi().SafeArrayGetUBound(value.array, 1, &upper), kSOk);
  EXPECT_EQ(lower, 0);
  ASSERT_GE(upper, lower);
  EXPECT_EQ(wmi().SafeArrayGetLBound(value.array, 2, &lower), kDispEBadIndex);

  void* data = nullptr;
  ASSERT_EQ(wmi().SafeArrayAccessData(value.array, &data), kSOk);
  int32_t element = 0;
  ASSERT_EQ(wmi().SafeArrayGetElement(value.array, upper, &element), kSOk);
  EXPECT_EQ(element, static_cast<const int32_t*>(data)[upper - lower]);
  EXPECT_EQ(wmi().SafeArrayGetElement(value.array, upper + 1, &element), kDispEBadIndex);
  // While its data is accessed the array cannot be freed, and the variant keeps it.
  EXPECT_EQ(wmi().VariantClear(&value), kDispEArrayIsLocked);
  EXPECT_NE(value.array, nullptr);
  EXPECT_EQ(wmi().SafeArrayUnaccessData(value.array), kSOk);
  EXPECT_EQ(wmi().SafeArrayUnaccessData(value.array), kEUnexpected);
  EXPECT_EQ(wmi().VariantClear(&value), kSOk);
  EXPECT_EQ(value.array, nullptr);
}

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
