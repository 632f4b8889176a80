// qlmapia.dll and bmapia.dll on the simulated machine: loading, the initialise tries on the
// virtual clock, uninitialising, the virtual bus driver look-ups and the link procedures'
// fallback to the libraries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/report.h"
#include "discovery/miniport.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/library_sim.h"
#include "support/sim_fixture.h"
#include "vendor/vendor_libraries.h"

namespace {

constexpr char16_t kGuid[] = u"{5A0B1C2D-3333-4E5F-8A9B-00A0C9140A03}";

class VendorLibrariesTest : public crvtest::SimTest {
 protected:
  sim::SimVendorLibrary& Qlmapi() { return machine.libraries().qlmapi(); }
  sim::SimVendorLibrary& Bmapi() { return machine.libraries().bmapi(); }
  std::vector<std::string> Info() { return crvtest::ReportTexts(machine, crv::kReportInformation); }
  std::vector<uint32_t> InfoValues() {
    std::vector<uint32_t> values;
    for (const auto& r : machine.Reports()) values.push_back(r.value);
    return values;
  }
};

TEST_F(VendorLibrariesTest, MissingInitialiseEntryPointSleepsSixTimesAndUnloads) {
  Qlmapi().present = true;
  Qlmapi().missingEntryPoints = {"QLmapiInitializeEx"};
  EXPECT_EQ(0u, crv::InitializeQMAPI());
  EXPECT_EQ(6000u, machine.NowMs());
  EXPECT_EQ((std::vector<std::string>{"QLmapi Loaded", "QLmapi Loaded OK"}), Info());
  EXPECT_EQ((std::vector<uint32_t>{0, 0}), InfoValues());
  EXPECT_EQ(nullptr, crv::VendorLibraries().qlmapi.module);
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

TEST_F(VendorLibrariesTest, InitialiseRetriesUntilTheLibraryAnswersThenHoldsItUntilReleased) {
  Bmapi().present = true;
  Bmapi().initializeStatuses = {5, 9};
  Bmapi().uninitializeStatus = 3;
  EXPECT_EQ(1u, crv::InitializeBMAPI());
  EXPECT_EQ(3000u, machine.NowMs());
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 0}), Bmapi().initializeArguments);

  // Already initialised: at once, without loading again.
  EXPECT_EQ(1u, crv::InitializeBMAPI());
  EXPECT_EQ(3000u, machine.NowMs());
  EXPECT_EQ(1u, Bmapi().loads);

  // Asking only changes nothing.
  EXPECT_EQ(0u, crv::UnInitializeBMAPI(1));
  EXPECT_EQ(1, Bmapi().references);

  EXPECT_EQ(1u, crv::UnInitializeBMAPI(0));
  EXPECT_EQ((std::vector<std::string>{
                "Bmapi Loaded", "Bmapi Failed @InitializeBMAPI", "Bmapi Failed @InitializeBMAPI",
                "InitializeBMAPI: BmapiInitializeEx() succeeded",
                "UnInitializeBMAPI: BmapiUninitialize() returned; BMAPI.dll unloaded",
                "Returning from sleep after BmapiUnitialize"}),
            Info());
  ASSERT_EQ((std::vector<uint32_t>{0, 5, 9, 0, 3, 0}), InfoValues());  // 3, then 0 after the pause
  EXPECT_EQ(3000u, machine.Reports()[4].timeMs);
  EXPECT_EQ(3100u, machine.Reports()[5].timeMs);
  EXPECT_EQ(1u, crv::UnInitializeBMAPI(1));
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

// A bmapia.dll whose adapter 7 owns the second of three physical NICs.
class VbdHandleTest : public VendorLibrariesTest {
 protected:
  void SetUp() override {
    Bmapi().present = true;
    Bmapi().phyNics = {{.handle = 100, .type = 1, .owner = 8},
                       {.handle = 101, .type = 1, .owner = 7},
                       {.handle = 102, .type = 1, .owner = 7}};
    Qlmapi().present = true;
    ASSERT_EQ(1u, crv::InitializeBMAPI());
    ASSERT_EQ(1u, crv::InitializeQMAPI());
  }
  void TearDown() override {
    crv::UnInitializeBMAPI(0);
    crv::UnInitializeQMAPI(0);
    EXPECT_EQ(0, machine.libraries().LoadedReferences());
  }
};

TEST_F(VbdHandleTest, TheFirstNicOwnedByTheAdapterIsItsVirtualBusDriver) {
  uint32_t vbd = 0;
  EXPECT_EQ(0u, crv::GetVBDHandle(7, &vbd));
  EXPECT_EQ(101u, vbd);
  vbd = 55;
  EXPECT_EQ(204u, crv::GetVBDHandle(9, &vbd));
  EXPECT_EQ(55u, vbd);
  // An enumeration failure skips the NIC.
  Bmapi().phyNics[1].enumStatus = 31;
  EXPECT_EQ(0u, crv::GetVBDHandle(7, &vbd));
  EXPECT_EQ(102u, vbd);
}

TEST_F(VbdHandleTest, LibraryFailuresComeBackAsTheyCame) {
  uint32_t vbd = 0;
  Bmapi().numPhyNicStatus = 17;
  EXPECT_EQ(17u, crv::GetVBDHandle(7, &vbd));
  Bmapi().numPhyNicStatus = 0;
  Bmapi().allPhyNicStatus = 18;
  EXPECT_EQ(18u, crv::GetVBDHandle(7, &vbd));
  Bmapi().allPhyNicStatus = 0;
  machine.FailAllocation(1);
  EXPECT_EQ(1u, crv::GetVBDHandle(7, &vbd));
  EXPECT_EQ(0u, vbd);
  // Without the enumeration entry point nothing is asked.
  crv::VendorLibraries().bmapi.getVbdEnumInfo = nullptr;
  EXPECT_EQ(39u, crv::GetVBDHandle(7, &vbd));
  EXPECT_EQ(3u, machine.CallCount("BmapiGetNumPhyNic"));
}

TEST_F(VbdHandleTest, OnlyTheQLogicLookUpTakesANicOfTypeSixItCannotEnumerate) {
  std::vector<sim::MapiPhyNic> nics = {{.handle = 200, .type = 1, .enumStatus = 31},
                                       {.handle = 201, .type = 6, .enumStatus = 31},
                                       {.handle = 202, .type = 1, .owner = 7}};
  Qlmapi().phyNics = nics;
  Bmapi().phyNics = nics;
  uint32_t vbd = 0;
  EXPECT_EQ(0u, crv::GetQLVBDHandle(7, &vbd));
  EXPECT_EQ(201u, vbd);
  EXPECT_EQ(0u, crv::GetVBDHandle(7, &vbd));
  EXPECT_EQ(202u, vbd);
}

// The link procedures of families 9 and 16 ask the libraries when the driver keeps the duplex
// to itself, and release the library again after each question.
TEST_F(VendorLibrariesTest, LinkProceduresTakeTheDuplexFromTheLibraries) {
  sim::AddAdapter(machine, {.guid = kGuid,
                            .mac = {0x00, 0x10, 0x18, 0x01, 0x02, 0x03},
                            .ifIndex = 12,
                            .service = u"q57w2k"});
  machine.devices().FindNdis(kGuid)->oids[sim::kOidGenMediaDuplexState] = sim::OidAnswer::Fail(50);
  crv::CMiniport miniport;
  std::u16string name = std::u16string(u"\\\\.\\") + kGuid;
  ASSERT_EQ(0u, miniport.Init(u"", 0, name.c_str(), (name.size() + 1) * sizeof(char16_t)));
  Bmapi().present = true;
  Bmapi().adapters[kGuid] = {.handle = 7, .nicInfoDuplex = 1};
  Qlmapi().present = true;
  Qlmapi().adapters[kGuid] = {.handle = 8, .linkStatusDuplex = 0};

  auto duplex = [&](uint8_t family) {
    miniport.SetDriverFamily(family);
    crv::LinkInformation info{};
    EXPECT_EQ(0u, miniport.GetDynamicData(&info));
    return info.duplex;
  };
  EXPECT_EQ(2u, duplex(9));   // NIC info value 1, plus 1
  EXPECT_EQ(2u, duplex(16));  // link status value 0, plus 2
  EXPECT_EQ(2200u, machine.NowMs());
  EXPECT_EQ(0, machine.libraries().LoadedReferences());

  Bmapi().adapters[kGuid].nicInfoStatus = 21;
  EXPECT_EQ(1u, duplex(9));
  EXPECT_EQ("BmapiGetBRCMNicInfo failed", Info()[Info().size() - 3]);
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

}  // namespace
