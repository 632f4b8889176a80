// The simulated service control manager answers as Windows' does.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

class SimServicesTest : public crvtest::SimTest {
 protected:
  ServiceManager& scm() { return *Os().services; }
  uint32_t LastError() { return Os().kernel->GetLastError(); }
  ScHandle Create(ScHandle manager) {
    return scm().CreateService(manager, u"Svc", u"A service", kServiceAllAccess,
                               kServiceWin32OwnProcess, kServiceDemandStart, kServiceErrorNormal,
                               u"C:\\svc.exe", nullptr, nullptr, nullptr, nullptr);
  }
};

// Stopping a running or stopped service and a user's refused manager are the installation
// words' tests; here what the agent's own calls never bring about.
TEST_F(SimServicesTest, ASecondCreateFailsAndADeletedServiceLastsUntilItsHandleCloses) {
  ScHandle manager = scm().OpenSCManager(nullptr, nullptr, kScManagerAllAccess);
  ASSERT_NE(nullptr, manager);
  ScHandle service = Create(manager);
  ASSERT_NE(nullptr, service);
  EXPECT_EQ(nullptr, Create(manager));
  EXPECT_EQ(kErrorServiceExists, LastError());
  EXPECT_TRUE(scm().DeleteService(service));
  EXPECT_EQ(nullptr, scm().OpenService(manager, u"Svc", kServiceQueryConfig));
  EXPECT_EQ(kErrorServiceMarkedForDelete, LastError());
  EXPECT_TRUE(scm().CloseServiceHandle(service));
  EXPECT_EQ(nullptr, scm().OpenService(manager, u"Svc", kServiceQueryConfig));
  EXPECT_EQ(kErrorServiceDoesNotExist, LastError());
  EXPECT_TRUE(scm().CloseServiceHandle(manager));
  EXPECT_EQ(0, machine.openHandles().services);
}

TEST_F(SimServicesTest, RightsOfTheServiceHandleAreChecked) {
  machine.services().Add(sim::ServiceRecord{u"Svc", u"Svc", kServiceWin32OwnProcess,
                                            kServiceDemandStart, kServiceErrorNormal, u"x.exe", u"",
                                            true, false});
  ScHandle manager = scm().OpenSCManager(nullptr, nullptr, kScManagerAllAccess);
  ScHandle query = scm().OpenService(manager, u"Svc", kServiceQueryConfig);
  ASSERT_NE(nullptr, query);
  EXPECT_FALSE(scm().ControlService(query, kServiceControlStop, nullptr));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  EXPECT_FALSE(scm().DeleteService(query));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  EXPECT_TRUE(machine.services().Get(u"Svc")->running);
  scm().CloseServiceHandle(query);
  scm().CloseServiceHandle(manager);
}

}  // namespace
