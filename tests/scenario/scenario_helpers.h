// What the scenario suites share: the agent's parameters key and tree, published records and
// traps read back, the loopback row every server has, and the scenario files.
#pragma once

#include <algorithm>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/utf.h"
#include "platform/sim/machine.h"
#include "platform/sim/scenario/scenario.h"
#include "platform/sim/scenario/scenario_json.h"
#include "platform/sim/state/device_sim.h"
#include "publish/records.h"
#include "support/record_bytes.h"
#include "support/sim_fixture.h"

namespace scenariotest {

constexpr uint64_t T = 30000;  // the poll interval the suites configure
inline const char16_t kParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
inline const std::u16string kTree = u"SYSTEM\\TessarNetwork";

// The record a value below the tree holds (key "" or "\\Interface\\PhysInterface" and so on),
// when the value has the record's size.
template <class Record>
std::optional<Record> ReadRecord(sim::Machine& machine, const std::u16string& key,
                                 const std::u16string& name) {
  auto value = machine.registry().GetValue(kTree + key, name);
  return value ? crvtest::RecordFrom<Record>(value->data) : std::nullopt;
}

// Fields of a record as numbers, so that many of them are compared in one assertion.
template <class... Field>
std::vector<uint64_t> Fields(Field... fields) {
  return {static_cast<uint64_t>(fields)...};
}

struct SeenTrap {
  uint32_t code;
  uint64_t timeMs;
  uint32_t port = 0;
  uint32_t teamMap = 0;
  uint8_t teamLinks = 0;
  bool operator==(const SeenTrap&) const = default;
};
inline void PrintTo(const SeenTrap& t, std::ostream* out) {
  *out << t.code << "@" << t.timeMs << " port " << t.port << " team " << t.teamMap << "/"
       << int{t.teamLinks};
}

// Every trap record in the tree, in time order.
inline std::vector<SeenTrap> Traps(sim::Machine& machine) {
  std::vector<SeenTrap> traps;
  for (const auto& key : machine.registry().SubKeyNames(kTree)) {
    if (key.rfind(u"Trap_", 0) != 0) continue;
    for (const auto& name : machine.registry().ValueNames(kTree + u"\\" + key)) {
      auto t = ReadRecord<crv::TrapRecord>(machine, u"\\" + key, name);
      if (!t) continue;
      uint64_t fileTime = std::stoull(crv::Utf16ToUtf8(name.substr(8)), nullptr, 16);
      traps.push_back({t->trapCode, (fileTime - machine.StartFileTime()) / 10000, t->portNumber,
                       t->teamInterfaceMapNumber, t->teamPortsWithLink});
    }
  }
  std::stable_sort(traps.begin(), traps.end(),
                   [](const SeenTrap& a, const SeenTrap& b) { return a.timeMs < b.timeMs; });
  return traps;
}

// When InterfaceData_Ready was written with this value (0: a pass began, 1: it ended), from
// the machine's recorded registry writes.
inline std::vector<uint64_t> ReadyWrites(const sim::Machine& machine, uint8_t value) {
  std::vector<uint64_t> times;
  for (const auto& w : machine.RegistryWrites())
    if (w.valueName == u"InterfaceData_Ready" && !w.data.empty() && w.data[0] == value)
      times.push_back(w.timeMs);
  return times;
}

inline void AddLoopback(sim::Machine& machine) {
  machine.network().Add(crvtest::InterfaceRow(1, 24, "Software Loopback Interface 1", 0, 0));
}

// A fixture on the simulated server, polling every T, with the readers the agent's end-to-end
// suites share.
class ServerTest : public crvtest::SimTest {
 protected:
  ServerTest() { machine.registry().SetDword(kParameters, u"Timeout", static_cast<uint32_t>(T)); }
  void LinkAt(uint64_t t, const std::u16string& guid, bool up) {
    machine.At(t, [this, guid, up] { sim::SetAdapterLink(machine, guid, up); });
  }
  std::vector<SeenTrap> Traps() { return scenariotest::Traps(machine); }
  std::optional<crv::InterfaceMapRecord> Interface(const std::u16string& name) {
    return ReadRecord<crv::InterfaceMapRecord>(machine, u"\\Interface\\LogInterfaceMap", name);
  }
  std::optional<crv::PhysAdapterRecord> Port(const std::u16string& name) {
    return ReadRecord<crv::PhysAdapterRecord>(machine, u"\\Interface\\PhysInterface", name);
  }
  // The first record below a trap key (u"Trap_ConnectivityLost" and so on).
  std::optional<crv::TrapRecord> FirstTrap(const std::u16string& key) {
    auto names = machine.registry().ValueNames(kTree + u"\\" + key);
    if (names.empty()) return std::nullopt;
    return ReadRecord<crv::TrapRecord>(machine, u"\\" + key, names[0]);
  }
};

// The text of scenarios/<name> in the source tree.
inline std::string ScenarioFile(const std::string& name) {
  std::string here = __FILE__;
  std::ifstream file(here.substr(0, here.rfind("/tests/")) + "/scenarios/" + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Sets the machine up as the scenario text describes, for an agent process started afresh.
inline sim::Scenario LoadInto(sim::Machine& machine, const std::string& text) {
  machine.Install();
  crv::ResetProcessState();
  sim::Scenario scenario;
  std::string error;
  EXPECT_TRUE(sim::LoadScenario(text, machine, &scenario, &error)) << error;
  return scenario;
}

// The default server without its own timeline, so that only a test's changes happen.
inline nlohmann::json QuietDefaultServer() {
  nlohmann::json root = nlohmann::json::parse(ScenarioFile("default.json"));
  root["timeline"] = nlohmann::json::array();
  return root;
}

// A fixture on that server, or on the scenario given, run as an agent process.
class ScenarioServerTest : public ::testing::Test {
 public:
  explicit ScenarioServerTest(const nlohmann::json& root = QuietDefaultServer())
      : scenario(LoadInto(machine, root.dump())) {}
  void LinkAt(uint64_t t, const std::u16string& guid, bool up) {
    machine.At(t, [this, guid, up] { sim::SetAdapterLink(machine, guid, up); });
  }
  void Run(uint64_t untilMs) { sim::RunAgentProcess(machine, scenario.commandLine, untilMs); }

  sim::Machine machine;
  sim::Scenario scenario;
};

}  // namespace scenariotest
