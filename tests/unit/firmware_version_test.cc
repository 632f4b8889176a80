// The firmware version dispatcher and the methods that read the version from the driver's
// vendor OIDs, on simulated adapters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/report.h"
#include "common/utf.h"
#include "discovery/miniport.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"
#include "vendor/firmware_version.h"

namespace {

constexpr char16_t kGuid[] = u"{0F1E2D3C-2222-4B5A-8C9D-00A0C9140A02}";

class FirmwareVersionTest : public crvtest::SimTest {
 protected:
  // An adapter of the vendor, its miniport initialised, with the PCI word set as the PnP
  // location would set it.
  void AddAdapter(uint16_t vendor) {
    sim::AddAdapter(machine, {.guid = kGuid,
                              .mac = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E},
                              .ifIndex = 11,
                              .vendorId = vendor});
    std::u16string name = std::u16string(u"\\\\.\\") + kGuid;
    ASSERT_EQ(miniport.Init(u"", 0, name.c_str(), (name.size() + 1) * sizeof(char16_t)), 0u);
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

}  // namespace
