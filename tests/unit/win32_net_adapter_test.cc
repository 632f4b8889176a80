// PnP adapter records: the text readers (the first number of a text, location texts and
// instance IDs), and CWin32NetAdapterList on simulated device trees of every managed kind.
#include <gtest/gtest.h>

#include <string>

#include "common/alloc.h"
#include "common/parse_first_number.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/instance_id.h"
#include "discovery/location_text.h"
#include "discovery/miniport.h"
#include "discovery/win32_net_adapter.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

TEST(ParseFirstNumber, StepsThroughATextSkippingSignsAndSaturating) {
  const char16_t* text = u"PCI bus 3, device -12, function 99999999999";
  uint32_t next = 0;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), 3u);
  EXPECT_EQ(next, 9u);
  text += next;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), 12u);
  EXPECT_EQ(next, 12u);  // counted from the advanced pointer
  text += next;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), 0x7FFFFFFFu);
  EXPECT_EQ(next, 22u);  // every digit is consumed
  text += next;
  next = 77;
  EXPECT_EQ(crv::ParseFirstNumber(text, next), crv::kNoNumber);
  EXPECT_EQ(crv::ParseFirstNumber(u"no digits -+", next), crv::kNoNumber);
  EXPECT_EQ(next, 77u);
}

TEST(LocationText, ThreeOrFourNumbers) {
  struct Case {
    const char16_t* text;
    bool mellanox;
    crv::PciLocation expected;
  };
  const Case cases[] = {
      {u"PCI Slot 3 (PCI bus 5, device 7, function 1)", false, {3, 5, 7, 1, kNone}},
      {u"PCI bus 2, device 9, function 1", false, {0, 2, 9, 1, kNone}},
      {u"PCI bus 12", false, {0, 12, kNone, kNone, kNone}},
      {u"", false, {0, kNone, kNone, kNone, kNone}},
      {u"MLX4 bus 6, device 4, function 0, port 2", true, {0, 6, 4, 0, 2}},
      {u"MLX4 bus 6, device 2, function 3", true, {0, 6, 2, 3, kNone}},
      // Read from the start, the 4 of MLX4 is a number of its own.
      {u"MLX4 bus 6, device 0, function 0, port 2", false, {4, 6, 0, 0, kNone}},
      {u"ML", true, {0, kNone, kNone, kNone, kNone}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(crv::Utf16ToUtf8(c.text));
    crv::PciLocation location;
    location.slot = location.bus = 77;
    crv::ParseLocationText(c.text, c.mellanox, &location);
    const crv::PciLocation& e = c.expected;
    EXPECT_EQ((std::vector<uint32_t>{e.slot, e.bus, e.device, e.function, e.port}),
              (std::vector<uint32_t>{location.slot, location.bus, location.device,
                                     location.function, location.port}));
  }
}

TEST(InstanceIdentifiers, PciAndVirtualBusFormsAsWritten) {
  struct Case {
    const char16_t* id;
    bool matches;
    uint32_t pciId, subsystemId;
  };
  const Case cases[] = {
      {u"PCI\\VEN_8086&DEV_10D3&SUBSYS_70441A2B&REV_00\\4&2A1B&0&00E0", true, 0x808610D3,
       0x70441A2B},
      // The virtual bus forms keep the number after PCI_ as written: device high, vendor low.
      {u"B06BDRV\\L2ND&PCI_164A14E4&SUBSYS_31011A2B&REV_02\\5&1&0&0", true, 0x164A14E4, 0x31011A2B},
      {u"QEBDRV\\L2ND&PCI_165714E4&SUBSYS_22BE1A2B&REV_01\\5&1&0&0", true, 0x165714E4, 0x22BE1A2B},
      // Each number may carry a 0x prefix, as the runtime's hexadecimal conversion takes it.
      {u"PCI\\VEN_0x0A86&DEV_0X10D3&SUBSYS_70441A2B&REV_00\\4&2A1B&0&00E0", true, 0x0A8610D3,
       0x70441A2B},
      {u"PCI\\VEN_8086&DEV_10D3\\3&11583659&0&C8", false, 0, 0},
      {u"MLX4\\CONNECTX-3_ETH\\5&1&0&1", false, 0, 0},
      {u"ROOT\\PCI\\VEN_8086&DEV_10D3&SUBSYS_70441A2B&REV_00", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(crv::Utf16ToUtf8(c.id));
    crv::PciIdentifiers ids;
    EXPECT_EQ(c.matches, crv::ParseInstanceIdentifiers(c.id, &ids));
    EXPECT_EQ(c.pciId, ids.pciId);
    EXPECT_EQ(c.subsystemId, ids.subsystemId);
  }
}

class Win32NetAdapterTest : public crvtest::SimTest {
 protected:
  sim::SimAdapter Adapter(const char16_t* guid, sim::AdapterKind kind) {
    sim::SimAdapter a;
    a.guid = guid;
    a.mac = {0x00, 0x10, 0x18, 0x00, 0x00, static_cast<uint8_t>(++count)};
    a.service = u"E1000";
    a.kind = kind;
    return a;
  }
  const crv::CWin32NetAdapter* Find(std::u16string_view guid,
                                    const crv::CWin32NetAdapterList* in = nullptr) {
    for (auto* node = (in != nullptr ? in : &list)->Head(); node != nullptr; node = node->next) {
      const char16_t* own = node->element->Guid();
      if (own != nullptr && crv::EqualsNoCase(own, std::u16string(guid).c_str())) {
        return node->element;
      }
    }
    return nullptr;
  }
  void ExpectLocation(const crv::CWin32NetAdapter& a, uint32_t slot, uint32_t bus, uint32_t device,
                      uint32_t function, uint32_t uiNumber, uint32_t port) {
    EXPECT_EQ((std::vector<uint32_t>{slot, bus, device, function, uiNumber, port}),
              (std::vector<uint32_t>{a.Slot(), a.Bus(), a.Device(), a.Function(), a.UiNumber(),
                                     a.Port()}));
  }
  uint8_t count = 0;
  crv::CWin32NetAdapterList list;
};

TEST_F(Win32NetAdapterTest, PciAdaptersAreMatchedWithTheirMiniportsByGuid) {
  sim::AddAdapter(machine, {.guid = u"{A0000000-0000-0000-0000-000000000001}",
                            .mac = {0x00, 0x10, 0x18, 0x00, 0x00, 1},
                            .friendlyName = u"Port 1",
                            .subsystem = 0x70441A2B,
                            .bus = 5,
                            .function = 1,
                            .slot = 3,
                            .uiNumber = 3,
                            .service = u"E1000"});
  // Without a location text bus, device and function stay 0; without a friendly name the
  // display name is the service name.
  const std::u16string noLocation = u"{A0000000-0000-0000-0000-000000000002}";
  sim::AddAdapter(machine, {.guid = noLocation,
                            .mac = {0x00, 0x10, 0x18, 0x00, 0x00, 2},
                            .friendlyName = u"",
                            .bus = 9,
                            .uiNumber = 7,
                            .location = u"",
                            .service = u"E1000"});
  ASSERT_TRUE(list.Init());
  ASSERT_EQ(2u, list.Count());

  crv::CMiniport miniport;
  ASSERT_EQ(0u, crvtest::InitMiniport(miniport, u"{a0000000-0000-0000-0000-000000000001}"));
  crv::PciInfo info{};
  ASSERT_TRUE(list.GetPciInfo(miniport, &info));
  EXPECT_EQ(0x808610D3u, info.pciId);
  EXPECT_EQ(0x70441A2Bu, info.subsystemId);
  EXPECT_EQ((std::vector<uint32_t>{3, 5, 0, 1, 3, kNone}),
            (std::vector<uint32_t>{info.slot, info.bus, info.device, info.function, info.uiNumber,
                                   info.port}));
  EXPECT_EQ(std::u16string(u"Port 1"), info.displayName);
  char16_t* service = nullptr;
  ASSERT_TRUE(list.GetServiceName(miniport, &service));
  EXPECT_EQ(std::u16string(u"E1000"), service);
  crv::FreeBlock(service);

  const crv::CWin32NetAdapter* second = Find(noLocation);
  ASSERT_NE(nullptr, second);
  ExpectLocation(*second, 0, 0, 0, 0, 7, kNone);
  EXPECT_EQ(std::u16string(u"E1000"), second->DisplayName());

  // A copy that cannot be allocated is reported.
  machine.FailAllocation(1);
  EXPECT_FALSE(list.GetServiceName(miniport, &service));
  EXPECT_EQ(
      std::vector<std::string>{
          "CWin32NetAdapter::GetServiceName: failure to allocate memory for ServiceName: "},
      crvtest::ReportTexts(machine, crv::kReportInformation));
}

// The bus-enumerated kinds take identifiers and UI number from their parent PCI function: the
// virtual bus's number as written (device high, vendor low) and its UI number from the
// parent's Enum key, a Mellanox port's function from its port, a Solarflare adapter's location
// and friendly name through its parent.
TEST_F(Win32NetAdapterTest, BusKindsAreIdentifiedThroughTheirParentPciFunction) {
  struct Case {
    sim::AdapterKind kind;
    uint16_t vendor, device;
    const char16_t* service;
    uint32_t pciId, function, port;  // the function and port the adapter is filed under
  };
  const Case cases[] = {
      {sim::AdapterKind::kEbdrv, 0x14E4, 0x164E, u"l2nd", 0x164E14E4, 3, kNone},
      {sim::AdapterKind::kMlx4, 0x15B3, 0x1003, u"mlx4eth63", 0x15B31003, 1, 2},
      {sim::AdapterKind::kSolarflare, 0x1924, 0x0903, u"SFCNDIS", 0x19240903, 3, kNone},
  };
  std::vector<sim::SimAdapter> added;
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    std::u16string guid =
        u"{B0000000-0000-0000-0000-00000000000" + crv::Utf8ToUtf16(std::to_string(i)) + u"}";
    sim::SimAdapter a = Adapter(guid.c_str(), cases[i].kind);
    a.vendorId = cases[i].vendor;
    a.deviceId = cases[i].device;
    a.subsystem = 0x31011A2B + i;
    a.bus = 4 + i;
    a.function = 3;
    a.port = 2;
    a.uiNumber = 6 + i;  // on the parent PCI function only
    a.friendlyName = u"Port " + guid;
    a.service = cases[i].service;
    // A Mellanox port's location text without its port: the port node's own UI number.
    if (a.kind == sim::AdapterKind::kMlx4) a.location = u"MLX4 bus 5, device 0, function 3";
    added.push_back(sim::AddAdapter(machine, a).adapter);
  }
  // An IP over InfiniBand port without a UI number of its own: its function comes from
  // InstanceIndex.
  sim::SimAdapter ib = added[1];
  ib.guid = u"{C0000000-0000-0000-0000-000000000002}";
  ib.kind = sim::AdapterKind::kIba;
  ib.location.reset();
  ib.bus = 7;
  ib.uiNumber = 5;
  ib.portUiNumber = false;
  ib.service = u"ipoib6x";
  sim::AdapterRecord& ibRecord = sim::AddAdapter(machine, ib);
  machine.registry().SetDword(ibRecord.enumKey + u"\\Device Parameters", u"InstanceIndex", 3);
  ASSERT_TRUE(list.Init());
  for (uint32_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(crv::Utf16ToUtf8(cases[i].service));
    const crv::CWin32NetAdapter* adapter = Find(added[i].guid);
    ASSERT_NE(nullptr, adapter);
    EXPECT_EQ(cases[i].pciId, adapter->PciId());
    EXPECT_EQ(0x31011A2Bu + i, adapter->SubsystemId());
    ExpectLocation(*adapter, 0, 4 + i, 0, cases[i].function, 6 + i, cases[i].port);
    EXPECT_EQ(*added[i].friendlyName, std::u16string(adapter->DisplayName()));
  }
  const crv::CWin32NetAdapter* ibPort = Find(ib.guid);
  ASSERT_NE(nullptr, ibPort);
  ExpectLocation(*ibPort, 0, 7, 0, 2, 5, 2);
  EXPECT_TRUE(machine.Reports().empty()) << crvtest::DescribeReports(machine);

  // An instance key below the PCI root that cannot be opened (the third key a build opens) is
  // reported by its name. Without the PCI root itself the virtual bus port has no UI number,
  // and only that root is reported.
  EXPECT_TRUE(machine.FailCall("RegOpenKeyExW", machine.CallCount("RegOpenKeyExW") + 3, 5));
  crv::CWin32NetAdapterList denied;
  ASSERT_TRUE(denied.Init());
  machine.registry().DeleteTree(u"SYSTEM\\CurrentControlSet\\Enum\\PCI");
  crv::CWin32NetAdapterList again;
  ASSERT_TRUE(again.Init());
  ASSERT_NE(nullptr, Find(added[0].guid, &again));
  EXPECT_EQ(0u, Find(added[0].guid, &again)->UiNumber());
  EXPECT_EQ((std::vector<std::string>{"4&0AE4F8D1&0&0003", "SYSTEM\\CurrentControlSet\\Enum\\PCI"}),
            crvtest::ReportTexts(machine, crv::kReportKeyNotOpened));
  EXPECT_EQ(2u, machine.Reports().size());
}

TEST_F(Win32NetAdapterTest, UnmanagedKindsAreLeftOutAndAdaptersWithoutServiceAreNeverMatched) {
  sim::AddAdapter(machine, {.guid = u"{E0000000-0000-0000-0000-000000000001}",
                            .mac = {0x00, 0x10, 0x18, 0x00, 0x00, 1},
                            .kind = sim::AdapterKind::kOther,
                            .instanceId = u"ROOT\\VMS_MP\\0000",
                            .service = u"E1000"});
  sim::AddAdapter(machine, {.guid = u"{E0000000-0000-0000-0000-000000000002}",
                            .mac = {0x00, 0x10, 0x18, 0x00, 0x00, 2},
                            .kind = sim::AdapterKind::kOther,
                            .instanceId = u"pci\\ven_8086&dev_10d3\\3&11583659&0&c8",
                            .service = u"E1000"});
  const std::u16string noService = u"{E0000000-0000-0000-0000-000000000003}";
  sim::AddAdapter(
      machine,
      {.guid = noService, .mac = {0x00, 0x10, 0x18, 0x00, 0x00, 3}, .bus = 3, .uiNumber = 8});
  ASSERT_TRUE(list.Init());

  ASSERT_EQ(1u, list.Count());
  const crv::CWin32NetAdapter& kept = *list.Head()->element;
  EXPECT_EQ(nullptr, kept.Guid());
  EXPECT_EQ(0u, kept.PciId());
  ExpectLocation(kept, 0, 3, 0, 0, 8, kNone);
  crv::CMiniport miniport;
  ASSERT_EQ(0u, crvtest::InitMiniport(miniport, noService));
  crv::PciInfo info{};
  EXPECT_FALSE(list.GetPciInfo(miniport, &info));
  // A managed kind in no known form is reported by its instance ID.
  EXPECT_EQ(std::vector<std::string>{"PCI\\VEN_8086&DEV_10D3\\3&11583659&0&C8"},
            crvtest::ReportTexts(machine, crv::kReportInformation));
}

TEST_F(Win32NetAdapterTest, AnUnreadableDeviceListFailsTheBuild) {
  sim::AddAdapter(machine,
                  Adapter(u"{F0000000-0000-0000-0000-000000000001}", sim::AdapterKind::kPci));
  EXPECT_TRUE(machine.FailCall("CM_Get_Device_ID_ListW", 1, platform::kCrFailure));
  EXPECT_FALSE(list.Init());
  EXPECT_EQ(0u, list.Count());
  ASSERT_EQ(1u, machine.Reports().size());
  EXPECT_EQ(u"CWin32NetAdapterList::Init: CM_Get_Device_ID_ListW failed: ",
            machine.Reports()[0].message);
  EXPECT_EQ(platform::kCrFailure, machine.Reports()[0].value);
}

}  // namespace
