// The trap record limit: each trap key keeps its newest records, the oldest go first, only
// the agent's own records are touched, a reader removing records meanwhile changes nothing,
// and the setting is read with its default and range.
#include <gtest/gtest.h>

#include <numeric>

#include "collect/trap_record_limit.h"
#include "common/report.h"
#include "publish/published_tree.h"
#include "support/record_bytes.h"
#include "support/sim_fixture.h"
#include "trap/trap_record_writer.h"

namespace {

const std::u16string kLost = u"SYSTEM\\TessarNetwork\\Trap_ConnectivityLost";
const char16_t kParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
constexpr uint32_t kLimit = crv::kMinimumTrapRecordLimit;

class TrapRecordWriterTest : public crvtest::SimTest {
 protected:
  TrapRecordWriterTest() { crv::CreateTree(false); }

  void WriteLost(uint32_t firstPort, uint32_t lastPort) {
    for (uint32_t port = firstPort; port <= lastPort; ++port) {
      writer.Write({.trapCode = crv::kTrapConnectivityLost,
                    .recordMark = crv::kTrapRecordMark,
                    .portNumber = port});
    }
  }
  // The port numbers of the records under the key, oldest first.
  std::vector<uint32_t> PortsIn(const std::u16string& key) {
    std::vector<uint32_t> ports;
    for (const auto& name : machine.registry().ValueNames(key)) {
      auto record =
          crvtest::RecordFrom<crv::TrapRecord>(machine.registry().GetValue(key, name)->data);
      if (record) ports.push_back(record->portNumber);
    }
    return ports;
  }
  static std::vector<uint32_t> Range(uint32_t first, uint32_t last) {
    std::vector<uint32_t> ports(last - first + 1);
    std::iota(ports.begin(), ports.end(), first);
    return ports;
  }
  std::optional<uint32_t> PublishedRemoved() {
    auto value = machine.registry().GetValue(u"SYSTEM\\TessarNetwork", u"TrapRecordsRemoved");
    return value ? crvtest::RecordFrom<uint32_t>(value->data) : std::nullopt;
  }
  // The agent's own name and size, for records an earlier run left.
  void LeaveOldRecord(uint64_t fileTime, uint32_t port) {
    char16_t name[crv::kTrapValueNameChars];
    crv::FormatTrapValueName(fileTime, name, crv::kTrapValueNameChars);
    machine.registry().SetValue(kLost, name, platform::kRegBinary,
                                crvtest::BytesOf(crv::TrapRecord{
                                    .trapCode = crv::kTrapConnectivityLost, .portNumber = port}));
  }

  crv::CTrapRecordWriter writer{kLimit};
};

TEST_F(TrapRecordWriterTest, KeepsTheNewestRecordsOfEachKeyAndCountsTheRemovedOnes) {
  WriteLost(1, kLimit);
  EXPECT_EQ(Range(1, kLimit), PortsIn(kLost));
  EXPECT_FALSE(PublishedRemoved());  // nothing removed yet, nothing published
  WriteLost(kLimit + 1, kLimit + 5);
  EXPECT_EQ(Range(6, kLimit + 5), PortsIn(kLost));
  EXPECT_EQ(5u, writer.Removed());
  EXPECT_EQ(5u, PublishedRemoved());
  // Another kind has a limit of its own.
  writer.Write({.trapCode = crv::kTrapConnectivityRegained, .recordMark = crv::kTrapRecordMark});
  EXPECT_EQ(1u, PortsIn(u"SYSTEM\\TessarNetwork\\Trap_ConnectivityRegained").size());
  EXPECT_EQ(Range(6, kLimit + 5), PortsIn(kLost));
}

TEST_F(TrapRecordWriterTest, AReaderRemovingRecordsMeanwhileLosesNothingAndIsNotCounted) {
  WriteLost(1, 10);
  // The reader takes six records after reading them, not all from the oldest end: the five
  // oldest and the seventh.
  auto names = machine.registry().ValueNames(kLost);
  for (size_t i : {0, 1, 2, 3, 4, 6}) machine.registry().DeleteValue(kLost, names[i]);
  WriteLost(11, 22);  // 16 in the key: none removed
  std::vector<uint32_t> kept = Range(8, 22);
  kept.insert(kept.begin(), 6);
  EXPECT_EQ(kept, PortsIn(kLost));
  EXPECT_EQ(0u, writer.Removed());
  WriteLost(23, 23);
  EXPECT_EQ(Range(8, 23), PortsIn(kLost));
  EXPECT_EQ(1u, writer.Removed());
  // And everything: the next records start the key again.
  for (const auto& name : machine.registry().ValueNames(kLost)) {
    machine.registry().DeleteValue(kLost, name);
  }
  WriteLost(25, 26);
  EXPECT_EQ(Range(25, 26), PortsIn(kLost));
  EXPECT_EQ(1u, writer.Removed());
  EXPECT_TRUE(crvtest::ReportTexts(machine, crv::kReportInformation).empty());
}

TEST_F(TrapRecordWriterTest, RecordsOfAnEarlierRunCountAndOtherValuesAreLeftAlone) {
  machine.registry().CreateKey(kLost, true);
  // Out of order, as a key may list them: the times decide which are the oldest.
  for (uint32_t port = kLimit + 4; port >= 1; --port)
    LeaveOldRecord(0x01DC000000000000 + port, port);
  machine.registry().SetString(kLost, u"Note", u"not a trap record");
  machine.registry().SetValue(kLost, u"TrapData0000000000000001", platform::kRegBinary, {1, 2, 3});
  machine.registry().SetValue(kLost, u"TrapData01DC00000000000Z", platform::kRegBinary,
                              std::vector<uint8_t>(sizeof(crv::TrapRecord)));
  WriteLost(100, 100);
  std::vector<uint32_t> kept = Range(6, kLimit + 4);
  kept.insert(kept.begin(), 0);  // the zeroed record whose name is not one of ours
  kept.push_back(100);
  std::vector<uint32_t> ports = PortsIn(kLost);
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(kept, ports);
  EXPECT_EQ(5u, writer.Removed());
  for (const char16_t* other :
       {u"Note", u"TrapData0000000000000001", u"TrapData01DC00000000000Z"}) {
    EXPECT_TRUE(machine.registry().GetValue(kLost, other)) << crv::Utf16ToUtf8(other);
  }
}

TEST_F(TrapRecordWriterTest, ARemovalThatFailsIsReportedAndMadeAtTheNextWrite) {
  WriteLost(1, kLimit);
  EXPECT_TRUE(machine.FailCall("RegDeleteValueW", 1, platform::kErrorAccessDenied));
  WriteLost(kLimit + 1, kLimit + 1);
  EXPECT_EQ(kLimit + 1, PortsIn(kLost).size());
  EXPECT_EQ(
      (std::vector<uint32_t>{platform::kErrorAccessDenied}),
      crvtest::ReportValues(machine, u"CTrapRecordWriter: failure to remove an old trap record"));
  WriteLost(kLimit + 2, kLimit + 2);
  EXPECT_EQ(Range(3, kLimit + 2), PortsIn(kLost));
  EXPECT_EQ(2u, writer.Removed());
}

TEST_F(TrapRecordWriterTest, TheSettingHasADefaultAndARange) {
  EXPECT_EQ(crv::kDefaultTrapRecordLimit, crv::ReadTrapRecordLimit());  // no key
  struct Case {
    std::optional<uint32_t> dword;
    uint32_t expected;
    bool reported;
  };
  const Case cases[] = {
      {std::nullopt, crv::kDefaultTrapRecordLimit, false},  // a REG_SZ
      {0, crv::kDefaultTrapRecordLimit, false},
      {1, crv::kMinimumTrapRecordLimit, true},
      {crv::kMinimumTrapRecordLimit, crv::kMinimumTrapRecordLimit, false},
      {crv::kMaximumTrapRecordLimit, crv::kMaximumTrapRecordLimit, false},
      {crv::kMaximumTrapRecordLimit + 1, crv::kMaximumTrapRecordLimit, true},
  };
  for (const Case& c : cases) {
    machine.ClearReports();
    if (c.dword) {
      machine.registry().SetDword(kParameters, u"TrapRecordLimit", *c.dword);
    } else {
      machine.registry().SetString(kParameters, u"TrapRecordLimit", u"4096");
    }
    EXPECT_EQ(c.expected, crv::ReadTrapRecordLimit()) << c.dword.value_or(0);
    EXPECT_EQ(c.reported ? std::vector<uint32_t>{c.expected} : std::vector<uint32_t>{},
              crvtest::ReportValues(machine, u"TrapRecordLimit out of range, using"));
  }
}

}  // namespace
