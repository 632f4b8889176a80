// The simulated COM runtime and WMI service: COM used before its initialisation, the counts of
// initialisations, the WQL it refuses and handles released twice (what the agent's calls
// answer, and variants and arrays, are the platform contract's).
#include <gtest/gtest.h>

#include "platform/sim/state/adapter_builder.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/wmi_sim.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

class SimWmiTest : public crvtest::SimTest {
 protected:
  SimWmiTest() : com(*machine.platform().wmi) { machine.wmi().SetAvailable(true); }
  ComWmi& com;
};

TEST_F(SimWmiTest, ComInitialisationCountsPerThreadAndSecurityIsSetOnce) {
  ComObject none = nullptr;
  EXPECT_EQ(com.CreateWbemLocator(kClsctxAll, &none), static_cast<HResult>(0x800401F0u));
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), static_cast<HResult>(0x800401F0u));
  // What each initialisation answers is the contract's; here, what the machine counts.
  for (uint32_t mode : {kCoinitMultithreaded, kCoinitMultithreaded, 0x2u}) com.CoInitializeEx(mode);
  EXPECT_EQ(machine.wmi().OutstandingComInits(), 2);
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), kSOk);
  EXPECT_EQ(com.CoInitializeSecurity(0, 3, 0), kRpcETooLate);
  for (int i = 0; i < 3; ++i) com.CoUninitialize();
  EXPECT_EQ(machine.wmi().OutstandingComInits(), 0);
  EXPECT_EQ(machine.wmi().UnbalancedUninits(), 1);
}

// The query the agent sends and the objects it selects are the firmware reader's tests; here
// what is refused, and handles released twice.
TEST_F(SimWmiTest, NamespacesAndQueriesRefused) {
  sim::AddEfxPort(machine.wmi(), {{0, 0x0F, 0x53, 1, 2, 3}, true, u"8.0"});
  com.CoInitializeEx(kCoinitMultithreaded);
  ComObject locator = nullptr, services = nullptr, other = nullptr, e = nullptr;
  EXPECT_EQ(com.CreateWbemLocator(kClsctxAll, &locator), kSOk);
  EXPECT_EQ(com.ConnectServer(locator, u"\\\\.\\root\\wmi", &services), kSOk);
  EXPECT_EQ(com.ConnectServer(locator, u"\\\\server\\root\\wmi", &other), kWbemEInvalidNamespace);
  EXPECT_EQ(com.ExecQuery(services, u"CQL", u"SELECT * FROM EFX_Port", 0, &e),
            static_cast<HResult>(0x80041018u));  // WBEM_E_INVALID_QUERY_TYPE
  for (const char16_t* bad :
       {u"SELECT Name FROM EFX_Port", u"SELECT * FROM EFX_Port where externalport > 0",
        u"SELECT * FROM EFX_Port where externalport != x", u"SELECT * FROM"})
    EXPECT_EQ(com.ExecQuery(services, u"WQL", bad, 0, &e), kWbemEInvalidQuery);
  EXPECT_EQ(com.ExecQuery(services, u"WQL", u"SELECT * FROM Nothing", 0, &e), kWbemEInvalidClass);

  com.Release(services);
  com.Release(locator);
  EXPECT_EQ(machine.wmi().OutstandingReferences(), 0);
  EXPECT_EQ(machine.wmi().InvalidHandleUses(), 0);
  com.Release(locator);  // twice
  EXPECT_EQ(machine.wmi().InvalidHandleUses(), 1);
}

// MSFT_NetAdapter is every adapter present, not only those a team names: by its connection
// name, a member by the name its team gives it, an adapter removed no more, and a team's
// adapter that is not present after the rest.
TEST_F(SimWmiTest, NetAdaptersAreEveryAdapterPresent) {
  const std::u16string first = u"{7D000000-0000-4000-8000-000000000001}";
  const std::u16string member = u"{7D000000-0000-4000-8000-000000000002}";
  const std::u16string gone = u"{7D000000-0000-4000-8000-000000000003}";
  const std::u16string absent = u"{7D000000-0000-4000-8000-000000000004}";
  uint8_t n = 0;
  for (const std::u16string& guid : {first, member, gone}) {
    sim::AddAdapter(machine, {.guid = guid,
                              .mac = {0x00, 0x1B, 0x21, 0x7D, 0x00, ++n},
                              .ifIndex = 10u + n,
                              .description = u"Intel(R) Ethernet Controller X710",
                              .bus = 5,
                              .function = n,
                              .service = u"i40ea"});
  }
  sim::AddLbfoTeam(machine.wmi(), {.name = u"Team1",
                                   .members = {{u"Teamed port", member}, {u"Elsewhere", absent}}});
  ASSERT_TRUE(sim::RemoveAdapter(machine, gone));

  std::vector<std::pair<std::u16string, std::u16string>> listed;
  const sim::WmiClass* stored = machine.wmi().FindClass(u"root\\StandardCimv2", u"MSFT_NetAdapter");
  ASSERT_NE(stored, nullptr);
  for (const sim::WmiObject& o : sim::NetAdapterObjects(*stored, machine.devices())) {
    listed.emplace_back(o.properties.at(u"Name").text, o.properties.at(u"InterfaceGuid").text);
  }
  EXPECT_EQ(listed,
            (std::vector<std::pair<std::u16string, std::u16string>>{
                {u"Ethernet 11", first}, {u"Teamed port", member}, {u"Elsewhere", absent}}));
}

}  // namespace
