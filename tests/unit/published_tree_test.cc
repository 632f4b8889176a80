// The published records, read byte for byte by the management service, and the names it finds
// their values by (built from numbers and clock readings); the published tree's keys, their
// creation and deletion order, the cycle counter and the trap records.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "common/process_state.h"
#include "common/report.h"
#include "publish/published_tree.h"
#include "publish/records.h"
#include "support/record_bytes.h"
#include "support/sim_fixture.h"
#include "trap/trap_record_writer.h"

namespace {

using crvtest::BytesOf;
using crvtest::ReportTexts;
using crvtest::Zeroed;
using Bytes = std::vector<uint8_t>;

// Each field's offset and each record's size are fixed at compile time beside the
// declarations; what is left to check are the marks the service looks for and the byte order.
TEST(PublishedRecords, MarksGoldenBytes) {
  auto mib = Zeroed<crv::MibStatsRecord>();
  mib.headerMark = crv::kMibStatsHeaderMark;
  mib.overallCondition = 2;
  mib.pollIntervalSeconds = 0x04030201;
  EXPECT_EQ((Bytes{18, 2, 0x01, 0x02, 0x03, 0x04}), BytesOf(mib));

  auto revisions = Zeroed<crv::SoftwareRevisionsRecord>();
  revisions.revisionMark = crv::kSoftwareRevisionMark;
  revisions.separator = crv::kSoftwareRevisionSeparator;
  Bytes bytes = BytesOf(revisions);
  EXPECT_EQ((Bytes{1, 0x2E}), Bytes(bytes.begin(), bytes.begin() + 2));

  auto trap = Zeroed<crv::TrapRecord>();
  trap.trapCode = crv::kTrapRedundancyReduced;
  trap.recordMark = crv::kTrapRecordMark;
  bytes = BytesOf(trap);
  EXPECT_EQ((Bytes{14, 0, 0, 0, 4, 0, 0, 0}), Bytes(bytes.begin(), bytes.begin() + 8));
}

std::u16string Numbered(const char16_t* prefix, uint32_t number) {
  char16_t buffer[crv::kNumberedValueNameChars];
  size_t length = crv::FormatNumberedValueName(prefix, number, buffer, std::size(buffer));
  EXPECT_EQ(std::u16string(buffer).size(), length);
  return buffer;
}

TEST(PublishedRecords, NumberedValueNames) {
  EXPECT_EQ(u"InterfaceMap001", Numbered(crv::kInterfaceMapPrefix, 1));
  EXPECT_EQ(u"InterfaceMap010", Numbered(crv::kInterfaceMapPrefix, 16));
  EXPECT_EQ(u"InterfaceMap1000", Numbered(crv::kInterfaceMapPrefix, 4096));
  EXPECT_EQ(u"InterfaceMapFFFFFFFF", Numbered(crv::kInterfaceMapPrefix, 0xFFFFFFFF));

  // Bounded by the caller's buffer: an exact fit works, one character less gives nothing.
  char16_t buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(15u, crv::FormatNumberedValueName(crv::kInterfaceMapPrefix, 1, buffer, 16));
  EXPECT_EQ(u"InterfaceMap001", std::u16string(buffer));
  std::fill(std::begin(buffer), std::end(buffer), u'x');
  EXPECT_EQ(0u, crv::FormatNumberedValueName(crv::kInterfaceMapPrefix, 1, buffer, 15));
  EXPECT_EQ(u'\0', buffer[0]);
  EXPECT_EQ(u'x', buffer[1]);
  EXPECT_EQ(0u, crv::FormatNumberedValueName(crv::kInterfaceMapPrefix, 1, buffer, 0));
}

TEST(PublishedRecords, TrapNamesAndKeys) {
  char16_t buffer[crv::kTrapValueNameChars];
  EXPECT_EQ(24u, crv::FormatTrapValueName(uint64_t{0x01DA3C4577462146}, buffer, std::size(buffer)));
  EXPECT_EQ(u"TrapData01DA3C4577462146", std::u16string(buffer));
  // Each half keeps its eight digits, leading zeros included.
  crv::FormatTrapValueName(platform::FileTime{0x0000000A, 0x00000001}, buffer, std::size(buffer));
  EXPECT_EQ(u"TrapData000000010000000A", std::u16string(buffer));
  EXPECT_EQ(0u, crv::FormatTrapValueName(uint64_t{1}, buffer, 24));

  // The scenarios read the four trap keys back by name; a code that is no trap has none.
  EXPECT_EQ(nullptr, crv::TrapKeyName(15));
}

const char16_t kInterface[] = u"SYSTEM\\TessarNetwork\\Interface";

class PublishedTreeTest : public crvtest::SimTest {
 protected:
  bool Exists(const std::u16string& underTree) {
    return machine.registry().KeyExists(u"SYSTEM\\TessarNetwork" + underTree);
  }
};

TEST_F(PublishedTreeTest, CreatesVolatileKeysAndEthernetOnlyWhenAsked) {
  EXPECT_EQ(0u, crv::CreateTree(false));
  for (const char16_t* key : {u"", u"\\Interface\\LogInterfaceMap", u"\\Interface\\PhysInterface",
                              u"\\Interface\\VlanInterface"}) {
    EXPECT_TRUE(machine.registry().IsVolatile(u"SYSTEM\\TessarNetwork" + std::u16string(key)));
  }
  EXPECT_FALSE(Exists(u"\\Ethernet"));
  EXPECT_EQ(0u, crv::CreateTree(true));
  EXPECT_TRUE(Exists(u"\\Ethernet\\Statistics"));
}

TEST_F(PublishedTreeTest, CreationStopsTheInterfaceChainButStillTriesEthernet) {
  EXPECT_TRUE(
      machine.FailCall("RegCreateKeyExW", 2, platform::kErrorAccessDenied));  // LogInterfaceMap
  EXPECT_EQ(0u, crv::CreateTree(true));  // the last step attempted, Statistics, succeeded
  EXPECT_TRUE(Exists(u"\\Interface"));
  EXPECT_FALSE(Exists(u"\\Interface\\LogInterfaceMap"));
  EXPECT_FALSE(Exists(u"\\Interface\\PhysInterface"));
  EXPECT_TRUE(Exists(u"\\Ethernet\\Statistics"));
  EXPECT_EQ((std::vector<std::string>{"TessarNetwork\\Interface\\LogInterfaceMap"}),
            ReportTexts(machine, crv::kReportKeyNotCreated));

  machine.registry().DeleteTree(u"SYSTEM\\TessarNetwork");
  EXPECT_TRUE(machine.FailCall("RegCreateKeyExW", 10, platform::kErrorAccessDenied));  // Statistics
  EXPECT_EQ(platform::kErrorAccessDenied, crv::CreateTree(true));
}

TEST_F(PublishedTreeTest, DeletionStopsAtTheFirstKeyThatStays) {
  crv::CreateTree(true);
  machine.registry().CreateKey(u"SYSTEM\\TessarNetwork\\Interface\\BridgingInfo");
  crv::DeleteTree(true);
  EXPECT_FALSE(Exists(u"\\Ethernet"));
  EXPECT_FALSE(Exists(u"\\Interface\\LogInterfaceMap"));
  EXPECT_FALSE(Exists(u"\\Interface\\VlanInterface"));
  EXPECT_TRUE(Exists(u"\\Interface\\BridgingInfo"));
  EXPECT_TRUE(Exists(u""));

  machine.registry().DeleteTree(u"SYSTEM\\TessarNetwork");
  crv::CreateTree(false);
  machine.registry().CreateKey(u"SYSTEM\\TessarNetwork\\Trap_ConnectivityLost");
  crv::DeleteTree(false);
  EXPECT_FALSE(Exists(u"\\Interface"));
  EXPECT_TRUE(Exists(u"\\Trap_ConnectivityLost"));

  // Asked to delete an Ethernet pair that is not there, nothing else goes either.
  machine.registry().DeleteTree(u"SYSTEM\\TessarNetwork");
  crv::CreateTree(false);
  crv::DeleteTree(true);
  EXPECT_TRUE(Exists(u"\\Interface\\LogInterfaceMap"));
}

crv::TrapRecord Trap(uint32_t code, uint32_t port) {
  return {.trapCode = code, .recordMark = crv::kTrapRecordMark, .portNumber = port};
}

TEST_F(PublishedTreeTest, ValuesAndTrapsAreWrittenOnlyUnderKeysThatOpen) {
  crv::WriteDwordValue(kInterface, u"InterfaceData_Ready", 1);
  crv::CTrapRecordWriter writer(crv::kDefaultTrapRecordLimit);
  writer.Write(Trap(crv::kTrapConnectivityRegained, 1));
  EXPECT_EQ((std::vector<std::string>{"SYSTEM\\TessarNetwork\\Interface", "SYSTEM\\TessarNetwork"}),
            ReportTexts(machine, crv::kReportKeyNotOpened));
  EXPECT_FALSE(Exists(u""));
  crv::CreateTree(false);
  const uint8_t record[3] = {1, 2, 3};
  crv::WriteNumberedValue(u"SYSTEM\\TessarNetwork\\Interface\\LogInterfaceMap", u"InterfaceMap",
                          4096, record, sizeof record);
  auto value = machine.registry().GetValue(u"SYSTEM\\TessarNetwork\\Interface\\LogInterfaceMap",
                                           u"InterfaceMap1000");
  ASSERT_TRUE(value);
  EXPECT_EQ(platform::kRegBinary, value->type);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), value->data);
  // A name that cannot be made whole is not written under a cut one.
  EXPECT_EQ(87u, crv::WriteNumberedValue(kInterface, u"APrefixTooLongForAnyName", 1, record, 3));
  EXPECT_TRUE(machine.registry().ValueNames(kInterface).empty());
}

TEST_F(PublishedTreeTest, CycleTimeIsTheSystemClockAsAQword) {
  crv::CreateTree(false);
  for (uint64_t at : {0x01DC7E194A4B4000ull, 0x01DC7E194A4B6710ull}) {  // the start, 1 ms on
    EXPECT_EQ(0u, crv::WriteCycleTime());
    auto value = machine.registry().GetValue(kInterface, u"InterfaceData_CycleTime");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(platform::kRegQword, value->type);
    EXPECT_EQ(crvtest::BytesOf(at), value->data);
    machine.AdvanceTo(1);
  }
}

TEST_F(PublishedTreeTest, CycleCounterSkipsZeroAndOneAfterWrapping) {
  EXPECT_EQ(1u, crv::AdvanceCycleCounter());
  crv::State().cycleCounter = 0xFFFFFFFEu;
  EXPECT_EQ(0xFFFFFFFFu, crv::AdvanceCycleCounter());
  EXPECT_EQ(2u, crv::AdvanceCycleCounter());
  EXPECT_EQ(3u, crv::AdvanceCycleCounter());
}

TEST_F(PublishedTreeTest, TrapRecordsAreNamedByTheClockAndNeverReplaceEachOther) {
  crv::CreateTree(false);
  crv::CTrapRecordWriter writer(crv::kDefaultTrapRecordLimit);
  writer.Write(Trap(crv::kTrapConnectivityLost, 1));
  writer.Write(Trap(crv::kTrapConnectivityLost, 2));  // same tick: the next 100 ns
  machine.AdvanceTo(1);
  writer.Write(Trap(crv::kTrapConnectivityLost, 3));
  writer.Write(Trap(99, 4));  // not a trap code: nothing
  const std::u16string key = u"SYSTEM\\TessarNetwork\\Trap_ConnectivityLost";
  EXPECT_TRUE(machine.registry().IsVolatile(key));
  auto names = machine.registry().ValueNames(key);
  ASSERT_EQ(3u, names.size());
  // The start, 2026-01-05 08:00:00 UTC as a file time, then 100 ns and 1 ms after it.
  const char* expected[] = {"TrapData01DC7E194A4B4000", "TrapData01DC7E194A4B4001",
                            "TrapData01DC7E194A4B6710"};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(expected[i], crv::Utf16ToUtf8(names[i]));
    auto record =
        crvtest::RecordFrom<crv::TrapRecord>(machine.registry().GetValue(key, names[i])->data);
    ASSERT_TRUE(record);
    EXPECT_EQ(i + 1u, record->portNumber);
  }
  EXPECT_EQ(1u, machine.registry().SubKeyNames(u"SYSTEM\\TessarNetwork").size() - 1);
}

}  // namespace
