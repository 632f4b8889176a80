// CMiniportList: building from the device interfaces and pairing interface rows with
// miniports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/report.h"
#include "discovery/miniport_list.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

constexpr char16_t kGuidA[] = u"{0A000000-0000-0000-0000-00000000000A}";
constexpr char16_t kGuidB[] = u"{0B000000-0000-0000-0000-00000000000B}";
constexpr char16_t kGuidC[] = u"{0C000000-0000-0000-0000-00000000000C}";
const std::vector<uint8_t> kMac1 = {0x00, 0x10, 0x18, 0x00, 0x00, 0x01};
const std::vector<uint8_t> kMac2 = {0x00, 0x10, 0x18, 0x00, 0x00, 0x02};
constexpr char16_t kNotInTable[] = u"Interface not found in IpAddrTable.";
constexpr char16_t kFakeNic[] = u"CMiniportList::AllocateMiniport: got a fake nic";

platform::MibIfRow Row(uint32_t index, std::u16string_view guid, const std::vector<uint8_t>& mac) {
  platform::MibIfRow row{};
  std::u16string name = u"\\DEVICE\\TCPIP_" + std::u16string(guid);
  std::memcpy(row.wszName, name.data(), name.size() * sizeof(char16_t));
  row.dwIndex = index;
  row.dwPhysAddrLen = static_cast<uint32_t>(mac.size());
  std::memcpy(row.bPhysAddr, mac.data(), mac.size());
  return row;
}

// An IP address table of (interface index, address) rows.
struct IpTable {
  IpTable(std::initializer_list<std::pair<uint32_t, uint32_t>> rows)
      : words(1 + 6 * (rows.size() + 1)) {
    get()->dwNumEntries = static_cast<uint32_t>(rows.size());
    platform::MibIpAddrRow* row = get()->table;
    for (auto [index, address] : rows) *row++ = {.dwAddr = address, .dwIndex = index};
  }
  platform::MibIpAddrTable* get() {
    return reinterpret_cast<platform::MibIpAddrTable*>(words.data());
  }
  std::vector<uint32_t> words;
};

class MiniportListTest : public crvtest::SimTest {
 protected:
  sim::AdapterRecord& Add(const char16_t* guid, const std::vector<uint8_t>& mac,
                          uint32_t medium = 0) {
    return sim::AddAdapter(
        machine, {.guid = guid, .mac = mac, .bus = ++count, .service = u"E1000", .medium = medium});
  }
  std::vector<std::u16string> Guids() {
    std::vector<std::u16string> guids;
    for (auto* node = list.Head(); node != nullptr; node = node->next)
      guids.push_back(node->element->Guid());
    return guids;
  }
  uint32_t count = 0;
  crv::CMiniportList list;
};

TEST_F(MiniportListTest, InitKeepsOneMiniportPerUsableAdapter) {
  crv::CMiniportList empty;
  EXPECT_EQ(8u, empty.Init());  // nothing to try

  Add(kGuidA, kMac1);
  Add(kGuidB, kMac2, 16);  // not 802.3 or 802.5
  Add(kGuidC, kMac2, 1);   // Token Ring: kept without addresses
  Add(u"{0D000000-0000-0000-0000-00000000000D}", kMac2);
  machine.devices().FindNdis(u"{0D000000-0000-0000-0000-00000000000D}")->openError = 2;
  // A second device interface for the first adapter's GUID.
  sim::DevNode twin;
  twin.instanceId = u"ROOT\\NET\\0001";
  twin.classGuid = sim::kNetClassGuidText;
  twin.ndisLanInterfaces = {
      u"\\\\?\\ROOT#NET#0001#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{0a000000-0000-0000-0000-"
      u"00000000000a}"};
  machine.devices().AddNode(twin);

  EXPECT_EQ(0u, list.Init());
  EXPECT_EQ((std::vector<std::u16string>{u"{0a000000-0000-0000-0000-00000000000a}",
                                         u"{0c000000-0000-0000-0000-00000000000c}"}),
            Guids());
  EXPECT_EQ(2u, list.Count());
  EXPECT_NE(nullptr, list.FindByGuid(kGuidC));  // ignoring case
  EXPECT_EQ(nullptr, list.FindByGuid(kGuidB));
  EXPECT_EQ(0u, list.FindByGuid(kGuidC)->CurrentAddressLength());
}

TEST_F(MiniportListTest, PlainAdaptersArePairedOnceByStationAddress) {
  Add(kGuidA, kMac1);
  Add(kGuidB, kMac1);  // the same station address (a second port reporting it)
  ASSERT_EQ(0u, list.Init());
  IpTable table({{5, 0x0500000A}, {6, 0}});

  // The first free miniport with the address wins, whatever the interface's name or address.
  EXPECT_EQ(list.FindByGuid(kGuidA), list.AllocateMiniport(Row(5, kGuidB, kMac1), table.get()));
  EXPECT_EQ(list.FindByGuid(kGuidB), list.AllocateMiniport(Row(6, kGuidA, kMac1), table.get()));
  EXPECT_EQ(nullptr, list.AllocateMiniport(Row(7, kGuidA, kMac1), table.get()));
  EXPECT_EQ(nullptr, list.AllocateMiniport(Row(8, kGuidC, kMac2), table.get()));
  EXPECT_EQ(5u, list.FindByGuid(kGuidA)->InterfaceIndex());
  EXPECT_EQ(list.FindByGuid(kGuidB), list.FindByInterface(6, kMac1.data(), 6));
  EXPECT_EQ(nullptr, list.FindByInterface(6, kMac2.data(), 6));
  // 0.0.0.0 is no address; a missing table is not reported.
  EXPECT_EQ((std::vector<uint32_t>{6, 7, 8}), crvtest::ReportValues(machine, kNotInTable));
  uint32_t addresses[2] = {};
  EXPECT_EQ(2u, list.GetInterfaceAddresses(5, addresses, nullptr));
  EXPECT_EQ(0u, list.GetInterfaceAddresses(5, addresses, table.get()));
  EXPECT_EQ(0x0500000Au, addresses[0]);
  EXPECT_EQ(3u, crvtest::ReportValues(machine, kNotInTable).size());
}

TEST_F(MiniportListTest, TeamAdaptersArePairedOnlyByTheirGuid) {
  Add(kGuidA, kMac1);  // the team's own adapter, with a team attribute
  Add(kGuidB, kMac1);  // a plain adapter with the team's address
  Add(kGuidC, kMac2);  // a team adapter without attribute
  ASSERT_EQ(0u, list.Init());
  crv::CMiniport* team = list.FindByGuid(kGuidA);
  crv::CMiniport* plain = list.FindByGuid(kGuidB);
  crv::CMiniport* bare = list.FindByGuid(kGuidC);
  team->SetTeam(2, 0, 1);
  bare->SetTeam(2, 0, 0);
  IpTable table({{5, 0x0500000A}, {6, 0x0600000A}});

  // Another interface with the team's address gets the plain adapter, never the team's.
  EXPECT_EQ(plain, list.AllocateMiniport(Row(5, kGuidB, kMac1), table.get()));
  // The team's interface without an address is reported as fake but still gets its adapter.
  EXPECT_EQ(team, list.AllocateMiniport(Row(7, kGuidA, kMac1), table.get()));
  EXPECT_EQ(7u, team->InterfaceIndex());
  EXPECT_FALSE(team->LinkNeverSeen());  // link OK at pairing
  EXPECT_EQ(std::vector<uint32_t>{2}, crvtest::ReportValues(machine, kFakeNic));

  // Without an attribute a fake adapter is passed over, even with its GUID.
  EXPECT_EQ(nullptr, list.AllocateMiniport(Row(8, kGuidC, kMac2), table.get()));
  EXPECT_FALSE(bare->Claimed());
  // An adapter with a failed link is no fake.
  sim::SetAdapterLink(machine, kGuidC, false);
  crv::CMiniport* found = list.AllocateMiniport(Row(8, kGuidC, kMac2), table.get());
  EXPECT_EQ(bare, found);
  EXPECT_TRUE(bare->LinkNeverSeen());
  EXPECT_EQ(2u, crvtest::ReportValues(machine, kFakeNic).size());
}

TEST_F(MiniportListTest, NodeAllocationFailuresAreReported) {
  machine.FailAllocation(1);
  EXPECT_EQ(nullptr, list.AllocateMiniportNode());
  machine.FailAllocation(2);
  EXPECT_EQ(nullptr, list.AllocateMiniportNode());
  EXPECT_EQ((std::vector<std::string>{
                "CMiniportList::AllocateMiniportNode: failure to allocate CMiniport", "",
                "CMiniportList::AllocateMiniportNode: failure to allocate MINIPORTNODE"}),
            crvtest::ReportTexts(machine, crv::kReportInformation));
  EXPECT_EQ(2u, crvtest::ReportTexts(machine, crv::kReportAllocationFailed).size());
}

}  // namespace
