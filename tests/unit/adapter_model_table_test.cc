// Driver classification and part numbers.
#include <gtest/gtest.h>

#include <string>

#include "discovery/adapter_model_table.h"
#include "discovery/miniport.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"

namespace {

constexpr char16_t kGuid[] = u"{5A000000-0000-0000-0000-00000000005A}";

class AdapterModelTableTest : public crvtest::SimTest {
 protected:
  // A miniport on a simulated adapter of the given medium.
  void Init(crv::CMiniport& miniport, uint32_t medium) {
    sim::AddAdapter(machine, {.guid = kGuid,
                              .mac = {0x00, 0x10, 0x18, 0x00, 0x00, 0x5A},
                              .service = u"any",
                              .medium = medium});
    std::u16string name = std::u16string(u"\\\\.\\") + kGuid;
    ASSERT_EQ(0u, miniport.Init(u"", 0, name.c_str(), (name.size() + 1) * 2));
  }
};

TEST_F(AdapterModelTableTest, ServiceNamesAreComparedWholeAndIgnoringCase) {
  // Every service name the drivers install under, with its family; then names whose case
  // differs (ignored) and names that match only in part (no match).
  const std::pair<const char16_t*, uint8_t> cases[] = {
      {u"netflx3", 4},    {u"N100", 5},      {u"N1000", 6},      {u"N1e5132", 6},
      {u"E100", 7},       {u"E1000", 8},     {u"q57w2k", 9},     {u"q57amd64", 9},
      {u"l2nd", 9},       {u"l2nd2", 16},    {u"NXP2NIC", 10},   {u"N1000x8", 6},
      {u"N1000e8", 6},    {u"q57nd60x", 9},  {u"q57nd60a", 9},   {u"e1qexpress", 6},
      {u"e1rexpress", 6}, {u"NXND6Vq", 10},  {u"NXND5Vq", 10},   {u"b57nd", 9},
      {u"b57w2k", 9},     {u"e1express", 6}, {u"be2net", 11},    {u"mlx4eth5", 12},
      {u"mlx4eth6", 12},  {u"QLNDNIC", 10},  {u"ixgbn", 13},     {u"ixgbt", 14},
      {u"mlx4eth62", 12}, {u"xoib62", 12},   {u"mlx4eth63", 12}, {u"ipoib6x", 12},
      {u"i40ea", 8},      {u"mlx5", 15},     {u"SFCNDIS", 17},   {u"L2ND", 9},
      {u"L2Nd2", 16},     {u"e1000", 8},     {u"l2nd3", 2},      {u"MLX5x", 2}};
  for (const auto& [service, family] : cases) {
    crv::CMiniport miniport;
    Init(miniport, 0);
    crv::ClassifyDriver(miniport, service);
    EXPECT_EQ(family, miniport.DriverFamily()) << crv::Utf16ToUtf8(service);
  }
}

TEST_F(AdapterModelTableTest, UnknownDriversDependOnTheMedium) {
  crv::CMiniport ethernet;
  Init(ethernet, 0);
  ethernet.SetSubsystemId(0x70441A2B);
  crv::ClassifyDriver(ethernet, u"vendorx");
  EXPECT_EQ(2, ethernet.DriverFamily());
  EXPECT_EQ(std::u16string(u"n/a"), ethernet.PartNumber());

  crv::CMiniport tokenRing;
  Init(tokenRing, 1);
  crv::ClassifyDriver(tokenRing, u"vendorx");
  EXPECT_EQ(0, tokenRing.DriverFamily());
  EXPECT_EQ(std::u16string(u"N/A"), tokenRing.PartNumber());

  // A family set before is kept when no row matches; family 3 has no lookup.
  tokenRing.SetDriverFamily(3);
  tokenRing.SetPartNumber(u"stale");
  crv::ClassifyDriver(tokenRing, u"vendorx");
  EXPECT_EQ(3, tokenRing.DriverFamily());
  EXPECT_EQ(std::u16string(u"N/A"), tokenRing.PartNumber());
}

TEST(PartNumberLookup, RowsMatchWholeKeysAndALongTextIsCut) {
  const crv::PartNumberRow rows[] = {{0x70441A2B, u"PN-TEST-01"}, {0x7044, u"short"}};
  const crv::PartNumberBlock block{crv::PartNumberKey::kSubsystemId, rows, u"n/a"};
  EXPECT_EQ(std::u16string(u"PN-TEST-01"), crv::LookUpPartNumber(block, 0x70441A2B));
  EXPECT_EQ(std::u16string(u"n/a"), crv::LookUpPartNumber(block, 0x1A2B7044));
  const crv::PartNumberBlock keyless{crv::PartNumberKey::kNone, rows, u"N/A"};
  EXPECT_EQ(std::u16string(u"N/A"), crv::LookUpPartNumber(keyless, 0x7044));

  crv::CMiniport miniport;
  miniport.SetPartNumber(u"0123456789012345678901234567890123456789");
  EXPECT_EQ(crv::CMiniport::kPartNumberChars - 1, std::u16string(miniport.PartNumber()).size());
}

}  // namespace
