// The agent's WMI readers on Wine's WMI: the platform inventory, whose raw SMBIOS table Wine
// cannot give, and the Solarflare firmware query, whose EFX_Port class Wine does not have.
// (The NIC Teaming read, whose namespace Wine does not have, is the end-to-end run's: every
// port it publishes is in no team.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "common/utf.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "inventory/platform_inventory.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"

#include <objbase.h>

namespace crvtest {
namespace {

// Standard output as the agent writes it; the rest of the platform is the real one.
class RecordingConsole final : public platform::Console {
 public:
  void Write(const char* text, size_t length) override { output.append(text, length); }
  void Flush() override {}
  int GetChar() override { return -1; }
  std::string output;
};

class WmiReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::win32::InstallWin32Platform();
    platform::Platform set = platform::Os();
    set.console = &console_;
    platform::Install(set);
    crv::ResetPlatformInventory();
  }
  void TearDown() override { platform::win32::InstallWin32Platform(); }

  RecordingConsole console_;
};

TEST_F(WmiReadersTest, InventoryWithoutTheRawTableKnowsNoProductAndNoSlot) {
  platform::ComWmi& wmi = *platform::Os().wmi;
  ASSERT_GE(wmi.CoInitializeEx(platform::kCoinitMultithreaded), 0);
  EXPECT_EQ(crv::LoadPlatformInventory(), 0u);
  char product[64];
  crv::GetSystemProductName(product, sizeof product);
  EXPECT_STREQ(product, "Unknown");
  uint32_t slot = 0, extended1 = 0, port = 0, extended2 = 0x5A5A5A5Au;
  EXPECT_EQ(
      crv::LookupAdapterLocation(0xFFFFFFFFu, 4, 0, 1, 0, &slot, &extended1, &port, &extended2),
      0u);
  EXPECT_EQ((std::vector<uint32_t>{slot, extended1, port, extended2}),
            (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x5A5A5A5Au}));
  EXPECT_EQ(crv::HasExtendedFields(), 0u);
  wmi.CoUninitialize();
}

// The query runs and finds no port: the answer is 1, the output is left alone, and a
// Solarflare adapter's version text becomes empty. On a thread whose COM apartment is
// single-threaded the query cannot start: WMI counts as out of reach and the text stays.
TEST_F(WmiReadersTest, SolarflareQueryFindsNoPortAndCannotStartInASingleThreadedApartment) {
  const uint8_t mac[6] = {0x00, 0x0F, 0x53, 0x01, 0x02, 0x03};
  char16_t out[crv::kEfxFirmwareChars];
  crv::CopyBounded(out, crv::kEfxFirmwareChars, u"untouched");
  EXPECT_EQ(crv::GetEfxFirmwareByMac(out, mac), 1u);
  EXPECT_EQ(crv::Utf16ToUtf8(out), "untouched");
  EXPECT_EQ(console_.output, "Connected to ROOT\\WMI WMI namespace\n");

  for (bool singleThreaded : {false, true}) {
    ASSERT_TRUE(!singleThreaded || CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK);
    console_.output.clear();
    crv::CMiniport miniport;
    crv::CopyBounded(miniport.FirmwareVersion(), crv::CMiniport::kFirmwareVersionChars, u"old");
    crv::GetSolarflareFWVersion(miniport);
    EXPECT_EQ(crv::Utf16ToUtf8(miniport.FirmwareVersion()), singleThreaded ? "old" : "");
  }
  EXPECT_TRUE(console_.output.empty());
  CoUninitialize();
}

}  // namespace
}  // namespace crvtest
