// The simulated devices answer device I/O and the configuration manager as Windows does where
// Wine cannot show it (the size protocols are the platform contract's): devices that are not
// present, the miniport's error codes, a removal under an open handle. They find devices, nodes
// and interfaces through indexes beside their lists: an edit made through a record the machine
// handed out is seen by the next lookup, a removed device is no longer found, and lookups keep
// the lists' order.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/config_manager.h"
#include "platform/ndis.h"
#include "platform/platform.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

constexpr char16_t kGuid[] = u"{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}";

sim::SimAdapter PciAdapter() {
  return {.guid = kGuid,
          .mac = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0x01},
          .ifIndex = 12,
          .uiNumber = 3,
          .service = u"e1express"};
}

class SimDevicesTest : public crvtest::SimTest {
 protected:
  // The error of an OID query through the miniport's device, 0 when it succeeded.
  uint32_t QueryError(std::u16string_view guid, uint32_t oid, uint32_t size = 64) {
    std::u16string name = u"\\\\.\\" + std::u16string(guid);
    DeviceIo& io = *Os().deviceIo;
    DeviceHandle h =
        io.CreateFile(name.c_str(), 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
    if (h == kInvalidHandleValue) return Os().kernel->GetLastError();
    std::vector<uint8_t> data(size);
    uint32_t returned = 7;
    bool ok =
        io.DeviceIoControl(h, kIoctlNdisQueryGlobalStats, &oid, 4, data.data(), size, &returned);
    uint32_t error = ok ? 0 : Os().kernel->GetLastError();
    EXPECT_TRUE(ok || returned == 0) << "a failed query hands back nothing";
    EXPECT_TRUE(io.CloseDevice(h));
    return error;
  }

  size_t NetDeviceCount(uint32_t flags) {
    ConfigManager& cm = *Os().configManager;
    uint32_t length = 0;
    EXPECT_EQ(kCrSuccess, cm.GetDeviceIdListSize(&length, sim::kNetClassGuidText, flags));
    std::vector<char16_t> list(length);
    EXPECT_EQ(kCrSuccess, cm.GetDeviceIdList(sim::kNetClassGuidText, list.data(), length, flags));
    size_t texts = 0;  // in the multi-text list
    for (const char16_t* p = list.data(); *p != 0; p += std::u16string_view(p).size() + 1) ++texts;
    return texts;
  }
};

// Phantom nodes, their interfaces and the root's parent are never asked for by the agent.
TEST_F(SimDevicesTest, ADeviceNotPresentIsListedOnlyWithoutThePresentFilterAndNotLocated) {
  sim::DevNode gone;
  gone.instanceId = u"PCI\\VEN_8086&DEV_1000&SUBSYS_00000000&REV_00\\3&1&0&08";
  gone.classGuid = sim::kNetClassGuidText;
  gone.present = false;
  machine.devices().AddNode(gone);
  sim::AddAdapter(machine, PciAdapter());
  EXPECT_EQ(1u, NetDeviceCount(kCmGetIdListFilterClass | kCmGetIdListFilterPresent));
  EXPECT_EQ(2u, NetDeviceCount(kCmGetIdListFilterClass));
  DevInst node = 0;
  EXPECT_EQ(kCrNoSuchDevNode, Os().configManager->LocateDevNode(&node, gone.instanceId.c_str(), 0));
}

TEST_F(SimDevicesTest, MiniportQueriesFailAsWindowsFailsThem) {
  sim::AddAdapter(machine, PciAdapter());
  EXPECT_EQ(0u, QueryError(u"{0e5b9c1a-4f7d-4c1b-9a8e-3d2c1b0a9f01}", sim::kOidGenMediaInUse));
  EXPECT_EQ(kErrorNotSupported, QueryError(kGuid, 0x00012345));
  EXPECT_EQ(kErrorInsufficientBuffer, QueryError(kGuid, sim::kOid8023CurrentAddress, 5));

  // A removal in the middle of a query: the open handle answers that the device is gone.
  DeviceIo& io = *Os().deviceIo;
  DeviceHandle h =
      io.CreateFile((u"\\\\.\\" + std::u16string(kGuid)).c_str(), 0, 3, kOpenExisting, 0);
  sim::RemoveAdapter(machine, kGuid);
  uint32_t oid = sim::kOidGenMediaInUse, out = 0, returned = 0;
  EXPECT_FALSE(io.DeviceIoControl(h, kIoctlNdisQueryGlobalStats, &oid, 4, &out, 4, &returned));
  EXPECT_EQ(sim::kErrorDeviceRemoved, Os().kernel->GetLastError());
  EXPECT_TRUE(io.CloseDevice(h));
  EXPECT_FALSE(io.CloseDevice(h));
  EXPECT_EQ(kErrorFileNotFound, QueryError(kGuid, sim::kOidGenMediaInUse));
}

// A request without an OVERLAPPED on a handle opened for overlapped I/O is counted (a driver
// that pends it would complete it into the caller's abandoned buffers); one on a synchronous
// handle is not. Every simulated-machine test requires the count to stay 0 (sim_fixture.h).
TEST(SimDeviceMisuse, SynchronousRequestOnAnOverlappedHandleIsCounted) {
  sim::Machine machine;  // not the fixture, which fails a test that leaves such a request
  machine.Install();
  const std::u16string path = sim::AddAdapter(machine, PciAdapter()).interfacePath;
  DeviceIo& io = *Os().deviceIo;
  uint32_t oid = sim::kOidGenMediaInUse, out = 0, returned = 0;
  for (uint32_t flags : {0u, 0x80u, 0x40000000u, 0x40000080u}) {
    DeviceHandle h = io.CreateFile(path.c_str(), 0xC0000000, 0, 2, flags);
    ASSERT_NE(kInvalidHandleValue, h);
    EXPECT_TRUE(io.DeviceIoControl(h, kIoctlNdisQueryGlobalStats, &oid, 4, &out, 4, &returned));
    io.CloseDevice(h);
  }
  EXPECT_EQ(2u, machine.devices().SynchronousRequestsOnOverlappedHandles());
}

constexpr char16_t kOtherGuid[] = u"{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F02}";

class SimIndexTest : public crvtest::SimTest {
 protected:
  SimIndexTest() {
    sim::AddAdapter(machine, PciAdapter());
    sim::AddAdapter(machine, {.guid = kOtherGuid, .ifIndex = 13, .function = 1});
  }

  // Whether CreateFileW opens the name; the error it failed with otherwise.
  uint32_t OpenError(const std::u16string& name) {
    auto handle = Os().deviceIo->CreateFile(name.c_str(), 0, kFileShareRead | kFileShareWrite,
                                            kOpenExisting, 0);
    if (handle == kInvalidHandleValue) return Os().kernel->GetLastError();
    EXPECT_TRUE(Os().deviceIo->CloseDevice(handle));
    return 0;
  }

  ConfigRet Locate(const std::u16string& instanceId) {
    DevInst devInst = 0;
    return Os().configManager->LocateDevNode(&devInst, instanceId.c_str(), 0);
  }

  sim::AdapterRecord& Record(const char16_t* guid) { return *machine.devices().FindAdapter(guid); }
};

// Nodes and devices edited through the records the machine handed out (taken for editing
// after the last lookup, as the devices' header asks).
TEST_F(SimIndexTest, WhatIsEditedThroughTheMachineIsFoundUnderItsNewNamesOnly) {
  sim::AdapterRecord& r = Record(kGuid);
  const std::u16string oldId = r.instanceId;
  const std::u16string oldPath = r.interfacePath;
  ASSERT_EQ(kCrSuccess, Locate(oldId));  // the index holds the old names first
  const std::u16string oldPrivate =
      u"\\\\.\\" + std::as_const(machine.devices()).FindNdis(kGuid)->privateDevice->name;
  ASSERT_EQ(0u, OpenError(oldPrivate));

  sim::DevNode& node = *machine.devices().FindNode(oldId);
  node.instanceId = u"ROOT\\NET\\0042";
  node.ndisLanInterfaces = {u"\\\\?\\ROOT#NET#0042#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\" +
                            std::u16string(kGuid)};
  machine.devices().FindNdis(kGuid)->privateDevice->name = u"CrvPrivateRenamed";

  EXPECT_EQ(kCrSuccess, Locate(u"root\\net\\0042"));
  EXPECT_EQ(0u, OpenError(node.ndisLanInterfaces[0]));
  EXPECT_EQ(0u, OpenError(u"\\\\.\\crvprivaterenamed"));
  EXPECT_EQ(kCrNoSuchDevNode, Locate(oldId));
  EXPECT_EQ(kErrorFileNotFound, OpenError(oldPath));
  EXPECT_EQ(kErrorFileNotFound, OpenError(oldPrivate));
  // The other adapter's node is untouched.
  EXPECT_EQ(kCrSuccess, Locate(Record(kOtherGuid).instanceId));
}

TEST_F(SimIndexTest, ARemovedAdapterIsNoLongerFoundAndOneAddedAgainIs) {
  sim::AdapterRecord& r = Record(kGuid);
  const std::u16string id = r.instanceId, path = r.interfacePath;
  ASSERT_TRUE(sim::RemoveAdapter(machine, kGuid));

  EXPECT_EQ(nullptr, machine.devices().FindAdapter(kGuid));
  EXPECT_EQ(nullptr, machine.devices().FindNdis(kGuid));
  EXPECT_EQ(kErrorFileNotFound, OpenError(u"\\\\.\\" + std::u16string(kGuid)));
  EXPECT_EQ(kErrorFileNotFound, OpenError(path));
  EXPECT_EQ(kCrNoSuchDevNode, Locate(id));
  EXPECT_NE(nullptr, machine.devices().FindAdapter(kOtherGuid));

  sim::AddAdapter(machine, PciAdapter());
  EXPECT_EQ(0u, OpenError(path));
  EXPECT_EQ(kCrSuccess, Locate(id));
}

// Two nodes given one ID: the first in the device list answers, and the interface list of the
// ID holds both nodes' interfaces in list order, as a walk of the list would.
TEST_F(SimIndexTest, NodesSharingAnIdAnswerInListOrder) {
  sim::AdapterRecord& first = Record(kGuid);
  sim::AdapterRecord& second = Record(kOtherGuid);
  machine.devices().FindNode(second.instanceId)->instanceId = first.instanceId;

  EXPECT_EQ(first.classKey, machine.devices().FindNode(first.instanceId)->driverKey);
  ConfigManager& cm = *Os().configManager;
  uint32_t length = 0;
  EXPECT_EQ(kCrSuccess,
            cm.GetDeviceInterfaceListSize(&length, kGuidNdisLanClass, first.instanceId.c_str(), 0));
  std::u16string list(length, u'\0');
  EXPECT_EQ(kCrSuccess, cm.GetDeviceInterfaceList(kGuidNdisLanClass, first.instanceId.c_str(),
                                                  list.data(), length, 0));
  EXPECT_EQ(first.interfacePath + u'\0' + second.interfacePath + u'\0' + u'\0', list);
}

}  // namespace
