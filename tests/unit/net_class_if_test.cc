// The network-class device interfaces: the path rule and the enumeration through the
// configuration manager, whose lists are read whole while devices arrive (a list that grew
// between its size call and its read is sized and read again, a bounded number of times).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/alloc.h"
#include "common/device_lists.h"
#include "common/report.h"
#include "discovery/net_class_if.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

TEST(InterfacePathRule, AcceptsManagedKindsOnly) {
  const std::pair<const char16_t*, bool> paths[] = {
      {u"\\\\?\\root#cv_crvteammp#0000#{ad498944}\\{g}", true},
      {u"\\\\?\\root#net#0001#{ad498944}\\{g}", true},
      {u"\\\\?\\qebdrv#l2nd&pci_165714e4#5&1&0&1#{ad498944}\\{g}", true},
      {u"\\\\?\\iba#connectx-3_ipoib#5&1&0&1#{ad498944}\\{g}", true},
      {u"\\\\?\\sfnbus#ndis&ven_1924&dev_0903#5&1&0&1#{ad498944}\\{g}", true},
      {u"\\\\?\\root#vms_mp#0000#{ad498944}\\{g}", false},         // a virtual switch adapter
      {u"\\\\?\\swd#msrras#ms_ndiswanip#{ad498944}\\{g}", false},  // a WAN miniport
      {u"\\\\?\\PCI#VEN_8086&DEV_10D3#4&1&0&00e0#{ad498944}\\{g}", false},  // in upper case
      {u"\\\\?\\sfnbus#ndis&ven_1924&dev_0904#5&1&0&1#{ad498944}\\{g}", false},
  };
  for (const auto& [path, managed] : paths)
    EXPECT_EQ(managed, crv::IsManagedInterfacePath(path)) << crv::Utf16ToUtf8(path);
}

class NetClassIfTest : public crvtest::SimTest {
 protected:
  sim::AdapterRecord& Add(const char16_t* guid, sim::AdapterKind kind,
                          std::u16string instanceId = u"") {
    return sim::AddAdapter(machine,
                           {.guid = guid,
                            .mac = {0x00, 0x10, 0x18, 0x00, 0x00, static_cast<uint8_t>(++count)},
                            .kind = kind,
                            .bus = static_cast<uint32_t>(count),
                            .instanceId = std::move(instanceId),
                            .service = u"E1000"});
  }
  std::vector<std::u16string> Guids(const crv::CNetClassIfList& list) {
    std::vector<std::u16string> guids;
    for (auto* node = list.Head(); node != nullptr; node = node->next)
      guids.push_back(node->element->GetGuidText());
    return guids;
  }
  int count = 0;
  crv::CNetClassIfList list;
};

TEST_F(NetClassIfTest, EnumerationKeepsTheFirstPathOfManagedAdaptersInLowerCase) {
  Add(u"{AAAAAAAA-0000-0000-0000-000000000001}", sim::AdapterKind::kPci);
  Add(u"{AAAAAAAA-0000-0000-0000-000000000002}", sim::AdapterKind::kOther,
      u"ROOT\\VMS_MP\\0000");  // rejected kind
  Add(u"{AAAAAAAA-0000-0000-0000-000000000003}", sim::AdapterKind::kB06bdrv);
  sim::AdapterRecord& twoPaths =
      Add(u"{AAAAAAAA-0000-0000-0000-000000000004}", sim::AdapterKind::kMlx4);
  machine.devices()
      .FindNode(twoPaths.instanceId)
      ->ndisLanInterfaces.push_back(
          u"\\\\?\\MLX4#CONNECTX-3_ETH#SECOND#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{BBBB}");
  sim::AdapterRecord& noInterface =
      Add(u"{AAAAAAAA-0000-0000-0000-000000000005}", sim::AdapterKind::kPci);
  machine.devices().FindNode(noInterface.instanceId)->ndisLanInterfaces.clear();
  Add(u"{AAAAAAAA-0000-0000-0000-000000000006}", sim::AdapterKind::kSolarflare);
  Add(u"{AAAAAAAA-0000-0000-0000-000000000007}", sim::AdapterKind::kPci);
  sim::RemoveAdapter(machine, u"{AAAAAAAA-0000-0000-0000-000000000007}");  // not present

  list.Enumerate();
  EXPECT_EQ(
      (std::vector<std::u16string>{
          u"{aaaaaaaa-0000-0000-0000-000000000001}", u"{aaaaaaaa-0000-0000-0000-000000000003}",
          u"{aaaaaaaa-0000-0000-0000-000000000004}", u"{aaaaaaaa-0000-0000-0000-000000000006}"}),
      Guids(list));
  EXPECT_EQ(4u, list.Count());

  const crv::CNetClassIf& first = *list.Head()->element;
  std::u16string path = first.Path();
  EXPECT_EQ(0u, path.find(u"\\\\?\\pci#ven_8086&dev_10d3"));
  EXPECT_EQ(2 * path.size() + 2, first.PathSize());
  EXPECT_EQ(2u * 38 + 12, first.DeviceNameSize());
  std::vector<char16_t> name(first.DeviceNameSize() / 2, u'#');
  EXPECT_EQ(0u, first.CopyDeviceName(name.data()));
  EXPECT_EQ(u"\\\\.\\{aaaaaaaa-0000-0000-0000-000000000001}", std::u16string(name.data()));
  std::vector<char16_t> copy(first.PathSize() / 2, u'#');
  EXPECT_EQ(0u, first.CopyPath(copy.data()));
  EXPECT_EQ(path, std::u16string(copy.data()));
  EXPECT_EQ(crv::kReportAllocationFailed, first.CopyPath(nullptr));
  EXPECT_TRUE(machine.Reports().empty()) << crvtest::DescribeReports(machine);
}

TEST_F(NetClassIfTest, ConfigurationManagerFailuresSkipTheDeviceSilently) {
  Add(u"{AAAAAAAA-0000-0000-0000-000000000001}", sim::AdapterKind::kPci);
  Add(u"{AAAAAAAA-0000-0000-0000-000000000002}", sim::AdapterKind::kPci);
  EXPECT_TRUE(machine.FailCall("CM_Get_Device_Interface_ListW", 1, platform::kCrFailure));
  list.Enumerate();
  EXPECT_EQ(std::vector<std::u16string>{u"{aaaaaaaa-0000-0000-0000-000000000002}"}, Guids(list));

  crv::CNetClassIfList none;
  EXPECT_TRUE(machine.FailCall("CM_Get_Device_ID_ListW", 2, platform::kCrFailure));  // the next one
  none.Enumerate();
  EXPECT_EQ(0u, none.Count());
  EXPECT_TRUE(machine.Reports().empty());
}

crv::DeviceInterfaceDetail* Detail(std::u16string_view path) {
  auto* detail = static_cast<crv::DeviceInterfaceDetail*>(
      crv::AllocateZeroed(4 + (path.size() + 1) * sizeof(char16_t)));
  detail->cbSize = crv::kDeviceInterfaceDetailCbSize;
  std::memcpy(detail->devicePath, path.data(), path.size() * sizeof(char16_t));
  return detail;
}

TEST_F(NetClassIfTest, NodeAllocationFailuresAreReportedAndFreeTheRecord) {
  for (uint64_t n : {1, 2}) {
    crv::DeviceInterfaceDetail* detail = Detail(u"\\\\?\\root#net#0000#{x}\\{g}");
    machine.FailAllocation(n);
    EXPECT_EQ(nullptr, list.AllocateCNetClassNode(detail));
  }
  EXPECT_EQ((std::vector<std::string>{
                "CNetClassIfList::AllocateCNetClassNode: failure to allocate CNetClassIF",
                "CNetClassIfList::AllocateCNetClassNode: failure to allocate NETCLASSIFNODE"}),
            crvtest::ReportTexts(machine, crv::kReportInformation));
  EXPECT_EQ(2u, crvtest::ReportTexts(machine, crv::kReportAllocationFailed).size());
}

using DeviceListsTest = crvtest::SimTest;
using ListRead = sim::SimDevices::ListRead;

TEST_F(DeviceListsTest, AListThatGrowsWhileReadIsReadAgainUpToItsBound) {
  crvtest::AddTestAdapter(machine, 7);
  for (uint32_t growths : {1u, crv::kDeviceListReadTries}) {
    SCOPED_TRACE(growths);
    // Each arrival comes during a read, after its size call, and sets up the next.
    uint32_t arrived = 0;
    std::function<void()> arrive = [&] {
      crvtest::AddTestAdapter(machine, static_cast<uint8_t>(8 + arrived + (growths - 1) * 8));
      if (++arrived < growths) machine.devices().ArriveDuringListRead(ListRead::kDeviceIds, arrive);
    };
    machine.devices().ArriveDuringListRead(ListRead::kDeviceIds, arrive);
    const uint64_t sized = machine.CallCount("CM_Get_Device_ID_List_SizeW");
    crv::DeviceList list = crv::ReadDeviceIdList(nullptr, 0);
    EXPECT_EQ(growths + (growths < crv::kDeviceListReadTries ? 1 : 0),
              machine.CallCount("CM_Get_Device_ID_List_SizeW") - sized);
    if (growths < crv::kDeviceListReadTries) {
      ASSERT_NE(nullptr, list.texts);
      EXPECT_EQ(platform::kCrSuccess, list.status);
      EXPECT_EQ(0, list.texts[list.chars - 1]);  // the whole list, with its final terminator
    } else {
      EXPECT_EQ(nullptr, list.texts);
      EXPECT_EQ(platform::kCrBufferSmall, list.status);
      EXPECT_TRUE(list.readFailed);
      EXPECT_EQ(std::vector<uint32_t>{platform::kCrBufferSmall},
                crvtest::ReportValues(machine, u"Device list: it kept growing while it was read"));
    }
    crv::FreeBlock(list.texts);
  }
}

}  // namespace
