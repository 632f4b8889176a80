// qlmapia.dll and bmapia.dll on the simulated machine: loading, the initialise tries on the
// virtual clock, uninitialising, the virtual bus driver look-ups and the link procedures'
// fallback to the libraries; and the firmware version, by the dispatcher, the methods that read
// it from the driver's vendor OIDs and those that ask the libraries.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/report.h"
#include "common/text.h"
#include "common/utf.h"
#include "discovery/firmware_version.h"
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
// The module's reset reaches the libraries' state through the reset it registered.
TEST_F(VendorLibrariesTest, TheModuleResetForgetsWhatTheLibrarySearchReported) {
  crv::VendorLibraries().searchReports.notFoundCount = 2;
  crv::VendorLibraries().searchReports.skippedCount = 1;
  crv::ResetProcessState();
  EXPECT_EQ(crv::VendorLibraries().searchReports.notFoundCount, 0u);
  EXPECT_EQ(crv::VendorLibraries().searchReports.skippedCount, 0u);
}

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
  ASSERT_EQ(0u, crvtest::InitMiniport(miniport, kGuid));
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

class FirmwareVersionTest : public crvtest::SimTest {
 protected:
  // An adapter of the vendor, its miniport initialised, with the PCI word set as the PnP
  // location would set it.
  void AddAdapter(uint16_t vendor) {
    sim::AddAdapter(machine, {.guid = kGuid,
                              .mac = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E},
                              .ifIndex = 11,
                              .vendorId = vendor});
    ASSERT_EQ(crvtest::InitMiniport(miniport, kGuid), 0u);
    miniport.SetPciId(uint32_t{vendor} << 16 | 0x1000);
  }
  void Answer(uint32_t oid, std::vector<uint8_t> bytes) {
    machine.devices().FindNdis(kGuid)->oids[oid] = sim::OidAnswer::Bytes(std::move(bytes));
  }
  static std::vector<uint8_t> Words(std::initializer_list<uint32_t> words, size_t size) {
    std::vector<uint8_t> bytes(size, 0);
    size_t at = 0;
    for (uint32_t w : words) std::memcpy(bytes.data() + (at++) * 4, &w, 4);
    return bytes;
  }
  std::string Version() {
    char text[33] = "unset";
    crv::GetFirmwareVersion(miniport, text, sizeof text);
    return text;
  }
  std::string Field() { return crv::Utf16ToUtf8(miniport.FirmwareVersion()); }

  crv::CMiniport miniport;
};

// Without an answer, or with a zero word, the version is not available and the miniport's
// own field is left alone.
TEST_F(FirmwareVersionTest, IntelVersionWordsInBothLayouts) {
  AddAdapter(0x8086);
  EXPECT_EQ(Version(), "n/a");
  EXPECT_EQ(Field(), "");
  std::vector<uint8_t> info(72, 0);
  Answer(sim::kOidPrivateAdapterInfo, info);
  EXPECT_EQ(Version(), "n/a");
  for (auto [word, version] :
       {std::pair{0x00001234u, "1.2.52"}, std::pair{0x01020304u, "1.515.4"}}) {
    std::memcpy(info.data() + 68, &word, 4);
    Answer(sim::kOidPrivateAdapterInfo, info);
    EXPECT_EQ(Version(), version);
  }
}

TEST_F(FirmwareVersionTest, DriverAnswersOfTheOtherVendors) {
  AddAdapter(0x4040);
  Answer(sim::kOidNetXenFirmware, Words({4, 4294967295u, 17}, 12));
  EXPECT_EQ(Version(), "4.4294967295.17");

  miniport.SetPciId(0x15B3'1015);
  uint64_t q = 0xAAAA'0010'001C'0FA4ull;  // the top half beyond the low 16 bits is ignored
  std::vector<uint8_t> word(8);
  std::memcpy(word.data(), &q, 8);
  Answer(sim::kOidMellanoxFirmware, word);
  EXPECT_EQ(Version(), "16.28.4004");

  // An Emulex text filling the whole answer, without a terminator, is cut to the field.
  miniport.SetPciId(0x19A2'0710);
  Answer(sim::kOidEmulexFirmware, std::vector<uint8_t>(256, '7'));
  EXPECT_EQ(Version(), std::string(31, '7'));
}

TEST_F(FirmwareVersionTest, MellanoxByDriverFamilyWhateverTheVendor) {
  AddAdapter(0x1234);
  Answer(sim::kOidMellanoxFirmware, Words({0x00030002, 0x2}, 8));
  EXPECT_EQ(Version(), "");  // no method for this vendor
  miniport.SetDriverFamily(12);
  EXPECT_EQ(Version(), "2.3.2");
}

// Without the vendor libraries the chosen library reports its failure, which tells the
// dispatcher's choice.
TEST_F(FirmwareVersionTest, BroadcomWordsChooseTheirLibrary) {
  AddAdapter(0x14E4);
  const std::pair<uint32_t, const char*> cases[] = {
      {0x14E4'165F, "Bmapi Failed @GetBCFWVersion"},  // a Broadcom function on the PCI bus
      {0x1656'0001, "Bmapi Failed @GetBCFWVersion"},
      {0x164F'14E4, "QLmapi Failed @GetQLFWVersion"},  // under a virtual bus driver
      {0x16A1'1077, "QLmapi Failed @GetQLFWVersion"},
  };
  for (const auto& [word, failure] : cases) {
    size_t before = machine.Reports().size();
    miniport.SetPciId(word);
    EXPECT_EQ(Version(), "");
    // Each library's first failure follows the one report that it was found nowhere.
    size_t added = word == 0x14E4'165F || word == 0x164F'14E4 ? 2 : 1;
    ASSERT_EQ(machine.Reports().size(), before + added) << std::hex << word;
    EXPECT_EQ(crv::Utf16ToUtf8(machine.Reports().back().message), failure);
  }
}

constexpr uint32_t kAdapterHandle = 7;
constexpr uint32_t kVbdHandle = 301;

class LibraryFirmwareTest : public VendorLibrariesTest {
 protected:
  void SetUp() override {
    sim::AddAdapter(machine, {.guid = kGuid,
                              .mac = {0x00, 0x10, 0x18, 0x0A, 0x0B, 0x0C},
                              .ifIndex = 14,
                              .vendorId = 0x14E4});
    ASSERT_EQ(0u, crvtest::InitMiniport(miniport, kGuid));
    crv::CopyBounded(miniport.FirmwareVersion(), crv::CMiniport::kFirmwareVersionChars, u"old");
    for (sim::SimVendorLibrary* library : {&Qlmapi(), &Bmapi()}) {
      library->present = true;
      library->adapters[kGuid] = {.handle = kAdapterHandle};
      library->phyNics = {{.handle = 300, .owner = 6}, {.handle = kVbdHandle, .owner = 7}};
    }
  }
  void TearDown() override { EXPECT_EQ(0, machine.libraries().LoadedReferences()); }

  sim::MapiVbdFirmware& Vbd(sim::SimVendorLibrary& library) {
    return library.vbdFirmware[kVbdHandle];
  }
  std::string Field() { return crv::Utf16ToUtf8(miniport.FirmwareVersion()); }
  // The reports of the method itself, without the library's life cycle.
  std::vector<std::pair<std::string, uint32_t>> MethodReports() {
    std::vector<std::pair<std::string, uint32_t>> out;
    for (const auto& r : machine.Reports()) {
      std::string text = crv::Utf16ToUtf8(r.message);
      if (!std::regex_search(text, std::regex("Loaded|^(Un)?Initialize|^Returning"))) {
        out.emplace_back(text, r.value);
      }
    }
    return out;
  }

  crv::CMiniport miniport;
};

// A library that is not there is checked against stand-in libraries in tests/windows.
TEST_F(LibraryFirmwareTest, BroadcomFallsBackToTheVirtualBusDriver) {
  auto version = [&] { return crv::GetBCFWVersion(miniport), Field(); };  // the field after a call
  // A failed answer and an answer without a version word both go on to the bus driver.
  Vbd(Bmapi()).fw5706 = sim::MapiFirmwareAnswer{14, ""};
  Vbd(Bmapi()).fw57710 = sim::MapiFirmwareAnswer{0, "7.4.8"};
  Bmapi().adapters[kGuid].firmwareStatus = 33;
  EXPECT_EQ("7.4.8", version());
  Bmapi().adapters[kGuid].firmwareStatus = 0;
  Vbd(Bmapi()).fw5706 = sim::MapiFirmwareAnswer{0, "5706 boot 1.9.6 with a text too long to fit"};
  EXPECT_EQ("5706 boot 1.9.6 with a text too", version());
  Bmapi().adapters[kGuid].firmwareWord = 0x0207;  // then the word wins, read low byte first
  EXPECT_EQ("7.2.0", version());                  // and ends where the longer text was
  EXPECT_EQ(2u, machine.CallCount("BmapiGet5706FwInfo"));
  EXPECT_EQ(1u, machine.CallCount("BmapiGet57710FwInfo"));
  EXPECT_TRUE(MethodReports().empty());
}

TEST_F(LibraryFirmwareTest, QLogicTriesTheThreeRecordKindsInOrder) {
  Vbd(Qlmapi()).fw5706 = sim::MapiFirmwareAnswer{14, ""};
  Vbd(Qlmapi()).fw57710 = sim::MapiFirmwareAnswer{15, ""};
  Vbd(Qlmapi()).fw579xx = sim::MapiFirmwareAnswer{0, "8.55.21.0"};
  crv::GetQLFWVersion(miniport);
  EXPECT_EQ("8.55.21.0", Field());
  Vbd(Qlmapi()).fw57710 = sim::MapiFirmwareAnswer{0, "7.13.1"};
  crv::GetQLFWVersion(miniport);
  EXPECT_EQ("7.13.1", Field());
  EXPECT_EQ(2u, machine.CallCount("QLmapiGet5706FwInfo"));
  EXPECT_EQ(2u, machine.CallCount("QLmapiGet57710FwInfo"));
  EXPECT_EQ(1u, machine.CallCount("QLmapiGet579XXFwInfo"));
  EXPECT_TRUE(MethodReports().empty());
}

// Each library's failures in turn: a report each, and the text stays.
TEST_F(LibraryFirmwareTest, FailuresAreReportedAndKeepTheText) {
  Bmapi().adapters[kGuid].firmwareStatus = 33;
  Vbd(Bmapi()).fw5706 = sim::MapiFirmwareAnswer{14, ""};
  Bmapi().missingEntryPoints = {"BmapiGet57710FwInfo"};
  crv::GetBCFWVersion(miniport);  // the missing entry point fails as a call
  Bmapi().missingEntryPoints.clear();
  Bmapi().phyNics.clear();
  crv::GetBCFWVersion(miniport);
  Bmapi().adapters[kGuid].handleStatus = 12;
  crv::GetBCFWVersion(miniport);
  Bmapi().present = false;
  crv::GetBCFWVersion(miniport);
  EXPECT_EQ(3300u, machine.NowMs());  // three queries of 1.1 s, none without the library
  Bmapi().present = true;
  Bmapi().missingEntryPoints = {"BmapiGetFirmwareInfo"};
  crv::GetBCFWVersion(miniport);
  // An initialised library without the firmware entry point stays initialised.
  EXPECT_EQ(1, Bmapi().references);
  crv::UnInitializeBMAPI(0);

  Vbd(Qlmapi()).fw5706 = sim::MapiFirmwareAnswer{14, ""};
  Qlmapi().missingEntryPoints = {"QLmapiGet57710FwInfo", "QLmapiGet579XXFwInfo"};
  crv::GetQLFWVersion(miniport);
  Qlmapi().phyNics.clear();
  crv::GetQLFWVersion(miniport);
  Qlmapi().adapters.clear();
  crv::GetQLFWVersion(miniport);
  crv::UnInitializeQMAPI(0);
  Qlmapi().missingEntryPoints = {"QLmapiGetHandleByServiceName"};
  crv::GetQLFWVersion(miniport);  // initialised, but without the look-up
  crv::UnInitializeQMAPI(0);
  Qlmapi().present = false;
  crv::GetQLFWVersion(miniport);
  EXPECT_EQ("old", Field());
  EXPECT_EQ(
      (std::vector<std::pair<std::string, uint32_t>>{{"fBmapiGet5706/57710FwInfo Failed", 127},
                                                     {"GetVBDHandle failed", 204},
                                                     {"BmapiGetHandleByServiceName failed", 12},
                                                     {"Vendor library not found by name nor in "
                                                      "the system PATH: bmapia.dll",
                                                      126},
                                                     {"Bmapi Failed @GetBCFWVersion", 0},
                                                     {"Bmapi Failed @GetBCFWVersion", 0},
                                                     {"fQmapiGet5706/57710/579XXFwInfo Failed", 1},
                                                     {"GetQLVBDHandle failed", 1},
                                                     {"QLmapiGetHandleByServiceName failed", 1},
                                                     {"QLmapi Failed @GetQLFWVersion", 0},
                                                     {"Vendor library not found by name nor in "
                                                      "the system PATH: qlmapia.dll",
                                                      126},
                                                     {"QLmapi Failed @GetQLFWVersion", 0}}),
      MethodReports());
}

}  // namespace
