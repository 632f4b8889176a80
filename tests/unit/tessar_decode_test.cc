// The decoder is the management service's view of the tree: it must find each record by its
// key and name, show every field at the offset the agent writes, show a value it cannot
// decode as what it is, and survive whatever a dump file or the registry holds.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define CRV_HAVE_JSON 1
#endif

#include "platform/platform.h"
#include "publish/records.h"
#include "support/record_bytes.h"
#include "support/sim_fixture.h"
#include "tessar_decode.h"

namespace {

using namespace platform;

using crvtest::BytesOf, crvtest::Zeroed;

// Its MAC address, members and condition are read back from the JSON and table output.
crv::InterfaceMapRecord SampleInterface() {
  auto r = Zeroed<crv::InterfaceMapRecord>();
  r.interfaceMapNumber = 1;
  r.memberIndexes[1] = 14;
  std::strcpy(r.description, "Server Adapter \x01\xE9 \\ end");
  std::memcpy(r.macAddress, "\x00\x1B\x21\xAA\xBB\xCC", 6);
  r.condition = crv::kConditionOk;
  std::memset(r.connectionName, 'C', sizeof r.connectionName);  // no terminator in the field
  return r;
}

tessar::RawValue Binary(const char* name, std::vector<uint8_t> data) {
  return tessar::RawValue{name, kRegBinary, std::move(data)};
}

bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

const tessar::DecodedField* Field(const tessar::DecodedValue& value, const std::string& name) {
  for (const auto& field : value.fields)
    if (field.name == name) return &field;
  return nullptr;
}

// What the record's fields hold is read back through the metrics of a whole tree; here,
// the texts that the agent's own values never exercise.
TEST(TessarDecode, TextsEndAtTheirTerminatorOrTheirField) {
  tessar::DecodedValue v = tessar::DecodeValue(
      "Interface\\LogInterfaceMap", Binary("InterfaceMap001", BytesOf(SampleInterface())));
  EXPECT_FALSE(v.showBytes);
  // Bytes outside printable ASCII are escaped.
  EXPECT_EQ("Server Adapter \\x01\\xE9 \\\\ end", Field(v, "description")->text);
  // A text filling its field is cut at the field's end, not read on into the next field.
  const tessar::DecodedField* name = Field(v, "connectionName");
  EXPECT_EQ(std::string(256, 'C'), name->text);
  EXPECT_TRUE(name->unterminated);
}

// Every byte of every record belongs to exactly one decoded field.
TEST(TessarDecode, FieldsCoverEachRecordExactly) {
  const std::tuple<const char*, const char*, size_t> cases[] = {
      {"Interface", "IfTableInformation", 1},
      {"Interface", "MibStats", 6},
      {"Ethernet", "MibStats", 6},
      {"Interface", "SoftwareRevisions", 3973},
      {"Interface\\LogInterfaceMap", "InterfaceMap001", 1147},
      {"Interface\\VlanInterface", "VlanMap001", 1040},
      {"Ethernet\\Statistics", "Statistics001", 52},
      {"Interface\\PhysInterface", "PhysAdapter001", 964},
      {"Trap_ConnectivityLost", "TrapData0000000000000000", 600},
  };
  for (const auto& [key, name, size] : cases) {
    tessar::DecodedValue v = tessar::DecodeValue(key, Binary(name, std::vector<uint8_t>(size)));
    SCOPED_TRACE(name);
    ASSERT_FALSE(v.fields.empty()) << v.problem;
    uint32_t next = 0;
    for (const auto& field : v.fields) {
      EXPECT_EQ(next, field.offset) << field.name;
      next = field.offset + field.width;
    }
    EXPECT_EQ(size, next);
  }
}

// A record of the wrong size is in the registry-read tree below (and its JSON).
TEST(TessarDecode, WrongSizeOrTypeIsShownWithItsBytes) {
  const std::tuple<const char*, tessar::RawValue, const char*> cases[] = {
      {"Trap_ConnectivityLost",
       {"TrapData01DA3C4577462146", kRegSz, std::vector<uint8_t>(600)},
       "wrong type REG_SZ, expected REG_BINARY"},
      {"", Binary("Status", {1, 0, 0, 0}), "wrong type REG_BINARY, expected REG_DWORD"},
      {"Interface",
       {"InterfaceData_CycleTime", kRegDword, {1, 0, 0, 0}},
       "wrong type REG_DWORD, expected REG_QWORD"}};
  for (const auto& [key, value, problem] : cases) {
    EXPECT_EQ(problem, tessar::DecodeValue(key, value).problem);
  }

  tessar::RawKey root{
      "SYSTEM\\TessarNetwork", true, {{"Status", kRegDword, {0xAB, 0xCD, 0xEF}}}, {}};
  std::string table = tessar::RenderTable(tessar::DecodeTree(root));
  EXPECT_TRUE(Has(table, "problem: wrong size 3 bytes, expected 4") && Has(table, "ab cd ef"))
      << table;

  // The same name in a key the tree does not define it in is just a value of its type.
  tessar::DecodedValue elsewhere =
      tessar::DecodeValue("Interface\\PhysInterface", Binary("InterfaceMap001", {1, 2}));
  EXPECT_TRUE(elsewhere.kind.empty() && elsewhere.problem.empty() && elsewhere.showBytes);
}

TEST(TessarDecode, NotesWhereTheBytesDepartFromWhatTheAgentWrites) {
  crv::PhysAdapterRecord port{
      .portNumber = 2, .reserved31 = crv::kAllOnes, .fixedOne = 1, .reserved406 = crv::kAllOnes};
  tessar::DecodedValue misnamed =
      tessar::DecodeValue("interface\\physinterface", Binary("PhysAdapter001", BytesOf(port)));
  EXPECT_EQ("PhysAdapter", misnamed.kind);  // key and name are matched without regard to case
  EXPECT_TRUE(misnamed.notes.empty());
  EXPECT_EQ("the record's number 2 makes the name PhysAdapter002", misnamed.problem);
  // A name that differs in case alone is still the record's own, with a note.
  tessar::DecodedValue lower =
      tessar::DecodeValue("Interface\\PhysInterface", Binary("physadapter002", BytesOf(port)));
  EXPECT_TRUE(lower.problem.empty()) << lower.problem;
  EXPECT_EQ(std::vector<std::string>{"the record's number 2 makes the name PhysAdapter002"},
            lower.notes);

  crv::TrapRecord trap{.trapCode = crv::kTrapConnectivityRegained, .recordMark = 3};
  tessar::DecodedValue v = tessar::DecodeValue("Trap_ConnectivityLost",
                                               Binary("TrapData01DA3C4577462146", BytesOf(trap)));
  EXPECT_EQ("connectivity regained", Field(v, "trapCode")->meaning);
  std::string notes;
  for (const auto& note : v.notes) notes += note + "\n";
  for (const char* note :
       {"raised 2024-01-01 00:00:01.234 UTC",
        "trap code 12 belongs under Trap_ConnectivityRegained", "recordMark is 3, expected 4"})
    EXPECT_TRUE(Has(notes, note)) << notes;
}

TEST(TessarDecode, MalformedDumpLinesAreReportedWithTheirNumber) {
  const std::tuple<const char*, size_t, const char*> cases[] = {
      {"key \"A\"\nvalue \"x\" 3 0g\n", 2, "the data is not an even number of hex digits"},
      {"key \"A\"\nvalue \"x\" 3 012\n", 2, "the data is not an even number of hex digits"},
      {"key \"A\"\n\nvalue \"x\" REG_BINARY 00\n", 3, "the type is not a decimal number"},
      {"key \"A\"\nvalue \"x\" 99999999999 00\n", 2, "the type is not a decimal number"},
      {"key \"A\nvalue \"x\" 3 00\n", 1, "no closing"},
      {"key A\n", 1, "expected a quoted name"},
      {"value \"x\" 3 00\n", 1, "value line before any key line"},
      {"key \"A\"\nkey \"B\\\\C\"\n", 2, "is not below the first key"},
      {"key \"A\" stable\n", 1, "after the key path"},
      {"key \"A\"\r\nvalue \"x\" 3 00 more\r\n", 2, "unexpected text after the data"},
      {"key \"A\"\n  hello\n", 2, "expected a line starting with \"key\" or \"value\""},
      {"key \"\\\\\"\n", 1, "empty key path"},
  };
  std::optional<tessar::RawKey> tree;
  tessar::ParseError error;
  for (const auto& [text, line, message] : cases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(tessar::ParseDump(text, &tree, &error));
    EXPECT_EQ(line, error.line);
    EXPECT_TRUE(Has(error.message, message)) << error.message;
    EXPECT_FALSE(tree.has_value());
  }
  EXPECT_TRUE(tessar::ParseDump("\n\n", &tree, &error));
  EXPECT_FALSE(tree.has_value());  // the tree was absent when the dump was written
}

using TessarTreeSources = crvtest::SimTest;

// A small tree, written as the agent would through the registry interface, with a value of an
// unknown type under an odd name. The registry cannot say which keys are volatile; otherwise the
// dump and the registry read must agree, and the JSON carries what the table shows.
TEST_F(TessarTreeSources, DumpFileRegistryReadAndJsonShowTheSameTree) {
  auto& registry = machine.registry();
  const std::u16string tree = u"SYSTEM\\TessarNetwork", iface = tree + u"\\Interface";
  const std::u16string mapsKey = iface + u"\\LogInterfaceMap";
  registry.CreateKey(mapsKey, true);
  registry.SetDword(tree, u"Status", 1);
  registry.SetValue(tree, u"Odd \"name\"\x01\\", 77, {0xFF, 0x00});
  registry.SetDword(iface, u"InterfaceData_Ready", 1);
  auto mib = Zeroed<crv::MibStatsRecord>();
  mib.headerMark = 18;
  mib.overallCondition = 2;
  mib.pollIntervalSeconds = 120;
  registry.SetValue(iface, u"MibStats", kRegBinary, BytesOf(mib));
  // Created out of name order: values are listed in creation order.
  registry.SetValue(mapsKey, u"InterfaceMap002", kRegBinary, {1, 2, 3});
  registry.SetValue(mapsKey, u"InterfaceMap001", kRegBinary, BytesOf(SampleInterface()));
  registry.SetString(iface + u"\\BridgingInfo", u"BridgeConnectionName", u"Br\u00FCcke \"1\"");
  std::optional<tessar::RawKey> fromDump;
  tessar::ParseError error;
  ASSERT_TRUE(tessar::ParseDump(registry.Dump(tree), &fromDump, &error))
      << error.line << ": " << error.message;
  ASSERT_TRUE(fromDump.has_value());
  tessar::RawKey fromRegistry;
  ASSERT_EQ(
      0, tessar::ReadRegistryTree(*Os().registry, kHkeyLocalMachine, tree.c_str(), &fromRegistry));

  std::string dumped = tessar::RenderTable(tessar::DecodeTree(*fromDump));
  std::string read = tessar::RenderTable(tessar::DecodeTree(fromRegistry));
  EXPECT_TRUE(Has(dumped, "[SYSTEM\\TessarNetwork\\Interface]  volatile") &&
              Has(dumped, "[SYSTEM\\TessarNetwork\\Interface\\BridgingInfo]  not volatile"))
      << dumped;
  EXPECT_EQ(std::regex_replace(dumped, std::regex("  (not )?volatile"), ""), read);

  // Creation order, not name order; a record's fields each on a line of their own.
  EXPECT_LT(read.find("InterfaceMap002"), read.find("InterfaceMap001"));
  EXPECT_TRUE(Has(read, "interfaceMapNumber") && Has(read, "2 (ok)") &&
              Has(read, "BridgeConnectionName = \"Br\u00FCcke \\\"1\\\"\""))
      << read;

  tessar::RawKey absent;
  EXPECT_EQ(
      2, tessar::ReadRegistryTree(*Os().registry, kHkeyLocalMachine, u"SYSTEM\\Missing", &absent));

#ifdef CRV_HAVE_JSON
  nlohmann::json json = nlohmann::json::parse(tessar::RenderJson(tessar::DecodeTree(fromRegistry)));
  EXPECT_TRUE(json["volatile"].is_null());
  EXPECT_EQ("Odd \"name\"\\x01\\", json["values"][1]["name"]);
  EXPECT_EQ("type 77", json["values"][1]["type"]);
  EXPECT_EQ("ff00", json["values"][1]["hex"]);

  const nlohmann::json& maps = json["subkeys"][0]["subkeys"][1];  // read in name order
  ASSERT_EQ("SYSTEM\\TessarNetwork\\Interface\\LogInterfaceMap", maps["path"]);
  const nlohmann::json& bad = maps["values"][0];
  EXPECT_EQ("InterfaceMap", bad["kind"]);
  EXPECT_EQ("wrong size 3 bytes, expected 1147", bad["problem"]);
  EXPECT_EQ("010203", bad["hex"]);
  const nlohmann::json& fields = maps["values"][1]["fields"];
  EXPECT_EQ(64u, fields["memberIndexes"].size());
  EXPECT_EQ(14, fields["memberIndexes"][1]);
  EXPECT_EQ("00:1B:21:AA:BB:CC", fields["macAddress"]);
#endif
}

}  // namespace
