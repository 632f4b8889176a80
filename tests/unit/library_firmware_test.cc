// The firmware version methods that ask qlmapia.dll and bmapia.dll, on simulated libraries.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/report.h"
#include "common/text.h"
#include "common/utf.h"
#include "discovery/miniport.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/library_sim.h"
#include "support/sim_fixture.h"
#include "vendor/firmware_version.h"
#include "vendor/vendor_libraries.h"

namespace {

constexpr char16_t kGuid[] = u"{7C1D2E3F-4444-4A5B-9C8D-00A0C9140A04}";
constexpr uint32_t kAdapterHandle = 7;
constexpr uint32_t kVbdHandle = 301;

class LibraryFirmwareTest : public crvtest::SimTest {
 protected:
  void SetUp() override {
    sim::AddAdapter(machine, {.guid = kGuid,
                              .mac = {0x00, 0x10, 0x18, 0x0A, 0x0B, 0x0C},
                              .ifIndex = 14,
                              .vendorId = 0x14E4});
    std::u16string name = std::u16string(u"\\\\.\\") + kGuid;
    ASSERT_EQ(0u, miniport.Init(u"", 0, name.c_str(), (name.size() + 1) * sizeof(char16_t)));
    crv::CopyBounded(miniport.FirmwareVersion(), crv::CMiniport::kFirmwareVersionChars, u"old");
    for (sim::SimVendorLibrary* library : {&Qlmapi(), &Bmapi()}) {
      library->present = true;
      library->adapters[kGuid] = {.handle = kAdapterHandle};
      library->phyNics = {{.handle = 300, .owner = 6}, {.handle = kVbdHandle, .owner = 7}};
    }
  }
  void TearDown() override { EXPECT_EQ(0, machine.libraries().LoadedReferences()); }

  sim::SimVendorLibrary& Qlmapi() { return machine.libraries().qlmapi(); }
  sim::SimVendorLibrary& Bmapi() { return machine.libraries().bmapi(); }
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
