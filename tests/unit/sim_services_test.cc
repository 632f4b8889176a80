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

TEST_F(SimServicesTest, CreateStopDeleteLifecycle) {
  ScHandle manager = scm().OpenSCManager(nullptr, nullptr, kScManagerAllAccess);
  ASSERT_NE(nullptr, manager);
  ScHandle service = Create(manager);
  ASSERT_NE(nullptr, service);
  EXPECT_EQ(nullptr, Create(manager));
  EXPECT_EQ(kErrorServiceExists, LastError());
  EXPECT_EQ(u"C:\\svc.exe", machine.services().Get(u"SVC")->binaryPath);

  ServiceStatus status;
  EXPECT_FALSE(scm().ControlService(service, kServiceControlStop, &status));
  EXPECT_EQ(kErrorServiceNotActive, LastError());
  machine.services().SetRunning(u"Svc", true);
  EXPECT_TRUE(scm().ControlService(service, kServiceControlStop, &status));
  EXPECT_FALSE(machine.services().Get(u"Svc")->running);

  EXPECT_TRUE(scm().DeleteService(service));
  EXPECT_EQ(nullptr, scm().OpenService(manager, u"Svc", kServiceQueryConfig));
  EXPECT_EQ(kErrorServiceMarkedForDelete, LastError());
  EXPECT_TRUE(scm().CloseServiceHandle(service));
  EXPECT_EQ(nullptr, scm().OpenService(manager, u"Svc", kServiceQueryConfig));
  EXPECT_EQ(kErrorServiceDoesNotExist, LastError());
  EXPECT_TRUE(scm().CloseServiceHandle(manager));
  EXPECT_EQ(0, machine.openHandles().services);
}

TEST_F(SimServicesTest, WithoutAdministratorRightsFullAccessIsRefused) {
  machine.SetAdministrator(false);
  EXPECT_EQ(nullptr, scm().OpenSCManager(nullptr, nullptr, kScManagerAllAccess));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  ScHandle manager = scm().OpenSCManager(nullptr, nullptr, kScManagerConnect);
  ASSERT_NE(nullptr, manager);
  EXPECT_EQ(nullptr, Create(manager));
  EXPECT_EQ(kErrorAccessDenied, LastError());
  scm().CloseServiceHandle(manager);
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
