// bmapi.dll beside the agent's module and the device-path queries, on the simulated machine.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/utf.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/library_sim.h"
#include "support/sim_fixture.h"
#include "vendor/bmapi_local.h"
#include "vendor/device_path_queries.h"

namespace {

constexpr char16_t kGuid[] = u"{8D2E3F40-5555-4B6C-8D9E-00A0C9140A05}";
constexpr char kFunctionId[] = "PCI\\VEN_14E4&DEV_164F&SUBSYS_1917103C&REV_00\\5&3A1B&0&0020";
constexpr uint32_t kUntouched = 0xAAAA5555;
const std::pair<uint32_t, uint32_t> kFound{0, 77}, kNotFound{2, kUntouched};

class BmapiLocalTest : public crvtest::SimTest {
 protected:
  void SetUp() override {
    adapterNode = sim::AddAdapter(machine, {.guid = kGuid,
                                            .mac = {0x00, 0x10, 0x18, 0x0D, 0x0E, 0x0F},
                                            .ifIndex = 15,
                                            .vendorId = 0x14E4,
                                            .bus = 5,
                                            .function = 1})
                      .instanceId;
    // Two devices of the library's class: one elsewhere, then the adapter's function.
    sim::AddBmapiClassDevice(machine,
                             u"PCI\\VEN_14E4&DEV_164F&SUBSYS_1917103C&REV_00\\5&3A1B&0&0000",
                             u"PCI bus 5, device 0, function 0");
    ASSERT_TRUE(sim::AddBmapiClassDeviceFor(machine, crv::Utf8ToUtf16(kFunctionId), kGuid));
    Local().present = true;
    // Walked from the last: a NIC of another kind, one with another id, then the match.
    Local().localNics = {{.handle = 1, .kind = 5, .pnpDeviceId = kFunctionId, .value = 77},
                         {.handle = 2, .kind = 4, .pnpDeviceId = "PCI\\VEN_14E4&OTHER"},
                         {.handle = 3, .kind = 7, .pnpDeviceId = kFunctionId}};
    allocationsBefore = machine.LiveAllocations();
  }

  sim::SimVendorLibrary& Local() { return machine.libraries().bmapiLocal(); }
  uint32_t Query(uint32_t* value) {
    return crv::QueryBmapiNicInfoEx(machine.devices().FindNode(adapterNode)->devInst, value);
  }
  // The query's status and the value it leaves in a buffer that held kUntouched.
  std::pair<uint32_t, uint32_t> Answer() {
    uint32_t value = kUntouched;
    uint32_t status = Query(&value);
    return {status, value};
  }
  void ExpectReleased() {
    EXPECT_EQ(0, machine.libraries().LoadedReferences());
    EXPECT_EQ(allocationsBefore, machine.LiveAllocations());
  }

  std::u16string adapterNode;
  uint64_t allocationsBefore = 0;
};

TEST_F(BmapiLocalTest, FindsTheNicAtTheAdaptersLocationWalkingFromTheLast) {
  EXPECT_EQ(kFound, Answer());
  EXPECT_EQ(3u, machine.CallCount("bmapi.dll!BmapiGetPhyNic"));
  EXPECT_EQ(4u, machine.CallCount("bmapi.dll!BmapiGetPnpDevId"));  // length, then text, twice
  EXPECT_EQ(0u, machine.CallCount("bmapi.dll!BmapiGetHandleByServiceName"));
  EXPECT_EQ(100u, machine.NowMs());  // only the pause before unloading
  EXPECT_TRUE(machine.Reports().empty());
  ExpectReleased();
  // A location text that fills the buffer unterminated compares without its last character; an
  // answer that writes no value reads 0, not the 77 the last query left in the buffer.
  sim::DevNode& adapter = *machine.devices().FindNode(adapterNode);
  sim::DevNode& function = *machine.devices().FindNode(crv::Utf8ToUtf16(kFunctionId));
  function.SetText(platform::kCmDrpLocationInformation, std::u16string(1023, u'x'));
  adapter.SetText(platform::kCmDrpLocationInformation, std::u16string(1024, u'x'));
  adapter.properties[platform::kCmDrpLocationInformation].data.resize(2048);  // no terminator
  ASSERT_TRUE(machine.FailCall("bmapi.dll!BmapiGetBRCMNicInfoEx", 0, 0));
  EXPECT_EQ(std::make_pair(0u, 0u), Answer());
}

// Each way of not finding the NIC answers 2, leaves the caller's value and releases the library.
TEST_F(BmapiLocalTest, EveryFailureGivesTwoAndLeavesTheValue) {
  std::string lower = kFunctionId;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  sim::DevNode& function = *machine.devices().FindNode(crv::Utf8ToUtf16(kFunctionId));
  const struct {
    const char* what;
    std::function<void(sim::SimVendorLibrary&)> breakIt;
    uint64_t initialised;  // BmapiInitializeEx calls, and so BmapiUninitialize calls
  } cases[] = {
      // The ids are compared whole and with their case.
      {"id in lower case", [&](auto& l) { l.localNics[0].pnpDeviceId = lower; }, 1},
      {"no class device at the adapter's location", [&](auto&) { function.present = false; }, 1},
      {"library not beside the module", [](auto& l) { l.present = false; }, 0},
      {"NIC info fails", [](auto& l) { l.localNics[0].nicInfoExStatus = 9; }, 1},
      {"device id fails before the match", [](auto& l) { l.localNics[1].pnpDevIdStatus = 9; }, 1},
      {"NIC count fails", [](auto& l) { l.numPhyNicStatus = 9; }, 1},
      // Unloaded at once, never initialised.
      {"entry point missing", [](auto& l) { l.missingEntryPoints = {"BmapiGetPnpDevId"}; }, 0},
  };
  const sim::SimVendorLibrary working = Local();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Local() = working;
    function.present = true;
    c.breakIt(Local());
    EXPECT_EQ(kNotFound, Answer());
    EXPECT_EQ(c.initialised, Local().initializeCalls);
    EXPECT_EQ(c.initialised, Local().uninitializeCalls);
    ExpectReleased();
  }
}

// Found again when it lies beside a module that moved.
TEST_F(BmapiLocalTest, IsLookedForBesideTheAgentsModuleWhereverItIs) {
  machine.SetAgentModuleFileName(u"D:\\Agents\\Corvane\\crvnicmgmt.dll");
  EXPECT_EQ(kFound, Answer());
  // A module path longer than a path can be comes cut; its directory still holds.
  machine.SetAgentModuleFileName(u"D:\\" + std::u16string(245, u'd') + u"\\crvnicmgmt.dll");
  EXPECT_EQ(kFound, Answer());
}

TEST_F(BmapiLocalTest, InitialisationFailuresCostFiveSecondsAndAreIgnored) {
  Local().initializeStatuses = {1, 1, 1, 1, 1};
  EXPECT_EQ(kFound, Answer());
  EXPECT_EQ(5100u, machine.NowMs());
  ExpectReleased();
}

TEST_F(BmapiLocalTest, ALibraryThatWillNotUninitialiseStaysLoadedAndFailsTheQuery) {
  Local().uninitializeStatus = 4;
  EXPECT_EQ(kNotFound, Answer());
  EXPECT_EQ(1, Local().references);
  // The handle was forgotten: the next query loads it again.
  Local().uninitializeStatus = 0;
  EXPECT_EQ(kFound, Answer());
  EXPECT_EQ(1, Local().references);
  EXPECT_TRUE(machine.FailCall("FreeLibrary", 0, 6));
  EXPECT_EQ(kNotFound, Answer());
}

TEST_F(BmapiLocalTest, NoAllocationFailureLeaks) {
  for (uint64_t n = 1; n <= 7; ++n) {
    machine.FailAllocation(n);
    EXPECT_EQ(kNotFound, Answer()) << "allocation " << n;
    ExpectReleased();
  }
  EXPECT_EQ(kFound, Answer());
}

// The queries go to the adapter's NDIS LAN interface path.
class DevicePathQueryTest : public BmapiLocalTest {
 protected:
  void SetUp() override {
    BmapiLocalTest::SetUp();
    path = machine.devices().FindAdapter(kGuid)->interfacePath;
  }
  std::map<uint32_t, sim::OidAnswer>& Oids() { return machine.devices().FindNdis(kGuid)->oids; }
  std::u16string path;
};

TEST_F(DevicePathQueryTest, EachQueryReadsItsValueFromTheDriversAnswer) {
  Oids()[0xFFA0C921] = sim::OidAnswer::Bytes({0xFE});
  Oids()[0xFF02029A] = sim::OidAnswer::Dword(0x12345678);
  std::vector<uint8_t> signed_(20, 0);
  signed_[8] = 0x2A;
  signed_[11] = 0x80;
  Oids()[0xFF010144] = sim::OidAnswer::Bytes(signed_);
  uint32_t byte = 0, dword = 0, word = 0;
  EXPECT_EQ(0u, crv::QueryPathOidByte(&byte, path.c_str()));
  EXPECT_EQ(0u, crv::QueryPathOidDword(&dword, path.c_str()));
  EXPECT_EQ(0u, crv::QueryPathOidSigned(&word, path.c_str()));
  EXPECT_EQ(0xFEu, byte);
  EXPECT_EQ(0x12345678u, dword);
  EXPECT_EQ(0x8000002Au, word);
  for (const auto& open : machine.devices().opens()) {
    EXPECT_EQ(0xC0000000u, open.access);
    EXPECT_EQ(0u, open.share);
    EXPECT_EQ(2u, open.disposition);
    EXPECT_EQ(0u, open.flags);
  }
  EXPECT_EQ(0u, machine.devices().SynchronousRequestsOnOverlappedHandles());
  ASSERT_EQ(3u, machine.devices().queries().size());
  EXPECT_EQ(0x170002u, machine.devices().queries()[2].controlCode);
  EXPECT_EQ(20u, machine.devices().queries()[2].outputSize);
}

TEST_F(DevicePathQueryTest, AQueryThatFailsLeavesTheCallersValue) {
  uint32_t value = kUntouched;
  EXPECT_EQ(0u, crv::QueryPathOidDword(&value, u"\\\\?\\PCI#VEN_0000#gone"));
  EXPECT_EQ(0u, crv::QueryPathOidByte(&value, path.c_str()));  // the driver does not know it
  Oids()[0xFF010144] = sim::OidAnswer::Fail(31);
  EXPECT_EQ(0u, crv::QueryPathOidSigned(&value, path.c_str()));
  EXPECT_EQ(kUntouched, value);
}

}  // namespace
