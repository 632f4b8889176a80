// The interface table as Windows lists it: rows of the NDIS filters bound to each adapter,
// carrying the adapter's address, and team members' own rows. None of them is published, none
// takes its adapter's place, and none makes the agent rebuild at every poll.
#include <gtest/gtest.h>

#include "platform/sim/api/interface_notify_sim.h"
#include "publish/records.h"
#include "scenario_helpers.h"
#include "support/sim_fixture.h"

namespace {

using namespace scenariotest;

const std::u16string kPort7 = u"{00000000-0000-0000-0000-000000000007}";
const std::u16string kRebuild = u"Detected change in interface table, reinitializing";
// The Microsoft filters, the 802.3 one that no description rule knew, and a third party's.
const std::vector<std::u16string> kFilters = {
    u"WFP Native MAC Layer LightWeight Filter", u"QoS Packet Scheduler",
    u"WFP 802.3 MAC Layer LightWeight Filter", u"Packet Capture Filter Driver"};

struct Listing {
  bool filtersFirst;
  bool flagsReadable;  // GetIfEntry2 answers, or fails as where the system has no such call
};

class FilterRowsTest : public ServerTest, public ::testing::WithParamInterface<Listing> {
 protected:
  FilterRowsTest() {
    AddLoopback(machine);
    machine.devices().SetDefaultFilters(kFilters, GetParam().filtersFirst);
    crvtest::AddTestAdapter(machine, 7);
    crvtest::AddTestAdapter(machine, 9);
    if (!GetParam().flagsReadable) {
      EXPECT_TRUE(machine.FailCall("GetIfEntry2", 0, platform::kErrorProcNotFound));
    }
  }

  // The descriptions of the published interface records, by value name.
  std::vector<std::string> PublishedDescriptions() {
    std::vector<std::string> found;
    for (const auto& name :
         machine.registry().ValueNames(kTree + u"\\Interface\\LogInterfaceMap")) {
      if (auto record = Interface(name)) found.push_back(record->description);
    }
    return found;
  }
};

TEST_P(FilterRowsTest, OnlyTheAdaptersArePublishedTheirLinksTrappedAndNothingRebuilt) {
  ASSERT_EQ(2u + 2u * kFilters.size() + 1u, machine.network().interfaces().size());
  LinkAt(T + 5000, kPort7, false);
  RunAgent({"crvnichost.exe"}, 4 * T);
  EXPECT_EQ((std::vector<std::string>{"", "Intel(R) Ethernet Controller X710",
                                      "Intel(R) Ethernet Controller X710"}),
            PublishedDescriptions());
  // Each adapter keeps its own index and port, so the pull is trapped on port 1.
  auto first = Interface(u"InterfaceMap002");
  ASSERT_TRUE(first);
  EXPECT_EQ(7u, first->memberIndexes[0]);
  EXPECT_EQ((std::vector<SeenTrap>{{crv::kTrapConnectivityLost, T + 5100, 1}}), Traps());
  EXPECT_TRUE(crvtest::ReportValues(machine, kRebuild).empty());
  const auto fallback = crvtest::ReportValues(
      machine, u"CIFTable: GetIfEntry2 failed, filter rows told by their descriptions");
  EXPECT_EQ(GetParam().flagsReadable ? 0u : 1u, fallback.size());  // once, not at every poll
}

INSTANTIATE_TEST_SUITE_P(Listings, FilterRowsTest,
                         ::testing::Values(Listing{false, true}, Listing{true, true},
                                           Listing{false, false}, Listing{true, false}),
                         [](const auto& info) {
                           return std::string(info.param.filtersFirst ? "Before" : "After") +
                                  (info.param.flagsReadable ? "WithFlags" : "ByDescription");
                         });

class TableShapeTest : public ServerTest {};

// Only IP interfaces notify: a team member's or a filter's row changing its link raises no
// callback, the adapter's own row one per address family.
TEST_F(TableShapeTest, OnlyInterfacesWithTcpIpBoundNotify) {
  machine.devices().SetDefaultFilters(kFilters, false);
  crvtest::AddTestAdapter(machine, 7);
  sim::SimAdapter member;
  member.guid = u"{00000000-0000-0000-0000-000000000008}";
  member.mac = {0x00, 0x1B, 0x21, 0x00, 0x00, 0x08};
  member.ifIndex = 8;
  member.ipBinding = false;
  sim::AddAdapter(machine, member);
  platform::Handle handle = nullptr;
  ASSERT_EQ(0u, machine.interfaceNotifier().Register(
                    platform::kAfUnspec, [](void*, const platform::IpInterfaceChange*) {}, nullptr,
                    false, &handle));
  machine.At(1000, [&] { sim::SetAdapterLink(machine, member.guid, false); });
  machine.At(2000, [&] { sim::SetAdapterLink(machine, kPort7, false); });
  machine.AdvanceTo(1500);
  EXPECT_EQ(0u, machine.interfaceNotifier().Delivered());
  machine.AdvanceTo(3000);
  EXPECT_EQ(2u, machine.interfaceNotifier().Delivered());
  EXPECT_EQ(0u, machine.interfaceNotifier().Cancel(handle));
}

}  // namespace
