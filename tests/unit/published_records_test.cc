// The published records are read byte for byte by the management service: each layout is
// checked against bytes written out by hand at the offsets the service reads, with every field
// holding a value of its own so that a swapped or shifted field shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "publish/records.h"

namespace {

using Bytes = std::vector<uint8_t>;

void PutBytes(Bytes& b, size_t offset, std::initializer_list<uint8_t> v) {
  for (uint8_t byte : v) b.at(offset++) = byte;
}
void PutU32(Bytes& b, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(offset + i) = static_cast<uint8_t>(v >> (8 * i));
}
void PutText(Bytes& b, size_t offset, const char* text) {
  for (size_t i = 0; text[i] != 0; ++i) b.at(offset + i) = static_cast<uint8_t>(text[i]);
}
void PutRun(Bytes& b, size_t offset, size_t count, uint8_t first) {
  for (size_t i = 0; i < count; ++i) b.at(offset + i) = static_cast<uint8_t>(first + i);
}

template <class Record>
Bytes BytesOf(const Record& record) {
  Bytes out(sizeof record);
  std::memcpy(out.data(), &record, sizeof record);
  return out;
}

template <class Record>
Record Zeroed() {
  Record record;
  std::memset(&record, 0, sizeof record);
  return record;
}

// On a mismatch, names the first differing offset rather than dumping a kilobyte.
void ExpectSameBytes(const Bytes& expected, const Bytes& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], actual[i]) << "first difference at offset " << i;
  }
}

TEST(PublishedRecords, SmallRecordsGoldenBytes) {
  auto info = Zeroed<crv::IfTableInformationRecord>();
  info.overallCondition = 4;
  ExpectSameBytes({4}, BytesOf(info));

  auto mib = Zeroed<crv::MibStatsRecord>();
  mib.headerMark = crv::kMibStatsHeaderMark;
  mib.overallCondition = 2;
  mib.pollIntervalSeconds = 0x04030201;
  ExpectSameBytes({18, 2, 0x01, 0x02, 0x03, 0x04}, BytesOf(mib));

  auto revisions = Zeroed<crv::SoftwareRevisionsRecord>();
  revisions.revisionMark = crv::kSoftwareRevisionMark;
  revisions.separator = crv::kSoftwareRevisionSeparator;
  Bytes expected(3973);
  PutBytes(expected, 0, {1, 0x2E});
  ExpectSameBytes(expected, BytesOf(revisions));

  auto stats = Zeroed<crv::StatisticsRecord>();
  stats.interfaceIndex = 0x11000000;
  stats.alignmentErrors = 0x22000001;
  stats.fcsErrors = 0x33000002;
  stats.singleCollisionFrames = 0x44000003;
  stats.multipleCollisionFrames = 0x55000004;
  stats.sqeTestErrors = 0x66000005;
  stats.deferredTransmissions = 0x77000006;
  stats.lateCollisions = 0x88000007;
  stats.excessiveCollisions = 0x99000008;
  stats.internalMacTransmitErrors = 0xAA000009;
  stats.carrierSenseErrors = 0xBB00000A;
  stats.frameTooLongs = 0xCC00000B;
  stats.internalMacReceiveErrors = 0xDD00000C;
  expected.assign(52, 0);
  for (uint32_t i = 0; i < 13; ++i) PutU32(expected, 4 * i, 0x11000000u * (i + 1) + i);
  ExpectSameBytes(expected, BytesOf(stats));
}

TEST(PublishedRecords, InterfaceRecordGoldenBytes) {
  auto r = Zeroed<crv::InterfaceMapRecord>();
  r.interfaceMapNumber = 0x0A0B0C0D;
  r.memberCount = 3;
  r.memberIndexes[0] = 0x00000111;
  r.memberIndexes[63] = 0x22220000;
  std::strcpy(r.description, "Adapter description");
  r.grouping = 2;
  r.portCount = 1;
  r.portsWithLink = 7;
  for (int i = 0; i < 16; ++i) r.portNumbers[i] = static_cast<uint8_t>(0x30 + i);
  for (int i = 0; i < 6; ++i) r.macAddress[i] = static_cast<uint8_t>(0xA0 + i);
  r.fixedOne = 1;
  r.condition = 4;
  r.status = 5;
  r.reserved548 = 0x55545352;
  r.reserved552 = 0x56;
  r.speedBitsPerSecond = 0x3B9ACA00;
  r.ipv4Address = 0x0A01A8C0;
  r.vlanCount = 9;
  for (int i = 0; i < 64; ++i) r.vlanMapNumbers[i] = static_cast<uint8_t>(0x80 + i);
  r.lastChangeTime = 0x71727374;
  r.reserved630 = 0x61626364;
  std::strcpy(r.ipv6Address, "fe80::1");
  std::strcpy(r.connectionName, "Ethernet 2");
  r.addressAssignment = 2;

  Bytes e(1147);
  PutU32(e, 0, 0x0A0B0C0D);
  PutU32(e, 4, 3);
  PutU32(e, 8, 0x111);
  PutU32(e, 260, 0x22220000);
  PutText(e, 264, "Adapter description");
  PutBytes(e, 520, {2, 1, 7});
  PutRun(e, 523, 16, 0x30);
  PutRun(e, 539, 6, 0xA0);
  PutBytes(e, 545, {1, 4, 5});
  PutU32(e, 548, 0x55545352);
  PutBytes(e, 552, {0x56});
  PutU32(e, 553, 0x3B9ACA00);
  PutU32(e, 557, 0x0A01A8C0);
  PutBytes(e, 561, {9});
  PutRun(e, 562, 64, 0x80);
  PutU32(e, 626, 0x71727374);
  PutU32(e, 630, 0x61626364);
  PutText(e, 634, "fe80::1");
  PutText(e, 890, "Ethernet 2");
  PutBytes(e, 1146, {2});
  ExpectSameBytes(e, BytesOf(r));
}

TEST(PublishedRecords, VlanRecordGoldenBytes) {
  auto r = Zeroed<crv::VlanMapRecord>();
  r.vlanMapNumber = 0x01020304;
  r.interfaceMapNumber = 0x05060708;
  r.interfaceIndex = 0x090A0B0C;
  r.vlanIndicator = 0x0D0E0F10;
  std::strcpy(r.reservedText16, "first");
  std::strcpy(r.reservedText528, "second");
  std::strcpy(r.connectionName, "VLAN 7");

  Bytes e(1040);
  PutU32(e, 0, 0x01020304);
  PutU32(e, 4, 0x05060708);
  PutU32(e, 8, 0x090A0B0C);
  PutU32(e, 12, 0x0D0E0F10);
  PutText(e, 16, "first");
  PutText(e, 528, "second");
  PutText(e, 784, "VLAN 7");
  ExpectSameBytes(e, BytesOf(r));
}

TEST(PublishedRecords, PortRecordGoldenBytes) {
  auto r = Zeroed<crv::PhysAdapterRecord>();
  r.portNumber = 0x00000105;
  r.interfaceIndex = 0x00000C0D;
  r.teamRole = 255;
  for (int i = 0; i < 6; ++i) r.macAddress[i] = static_cast<uint8_t>(0x10 + i);
  r.slotNumber = 0x20212223;
  r.ioBase = 0x24252627;
  r.resourceValue = 0x28292A2B;
  r.memoryBase = 0x2C2D2E2F;
  r.reserved31 = 0xFFFFFFFF;
  r.portInCard = 3;
  r.duplex = 3;
  r.linkCondition = 2;
  r.conditionCopies[0] = 4;
  r.conditionCopies[1] = 1;
  r.fixedOne = 1;
  r.framesTransmittedOk = 0x40000000;
  r.framesReceivedOk = 0x41010101;
  r.transmitErrorSum = 0x42020202;
  r.receiveErrorSum = 0x43030303;
  r.alignmentErrors = 0x44040404;
  r.fcsErrors = 0x45050505;
  r.singleCollisionFrames = 0x46060606;
  r.multipleCollisionFrames = 0x47070707;
  r.deferredTransmissions = 0x48080808;
  r.lateCollisions = 0x49090909;
  r.excessiveCollisions = 0x4A0A0A0A;
  r.internalMacTransmitErrors = 0x4B0B0B0B;
  r.carrierSenseErrors = 0x4C0C0C0C;
  r.frameTooLongs = 0x4D0D0D0D;
  r.internalMacReceiveErrors = 0x4E0E0E0E;
  std::strcpy(r.pciIdentity, "PCIID0x80861572,SUBSYSID0x00018086");
  std::memset(r.partNumber, 'P', 32);
  r.linkSpeed = 10000;
  r.receivedOctets = 0x51525354;
  r.sentOctets = 0x55565758;
  r.speedDuplexConfig = 9;
  r.reserved406 = 0xFFFFFFFE;
  std::strcpy(r.deviceDescription, "Port description");
  r.inventoryValue1 = 0x61626364;
  std::strcpy(r.firmwareVersion, "1.2.3");
  r.inventoryValue2 = 0x65666768;
  std::strcpy(r.pciLocation, "0000:3B:00.1");

  Bytes e(964);
  PutU32(e, 0, 0x105);
  PutU32(e, 4, 0xC0D);
  PutBytes(e, 8, {255});
  PutRun(e, 9, 6, 0x10);
  PutU32(e, 15, 0x20212223);
  PutU32(e, 19, 0x24252627);
  PutU32(e, 23, 0x28292A2B);
  PutU32(e, 27, 0x2C2D2E2F);
  PutU32(e, 31, 0xFFFFFFFF);
  PutBytes(e, 35, {3, 3, 2, 4, 1, 1});
  for (uint32_t i = 0; i < 15; ++i) PutU32(e, 41 + 4 * i, 0x40000000u + i * 0x01010101u);
  PutText(e, 101, "PCIID0x80861572,SUBSYSID0x00018086");
  std::fill_n(e.begin() + 357, 32, 'P');
  PutU32(e, 390, 10000);
  PutU32(e, 394, 0x51525354);
  PutU32(e, 398, 0x55565758);
  PutU32(e, 402, 9);
  PutU32(e, 406, 0xFFFFFFFE);
  PutText(e, 410, "Port description");
  PutU32(e, 667, 0x61626364);
  PutText(e, 671, "1.2.3");
  PutU32(e, 704, 0x65666768);
  PutText(e, 708, "0000:3B:00.1");
  ExpectSameBytes(e, BytesOf(r));
}

TEST(PublishedRecords, TrapRecordGoldenBytes) {
  auto r = Zeroed<crv::TrapRecord>();
  r.trapCode = crv::kTrapRedundancyReduced;
  r.recordMark = crv::kTrapRecordMark;
  r.teamInterfaceMapNumber = 0x0102;
  r.portNumber = 0x0304;
  r.slotNumber = 0x0506;
  r.portInCard = 7;
  r.teamPortsWithLink = 8;
  r.reserved22 = 9;
  std::strcpy(r.reservedText, "12345678");
  r.portCondition = 4;
  std::strcpy(r.deviceDescription, "Trap port");
  std::memset(r.partNumber, 'Q', 32);  // the whole field: no terminator inside it
  r.ipv4Address = 0x0100007F;
  std::strcpy(r.ipv6Address, "N/A");
  r.pciBus = 0x3B;
  r.pciDevice = 0x1C;
  r.interfacePortsWithLink = 2;
  for (int i = 0; i < 6; ++i) r.interfaceMacAddress[i] = static_cast<uint8_t>(0xF0 + i);

  Bytes e(600);
  PutU32(e, 0, 14);
  PutU32(e, 4, 4);
  PutU32(e, 8, 0x0102);
  PutU32(e, 12, 0x0304);
  PutU32(e, 16, 0x0506);
  PutBytes(e, 20, {7, 8, 9});
  PutText(e, 23, "12345678");
  PutBytes(e, 32, {4});
  PutText(e, 33, "Trap port");
  std::fill_n(e.begin() + 290, 32, 'Q');
  PutU32(e, 322, 0x0100007F);
  PutText(e, 326, "N/A");
  PutU32(e, 582, 0x3B);
  PutU32(e, 586, 0x1C);
  PutU32(e, 590, 2);
  PutRun(e, 594, 6, 0xF0);
  ExpectSameBytes(e, BytesOf(r));
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
