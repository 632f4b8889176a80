// The simulated COM runtime and WMI service: the COM rules the agent depends on, the WQL
// form it sends, and the leak counters.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/wmi_sim.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

class SimWmiTest : public crvtest::SimTest {
 protected:
  SimWmiTest() : com(*machine.platform().wmi) { machine.wmi().SetAvailable(true); }

  // A services object of the namespace (COM initialised on the thread first).
  ComObject Connect(const char16_t* nameSpace = u"ROOT\\WMI") {
    com.CoInitializeEx(kCoinitMultithreaded);
    EXPECT_EQ(com.CreateWbemLocator(kClsctxAll, &locator), kSOk);
    ComObject services = nullptr;
    EXPECT_EQ(com.ConnectServer(locator, nameSpace, &services), kSOk);
    return services;
  }
  ComWmi& com;
  ComObject locator = nullptr;
};

TEST_F(SimWmiTest, ComInitialisationCountsPerThreadAndSecurityIsSetOnce) {
  ComObject none = nullptr;
  EXPECT_EQ(com.CreateWbemLocator(kClsctxAll, &none), static_cast<HResult>(0x800401F0u));
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), static_cast<HResult>(0x800401F0u));
  EXPECT_EQ(com.CoInitializeEx(kCoinitMultithreaded), kSOk);
  EXPECT_EQ(com.CoInitializeEx(kCoinitMultithreaded), kSFalse);
  EXPECT_EQ(com.CoInitializeEx(0x2), kRpcEChangedMode);  // apartment-threaded
  EXPECT_EQ(machine.wmi().OutstandingComInits(), 2);
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), kSOk);
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), kRpcETooLate);
  com.CoUninitialize();
  com.CoUninitialize();
  com.CoUninitialize();
  EXPECT_EQ(machine.wmi().OutstandingComInits(), 0);
  EXPECT_EQ(machine.wmi().UnbalancedUninits(), 1);

  // Without an explicit call, the first connection sets COM's default security.
  machine.wmi().ResetProcess();
  ComObject services = Connect();
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), kRpcETooLate);
  com.Release(services);
  com.Release(locator);
}

// The query the agent sends and the objects it selects are the firmware reader's tests; here
// what is refused, and handles released twice.
TEST_F(SimWmiTest, NamespacesAndQueriesRefused) {
  sim::AddEfxPort(machine.wmi(), {{0, 0x0F, 0x53, 1, 2, 3}, true, u"8.0"});
  ComObject services = Connect(u"\\\\.\\root\\wmi");
  ComObject other = nullptr;
  EXPECT_EQ(com.ConnectServer(locator, u"root\\nowhere", &other), kWbemEInvalidNamespace);
  EXPECT_EQ(com.ConnectServer(locator, u"\\\\server\\root\\wmi", &other), kWbemEInvalidNamespace);
  ComObject e = nullptr;
  EXPECT_EQ(com.ExecQuery(services, u"CQL", u"SELECT * FROM EFX_Port", 0, &e),
            static_cast<HResult>(0x80041018u));  // WBEM_E_INVALID_QUERY_TYPE
  for (const char16_t* bad :
       {u"SELECT Name FROM EFX_Port", u"SELECT * FROM EFX_Port where externalport > 0",
        u"SELECT * FROM EFX_Port where externalport != x", u"SELECT * FROM"}) {
    EXPECT_EQ(com.ExecQuery(services, u"WQL", bad, 0, &e), kWbemEInvalidQuery);
  }
  EXPECT_EQ(com.ExecQuery(services, u"WQL", u"SELECT * FROM Nothing", 0, &e), kWbemEInvalidClass);

  com.Release(services);
  com.Release(locator);
  EXPECT_EQ(machine.wmi().OutstandingReferences(), 0);
  EXPECT_EQ(machine.wmi().InvalidHandleUses(), 0);
  com.Release(locator);  // twice
  EXPECT_EQ(machine.wmi().InvalidHandleUses(), 1);
}

TEST_F(SimWmiTest, VariantsAndArraysAreTrackedUntilCleared) {
  sim::WmiObject& o = machine.wmi().AddObject(u"root\\wmi", u"Thing");
  o.Set(u"Bytes", sim::WmiValue::Array(kVtI4, {-1, 2, 3}, 5));
  ComObject services = Connect();
  ComObject e = nullptr, object = nullptr;
  uint32_t returned = 0;
  ASSERT_EQ(com.CreateInstanceEnum(services, u"thing", 0, &e), kSOk);
  ASSERT_EQ(com.Next(e, 0, &object, &returned), kSOk);
  Variant bytes;
  ASSERT_EQ(com.Get(object, u"bytes", &bytes), kSOk);
  EXPECT_EQ(bytes.type, kVtArray | kVtI4);
  // The bounds and elements as read are the table and firmware readers' tests; here the
  // index one past the upper bound, and the lock.
  int32_t element = 0;
  EXPECT_EQ(com.SafeArrayGetElement(bytes.array, 8, &element), kDispEBadIndex);
  void* data = nullptr;
  ASSERT_EQ(com.SafeArrayAccessData(bytes.array, &data), kSOk);
  EXPECT_EQ(machine.wmi().UnclearedVariants(), 1);
  EXPECT_EQ(com.VariantClear(&bytes), kDispEArrayIsLocked);
  EXPECT_EQ(com.SafeArrayUnaccessData(bytes.array), kSOk);
  EXPECT_EQ(com.VariantClear(&bytes), kSOk);
  EXPECT_EQ(bytes.type, kVtEmpty);
  EXPECT_EQ(machine.wmi().UnclearedVariants(), 0);
  EXPECT_EQ(machine.wmi().ArrayLocks(), 0);
  for (ComObject held : {object, e, services, locator}) com.Release(held);
}

}  // namespace
