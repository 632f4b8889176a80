// The Solarflare firmware version through WMI's EFX_Port objects: the query and its calls,
// the MAC comparison, the console lines, and what the miniport's version text becomes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

const std::vector<uint8_t> kMac = {0x00, 0x0F, 0x53, 0x01, 0x02, 0x03};
const std::vector<uint8_t> kOtherMac = {0x00, 0x0F, 0x53, 0x01, 0x02, 0x04};

class EfxFirmwareTest : public crvtest::SimTest {
 protected:
  EfxFirmwareTest() { machine.wmi().SetAvailable(true); }
  ~EfxFirmwareTest() override { EXPECT_EQ(machine.wmi().Held(), ""); }  // after the last query

  // One query in a fresh process (process security can be set only once); the text found,
  // starting from "old".
  std::u16string Query(uint32_t* ran = nullptr) {
    machine.wmi().ResetProcess();
    char16_t out[crv::kEfxFirmwareChars];
    crv::CopyBounded(out, crv::kEfxFirmwareChars, u"old");
    uint32_t result = crv::GetEfxFirmwareByMac(out, kMac.data());
    if (ran != nullptr) *ran = result;
    return out;
  }
};

TEST_F(EfxFirmwareTest, TheMatchingExternalPortGivesItsVersion) {
  sim::AddEfxPort(machine.wmi(), {kOtherMac, true, u"7.0"});
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"8.2.1.1000"});
  sim::AddEfxPort(machine.wmi(), {kMac, false, u"internal"});
  uint32_t ran = 0;
  EXPECT_EQ(Query(&ran), u"8.2.1.1000");
  EXPECT_EQ(ran, 1u);
  EXPECT_EQ(machine.ConsoleOutput(),
            "Connected to ROOT\\WMI WMI namespace\n"
            "currentmacaddress[0]: 00\ncurrentmacaddress[1]: 0F\ncurrentmacaddress[2]: 53\n"
            "currentmacaddress[3]: 01\ncurrentmacaddress[4]: 02\ncurrentmacaddress[5]: 04\n"
            "currentmacaddress[0]: 00\ncurrentmacaddress[1]: 0F\ncurrentmacaddress[2]: 53\n"
            "currentmacaddress[3]: 01\ncurrentmacaddress[4]: 02\ncurrentmacaddress[5]: 03\n");
  const std::vector<std::string>& calls = machine.wmi().Calls();
  ASSERT_GE(calls.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 7),
            (std::vector<std::string>{
                "CoInitializeEx 0x0", "CoInitializeSecurity level=0 imp=3 caps=0",
                "CoCreateInstance WbemLocator clsctx=0x1", "ConnectServer ROOT\\WMI",
                "CoSetProxyBlanket services authn=0xA authz=0 level=3 imp=3 caps=0",
                "ExecQuery WQL \"SELECT * FROM EFX_Port where externalport != 0\" flags=0x30",
                "Next timeout=5000"}));
  EXPECT_EQ(calls.back(), "CoUninitialize");
  EXPECT_EQ(machine.wmi().Held(), "");

  // A later matching port wins; a port without an address counts as matching.
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"8.3"});
  EXPECT_EQ(Query(), u"8.3");
  sim::AddEfxPort(machine.wmi(), {{}, true, u"9.0"})
      .Set(u"currentmacaddress", sim::WmiValue::Null());
  EXPECT_EQ(Query(), u"9.0");

  // An element that cannot be read compares as 0: the address's first byte, 00, still matches.
  machine.wmi().Class(u"root\\wmi", u"EFX_Port").objects.clear();
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"9.1"});
  ASSERT_TRUE(machine.FailCall("SafeArrayGetElement",
                               static_cast<uint32_t>(machine.CallCount("SafeArrayGetElement")) + 1,
                               0x8002000Bu));  // DISP_E_BADINDEX
  EXPECT_EQ(Query(), u"9.1");
}

TEST_F(EfxFirmwareTest, OnlySixElementsAreComparedAndOnlyTextIsCopied) {
  // Eight elements from index 1: the first six are the MAC address.
  std::vector<int64_t> longer(kMac.begin(), kMac.end());
  longer.insert(longer.end(), {0x77, 0x88});
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"8.2"})
      .Set(u"currentmacaddress", sim::WmiValue::Array(platform::kVtUi1, longer, 1));
  EXPECT_EQ(Query(), u"8.2");
  EXPECT_EQ(machine.ConsoleOutput().find("currentmacaddress[7]"), std::string::npos);
  EXPECT_NE(machine.ConsoleOutput().find("currentmacaddress[6]: 03"), std::string::npos);

  // A matching port whose version is a number leaves the text as it was.
  machine.wmi().Class(u"root\\wmi", u"EFX_Port").objects.clear();
  sim::AddEfxPort(machine.wmi(), {kMac, true, u""})
      .Set(u"mcfwversion", sim::WmiValue::Integer(platform::kVtI4, 820));
  EXPECT_EQ(Query(), u"old");
  // A 64-bit element kind does not fit the slot the elements are compared in.
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"8.4"})
      .Set(u"currentmacaddress",
           sim::WmiValue::Array(platform::kVtI8, std::vector<int64_t>(kMac.begin(), kMac.end())));
  EXPECT_EQ(Query(), u"old");
}

TEST_F(EfxFirmwareTest, WithoutWmiNothingIsCopiedAndEverythingIsUndone) {
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"8.2"});
  const std::pair<const char*, bool> steps[] = {
      {"CoInitializeEx", false}, {"CoInitializeSecurity", false}, {"CoCreateInstance", false},
      {"ConnectServer", false},  {"CoSetProxyBlanket", true},     {"ExecQuery", true}};
  for (const auto& [call, connected] : steps) {
    SCOPED_TRACE(call);
    EXPECT_TRUE(
        machine.FailCall(call, static_cast<uint32_t>(machine.CallCount(call) + 1), 0x80041003u));
    size_t before = machine.ConsoleOutput().size();
    uint32_t ran = 1;
    EXPECT_EQ(Query(&ran), u"old");
    EXPECT_EQ(ran, 0u);
    EXPECT_EQ(machine.ConsoleOutput().size() > before, connected);
    EXPECT_EQ(machine.wmi().Held(), "");
  }
  // Process security is set once; the queries after it find it set and still run.
  EXPECT_EQ(Query(), u"8.2");
  char16_t out[crv::kEfxFirmwareChars] = u"old";
  EXPECT_EQ(crv::GetEfxFirmwareByMac(out, kMac.data()), 1u);
  EXPECT_EQ(std::u16string(out), u"8.2");
  machine.wmi().SetAvailable(false);
  EXPECT_EQ(Query(), u"old");
}

TEST_F(EfxFirmwareTest, TheMiniportsVersionTextIsTheFoundTextCut) {
  const std::u16string guid = u"{6F1C2B3A-1111-4C2D-9E8F-00A0C9140A77}";
  sim::AddAdapter(machine, {.guid = guid,
                            .mac = kMac,
                            .ifIndex = 12,
                            .kind = sim::AdapterKind::kSolarflare,
                            .vendorId = 0x1924,
                            .service = u"SFCNDIS"});
  crv::CMiniport miniport;
  std::u16string name = u"\\\\.\\" + guid;
  ASSERT_EQ(miniport.Init(u"", 0, name.c_str(), (name.size() + 1) * sizeof(char16_t)), 0u);
  // The version text after a query in a fresh process.
  auto version = [&] {
    machine.wmi().ResetProcess();
    crv::GetSolarflareFWVersion(miniport);
    return std::u16string(miniport.FirmwareVersion());
  };

  crv::CopyBounded(miniport.FirmwareVersion(), crv::CMiniport::kFirmwareVersionChars, u"old");
  machine.wmi().SetAvailable(false);
  EXPECT_EQ(version(), u"old");
  machine.wmi().SetAvailable(true);
  sim::AddEfxPort(machine.wmi(), {kOtherMac, true, u"7.0"});
  EXPECT_EQ(version(), u"");  // no port matched
  sim::AddEfxPort(machine.wmi(), {kMac, true, std::u16string(40, u'9')});
  EXPECT_EQ(version(), std::u16string(31, u'9'));
}

// A provider that answers WBEM_S_TIMEDOUT ("nothing yet") is waited for up to 30 s in all:
// an object 20 s late is read; one later than that leaves the text and says WMI did not
// answer, so the version is asked for again at the next cycle.
TEST_F(EfxFirmwareTest, ASlowProviderIsWaitedForWithinTheReadsBudget) {
  sim::AddEfxPort(machine.wmi(), {kMac, true, u"8.2"});
  machine.wmi().Class(u"root\\wmi", u"EFX_Port").deliveryDelayMs = 20000;
  uint32_t ran = 0;
  EXPECT_EQ(Query(&ran), u"8.2");
  EXPECT_EQ(ran, 1u);
  EXPECT_EQ(machine.NowMs(), 20000u);

  machine.wmi().Class(u"root\\wmi", u"EFX_Port").deliveryDelayMs = 31000;
  EXPECT_EQ(Query(&ran), u"old");
  EXPECT_EQ(ran, 0u);
  EXPECT_EQ(machine.NowMs(), 20000u + 30000u);
}

}  // namespace
