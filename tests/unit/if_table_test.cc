// The interface table snapshot: the filter, the size-first reads and their failures, the
// change test, and the TCP/IP parameter readers.
#include <gtest/gtest.h>

#include <cstring>

#include "collect/filter_rows.h"
#include "collect/if_table.h"
#include "common/alloc.h"
#include "common/report.h"
#include "discovery/tcpip_parameters.h"
#include "platform/sim/api/apis.h"
#include "support/sim_fixture.h"

namespace {

using crvtest::InterfaceRow;
using crvtest::ReportTexts;

class IfTableTest : public crvtest::SimTest {
 protected:
  // A snapshot owned by the test, freed through the agent's heap.
  struct Snapshot {
    crv::CIFTable* table = crv::NewObject<crv::CIFTable>();
    uint32_t status = table->Init();
    ~Snapshot() { crv::DeleteObject(table); }
  };
};

TEST_F(IfTableTest, FilterKeepsEthernetAndTheLoopbackOnly) {
  struct Case {
    uint32_t type;
    const char* description;
    uint32_t mtu;
    bool managed;
  } cases[] = {
      {6, "Intel(R) Ethernet Controller X710", 1500, true},
      {24, "Software Loopback Interface 1", 0, true},
      {24, "Software Loopback Interface 2", 0, false},
      {6, "Broadcom NetXtreme Gigabit Ethernet", 0, false},
      {71, "Intel(R) Wireless-AC 9560", 1500, false},
      {6, "Microsoft Network Adapter Multiplexor", 1500, false},
      {6, "Microsoft Network Adapter Multiplexor Driver", 1500, true},
      {6, "Hyper-V Virtual Ethernet Adapter", 1500, false},
      {6, "Intel(R) Ethernet Controller X710 #2-WFP Native MAC Layer LightWeight Filter-0000", 1500,
       false},
      {6, "WAN Miniport (IP)", 1500, false},
      {6, "Microsoft Kernel Debug Network Adapter", 1500, false},
      {6, "Intel(R) Ethernet-QoS Packet Scheduler-0000", 1500, false},
      {6, "vmxnet3 virtual adapter", 1500, true},  // the tests are case-sensitive
      {6, "Caf\u00e9 Virtual NIC", 1500, false},
  };
  uint32_t index = 1;
  for (const auto& c : cases)
    machine.network().Add(InterfaceRow(index++, c.type, c.description, 0, c.mtu));
  // A description without a terminator is read within its field.
  sim::SimInterface full = InterfaceRow(index, 6, "");
  std::memset(full.row.bDescr, 'A', sizeof full.row.bDescr);
  machine.network().Add(full);
  Snapshot snapshot;
  ASSERT_EQ(0u, snapshot.status);
  ASSERT_EQ(std::size(cases) + 1, snapshot.table->GetRowCount());
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].managed, snapshot.table->IsManagedInterface(i)) << cases[i].description;
  }
  EXPECT_TRUE(snapshot.table->IsManagedInterface(std::size(cases)));
}

// Without the system's flags a filter row is known by its description: its adapter's, a
// filter name and an instance number, with the adapter's address.
TEST(FilterRowDescriptions, NameTheAdapterAFilterAndAnInstance) {
  const sim::SimInterface adapter = InterfaceRow(7, 6, "Intel(R) X710", 7);
  struct Case {
    const char* description;
    uint8_t macLast;
    bool filter;
  } cases[] = {
      {"Intel(R) X710-WFP 802.3 MAC Layer LightWeight Filter-0000", 7, true},
      {"Intel(R) X710-Packet Capture Filter Driver-09Af", 7, true},
      {"Intel(R) X710-Packet Capture Filter Driver-0000", 8, false},  // another adapter's
      {"Intel(R) X710 #2", 7, false},                                 // no filter name
      {"Intel(R) X710--0000", 7, false},
      {"Intel(R) X710-QoS Packet Scheduler", 7, false},  // no instance number
      {"Intel(R) X710-QoS Packet Scheduler-00G0", 7, false},
      {"Intel(R) X71-QoS Packet Scheduler-0000", 7, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.filter,
              crv::DescribesFilterOf(InterfaceRow(9, 6, c.description, c.macLast).row, adapter.row))
        << c.description;
  }
  // Descriptions that fill their field without a terminator are read within it.
  sim::SimInterface full = adapter;
  std::memset(full.row.bDescr, 'A', sizeof full.row.bDescr);
  EXPECT_FALSE(crv::DescribesFilterOf(full.row, full.row));
  EXPECT_FALSE(crv::DescribesFilterOf(adapter.row, full.row));
}

TEST_F(IfTableTest, SnapshotIsSortedAndCarriesTheAddressTable) {
  machine.network().Add(InterfaceRow(12, 6, "b", 2));
  machine.network().Add(InterfaceRow(3, 6, "a", 1));
  machine.network().interfaces()[0].ipv4.push_back({0x0500000A, 0x00FFFFFF});
  Snapshot snapshot;
  ASSERT_EQ(2u, snapshot.table->GetRowCount());
  EXPECT_EQ(3u, snapshot.table->GetRow(0).dwIndex);
  EXPECT_EQ(12u, snapshot.table->GetRow(1).dwIndex);
  ASSERT_NE(nullptr, snapshot.table->GetIpAddrTableRef());
  ASSERT_EQ(1u, snapshot.table->GetIpAddrTableRef()->dwNumEntries);
  EXPECT_EQ(12u, snapshot.table->GetIpAddrTableRef()->table[0].dwIndex);
  EXPECT_TRUE(machine.Reports().empty()) << crvtest::DescribeReports(machine);
}

TEST_F(IfTableTest, ReadFailuresAreReportedAndLeaveNoTable) {
  machine.network().Add(InterfaceRow(1, 6, "a", 1));
  {
    // The table grew.
    EXPECT_TRUE(machine.FailCall("GetIfTable", 2, platform::kErrorInsufficientBuffer));
    Snapshot snapshot;
    EXPECT_EQ(platform::kErrorInsufficientBuffer, snapshot.status);
    EXPECT_EQ(0u, snapshot.table->GetRowCount());
    EXPECT_TRUE(machine.Reports().empty());
  }
  {
    EXPECT_TRUE(machine.FailCall("GetIfTable", 3, 50));
    EXPECT_TRUE(machine.FailCall("GetIpAddrTable", 3, 87));
    Snapshot snapshot;
    EXPECT_EQ(50u, snapshot.status);
    EXPECT_EQ(nullptr, snapshot.table->GetIpAddrTableRef());
    EXPECT_EQ((std::vector<std::string>{
                  "::MyGetIfTable: GetIfTable failed",
                  "CIFTable::Init: unexpected error in getiftable", "::GetIpAddrTable failed",
                  "GetIPAddressTable Failed. VLAN ip address assignment could be incorrect"}),
              ReportTexts(machine, crv::kReportInformation));
    EXPECT_EQ(50u, machine.Reports().back().value);
    EXPECT_EQ(87u, machine.Reports()[2].value);
  }
}

TEST_F(IfTableTest, AllocationFailuresAreReportedTwiceForTheTable) {
  machine.network().Add(InterfaceRow(1, 6, "a", 1));
  machine.FailAllocation(2);  // the snapshot object is the first allocation
  Snapshot snapshot;
  EXPECT_EQ(platform::kErrorNotEnoughMemory, snapshot.status);
  ASSERT_GE(machine.Reports().size(), 2u);
  EXPECT_EQ(crv::kReportAllocationFailed, machine.Reports()[0].code);
  EXPECT_EQ(u"CIFTable::Init: malloc of IFTable failed", machine.Reports()[1].message);
  EXPECT_EQ(platform::kErrorNotEnoughMemory, machine.Reports()[1].value);
}

class ChangeTest : public IfTableTest {
 protected:
  void SetUp() override {
    machine.network().Add(InterfaceRow(1, 24, "Software Loopback Interface 1", 0, 0));
    machine.network().Add(InterfaceRow(5, 6, "Team", 7));
    machine.network().Add(InterfaceRow(6, 6, "Member", 7));  // same address as its team
    machine.network().Add(InterfaceRow(9, 71, "Wireless", 9));
    kept = std::make_unique<Snapshot>();
  }
  bool Changed() { return crv::HasTableChangedSince(*kept->table); }
  std::unique_ptr<Snapshot> kept;
};

// Each step is compared with a snapshot taken after the one before.
TEST_F(ChangeTest, RowsAddressesAndIndexesChangeCountersAndTextsDoNot) {
  auto changedSinceLast = [this] {
    bool changed = Changed();
    kept = std::make_unique<Snapshot>();
    return changed;
  };
  EXPECT_FALSE(changedSinceLast());
  machine.network().Find(5)->row.dwInOctets += 1000;
  machine.network().Find(5)->row.dwOperStatus = 2;
  machine.network().Find(6)->row.bDescr[0] = 'X';
  EXPECT_FALSE(changedSinceLast());
  machine.network().Add(InterfaceRow(20, 131, "Tunnel"));  // rows of any type count
  EXPECT_TRUE(changedSinceLast());
  machine.network().Remove(20);
  machine.network().Remove(9);
  EXPECT_TRUE(changedSinceLast());
  machine.network().Find(6)->row.dwIndex = 7;  // under the team's shared address, still sorted
  EXPECT_TRUE(changedSinceLast());
  machine.network().Find(7)->row.bPhysAddr[5] = 8;  // one fresh row left with the shared one
  EXPECT_TRUE(changedSinceLast());
  machine.network().Find(1)->row.dwIndex = 2;  // the loopback is matched by index
  EXPECT_TRUE(changedSinceLast());
  machine.network().Add(InterfaceRow(20, 6, "New", 20));
  EXPECT_TRUE(machine.FailCall("GetIfTable", 0, 31));  // unreadable: no change
  EXPECT_FALSE(Changed());
}

TEST_F(IfTableTest, TcpipParameterReaders) {
  const std::u16string base =
      u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces\\";
  auto& reg = machine.registry();
  reg.SetDword(base + u"{STATIC}", u"EnableDHCP", 0);
  reg.SetValue(base + u"{STATIC}", u"IPAddress", platform::kRegMultiSz,
               {'1', 0, '0', 0, '.', 0, '1', 0, '.', 0, '2', 0, '.', 0, '3', 0, 0, 0,
                '9', 0, '.', 0, '9', 0, '.', 0, '9', 0, '.', 0, '9', 0, 0,   0, 0, 0});
  reg.SetDword(base + u"{DHCP}", u"EnableDHCP", 1);
  reg.SetString(base + u"{DHCP}", u"DhcpIPAddress", u"192.168.7.20");
  reg.SetDword(base + u"{DHCPNONE}", u"EnableDHCP", 1);
  reg.SetString(base + u"{DHCPNONE}", u"IPAddress", u"10.9.9.9");
  reg.SetString(base + u"{NODHCPVALUE}", u"IPAddress", u"10.0.0.7");
  reg.SetString(base + u"{GARBAGE}", u"IPAddress", u"not an address");

  EXPECT_EQ(0x0302010Au, crv::GetInterfaceIPv4Address(u"{STATIC}"));
  EXPECT_EQ(0x1407A8C0u, crv::GetInterfaceIPv4Address(u"{dhcp}"));
  EXPECT_EQ(0u, crv::GetInterfaceIPv4Address(u"{DHCPNONE}"));
  EXPECT_EQ(0x0700000Au, crv::GetInterfaceIPv4Address(u"{NODHCPVALUE}"));
  EXPECT_EQ(0u, crv::GetInterfaceIPv4Address(u"{GARBAGE}"));
  EXPECT_EQ(0u, crv::GetInterfaceIPv4Address(u"{MISSING}"));

  EXPECT_EQ(0u, crv::IsDhcpEnabled(u"{STATIC}"));
  EXPECT_EQ(1u, crv::IsDhcpEnabled(u"{DHCP}"));
  EXPECT_EQ(0u, crv::IsDhcpEnabled(u"{NODHCPVALUE}"));
  EXPECT_EQ(0u, crv::IsDhcpEnabled(u"{MISSING}"));
  // A missing EnableDHCP is reported by name; a missing key is not reported at all.
  EXPECT_EQ((std::vector<std::string>(3, "EnableDHCP")),
            ReportTexts(machine, crv::kReportValueNotRead));
  EXPECT_EQ(0u, machine.LiveAllocations());
}

}  // namespace
