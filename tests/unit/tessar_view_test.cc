// The administrator's views of a tree: the metrics must name every port by the labels a
// dashboard joins on and escape what a label cannot hold, and the live view must mark exactly
// what changed between two reads and list each trap record once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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
  std::strcpy(r.pciIdentity, "PCIID0x80861572,SUBSYSID0x00068086");
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

// Interface n ("Ethernet n") holds port n alone.
tessar::RawValue Interface(uint32_t n) {
  auto r = Zeroed<crv::InterfaceMapRecord>();
  r.interfaceMapNumber = n;
  std::strcpy(r.description, "Intel(R) Ethernet Controller X710");
  r.grouping = crv::kGroupingSingle;
  r.portCount = 1;
  r.portsWithLink = 1;
  r.portNumbers[0] = static_cast<uint8_t>(n);
  const uint8_t mac[6] = {0x00, 0x1B, 0x21, 0xA0, 0x10, static_cast<uint8_t>(n)};
  std::memcpy(r.macAddress, mac, 6);
  r.condition = crv::kConditionOk;
  r.status = crv::kInterfaceStatusLinkOk;
  r.speedBitsPerSecond = 1000000000;
  r.ipv4Address = 0x0B00140A;  // 10.20.0.11 in network order
  std::snprintf(r.connectionName, sizeof r.connectionName, "Ethernet %u", n);
  return Value(n == 1 ? u"InterfaceMap001" : u"InterfaceMap002", r);
}

// A trap key holding one record, raised for port 2.
tessar::RawKey TrapKey(uint32_t code, uint64_t fileTime) {
  crv::TrapRecord r{.trapCode = code,
                    .recordMark = crv::kTrapRecordMark,
                    .portNumber = 2,
                    .slotNumber = 3,
                    .portInCard = 1};
  std::strcpy(r.deviceDescription, "X710");
  char16_t name[crv::kTrapValueNameChars];
  crv::FormatTrapValueName(fileTime, name, crv::kTrapValueNameChars);
  return tessar::RawKey{crv::Utf16ToUtf8(crv::TrapKeyName(code)), true, {Value(name, r)}, {}};
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
  iface.values.push_back({"InterfaceData_CycleTime", platform::kRegQword,
                          crvtest::BytesOf(kRegainedAt + 300000000ull)});
  iface.subkeys = {{"LogInterfaceMap", true, {Interface(1), Interface(2)}, {}},
                   {"PhysInterface", true, {PortValue(Port(1)), PortValue(Port(2))}, {}}};
  root.subkeys = {iface, TrapKey(crv::kTrapConnectivityLost, kLostAt),
                  TrapKey(crv::kTrapConnectivityRegained, kRegainedAt)};
  return root;
}

tessar::TreeView ViewOf(const tessar::RawKey& root) {
  return tessar::ViewOf(tessar::DecodeTree(root));
}

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(TessarMetrics, SmallServerMatchesTheGoldenExpositionAndNoTreeIsOneGaugeAtZero) {
  std::string text = tessar::RenderPrometheus(ViewOf(SmallServer()));
  std::string here = __FILE__;  // tests/unit/tessar_view_test.cc
  std::string path = here.substr(0, here.rfind('/')) + "/data/small_server.prom";
  if (std::getenv("CRV_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(path, std::ios::binary) << text;
  }
  EXPECT_EQ(ReadFile(path), text) << path;
  EXPECT_EQ(
      "# HELP crvnic_tree_present 1 when the agent's published tree exists, 0 when there is "
      "none.\n# TYPE crvnic_tree_present gauge\ncrvnic_tree_present 0\n",
      tessar::RenderPrometheus(tessar::NoTree()));
}

// The text goes to a temporary file under a name of its own, renamed over the target: an
// old, longer file is replaced whole, and links someone planted where a fixed temporary name
// would be stay, with what they point to.
TEST(TessarMetrics, WrittenThroughATemporaryFileOfItsOwnRenamedOverTheTarget) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(testing::TempDir()) / "tessar_metrics_write";
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::path target = dir / "crvnic.prom", victim = dir / "victim";
  std::ofstream(target) << "old contents that are longer than the new ones\n";
  std::ofstream(victim, std::ios::binary) << "precious\n";
  size_t planted = 0;
#if !defined(_WIN32)
  fs::create_symlink(victim, target.string() + ".tmp");
  planted = 1;
#endif
  std::string error;
  ASSERT_TRUE(tessar::WriteFileReplacing(target.string(), "new\n", &error)) << error;
  EXPECT_EQ("new\n", ReadFile(target.string()));
  EXPECT_EQ("precious\n", ReadFile(victim.string()));
  EXPECT_EQ(planted != 0, fs::is_symlink(target.string() + ".tmp"));
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir)) entries += entry.exists() ? 1 : 0;
  EXPECT_EQ(2 + planted, entries) << "a temporary file was left behind";
  fs::remove_all(dir);
  EXPECT_FALSE(tessar::WriteFileReplacing((dir / "x.prom").string(), "x", &error));
  EXPECT_TRUE(Has(error, "tessar_metrics_write")) << error;
}

// A record filed under another record's number would give that port's series twice, which a
// collector rejects: it is shown with a problem and left out of the view.
TEST(TessarMetrics, RecordsWhoseNumberDisagreesWithTheirNameAreLeftOut) {
  tessar::RawKey root = SmallServer();
  auto& ports = root.subkeys[0].subkeys[1].values;
  ports.push_back(Value(u"PhysAdapter003", Port(1)));
  ports.push_back(Value(u"PhysAdapter0001", Port(1)));
  auto& interfaces = root.subkeys[0].subkeys[0].values;
  interfaces.push_back(interfaces[0]);
  interfaces.back().name = "InterfaceMap007";

  tessar::DecodedKey decoded = tessar::DecodeTree(root);
  const tessar::DecodedValue& misfiled = decoded.subkeys[0].subkeys[1].values[2];
  EXPECT_EQ("the record's number 1 makes the name PhysAdapter001", misfiled.problem);
  EXPECT_FALSE(misfiled.fields.empty()) << "its fields are still shown";
  EXPECT_TRUE(Has(tessar::RenderTable(decoded),
                  "problem: the record's number 1 makes the name InterfaceMap001"));

  tessar::TreeView view = tessar::ViewOf(decoded);
  EXPECT_EQ(2u, view.ports.size());
  EXPECT_EQ(2u, view.interfaces.size());
}

// The agent writes texts in the server's ANSI code page, Windows-1252: its bytes 0x80-0x9F
// are letters and signs, five of them undefined.
TEST(TessarMetrics, RecordTextsAreReadAsWindows1252) {
  auto port = Port(1);
  std::strcpy(port.deviceDescription, "NIC\x99 \x80\x93 caf\xE9 \x81");
  tessar::RawKey root = SmallServer();
  root.subkeys[0].subkeys[1].values[0] = PortValue(port);
  tessar::TreeView view = ViewOf(root);
  EXPECT_EQ("NIC\u2122 \u20AC\u201C caf\u00E9 \uFFFD", view.ports[0].description);
  EXPECT_TRUE(Has(tessar::RenderPrometheus(view),
                  "description=\"NIC\u2122 \u20AC\u201C caf\u00E9 \uFFFD\""));
}

// An interface record reads all ones past 4.29 Gbit/s: a 2 x 25 Gb team is given the sum of
// its ports with link, the ports' own megabits being exact.
TEST(TessarMetrics, InterfaceSpeedsAboveTheRecordsCapAreTrue) {
  tessar::TreeView view;
  view.present = true;
  view.interfaces.push_back({.valueName = "InterfaceMap001",
                             .mapNumber = 1,
                             .name = "Team",
                             .status = 2,
                             .speedBitsPerSecond = 0xFFFFFFFFu});
  for (uint32_t link : {2u, 2u, 4u}) {
    view.ports.push_back({.portNumber = static_cast<uint32_t>(view.ports.size() + 1),
                          .linkCondition = link,
                          .speedBitsPerSecond = 25000000000u,
                          .interfaceName = "Team",
                          .interfaceMapNumber = 1});
  }
  EXPECT_TRUE(
      Has(tessar::RenderPrometheus(view),
          "crvnic_interface_speed_bytes_per_second{interface=\"Team\",map=\"1\"} 6250000000\n"));
}

TEST(TessarMetrics, TrapRecordsInTheTreeAndThoseTheLimitRemovedAreShownInEveryForm) {
  tessar::RawKey root = SmallServer();
  root.values.push_back({"TrapRecordsRemoved", platform::kRegDword, {7, 1, 0, 0}});
  root.subkeys[1].values.push_back(root.subkeys[1].values[0]);  // a second record, another name
  root.subkeys[1].values[1].name = "TrapData01DC7E194A4B4001";
  tessar::DecodedKey decoded = tessar::DecodeTree(root);
  std::string metrics = tessar::RenderPrometheus(tessar::ViewOf(decoded));
  EXPECT_TRUE(Has(metrics, "\ncrvnic_trap_records_removed_total 263\n"));
  EXPECT_TRUE(Has(metrics, "crvnic_trap_records{kind=\"connectivity_lost\"} 2\n"));
  std::string table = tessar::RenderTable(decoded), json = tessar::RenderJson(decoded);
  EXPECT_TRUE(Has(table, "TrapRecordsRemoved = 263")) << table;
  EXPECT_TRUE(Has(table, "\\Trap_ConnectivityLost]  volatile  2 trap records\n")) << table;
  EXPECT_TRUE(Has(json, "\"trapRecords\": 2,") && Has(json, "\"trapRecords\": 1,")) << json;
}

// --- Live view --------------------------------------------------------------------------------

// Port 2 loses its link, speed and duplex and counts one more FCS error; port 1 only moves
// frames and counts a collision, neither of which is a change worth marking.
TEST(TessarWatch, MarksOnlyWhatChanged) {
  auto port1 = Port(1), port2 = Port(2);
  port1.framesReceivedOk += 500;
  port1.singleCollisionFrames = 9;
  port2.linkCondition = crv::kConditionFailed;
  port2.linkSpeed = 0;
  port2.duplex = crv::kDuplexUnknown;
  port2.fcsErrors = 4;
  tessar::RawKey second = SmallServer();
  second.subkeys[0].subkeys[1].values = {PortValue(port1), PortValue(port2)};
  tessar::TreeView before = ViewOf(SmallServer()), now = ViewOf(second);

  // Each port's row, found by its PCI location.
  std::string frame = tessar::RenderWatchFrame(&before, now);
  auto row = [&](const char* pciLocation) {
    size_t at = frame.find(pciLocation), start = frame.rfind('\n', at) + 1;
    return frame.substr(start, frame.find('\n', at) - start);
  };
  std::string line1 = row("0000:05:00.0"), line2 = row("0000:05:00.1");
  ASSERT_TRUE(line1.starts_with("1 ") && line2.starts_with("2 ")) << frame;
  EXPECT_EQ(std::string::npos, line1.find('*')) << line1;
  // Link, speed, duplex and errors; not the firmware.
  EXPECT_EQ(4, std::count(line2.begin(), line2.end(), '*')) << line2;
  EXPECT_TRUE(Has(line2, "down*") && Has(line2, " 4*")) << line2;
  EXPECT_EQ(std::string::npos, tessar::RenderWatchFrame(nullptr, now).find_first_of("*+"))
      << "the first frame has nothing to compare with";
}

// A port is new by its number, the identity its record is filed under; two ports reporting
// one MAC address (a team's members can) are still two ports, and nothing that did not change
// is marked.
TEST(TessarWatch, APortIsNewByItsNumberNotItsAddress) {
  tessar::RawKey first = SmallServer();
  first.subkeys[0].subkeys[1].values.pop_back();
  tessar::TreeView before = ViewOf(first), now = ViewOf(SmallServer());
  std::string frame = tessar::RenderWatchFrame(&before, now);
  EXPECT_TRUE(Has(frame, "\n2+ ") && !Has(frame, "\n1+ ")) << frame;

  tessar::RawKey renumbered = SmallServer();
  auto port2 = Port(2);
  port2.portNumber = 7;
  renumbered.subkeys[0].subkeys[1].values[1] = PortValue(port2);
  before = ViewOf(renumbered);
  frame = tessar::RenderWatchFrame(&before, now);
  EXPECT_TRUE(Has(frame, "\n2+ ")) << frame;

  port2 = Port(2);
  std::memcpy(port2.macAddress, Port(1).macAddress, 6);
  tessar::RawKey tree = SmallServer();
  tree.subkeys[0].subkeys[1].values[1] = PortValue(port2);
  auto& interfaces = tree.subkeys[0].subkeys[0].values;
  interfaces[1] = interfaces[0];  // and two interfaces with one name and address
  interfaces[1].name = "InterfaceMap002";
  interfaces[1].data[0] = 2;
  before = ViewOf(tree);
  frame = tessar::RenderWatchFrame(&before, ViewOf(tree));
  EXPECT_EQ(std::string::npos, frame.find_first_of("*+")) << frame;
}

// Long names are cut to their column between two characters, and the columns after them
// stay aligned.
TEST(TessarWatch, LongTextsAreCutBetweenCharacters) {
  auto record = *crvtest::RecordFrom<crv::InterfaceMapRecord>(Interface(1).data);
  std::strcpy(record.connectionName,
              "Uplink \xE9\xE9\xE9 \x99\x99\x99\x99\x99\x99\x99\x99\x99\x99");
  tessar::RawKey tree = SmallServer();
  tree.subkeys[0].subkeys[0].values[0] = Value(u"InterfaceMap001", record);
  std::string frame = tessar::RenderWatchFrame(nullptr, ViewOf(tree));
  EXPECT_EQ(frame, crv::Utf16ToUtf8(crv::Utf8ToUtf16(frame))) << "not valid UTF-8";
  auto column = [](const std::string& line, const std::string& what) {
    return crv::Utf8ToUtf16(line.substr(0, line.find(what))).size();
  };
  std::string header = frame.substr(0, frame.find('\n'));
  std::string row =
      frame.substr(header.size() + 1, frame.find('\n', header.size() + 1) - header.size() - 1);
  EXPECT_EQ(column(header, "STATUS"), column(row, "up")) << frame;
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
  EXPECT_EQ("2026-01-05 08:03:30.000 UTC  connectivity regained  port 2 slot 3  X710\n",
            tessar::RenderTrapLine(fresh[0]));

  // The management service removed the first record: the view does not list it again, nor
  // a second record raised at another time in the same key.
  tessar::RawKey later = SmallServer();
  later.subkeys[1] = TrapKey(crv::kTrapConnectivityLost, kRegainedAt + 1);
  fresh = tessar::NewTraps(&now, ViewOf(later));
  ASSERT_EQ(1u, fresh.size());
  EXPECT_EQ(kRegainedAt + 1, fresh[0].fileTime);
}

}  // namespace
