// The published records are read byte for byte by the management service, and their values
// are found by names the service builds from numbers and clock readings.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "publish/records.h"
#include "support/record_bytes.h"

namespace {

using crvtest::BytesOf;
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

}  // namespace
