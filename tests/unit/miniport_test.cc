// CMiniport on simulated adapters: Init, the copy rules, the failure report, the driver
// family and part number its service gives it, and the link procedure of every family.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/report.h"
#include "common/utf.h"
#include "discovery/adapter_model_table.h"
#include "discovery/miniport.h"
#include "discovery/miniport_list.h"
#include "platform/sim/state/device_sim.h"
#include "support/sim_fixture.h"
#include "vendor/vendor_libraries.h"

namespace {

constexpr char16_t kGuid[] = u"{6F1C2B3A-1111-4C2D-9E8F-00A0C9140A01}";
const std::vector<uint8_t> kMac = {0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E};

class MiniportTest : public crvtest::SimTest {
 protected:
  ~MiniportTest() override { crv::ResetVendorLibraries(); }

  static sim::SimAdapter Adapter(std::u16string service = u"E1000") {
    return {.guid = kGuid, .mac = kMac, .ifIndex = 11, .service = std::move(service)};
  }
  sim::NdisDevice& Ndis() { return *machine.devices().FindNdis(kGuid); }

  uint32_t Init(crv::CMiniport& m) {
    std::u16string name = std::u16string(u"\\\\.\\") + kGuid;
    return m.Init(u"", 0, name.c_str(), (name.size() + 1) * sizeof(char16_t) + 2);
  }
  uint32_t Query(uint32_t oid) {
    return static_cast<uint32_t>(machine.devices().QueryCount(kGuid, oid));
  }

  static crv::LinkInformation Dynamic(crv::CMiniport& m, uint8_t family,
                                      uint32_t* status = nullptr) {
    m.SetDriverFamily(family);
    crv::LinkInformation info{};
    uint32_t result = m.GetDynamicData(&info);
    if (status != nullptr) *status = result;
    return info;
  }
  // Link status and duplex of one run of the family's procedure.
  static std::pair<uint32_t, uint32_t> LinkDuplex(crv::CMiniport& m, uint8_t family,
                                                  uint32_t* status = nullptr) {
    crv::LinkInformation info = Dynamic(m, family, status);
    return {info.linkStatus, info.duplex};
  }
  std::vector<std::string> NdisFailureReports() {
    return crvtest::ReportTexts(machine, crv::kReportNdisQueryFailed);
  }

  crv::CMiniport miniport;
};

TEST_F(MiniportTest, InitKeepsNameGuidMediumAndAtMostSixAddressBytes) {
  sim::SimAdapter a = Adapter();
  a.permanentMac = {0x00, 0x1B, 0x21, 0x00, 0x00, 0x01};
  sim::AddAdapter(machine, a);
  Ndis().oids[platform::kOid8023CurrentAddress] =
      sim::OidAnswer::Bytes({0x00, 0x1B, 0x21, 0x3C, 0x4D, 0x5E, 0xAA, 0xBB});
  ASSERT_EQ(0u, Init(miniport));
  EXPECT_EQ(std::u16string(u"\\\\.\\") + kGuid, miniport.DeviceName());
  EXPECT_EQ(std::u16string(kGuid), miniport.Guid());
  EXPECT_EQ(0u, miniport.Medium());
  EXPECT_EQ(6u, miniport.CurrentAddressLength());
  EXPECT_TRUE(miniport.MatchCurrentAddress(kMac.data(), 6));
  EXPECT_FALSE(miniport.MatchCurrentAddress(kMac.data(), 5));
  EXPECT_FALSE(miniport.MatchCurrentAddress(kMac.data(), 0));
  uint8_t permanent[6] = {}, current[6] = {};
  EXPECT_TRUE(miniport.GetPermanentAddress(permanent, 6));
  EXPECT_EQ(0x01, permanent[5]);
  EXPECT_FALSE(miniport.GetPermanentAddress(permanent, 4));  // too short for the address
  EXPECT_TRUE(miniport.GetCurrentAddress(current, 6));
  EXPECT_FALSE(miniport.GetCurrentAddress(current, 5));
  EXPECT_EQ(0, machine.openHandles().devices);  // every query closed what it opened

  // An interface is matched by the GUID of the name, ignoring case; a name without a GUID in
  // braces matches no interface.
  EXPECT_TRUE(crv::GuidMatchesInterfaceName(
      miniport, u"\\DEVICE\\TCPIP_{6f1c2b3a-1111-4c2d-9e8f-00a0c9140a01}"));
  crv::CMiniport unnamed;
  unnamed.Init(u"", 0, u"\\\\.\\NdisWan", sizeof u"\\\\.\\NdisWan");
  EXPECT_FALSE(crv::GuidMatchesInterfaceName(unnamed, u"\\DEVICE\\TCPIP_{}"));
}

TEST_F(MiniportTest, InitAcceptsOnly8023And8025) {
  sim::SimAdapter a = Adapter();
  a.medium = 1;  // Token Ring: usable, but no addresses are asked
  sim::AddAdapter(machine, a);
  EXPECT_EQ(0u, Init(miniport));
  EXPECT_EQ(0u, miniport.CurrentAddressLength());
  EXPECT_FALSE(miniport.MatchCurrentAddress(kMac.data(), 0));  // no address matches nothing
  EXPECT_EQ(0u, Query(platform::kOid8023CurrentAddress));

  a.medium = 16;  // native 802.11
  sim::AddAdapter(machine, a);
  crv::CMiniport wireless;
  EXPECT_EQ(13u, Init(wireless));  // no last error: ERROR_INVALID_DATA

  Ndis().oids.erase(platform::kOidGenMediaInUse);
  crv::CMiniport silent;
  EXPECT_EQ(50u, Init(silent));  // the driver's error
  EXPECT_TRUE(silent.QueryFailureSeen());
  EXPECT_EQ(20u, silent.Medium());

  // A listed device that cannot be opened is named once, with the open's error, and is no
  // query failure.
  Ndis().openError = 2;
  crv::CMiniport absent;
  EXPECT_EQ(2u, Init(absent));
  EXPECT_EQ(1u, NdisFailureReports().size());
  EXPECT_EQ(crvtest::ReportTexts(machine, crv::kReportInformation).back(),
            "CMiniport::Init: cannot open " + crv::Utf16ToUtf8(std::u16string(u"\\\\.\\") + kGuid));
  EXPECT_EQ(2u, machine.Reports().back().value);
}

TEST_F(MiniportTest, OnlyTheFirstFailedQueryIsReportedAndOnlyForMandatoryOids) {
  sim::AddAdapter(machine, Adapter());
  ASSERT_EQ(0u, Init(miniport));
  uint8_t buffer[8];
  uint32_t returned = 0;

  // A device that cannot be opened answers 31 and leaves the report for a later failure.
  Ndis().openError = 5;
  EXPECT_EQ(31u, miniport.QueryInformation(platform::kOidGenLinkSpeed, buffer, 8, &returned));
  Ndis().openError = 0;
  EXPECT_FALSE(miniport.QueryFailureSeen());

  Ndis().oids[platform::kOidGenLinkSpeed] = sim::OidAnswer::Fail(1167);
  EXPECT_EQ(1167u, miniport.QueryInformation(platform::kOidGenLinkSpeed, buffer, 8, &returned));
  EXPECT_EQ(1167u, miniport.QueryInformation(platform::kOidGenLinkSpeed, buffer, 8, &returned));
  ASSERT_EQ(1u, machine.Reports().size()) << crvtest::DescribeReports(machine);
  EXPECT_EQ(crv::kReportNdisQueryFailed, machine.Reports()[0].code);
  EXPECT_EQ(std::u16string(u"\\\\.\\") + kGuid, machine.Reports()[0].message);
  EXPECT_EQ(1167u, machine.Reports()[0].value);

  // A first failure of an OID without bit 0x100 is not reported, and silences the rest.
  crv::CMiniport other;
  ASSERT_EQ(0u, Init(other));
  Ndis().oids[platform::kOidGenMediaDuplexState] = sim::OidAnswer::Fail(50);
  EXPECT_EQ(50u, other.QueryInformation(platform::kOidGenMediaDuplexState, buffer, 4, &returned));
  EXPECT_TRUE(other.QueryFailureSeen());
  EXPECT_EQ(1167u, other.QueryInformation(platform::kOidGenLinkSpeed, buffer, 8, &returned));
  EXPECT_EQ(1u, NdisFailureReports().size());
}

TEST_F(MiniportTest, CopyTakesIdentityAndKeepsTheTargetsOwnFields) {
  sim::AddAdapter(machine, Adapter());
  ASSERT_EQ(0u, Init(miniport));
  miniport.SetDriverFamily(8);
  miniport.SetPciId(0x808610D3);
  miniport.SetSubsystemId(0x70441A2B);
  miniport.Claim(11);
  miniport.SetPartNumber(u"source");
  miniport.SetTeam(0x102, 7, 10);

  crv::CMiniport copy;
  copy.SetPartNumber(u"kept");
  copy.ClearLinkNeverSeen();
  copy = miniport;
  copy = miniport;  // over texts of its own, which it frees
  EXPECT_EQ(std::u16string(kGuid), copy.Guid());
  EXPECT_NE(miniport.Guid(), copy.Guid());  // a buffer of its own
  EXPECT_EQ(std::u16string(miniport.DeviceName()), copy.DeviceName());
  EXPECT_TRUE(copy.MatchCurrentAddress(kMac.data(), 6));
  EXPECT_EQ(8, copy.DriverFamily());
  EXPECT_EQ(0x808610D3u, copy.PciId());
  EXPECT_EQ(0x70441A2Bu, copy.SubsystemId());
  EXPECT_TRUE(copy.Claimed());
  EXPECT_EQ(11u, copy.InterfaceIndex());
  EXPECT_EQ((std::vector<uint32_t>{0x102, 7, 10}),
            (std::vector<uint32_t>{copy.TeamFlags(), copy.TeamIndex(), copy.TeamAttribute()}));
  EXPECT_EQ(std::u16string(u"kept"), copy.PartNumber());
  EXPECT_FALSE(copy.LinkNeverSeen());

  // A text that cannot be copied is reported; the rest of the copy goes on.
  crv::CMiniport partial;
  machine.FailAllocation(1);
  partial = miniport;
  EXPECT_EQ(nullptr, partial.DeviceName());
  EXPECT_EQ(std::u16string(kGuid), partial.Guid());
  EXPECT_EQ(8, partial.DriverFamily());
  EXPECT_EQ(std::vector<std::string>{"CMiniport::operator=: failure to allocate device name"},
            crvtest::ReportTexts(machine, crv::kReportInformation));
}

// Link status, duplex and speed of every family, from the answers its driver gives.
TEST_F(MiniportTest, EveryFamilyFindsLinkAndDuplexTheWayItsDriverAnswers) {
  struct Case {
    const char16_t* service;
    uint8_t family;
    uint32_t full, half;  // duplex found with the link up at full and at half duplex
    uint32_t downLink;    // link status with the link down
  };
  const Case cases[] = {
      {u"generic", 0, 1, 1, 1}, {u"generic", 2, 1, 1, 4},  {u"netflx3", 4, 3, 2, 4},
      {u"N100", 5, 3, 2, 4},    {u"E1000", 8, 3, 2, 4},    {u"ixgbt", 14, 3, 2, 4},
      {u"q57w2k", 9, 3, 2, 4},  {u"NXP2NIC", 10, 3, 2, 4}, {u"be2net", 11, 3, 3, 4},
      {u"mlx5", 15, 3, 3, 4},   {u"l2nd2", 16, 3, 2, 4},   {u"SFCNDIS", 17, 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(crv::Utf16ToUtf8(c.service) + " family " + std::to_string(c.family));
    sim::AddAdapter(machine, Adapter(c.service));
    crv::CMiniport m;
    ASSERT_EQ(0u, Init(m));

    uint32_t status = 1;
    crv::LinkInformation info = Dynamic(m, c.family, &status);
    EXPECT_EQ(0u, status);  // a driver that answers is no failure of any procedure
    EXPECT_EQ(c.family == 0 || c.family == 17 ? 1u : 2u, info.linkStatus);
    EXPECT_EQ(c.full, info.duplex);
    EXPECT_EQ(1000u, info.speed);  // 10,000,000 units of 100 bit/s

    sim::SetAdapterSpeed(machine, kGuid, 100000000, sim::SimDuplex::kHalf);
    info = Dynamic(m, c.family);
    EXPECT_EQ(c.half, info.duplex);
    EXPECT_EQ(100u, info.speed);

    // A link failure always leaves the duplex unknown, whatever the driver says of it.
    sim::SetAdapterSpeed(machine, kGuid, 1000000000, sim::SimDuplex::kFull);
    sim::SetAdapterLink(machine, kGuid, false);
    info = Dynamic(m, c.family);
    EXPECT_EQ(c.downLink, info.linkStatus);
    EXPECT_EQ(1u, info.duplex);
  }
  EXPECT_TRUE(NdisFailureReports().empty()) << crvtest::DescribeReports(machine);
}

TEST_F(MiniportTest, ARejectedConnectStatusIsAskedOnceAndAnswersUnknown) {
  sim::AddAdapter(machine, Adapter(u"be2net"));
  ASSERT_EQ(0u, Init(miniport));
  Ndis().oids[platform::kOidGenMediaConnectStatus] = sim::OidAnswer::Fail(50);
  uint32_t status = 0;
  EXPECT_EQ(std::pair(1u, 1u), LinkDuplex(miniport, 11, &status));
  EXPECT_EQ(50u, status);
  EXPECT_FALSE(miniport.ConnectStatusSupported());
  EXPECT_EQ(std::pair(1u, 1u), LinkDuplex(miniport, 11, &status));  // full only with link OK
  EXPECT_EQ(0u, status);
  EXPECT_EQ(1u, Query(platform::kOidGenMediaConnectStatus));
  EXPECT_EQ(1u, NdisFailureReports().size());
}

TEST_F(MiniportTest, PrivateDuplexFallsBackToTheLinkState) {
  sim::SimAdapter a = Adapter(u"N1000");
  a.privateDevice = false;  // the driver names no private query device
  sim::AddAdapter(machine, a);
  ASSERT_EQ(0u, Init(miniport));
  EXPECT_EQ(std::pair(2u, 3u), LinkDuplex(miniport, 6));
  EXPECT_EQ(1u, Query(platform::kOidGenLinkState));
  // The failed private query is reported (its OID has bit 0x100) with the driver's error.
  ASSERT_EQ(1u, machine.Reports().size()) << crvtest::DescribeReports(machine);
  EXPECT_EQ(50u, machine.Reports()[0].value);

  // A failed link state query leaves the duplex unknown.
  Ndis().oids[platform::kOidGenLinkState] = sim::OidAnswer::Fail(87);
  EXPECT_EQ(std::pair(2u, 1u), LinkDuplex(miniport, 6));

  // A private device that cannot be opened fails the private query with 31 (reported).
  a.privateDevice = true;
  sim::AddAdapter(machine, a);
  Ndis().privateDevice->openError = 2;
  crv::CMiniport other;
  ASSERT_EQ(0u, Init(other));
  EXPECT_EQ(3u, Dynamic(other, 6).duplex);
  ASSERT_EQ(2u, machine.Reports().size()) << crvtest::DescribeReports(machine);
  EXPECT_EQ(31u, machine.Reports()[1].value);
}

TEST_F(MiniportTest, PrivateDirectAnswerIsAskedOnTheMiniportWithoutAPrivateDevice) {
  sim::SimAdapter a = Adapter(u"E1000");
  a.privateDevice = false;
  sim::AddAdapter(machine, a);
  ASSERT_EQ(0u, Init(miniport));
  std::vector<uint8_t> answer(72, 0);
  answer[0] = 0x42;
  Ndis().oids[crv::kOidPrivateDirectAnswer] = sim::OidAnswer::Bytes(answer);
  uint8_t data[72] = {};
  uint32_t returned = 0;
  EXPECT_EQ(0u,
            miniport.QueryPrivateInformation(crv::kOidPrivateDirectAnswer, data, 72, &returned));
  EXPECT_EQ(0x42, data[0]);
  // Through a private device, a non-zero status written by the driver is the result.
  a.privateDevice = true;
  sim::AddAdapter(machine, a);
  uint8_t small[8] = {};
  EXPECT_EQ(sim::kNdisStatusNotSupported,
            miniport.QueryPrivateInformation(0xFF020200, small, 8, &returned));
  EXPECT_EQ(0, machine.openHandles().devices);
}

TEST_F(MiniportTest, Family9TriesTheSecondProcedureWhenTheLinkStatusFails) {
  sim::AddAdapter(machine, Adapter(u"q57w2k"));
  ASSERT_EQ(0u, Init(miniport));
  Ndis().oids[platform::kOidGenMediaConnectStatus] = sim::OidAnswer::Fail(50);
  uint32_t status = 1;
  // The second procedure finds the connect status unsupported: link unknown, duplex asked.
  EXPECT_EQ(std::pair(1u, 3u), LinkDuplex(miniport, 9, &status));
  EXPECT_EQ(0u, status);
  EXPECT_EQ(1u, Query(platform::kOidGenMediaDuplexState));
}

// With a library that answers: vendor_libraries_test.cc.
TEST_F(MiniportTest, WithoutVendorLibrariesTheDuplexTheDriverDoesNotGiveIsUnknown) {
  sim::AddAdapter(machine, Adapter(u"q57w2k"));
  ASSERT_EQ(0u, Init(miniport));
  Ndis().oids[platform::kOidGenMediaDuplexState] = sim::OidAnswer::Fail(50);
  // No library can be loaded: each procedure reports it and leaves the duplex unknown.
  EXPECT_EQ(std::pair(2u, 1u), LinkDuplex(miniport, 9));
  EXPECT_EQ(1u, Dynamic(miniport, 16).duplex);
  EXPECT_EQ((std::vector<std::string>{
                "Vendor library not found by name nor in the system PATH: bmapia.dll",
                "Bmapi Failed @GetQ57W2KDynamicData",
                "Vendor library not found by name nor in the system PATH: qlmapia.dll",
                "Qmapi Failed @GetQ579XXDynamicData"}),
            crvtest::ReportTexts(machine, crv::kReportInformation));
}

TEST_F(MiniportTest, ServiceNamesAreComparedWholeAndIgnoringCase) {
  sim::AddAdapter(machine, Adapter(u"any"));
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
    crv::CMiniport m;
    ASSERT_EQ(0u, Init(m));
    crv::ClassifyDriver(m, service);
    EXPECT_EQ(family, m.DriverFamily()) << crv::Utf16ToUtf8(service);
  }
}

TEST_F(MiniportTest, UnknownDriversDependOnTheMedium) {
  sim::SimAdapter a = Adapter(u"any");
  sim::AddAdapter(machine, a);
  crv::CMiniport ethernet;
  ASSERT_EQ(0u, Init(ethernet));
  ethernet.SetSubsystemId(0x70441A2B);
  crv::ClassifyDriver(ethernet, u"vendorx");
  EXPECT_EQ(2, ethernet.DriverFamily());
  EXPECT_EQ(std::u16string(u"n/a"), ethernet.PartNumber());

  a.medium = 1;
  sim::AddAdapter(machine, a);
  crv::CMiniport tokenRing;
  ASSERT_EQ(0u, Init(tokenRing));
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

  crv::CMiniport m;
  m.SetPartNumber(u"0123456789012345678901234567890123456789");
  EXPECT_EQ(crv::CMiniport::kPartNumberChars - 1, std::u16string(m.PartNumber()).size());
}

}  // namespace
