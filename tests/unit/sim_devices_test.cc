// The simulated devices answer device I/O and the configuration manager as Windows does, and
// an adapter described once looks the same through every API, also after link changes and
// hot-plug.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ndis.h"
#include "platform/platform.h"
#include "platform/sim/device_sim.h"
#include "platform/sim/scenario.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

constexpr char16_t kGuid[] = u"{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}";

struct OidResult {
  bool ok = false;
  uint32_t error = 0;
  std::vector<uint8_t> data;
};

uint32_t Dword(const std::vector<uint8_t>& bytes, size_t offset = 0) {
  uint32_t v = 0;
  if (bytes.size() >= offset + 4) std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}

uint32_t Dword(const uint8_t* bytes) {
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  return out;
}

// The texts of a multi-text list.
std::vector<std::u16string> Split(const char16_t* list) {
  std::vector<std::u16string> texts;
  for (const char16_t* p = list; *p != 0; p += texts.back().size() + 1) texts.emplace_back(p);
  return texts;
}

class SimDevicesTest : public crvtest::SimTest {
 protected:
  static sim::SimAdapter PciAdapter() {
    sim::SimAdapter a;
    a.guid = kGuid;
    a.mac = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0x01};
    a.ifIndex = 12;
    a.description = u"Corvane NC360T Gigabit Server Adapter";
    a.vendorId = 0x8086;
    a.deviceId = 0x105E;
    a.subsystem = 0x7044103C;
    a.revision = 6;
    a.bus = 5;
    a.device = 0;
    a.function = 1;
    a.slot = 3;
    a.uiNumber = 3;
    a.service = u"e1express";
    a.speedBps = 1000000000;
    a.ipv4 = {{0x0500000A, 0x00FFFFFF}};  // 10.0.0.5/24
    a.connectionName = u"Ethernet 2";
    a.keywords[u"*SpeedDuplex"] = u"6";
    return a;
  }

  OidResult Query(std::u16string_view guid, uint32_t oid, uint32_t size = 64) {
    OidResult r;
    std::u16string name = u"\\\\.\\" + std::u16string(guid);
    DeviceIo& io = *Os().deviceIo;
    Handle h = io.CreateFile(name.c_str(), 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
    if (h == kInvalidHandleValue) {
      r.error = Os().kernel->GetLastError();
      return r;
    }
    r.data.resize(size);
    uint32_t returned = 0;
    r.ok =
        io.DeviceIoControl(h, kIoctlNdisQueryGlobalStats, &oid, 4, r.data.data(), size, &returned);
    r.error = r.ok ? 0 : Os().kernel->GetLastError();
    r.data.resize(r.ok ? returned : 0);
    EXPECT_TRUE(io.CloseDevice(h));
    return r;
  }

  std::optional<std::u16string> TextProperty(DevInst node, uint32_t property) {
    ConfigManager& cm = *Os().configManager;
    uint32_t type = 0, length = 0;
    if (cm.GetDevNodeRegistryProperty(node, property, &type, nullptr, &length, 0) !=
        kCrBufferSmall) {
      return std::nullopt;
    }
    std::vector<char16_t> text(length / 2 + 1, 0);
    EXPECT_EQ(kCrSuccess,
              cm.GetDevNodeRegistryProperty(node, property, &type, text.data(), &length, 0));
    return std::u16string(text.data());
  }

  DevInst Locate(const std::u16string& id, uint32_t flags = kCmLocateDevNodeNormal) {
    DevInst node = 0;
    EXPECT_EQ(kCrSuccess, Os().configManager->LocateDevNode(&node, id.c_str(), flags)) << "locate";
    return node;
  }

  std::vector<std::u16string> NetDeviceIds() {
    ConfigManager& cm = *Os().configManager;
    uint32_t length = 0;
    uint32_t flags = kCmGetIdListFilterClass | kCmGetIdListFilterPresent;
    EXPECT_EQ(kCrSuccess, cm.GetDeviceIdListSize(&length, sim::kNetClassGuidText, flags));
    std::vector<char16_t> list(length);
    EXPECT_EQ(kCrSuccess, cm.GetDeviceIdList(sim::kNetClassGuidText, list.data(), length, flags));
    return Split(list.data());
  }

  std::u16string ReadString(RegKey key, const char16_t* name) {
    char16_t text[260] = {};
    uint32_t size = sizeof text;
    uint32_t type = 0;
    EXPECT_EQ(
        0, Os().registry->QueryValueEx(key, name, &type, reinterpret_cast<uint8_t*>(text), &size));
    return text;
  }
};

TEST_F(SimDevicesTest, ConfigManagerSizeProtocolsAnswerAsWindows) {
  sim::AddAdapter(machine, PciAdapter());
  sim::AdapterRecord& r = *machine.devices().FindAdapter(kGuid);
  ConfigManager& cm = *Os().configManager;

  // Device ID list: filter matched without regard to case; a short buffer is refused whole.
  uint32_t flags = kCmGetIdListFilterClass | kCmGetIdListFilterPresent;
  uint32_t length = 0;
  ASSERT_EQ(kCrSuccess,
            cm.GetDeviceIdListSize(&length, u"{4D36E972-E325-11CE-BFC1-08002BE10318}", flags));
  EXPECT_EQ(r.instanceId.size() + 2, length);
  std::vector<char16_t> list(length);
  EXPECT_EQ(kCrBufferSmall,
            cm.GetDeviceIdList(sim::kNetClassGuidText, list.data(), length - 1, flags));

  // Properties: a size query answers CR_BUFFER_SMALL with the size, including the terminator.
  DevInst node = Locate(Lower(r.instanceId));
  uint32_t type = 0;
  length = 0;
  EXPECT_EQ(kCrBufferSmall,
            cm.GetDevNodeRegistryProperty(node, kCmDrpService, &type, nullptr, &length, 0));
  EXPECT_EQ((std::u16string(u"e1express").size() + 1) * 2, length);
  EXPECT_EQ(kRegSz, type);
  length = 4;
  char16_t small[2];
  EXPECT_EQ(kCrBufferSmall,
            cm.GetDevNodeRegistryProperty(node, kCmDrpService, &type, small, &length, 0));
  EXPECT_EQ(20u, length);
  uint32_t ui = 0;
  length = 4;
  EXPECT_EQ(kCrSuccess,
            cm.GetDevNodeRegistryProperty(node, kCmDrpUiNumber, &type, &ui, &length, 0));
  EXPECT_EQ(kRegDword, type);
  EXPECT_EQ(3u, ui);
  machine.devices().FindNode(r.instanceId)->ClearProperty(kCmDrpFriendlyName);
  length = 0;
  EXPECT_EQ(kCrNoSuchValue,
            cm.GetDevNodeRegistryProperty(node, kCmDrpFriendlyName, &type, nullptr, &length, 0));

  // Device ID: an exact-size buffer gets the ID without its terminator; a shorter one is small.
  std::vector<char16_t> id(r.instanceId.size(), u'x');
  EXPECT_EQ(kCrSuccess, cm.GetDeviceId(node, id.data(), static_cast<uint32_t>(id.size()), 0));
  EXPECT_EQ(r.instanceId, std::u16string(id.begin(), id.end()));
  EXPECT_EQ(kCrBufferSmall, cm.GetDeviceId(node, id.data(), 5, 0));

  // Interface list: the NDIS LAN class only; another class answers an empty list.
  ASSERT_EQ(kCrSuccess, cm.GetDeviceInterfaceListSize(&length, kGuidNdisLanClass,
                                                      Lower(r.instanceId).c_str(), 0));
  EXPECT_EQ(r.interfacePath.size() + 2, length);
  std::vector<char16_t> paths(length);
  EXPECT_EQ(kCrBufferSmall, cm.GetDeviceInterfaceList(kGuidNdisLanClass, r.instanceId.c_str(),
                                                      paths.data(), length - 1, 0));
  ASSERT_EQ(kCrSuccess, cm.GetDeviceInterfaceList(kGuidNdisLanClass, r.instanceId.c_str(),
                                                  paths.data(), length, 0));
  EXPECT_EQ(std::vector<std::u16string>{r.interfacePath}, Split(paths.data()));
  Guid other = kGuidNdisLanClass;
  other.data1 ^= 1;
  ASSERT_EQ(kCrSuccess, cm.GetDeviceInterfaceListSize(&length, other, r.instanceId.c_str(), 0));
  EXPECT_EQ(1u, length);
}

TEST_F(SimDevicesTest, PresenceDecidesListingAndLocating) {
  sim::DevNode gone;
  gone.instanceId = u"PCI\\VEN_8086&DEV_1000&SUBSYS_00000000&REV_00\\3&1&0&08";
  gone.classGuid = sim::kNetClassGuidText;
  gone.present = false;
  gone.ndisLanInterfaces = {u"\\\\?\\PCI#X#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\{G}"};
  machine.devices().AddNode(gone);
  sim::AddAdapter(machine, PciAdapter());

  EXPECT_EQ(1u, NetDeviceIds().size());
  uint32_t length = 0;
  ASSERT_EQ(kCrSuccess, Os().configManager->GetDeviceIdListSize(&length, sim::kNetClassGuidText,
                                                                kCmGetIdListFilterClass));
  std::vector<char16_t> all(length);
  Os().configManager->GetDeviceIdList(sim::kNetClassGuidText, all.data(), length,
                                      kCmGetIdListFilterClass);
  EXPECT_EQ(2u, Split(all.data()).size());

  DevInst node = 0;
  EXPECT_EQ(kCrNoSuchDevNode, Os().configManager->LocateDevNode(&node, gone.instanceId.c_str(), 0));
  node = Locate(gone.instanceId, kCmLocateDevNodePhantom);
  // A device that is not present has no present interfaces.
  ASSERT_EQ(kCrSuccess, Os().configManager->GetDeviceInterfaceListSize(&length, kGuidNdisLanClass,
                                                                       gone.instanceId.c_str(), 0));
  EXPECT_EQ(1u, length);
  // Every node has a parent up to the root, which has none.
  DevInst parent = 0, root = Locate(u"");
  EXPECT_EQ(kCrSuccess, Os().configManager->GetParent(&parent, node, 0));
  EXPECT_EQ(root, parent);
  EXPECT_EQ(kCrNoSuchDevNode, Os().configManager->GetParent(&parent, root, 0));

  // A second adapter described at the same place is still a device of its own.
  sim::SimAdapter twin = PciAdapter();
  twin.guid = u"{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F02}";
  twin.ifIndex = 13;
  sim::AddAdapter(machine, twin);
  EXPECT_EQ(2u, NetDeviceIds().size());
  EXPECT_EQ(2u, machine.network().interfaces().size());
}

TEST_F(SimDevicesTest, PciAdapterLooksTheSameThroughEveryApi) {
  sim::AddAdapter(machine, PciAdapter());
  sim::AdapterRecord& r = *machine.devices().FindAdapter(kGuid);

  // The instance ID carries the PCI identity; the interface path ends in the GUID.
  EXPECT_EQ(0u, r.instanceId.find(u"PCI\\VEN_8086&DEV_105E&SUBSYS_7044103C&REV_06\\"));
  EXPECT_EQ(std::vector<std::u16string>{r.instanceId}, NetDeviceIds());
  EXPECT_EQ(kGuid, r.interfacePath.substr(r.interfacePath.rfind(u'\\') + 1));
  EXPECT_EQ(0u, r.interfacePath.find(u"\\\\?\\PCI#VEN_8086&DEV_105E"));

  // Interface row MAC = current address answer = permanent address answer.
  const sim::SimInterface& row = *machine.network().Find(12);
  std::vector<uint8_t> rowMac(row.row.bPhysAddr, row.row.bPhysAddr + row.row.dwPhysAddrLen);
  EXPECT_EQ(rowMac, Query(kGuid, sim::kOid8023CurrentAddress).data);
  EXPECT_EQ(rowMac, Query(Lower(kGuid), sim::kOid8023PermanentAddress).data);
  EXPECT_EQ(kNdisMedium802_3, Dword(Query(kGuid, sim::kOidGenMediaInUse).data));
  EXPECT_EQ(row.row.dwSpeed / 100, Dword(Query(kGuid, sim::kOidGenLinkSpeed).data));
  EXPECT_EQ(kNdisMediaStateConnected, Dword(Query(kGuid, sim::kOidGenMediaConnectStatus).data));
  EXPECT_EQ(2u, Dword(Query(kGuid, sim::kOidGenMediaDuplexState).data));
  OidResult state = Query(kGuid, sim::kOidGenLinkState, sizeof(NdisLinkState));
  ASSERT_EQ(sizeof(NdisLinkState), state.data.size());
  EXPECT_EQ(2u, Dword(state.data, offsetof(NdisLinkState, mediaDuplexState)));
  EXPECT_EQ(kErrorNotSupported, Query(kGuid, 0x00012345).error);
  // A buffer too small for the answer gets nothing.
  OidResult small = Query(kGuid, sim::kOid8023CurrentAddress, 4);
  EXPECT_FALSE(small.ok);
  EXPECT_EQ(kErrorInsufficientBuffer, small.error);

  // PnP: display texts and the location, and the driver key is the network class key.
  DevInst node = Locate(r.instanceId);
  EXPECT_EQ(u"PCI Slot 3 (PCI bus 5, device 0, function 1)",
            TextProperty(node, kCmDrpLocationInformation));
  EXPECT_EQ(u"Corvane NC360T Gigabit Server Adapter", TextProperty(node, kCmDrpFriendlyName));
  EXPECT_EQ(u"PCI\\VEN_8086&DEV_105E&SUBSYS_7044103C&REV_06", TextProperty(node, kCmDrpHardwareId));
  RegKey key = nullptr;
  ASSERT_EQ(kCrSuccess,
            Os().configManager->OpenDevNodeKey(node, kKeyRead, 0, kRegDispositionOpenExisting, &key,
                                               kCmRegistrySoftware));
  EXPECT_EQ(kGuid, ReadString(key, u"NetCfgInstanceID"));
  EXPECT_EQ(u"6", ReadString(key, u"*SpeedDuplex"));
  EXPECT_EQ(1, machine.openHandles().registry);
  EXPECT_EQ(0, Os().registry->CloseKey(key));
  EXPECT_EQ(0, machine.openHandles().registry);
  EXPECT_EQ(sim::kNetClassKeyPath + std::u16string(u"\\0000"), r.classKey);

  // Connection name: the network key and the adapter addresses agree.
  auto name = machine.registry().GetValue(r.connectionKey, u"Name");
  ASSERT_TRUE(name.has_value());
  EXPECT_EQ(u"Ethernet 2", std::u16string(reinterpret_cast<const char16_t*>(name->data.data())));
  EXPECT_EQ(u"Ethernet 2", row.friendlyName);
  EXPECT_EQ("{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", row.adapterName);
  EXPECT_EQ(0u, Dword(machine.registry().GetValue(r.tcpipKey, u"EnableDHCP")->data));
  EXPECT_EQ(0, machine.openHandles().devices);
}

TEST_F(SimDevicesTest, PrivateQueryDeviceRoundTrip) {
  sim::AddAdapter(machine, PciAdapter());  // e1express has the private device
  DeviceIo& io = *Os().deviceIo;

  // The miniport names its private device behind the caller's "\\.\" prefix.
  char16_t path[128] = u"\\\\.\\";
  Handle miniport =
      io.CreateFile((u"\\\\.\\" + std::u16string(kGuid)).c_str(), 0, 3, kOpenExisting, 0);
  ASSERT_NE(kInvalidHandleValue, miniport);
  uint32_t oid = sim::kOidPrivateQueryDeviceName, returned = 0;
  ASSERT_TRUE(io.DeviceIoControl(miniport, kIoctlNdisQueryGlobalStats, &oid, 4, path + 4,
                                 sizeof path - 8, &returned));
  EXPECT_EQ(0, returned % 2);
  Handle priv = io.CreateFile(path, 0, kFileShareRead, kOpenExisting, kFileAttributeReadonly);
  ASSERT_NE(kInvalidHandleValue, priv);
  EXPECT_EQ(2, machine.openHandles().devices);

  // One buffer in and out: {OID, status, reserved, data}.
  uint8_t request[20] = {};
  uint32_t duplexOid = sim::kOidPrivateDuplex;
  std::memcpy(request, &duplexOid, 4);
  ASSERT_TRUE(io.DeviceIoControl(priv, sim::kIoctlPrivateQuery, request, sizeof request, request,
                                 sizeof request, &returned));
  EXPECT_EQ(20u, returned);
  EXPECT_EQ(0u, Dword(request + 4));
  EXPECT_EQ(2u, Dword(request + 12));  // full duplex

  uint32_t unknown = 0xFF020000;
  std::memcpy(request, &unknown, 4);
  ASSERT_TRUE(io.DeviceIoControl(priv, sim::kIoctlPrivateQuery, request, sizeof request, request,
                                 sizeof request, &returned));
  EXPECT_EQ(sim::kNdisStatusNotSupported, Dword(request + 4));
  // The miniport's own control code is not the private device's.
  EXPECT_FALSE(io.DeviceIoControl(priv, kIoctlNdisQueryGlobalStats, &oid, 4, request,
                                  sizeof request, &returned));
  EXPECT_EQ(sim::kErrorInvalidFunction, Os().kernel->GetLastError());

  // A private answer can fail the call itself.
  machine.devices().FindNdis(kGuid)->privateDevice->answers[duplexOid].error = 31;
  std::memcpy(request, &duplexOid, 4);
  EXPECT_FALSE(io.DeviceIoControl(priv, sim::kIoctlPrivateQuery, request, sizeof request, request,
                                  sizeof request, &returned));
  EXPECT_EQ(31u, Os().kernel->GetLastError());

  EXPECT_TRUE(io.CloseDevice(priv));
  EXPECT_TRUE(io.CloseDevice(miniport));
  EXPECT_FALSE(io.CloseDevice(miniport));
  EXPECT_EQ(0, machine.openHandles().devices);

  // A driver without one fails the name query.
  sim::SimAdapter plain = PciAdapter();
  plain.service = u"b57nd";
  sim::AddAdapter(machine, plain);
  EXPECT_EQ(kErrorNotSupported, Query(kGuid, sim::kOidPrivateQueryDeviceName, 248).error);
  EXPECT_EQ(kErrorFileNotFound, Query(u"{00000000-0000-0000-0000-000000000000}", 1).error);
}

TEST_F(SimDevicesTest, BusEnumeratedAdaptersHangBelowTheirPciFunction) {
  sim::SimAdapter l2 = PciAdapter();
  l2.kind = sim::AdapterKind::kB06bdrv;
  l2.vendorId = 0x14E4;
  l2.deviceId = 0x164A;
  l2.subsystem = 0x3101103C;
  l2.revision = 0x12;
  l2.slot.reset();
  l2.uiNumber = 4;
  l2.service = u"l2nd";
  sim::AdapterRecord& r = sim::AddAdapter(machine, l2);

  // The PCI_ word is written device first; the node has no UI number of its own.
  EXPECT_EQ(0u, r.instanceId.find(u"B06BDRV\\L2ND&PCI_164A14E4&SUBSYS_3101103C&REV_12\\"));
  EXPECT_EQ(std::vector<std::u16string>{r.instanceId}, NetDeviceIds());  // parent not in class
  DevInst node = Locate(r.instanceId);
  EXPECT_FALSE(TextProperty(node, kCmDrpUiNumber).has_value());
  DevInst parent = 0;
  ASSERT_EQ(kCrSuccess, Os().configManager->GetParent(&parent, node, 0));
  EXPECT_EQ(u"PCI\\VEN_14E4&DEV_164A&SUBSYS_3101103C&REV_12",
            TextProperty(parent, kCmDrpHardwareId));
  EXPECT_EQ(u"PCI bus 5, device 0, function 1", TextProperty(parent, kCmDrpLocationInformation));

  // Two Mellanox ports share one PCI function; the port number is the port's UI number and
  // its hardware key's InstanceIndex.
  sim::SimAdapter port1 = PciAdapter();
  port1.guid = u"{11111111-2222-3333-4444-555555555501}";
  port1.ifIndex = 20;
  port1.kind = sim::AdapterKind::kMlx4;
  port1.vendorId = 0x15B3;
  port1.deviceId = 0x1003;
  port1.bus = 0x1a;
  port1.service = u"mlx4eth63";
  sim::SimAdapter port2 = port1;
  port2.guid = u"{11111111-2222-3333-4444-555555555502}";
  port2.ifIndex = 21;
  port2.port = 2;
  port2.portUiNumber = false;
  sim::AdapterRecord& m1 = sim::AddAdapter(machine, port1);
  sim::AdapterRecord& m2 = sim::AddAdapter(machine, port2);
  EXPECT_EQ(m1.parentId, m2.parentId);
  EXPECT_EQ(0u, m2.instanceId.find(u"MLX4\\CONNECTX-3_ETH\\"));
  DevInst p2 = Locate(m2.instanceId);
  EXPECT_EQ(u"MLX4 bus 1a, device 0, function 1, port 2",
            TextProperty(p2, kCmDrpLocationInformation));
  EXPECT_FALSE(TextProperty(p2, kCmDrpUiNumber).has_value());
  RegKey key = nullptr;
  ASSERT_EQ(kCrSuccess,
            Os().configManager->OpenDevNodeKey(p2, kKeyRead, 0, kRegDispositionOpenExisting, &key,
                                               kCmRegistryHardware));
  uint32_t index = 0, size = 4;
  EXPECT_EQ(0, Os().registry->QueryValueEx(key, u"InstanceIndex", nullptr,
                                           reinterpret_cast<uint8_t*>(&index), &size));
  EXPECT_EQ(2u, index);
  Os().registry->CloseKey(key);
  // Removing one port leaves the shared function present.
  sim::RemoveAdapter(machine, port2.guid);
  EXPECT_TRUE(machine.devices().FindNode(m1.parentId)->present);
}

TEST_F(SimDevicesTest, TimelineChangesLinkAndHotPlugsAdapters) {
  sim::Scenario scenario;
  std::string error;
  ASSERT_TRUE(sim::LoadScenario(R"({
    "adapters": [{"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "mac": "00-1B-21-AA-BB-01",
                  "if_index": 12, "service": "q57nd60a", "speed": 100000000, "duplex": "half",
                  "pci": {"vendor": "0x14E4", "device": "0x1659", "subsystem": "0x7031103C"},
                  "location": {"bus": 2, "device": 0, "function": 0},
                  "oids": {"0x00010207": {"error": 50}}}],
    "timeline": [
      {"at_ms": 1000, "adapter_link": {"guid": "{0e5b9c1a-4f7d-4c1b-9a8e-3d2c1b0a9f01}",
                                       "up": false}},
      {"at_ms": 2000, "adapter_link": {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}",
                                       "up": true}},
      {"at_ms": 3000, "adapter_remove": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}"},
      {"at_ms": 4000, "adapter_add": {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}",
                                      "mac": "00-1B-21-AA-BB-01", "if_index": 14}}]
  })",
                                machine, &scenario, &error))
      << error;
  // The per-OID override stays over the derived answer.
  EXPECT_EQ(kErrorNotSupported, Query(kGuid, sim::kOidGenLinkState).error);
  EXPECT_EQ(1000000u, Dword(Query(kGuid, sim::kOidGenLinkSpeed).data));
  EXPECT_EQ(1u, Dword(Query(kGuid, sim::kOidGenMediaDuplexState).data));

  machine.AdvanceTo(1000);
  EXPECT_EQ(kNdisMediaStateDisconnected, Dword(Query(kGuid, sim::kOidGenMediaConnectStatus).data));
  EXPECT_EQ(2u, machine.network().Find(12)->row.dwOperStatus);
  EXPECT_EQ(100u, machine.network().Find(12)->row.dwLastChange);
  machine.AdvanceTo(2000);
  EXPECT_EQ(kNdisMediaStateConnected, Dword(Query(kGuid, sim::kOidGenMediaConnectStatus).data));
  EXPECT_EQ(5u, machine.network().Find(12)->row.dwOperStatus);

  // A removal in the middle of a query: the open handle answers that the device is gone.
  Handle h = Os().deviceIo->CreateFile((u"\\\\.\\" + std::u16string(kGuid)).c_str(), 0, 3,
                                       kOpenExisting, 0);
  machine.AdvanceTo(3000);
  uint32_t oid = sim::kOidGenMediaInUse, out = 0, returned = 0;
  EXPECT_FALSE(
      Os().deviceIo->DeviceIoControl(h, kIoctlNdisQueryGlobalStats, &oid, 4, &out, 4, &returned));
  EXPECT_EQ(sim::kErrorDeviceRemoved, Os().kernel->GetLastError());
  Os().deviceIo->CloseDevice(h);
  EXPECT_EQ(kErrorFileNotFound, Query(kGuid, sim::kOidGenMediaInUse).error);
  EXPECT_EQ(nullptr, machine.network().Find(12));
  EXPECT_TRUE(NetDeviceIds().empty());

  machine.AdvanceTo(4000);
  EXPECT_EQ(1u, NetDeviceIds().size());
  ASSERT_NE(nullptr, machine.network().Find(14));
  // Re-added, the adapter keeps its network class key.
  EXPECT_EQ(sim::kNetClassKeyPath + std::u16string(u"\\0000"),
            machine.devices().FindAdapter(kGuid)->classKey);
}

TEST_F(SimDevicesTest, FaultsAndBadScenarios) {
  sim::AddAdapter(machine, PciAdapter());
  machine.FailCall("CM_Get_Device_ID_List_SizeW", 1, kCrRegistryError);
  uint32_t length = 0;
  EXPECT_EQ(kCrRegistryError, Os().configManager->GetDeviceIdListSize(
                                  &length, sim::kNetClassGuidText, kCmGetIdListFilterClass));
  machine.FailCall("DeviceIoControl", 2, kErrorGenFailure);
  EXPECT_TRUE(Query(kGuid, sim::kOidGenMediaInUse).ok);
  EXPECT_EQ(kErrorGenFailure, Query(kGuid, sim::kOidGenMediaInUse).error);
  machine.FailCall("CreateFileW", 0, kErrorAccessDenied);
  EXPECT_EQ(kErrorAccessDenied, Query(kGuid, sim::kOidGenMediaInUse).error);
  EXPECT_EQ(0u, machine.CallCount("CloseHandle"));
  EXPECT_EQ(2u, machine.CallCount("CloseHandle(device)"));

  sim::Scenario scenario;
  std::string error;
  EXPECT_FALSE(sim::LoadScenario(R"({"adapters": [{"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}",
      "mac": "00-1B-21-AA-BB-01", "kind": "usb"}]})",
                                 machine, &scenario, &error));
  EXPECT_EQ("adapters[0].kind: unknown kind \"usb\"", error);
  EXPECT_FALSE(sim::LoadScenario(R"({"adapters": [{"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}",
      "mac": "00-1B-21-AA-BB-01", "oids": {"0x1zz": {"dword": 1}}}]})",
                                 machine, &scenario, &error));
  EXPECT_EQ("adapters[0].oids.0x1zz: expected a number or a text like \"0x8086\"", error);
}

}  // namespace

namespace {

// A request without an OVERLAPPED on a handle opened for overlapped I/O is counted (a driver
// that pends it would complete it into the caller's abandoned buffers); one on a synchronous
// handle is not. Every simulated-machine test requires the count to stay 0 (sim_fixture.h).
TEST(SimDeviceMisuse, SynchronousRequestOnAnOverlappedHandleIsCounted) {
  sim::Machine machine;  // not the fixture, which fails a test that leaves such a request
  machine.Install();
  sim::SimAdapter adapter;
  adapter.guid = kGuid;
  adapter.mac = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0x01};
  adapter.ifIndex = 12;
  adapter.service = u"e1express";
  const std::u16string path = sim::AddAdapter(machine, adapter).interfacePath;
  DeviceIo& io = *Os().deviceIo;
  uint32_t oid = sim::kOidGenMediaInUse, out = 0, returned = 0;
  for (uint32_t flags : {0u, 0x80u, 0x40000000u, 0x40000080u}) {
    Handle h = io.CreateFile(path.c_str(), 0xC0000000, 0, 2, flags);
    ASSERT_NE(kInvalidHandleValue, h);
    EXPECT_TRUE(io.DeviceIoControl(h, kIoctlNdisQueryGlobalStats, &oid, 4, &out, 4, &returned));
    io.CloseDevice(h);
  }
  EXPECT_EQ(2u, machine.devices().SynchronousRequestsOnOverlappedHandles());
}

}  // namespace
