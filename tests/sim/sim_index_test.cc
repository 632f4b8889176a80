// The simulated devices find devices, nodes and interfaces through indexes beside their lists:
// an edit made through a record the machine handed out is seen by the next lookup, a removed
// device is no longer found, and lookups keep the lists' order.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/config_manager.h"
#include "platform/platform.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

using namespace platform;

constexpr char16_t kGuid[] = u"{5B1D0C2E-7A3F-4E61-8C09-2F4A6B8D0E11}";
constexpr char16_t kOtherGuid[] = u"{5B1D0C2E-7A3F-4E61-8C09-2F4A6B8D0E22}";

class SimIndexTest : public crvtest::SimTest {
 protected:
  SimIndexTest() {
    sim::AddAdapter(machine, {.guid = kGuid, .ifIndex = 12, .service = u"e1express"});
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

TEST_F(SimIndexTest, ANodeEditedThroughTheMachineIsFoundUnderItsNewNamesOnly) {
  sim::AdapterRecord& r = Record(kGuid);
  const std::u16string oldId = r.instanceId;
  const std::u16string oldPath = r.interfacePath;
  ASSERT_EQ(kCrSuccess, Locate(oldId));  // the index holds the old names first

  sim::DevNode& node = *machine.devices().FindNode(oldId);
  node.instanceId = u"ROOT\\NET\\0042";
  node.ndisLanInterfaces = {u"\\\\?\\ROOT#NET#0042#{ad498944-762f-11d0-8dcb-00c04fc3358c}\\" +
                            std::u16string(kGuid)};

  EXPECT_EQ(kCrSuccess, Locate(u"root\\net\\0042"));
  EXPECT_EQ(0u, OpenError(node.ndisLanInterfaces[0]));
  EXPECT_EQ(kCrNoSuchDevNode, Locate(oldId));
  EXPECT_EQ(kErrorFileNotFound, OpenError(oldPath));
  // The other adapter's node is untouched.
  EXPECT_EQ(kCrSuccess, Locate(Record(kOtherGuid).instanceId));
}

TEST_F(SimIndexTest, ADeviceEditedThroughTheMachineOpensUnderItsNewNames) {
  ASSERT_EQ(0u, OpenError(u"\\\\.\\" + std::u16string(kGuid)));
  const sim::NdisDevice* before = std::as_const(machine.devices()).FindNdis(kGuid);
  ASSERT_TRUE(before->privateDevice.has_value());
  const std::u16string oldPrivate = u"\\\\.\\" + before->privateDevice->name;
  ASSERT_EQ(0u, OpenError(oldPrivate));
  // Taken for editing after the last lookup, as the devices' header asks.
  machine.devices().FindNdis(kGuid)->privateDevice->name = u"CrvPrivateRenamed";

  EXPECT_EQ(0u, OpenError(u"\\\\.\\crvprivaterenamed"));
  EXPECT_EQ(kErrorFileNotFound, OpenError(oldPrivate));
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

  sim::AddAdapter(machine, {.guid = kGuid, .ifIndex = 12, .service = u"e1express"});
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
