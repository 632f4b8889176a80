// The administrator's views of a tree: the metrics must name every port by the labels a
// dashboard joins on and escape what a label cannot hold, and the live view must mark exactly
// what changed between two reads and list each trap record once.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/utf.h"
#include "discovery/miniport.h"
#include "platform/platform.h"
#include "publish/records.h"
#include "support/record_bytes.h"
#include "tessar_decode.h"
#include "tree_view.h"

namespace {

using crvtest::Zeroed;

template <class Record>
tessar::RawValue Value(const std::u16string& name, const Record& record) {
  return tessar::RawValue{crv::Utf16ToUtf8(name), platform::kRegBinary, crvtest::BytesOf(record)};
}

// Port 1 or 2 of the adapter in slot 3.
crv::PhysAdapterRecord Port(uint32_t number) {
  auto r = Zeroed<crv::PhysAdapterRecord>();
  r.portNumber = number;
  r.interfaceIndex = 10 + number;
  const uint8_t mac[6] = {0x00, 0x1B, 0x21, 0xA0, 0x10, static_cast<uint8_t>(number)};
  std::memcpy(r.macAddress, mac, 6);
  r.slotNumber = 3;
  r.portInCard = 1;
  r.duplex = crv::kDuplexFull;
  r.linkCondition = crv::kConditionOk;
  r.framesTransmittedOk = 1000 * number;
  r.framesReceivedOk = 2000 * number;
  r.fcsErrors = number == 2 ? 3 : 0;
  r.singleCollisionFrames = number == 2 ? 5 : 0;
  std::snprintf(r.pciIdentity, sizeof r.pciIdentity, "PCIID0x%.8X,SUBSYSID0x%.8X", 0x80861572u,
                0x00068086u);
  r.linkSpeed = 10000;
  r.receivedOctets = 4000000u * number;
  r.sentOctets = 3000000u * number;
  std::strcpy(r.deviceDescription, "X710 \"SFP+\" C:\\port");
  std::strcpy(r.firmwareVersion, "9.20.71");
  std::snprintf(r.pciLocation, sizeof r.pciLocation, "0000:05:00.%u", number - 1);
  return r;
}

tessar::RawValue PortValue(const crv::PhysAdapterRecord& port) {
  char16_t name[crv::kNumberedValueNameChars];
  crv::FormatNumberedValueName(u"PhysAdapter", port.portNumber, name, std::size(name));
  return Value(name, port);
}

crv::InterfaceMapRecord Interface(uint32_t map, uint32_t port, const char* name) {
  auto r = Zeroed<crv::InterfaceMapRecord>();
  r.interfaceMapNumber = map;
  std::strcpy(r.description, "Intel(R) Ethernet Controller X710");
  r.grouping = crv::kGroupingSingle;
  r.portCount = 1;
  r.portsWithLink = 1;
  r.portNumbers[0] = static_cast<uint8_t>(port);
  const uint8_t mac[6] = {0x00, 0x1B, 0x21, 0xA0, 0x10, static_cast<uint8_t>(port)};
  std::memcpy(r.macAddress, mac, 6);
  r.condition = crv::kConditionOk;
  r.status = crv::kInterfaceStatusLinkOk;
  r.speedBitsPerSecond = 1000000000;
  r.ipv4Address = 0x0B00140A;  // 10.20.0.11 in network order
  std::strcpy(r.connectionName, name);
  return r;
}

crv::TrapRecord Trap(uint32_t code, uint32_t port) {
  auto r = Zeroed<crv::TrapRecord>();
  r.trapCode = code;
  r.recordMark = crv::kTrapRecordMark;
  r.portNumber = port;
  r.slotNumber = 3;
  r.portInCard = 1;
  std::strcpy(r.deviceDescription, "X710");
  return r;
}

tessar::RawKey TrapKey(uint32_t code, std::vector<std::pair<uint64_t, uint32_t>> raised) {
  tessar::RawKey key{crv::Utf16ToUtf8(crv::TrapKeyName(code)), true, {}, {}};
  for (auto [fileTime, port] : raised) {
    char16_t name[crv::kTrapValueNameChars];
    crv::FormatTrapValueName(fileTime, name, crv::kTrapValueNameChars);
    key.values.push_back(Value(name, Trap(code, port)));
  }
  return key;
}

// 2026-01-05 08:02:30 UTC and a minute later, as file times.
constexpr uint64_t kLostAt = 134120737500000000ull;
constexpr uint64_t kRegainedAt = kLostAt + 600000000ull;

// A small server: two single-port interfaces, one link lost and regained.
tessar::RawKey SmallServer() {
  tessar::RawKey root{"SYSTEM\\TessarNetwork", true, {}, {}};
  tessar::RawKey iface{"Interface", true, {}, {}};
  auto overall = Zeroed<crv::IfTableInformationRecord>();
  overall.overallCondition = crv::kConditionOk;
  iface.values.push_back(Value(u"IfTableInformation", overall));
  auto mib = Zeroed<crv::MibStatsRecord>();
  mib.headerMark = crv::kMibStatsHeaderMark;
  mib.overallCondition = crv::kConditionOk;
  mib.pollIntervalSeconds = 30;
  iface.values.push_back(Value(u"MibStats", mib));
  tessar::RawKey maps{"LogInterfaceMap", true, {}, {}};
  maps.values.push_back(Value(u"InterfaceMap001", Interface(1, 1, "Ethernet 1")));
  maps.values.push_back(Value(u"InterfaceMap002", Interface(2, 2, "Ethernet 2")));
  tessar::RawKey phys{"PhysInterface", true, {}, {}};
  phys.values.push_back(PortValue(Port(1)));
  phys.values.push_back(PortValue(Port(2)));
  iface.subkeys = {maps, phys};
  root.subkeys = {iface, TrapKey(crv::kTrapConnectivityLost, {{kLostAt, 2}}),
                  TrapKey(crv::kTrapConnectivityRegained, {{kRegainedAt, 2}})};
  return root;
}

tessar::TreeView ViewOf(const tessar::RawKey& root) {
  return tessar::ViewOf(tessar::DecodeTree(root));
}

std::string SourceDirectory() {
  std::string here = __FILE__;  // tests/unit/tessar_view_test.cc
  return here.substr(0, here.rfind('/'));
}

TEST(TessarMetrics, SmallServerMatchesTheGoldenExposition) {
  std::string text = tessar::RenderPrometheus(ViewOf(SmallServer()));
  std::string path = SourceDirectory() + "/data/small_server.prom";
  if (std::getenv("CRV_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file.good()) << path;
  std::stringstream golden;
  golden << file.rdbuf();
  EXPECT_EQ(golden.str(), text);
}

TEST(TessarMetrics, NoTreeIsOneGaugeAtZero) {
  EXPECT_EQ(
      "# HELP crvnic_tree_present 1 when the agent's published tree exists, 0 when there is "
      "none.\n# TYPE crvnic_tree_present gauge\ncrvnic_tree_present 0\n",
      tessar::RenderPrometheus(tessar::NoTree()));
}

TEST(TessarMetrics, WrittenThroughATemporaryFileRenamedOverTheTarget) {
  std::string path = testing::TempDir() + "tessar_metrics_test.prom";
  std::ofstream(path) << "old contents that are longer than the new ones\n";
  std::string error;
  ASSERT_TRUE(tessar::WriteFileReplacing(path, "new\n", &error)) << error;
  std::ifstream file(path);
  std::stringstream read;
  read << file.rdbuf();
  EXPECT_EQ("new\n", read.str());
  EXPECT_FALSE(std::ifstream(path + ".tmp").good()) << "the temporary file is left behind";
  std::remove(path.c_str());
  EXPECT_FALSE(tessar::WriteFileReplacing(testing::TempDir() + "no/such/dir/x.prom", "x", &error));
  EXPECT_NE(error.find("no/such/dir"), std::string::npos) << error;
}

// --- Live view --------------------------------------------------------------------------------

TEST(TessarWatch, MarksOnlyWhatChanged) {
  tessar::RawKey first = SmallServer();
  tessar::RawKey second = SmallServer();
  // Port 2 loses its link, speed and duplex and counts one more FCS error; port 1 only
  // moves frames, which is no change worth marking.
  auto port2 = Port(2);
  port2.linkCondition = crv::kConditionFailed;
  port2.linkSpeed = 0;
  port2.duplex = crv::kDuplexUnknown;
  port2.fcsErrors = 4;
  auto port1 = Port(1);
  port1.framesReceivedOk += 500;
  second.subkeys[0].subkeys[1].values = {PortValue(port1), PortValue(port2)};
  tessar::TreeView before = ViewOf(first), now = ViewOf(second);

  tessar::PortChanges one = tessar::CompareOwnPort(&before.ports[0], now.ports[0]);
  EXPECT_FALSE(one.isNew || one.link || one.speed || one.duplex || one.errors || one.firmware);
  tessar::PortChanges two = tessar::CompareOwnPort(&before.ports[1], now.ports[1]);
  EXPECT_TRUE(two.link && two.speed && two.duplex && two.errors);
  EXPECT_FALSE(two.isNew || two.firmware);
  EXPECT_TRUE(tessar::CompareOwnPort(nullptr, now.ports[0]).isNew);

  // A collision is counted but is not an error.
  auto collided = Port(1);
  collided.singleCollisionFrames = 9;
  tessar::RawKey third = SmallServer();
  third.subkeys[0].subkeys[1].values[0] = PortValue(collided);
  EXPECT_FALSE(tessar::CompareOwnPort(&before.ports[0], ViewOf(third).ports[0]).errors);

  std::string frame = tessar::RenderWatchFrame(&before, now);
  std::istringstream lines(frame);
  std::string line, line1, line2;
  while (std::getline(lines, line)) {
    if (line.rfind("1 ", 0) == 0 && line.find("0000:05:00.0") != std::string::npos) line1 = line;
    if (line.rfind("2 ", 0) == 0 && line.find("0000:05:00.1") != std::string::npos) line2 = line;
  }
  EXPECT_EQ(std::string::npos, line1.find('*')) << line1;
  EXPECT_NE(std::string::npos, line2.find("down*")) << line2;
  EXPECT_NE(std::string::npos, line2.find(" 4*")) << line2;
  EXPECT_EQ(std::string::npos, tessar::RenderWatchFrame(nullptr, now).find('*'))
      << "the first frame has nothing to compare with";
}

TEST(TessarWatch, AddedPortIsMarkedNew) {
  tessar::RawKey first = SmallServer();
  first.subkeys[0].subkeys[1].values.pop_back();
  tessar::TreeView before = ViewOf(first), now = ViewOf(SmallServer());
  std::string frame = tessar::RenderWatchFrame(&before, now);
  EXPECT_NE(std::string::npos, frame.find("\n2+ ")) << frame;
  EXPECT_EQ(std::string::npos, frame.find("\n1+ ")) << frame;

  // Ports are numbered afresh when one comes or goes: a port is the same by its MAC address.
  tessar::RawKey renumbered = SmallServer();
  auto port2 = Port(2);
  port2.portNumber = 7;
  renumbered.subkeys[0].subkeys[1].values[1] = PortValue(port2);
  before = ViewOf(renumbered);
  frame = tessar::RenderWatchFrame(&before, now);
  EXPECT_EQ(std::string::npos, frame.find('+')) << frame;
  EXPECT_EQ(std::string::npos, frame.find('*')) << frame;
}

TEST(TessarWatch, ListsEachTrapRecordOnceAsItAppears) {
  tessar::RawKey first = SmallServer();
  first.subkeys.pop_back();  // the regain not yet raised
  tessar::TreeView before = ViewOf(first), now = ViewOf(SmallServer());

  std::vector<tessar::TrapView> all = tessar::NewTraps(nullptr, before);
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ("connectivity lost", all[0].kind);

  std::vector<tessar::TrapView> fresh = tessar::NewTraps(&before, now);
  ASSERT_EQ(1u, fresh.size());
  EXPECT_EQ("connectivity regained", fresh[0].kind);
  EXPECT_TRUE(tessar::NewTraps(&now, now).empty());
  EXPECT_EQ("2026-01-05 08:03:30.000 UTC  connectivity regained  port 2 slot 3  X710\n",
            tessar::RenderTrapLine(fresh[0]));

  // The management service removed the first record: the view does not list it again, nor
  // a second record raised at another time in the same key.
  tessar::RawKey later = SmallServer();
  later.subkeys[1] = TrapKey(crv::kTrapConnectivityLost, {{kRegainedAt + 1, 2}});
  fresh = tessar::NewTraps(&now, ViewOf(later));
  ASSERT_EQ(1u, fresh.size());
  EXPECT_EQ(kRegainedAt + 1, fresh[0].fileTime);
}

}  // namespace
