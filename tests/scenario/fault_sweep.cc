#include "fault_sweep.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "common/process_state.h"
#include "common/utf.h"
#include "platform/sim/scenario.h"
#include "tessar_decode.h"

extern "C" int32_t Win2KMain(int32_t argc, char** argv);

namespace faultsweep {
namespace {

constexpr uint32_t kAllocationFailed = 0x84350101;
constexpr uint32_t kTrapSinkNotCreated = 0x84350112;
constexpr uint32_t kInfo = 0x44350127;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint64_t kCheckpointMs = 10000;
const std::u16string kTree = u"SYSTEM\\TessarNetwork";

std::vector<std::string>& CountedCalls() {
  static std::vector<std::string> names;
  return names;
}

std::string Format(const char* format, unsigned long long a, unsigned long long b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Where a value written to a key of this name lives below the tree key.
std::string RelativePath(const std::string& keyName) {
  if (keyName == "TessarNetwork") return "";
  if (keyName == "LogInterfaceMap" || keyName == "PhysInterface" || keyName == "VlanInterface" ||
      keyName == "BridgingInfo") {
    return "Interface\\" + keyName;
  }
  if (keyName == "Statistics") return "Ethernet\\Statistics";
  return keyName;  // Interface, Ethernet, Trap_...
}

// What is wrong with one decoded value of the agent's, or "".
std::string ValueProblem(const tessar::DecodedValue& value) {
  if (value.kind.empty()) return "not a value of the tree";
  if (!value.problem.empty()) return value.problem;
  for (const auto& field : value.fields) {
    if (field.unterminated) return "field " + field.name + " has no terminator";
  }
  for (const auto& note : value.notes) {
    if (note.rfind("raised ", 0) != 0) return note;  // a trap's time is not a departure
  }
  return "";
}

void CheckDecodedKey(const tessar::DecodedKey& key, std::vector<std::string>& problems) {
  if (key.relativePath == "Interface\\BridgingInfo") return;  // another component's values
  for (const auto& value : key.values) {
    std::string problem = ValueProblem(value);
    if (!problem.empty())
      problems.push_back("tree: " + key.path + "\\" + value.name + ": " + problem);
  }
  for (const auto& subkey : key.subkeys) CheckDecodedKey(subkey, problems);
}

// The tree's dump without the trap keys.
std::string WithoutTraps(const std::string& dump) {
  std::istringstream in(dump);
  std::string line, out;
  bool skipping = false;
  while (std::getline(in, line)) {
    if (line.rfind("key ", 0) == 0) skipping = line.find("\\\\Trap_") != std::string::npos;
    if (!skipping) out += line + "\n";
  }
  return out;
}

// Handles, COM objects and libraries the agent holds while its thread waits for the next
// poll: none. Only checked when the thread is in that wait: its last report announced the
// wait, the wait's time is not up, and nothing was written since.
void Checkpoint(sim::Machine& machine, Outcome& out) {
  const auto& reports = machine.Reports();
  if (reports.empty()) return;
  const sim::ReportRecord& last = reports.back();
  if (last.code != kInfo || last.message != u"Collect poll Timeout") return;
  if (machine.NowMs() >= last.timeMs + last.value) return;
  const auto& writes = machine.RegistryWrites();
  if (!writes.empty() && writes.back().timeMs > last.timeMs) return;
  ++out.quietCheckpoints;
  const sim::OpenHandleCounts& handles = machine.openHandles();
  const sim::SimWmi& wmi = machine.wmi();
  struct Held {
    const char* what;
    int64_t count;
  } held[] = {{"registry handles", handles.registry},
              {"device handles", handles.devices},
              {"COM references", wmi.OutstandingReferences()},
              {"uncleared variants", wmi.UnclearedVariants()},
              {"locked arrays", wmi.ArrayLocks()},
              {"COM initialisations", wmi.OutstandingComInits()},
              {"loaded vendor libraries", machine.libraries().LoadedReferences()}};
  for (const Held& h : held) {
    if (h.count > out.closeFaultAllowance) {
      out.problems.push_back(Format("at %llu ms the waiting agent holds %llu ", machine.NowMs(),
                                    static_cast<unsigned long long>(h.count)) +
                             h.what);
    }
  }
  if (wmi.InvalidHandleUses() != 0 || wmi.UnbalancedUninits() != 0) {
    out.problems.push_back("stale COM handle used or CoUninitialize without CoInitializeEx");
  }
}

// Every value the run wrote decodes as what its key and name make it, and each finished
// cycle leaves InterfaceData_Ready at 1 (the write of that 1 can itself be the fault).
void CheckWrites(const sim::Machine& machine, const Fault& fault, Outcome& out) {
  bool readyPending = false;
  bool readyMayStayZero =
      fault.allocation != 0 || fault.call == "RegSetValueExW" || fault.call == "RegOpenKeyExW";
  for (const auto& write : machine.RegistryWrites()) {
    std::string keyName = crv::Utf16ToUtf8(write.keyName);
    tessar::RawValue raw{crv::Utf16ToUtf8(write.valueName), write.type, write.data};
    std::string problem = ValueProblem(tessar::DecodeValue(RelativePath(keyName), raw));
    if (!problem.empty())
      out.problems.push_back("write " + keyName + "\\" + raw.name + ": " + problem);
    if (keyName.rfind("Trap_", 0) == 0) ++out.traps[keyName];
    if (keyName == "Interface" && raw.name == "InterfaceData_Ready" && raw.data.size() == 4) {
      bool ready = raw.data[0] == 1;
      if (!ready && readyPending && !readyMayStayZero) {
        out.problems.push_back(
            Format("a cycle before %llu ms ended with InterfaceData_Ready 0", write.timeMs));
      }
      readyPending = !ready;
    }
  }
  if (readyPending && !out.returned) {
    out.problems.push_back("the last cycle ended with InterfaceData_Ready 0");
  }
}

void CheckFinalTree(const std::string& dump, Outcome& out) {
  if (dump.empty()) return;
  std::optional<tessar::RawKey> root;
  tessar::ParseError error;
  if (!tessar::ParseDump(dump, &root, &error) || !root) {
    out.problems.push_back("the final tree does not parse: " + error.message);
    return;
  }
  CheckDecodedKey(tessar::DecodeTree(*root), out.problems);
}

// The wait the collection thread announced first (its configured poll interval).
uint32_t PollInterval(const Outcome& run) {
  for (const auto& report : run.reports) {
    if (report.code == kInfo && report.message == u"Collect poll Timeout") return report.value;
  }
  return 0;
}

}  // namespace

std::string Fault::Describe() const {
  if (allocation != 0) return Format("allocation %llu fails", allocation);
  if (call.empty()) return "no fault";
  return call + Format(" #%llu fails with %llu", occurrence, status);
}

const std::string& ScenarioText() {
  static const std::string text = [] {
    std::string here = __FILE__;  // tests/scenario/fault_sweep.cc
    std::string root = here.substr(0, here.rfind("/tests/"));
    std::ifstream file(root + "/scenarios/fault_sweep.json");
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
  }();
  return text;
}

void SetCountedCalls(std::vector<std::string> names) { CountedCalls() = std::move(names); }

Outcome Run(const Fault& fault) {
  Outcome out;
  crv::ResetProcessState();
  sim::Machine machine;
  machine.Install();
  sim::Scenario scenario;
  std::string error;
  if (!sim::LoadScenario(ScenarioText(), machine, &scenario, &error)) {
    out.problems.push_back("the sweep scenario does not load: " + error);
    return out;
  }
  machine.devices().SetRecording(false);
  machine.RecordRegistryWrites(true);
  if (!fault.call.empty()) machine.FailCall(fault.call, fault.occurrence, fault.status);
  // A close or free that fails leaves its handle counted as open: nothing the agent can undo.
  if (fault.call == "RegCloseKey" || fault.call == "CloseHandle(device)" ||
      fault.call == "FreeLibrary" || fault.call == "CloseHandle") {
    out.closeFaultAllowance = 1;
  }
  machine.At(kCutoffMs, [&] {
    for (const auto& name : CountedCalls()) out.callsAtCutoff[name] = machine.CallCount(name);
    out.allocationsAtCutoff = machine.AllocationCount();
  });
  for (uint64_t t = kCheckpointMs; t < kDurationMs; t += kCheckpointMs) {
    machine.At(t, [&] { Checkpoint(machine, out); });
  }
  if (fault.allocation != 0) machine.FailAllocation(fault.allocation);

  std::string program = "crvnichost.exe";
  char* argv[] = {program.data(), nullptr};
  out.end = machine.Run(
      [&] {
        Win2KMain(1, argv);
        out.returned = true;
      },
      kDurationMs);

  out.reports = machine.Reports();
  out.heldBlocks = static_cast<int64_t>(machine.LiveAllocations()) -
                   static_cast<int64_t>(crv::State().startupLinks.Count());
  std::string dump = machine.registry().Dump(kTree);
  out.finalTree = WithoutTraps(dump);
  CheckWrites(machine, fault, out);
  CheckFinalTree(dump, out);
  crv::ResetProcessState();  // frees the module's tables while the machine is still there
  return out;
}

std::vector<std::string> CompareWithBaseline(const Fault& fault, const Outcome& run,
                                             const Outcome& baseline) {
  std::vector<std::string> problems = run.problems;
  if (run.returned) {
    // Only a start-up failure may stop the agent; it then frees everything and publishes
    // nothing.
    bool startup =
        fault.allocation != 0 || fault.call == "CreateEventW" || fault.call == "_beginthread";
    if (!startup) problems.push_back("the agent did not start");
    if (run.heldBlocks != 0) {
      problems.push_back(Format("%llu blocks left after a failed start",
                                static_cast<unsigned long long>(run.heldBlocks)));
    }
    if (!run.finalTree.empty())
      problems.push_back("a tree was published by an agent that did not start");
  } else if (PollInterval(run) != PollInterval(baseline)) {
    // The fault changed the configuration (the Timeout value could not be read): the run is
    // a different schedule, so only its own checks apply.
    if (run.end != sim::RunEnd::kDurationOver) problems.push_back("the run ended early");
  } else {
    if (run.end != sim::RunEnd::kDurationOver) problems.push_back("the run ended early");
    if (run.heldBlocks != baseline.heldBlocks) {
      problems.push_back(Format("the agent holds %lld blocks at the end, %lld without the fault",
                                static_cast<unsigned long long>(run.heldBlocks),
                                static_cast<unsigned long long>(baseline.heldBlocks)));
    }
    if (run.finalTree != baseline.finalTree) {
      problems.push_back("the final tree differs from the one without the fault");
    }
    // A trap is lost only when the fault hit its own write (or the memory for its condition).
    bool mayLoseTrap = fault.allocation != 0 || fault.call == "RegOpenKeyExW" ||
                       fault.call == "RegCreateKeyExW" || fault.call == "RegSetValueExW";
    for (const auto& [kind, count] : baseline.traps) {
      auto it = run.traps.find(kind);
      int got = it == run.traps.end() ? 0 : it->second;
      if (got < count - (mayLoseTrap ? 1 : 0)) {
        problems.push_back(kind + Format(": %llu traps, %llu without the fault",
                                         static_cast<unsigned long long>(got),
                                         static_cast<unsigned long long>(count)));
      }
    }
  }
  // An allocation failure is reported twice: the code with the system error, then the text.
  for (size_t i = 0; i < run.reports.size(); ++i) {
    if (run.reports[i].code != kAllocationFailed) continue;
    size_t next = i + 1;
    if (next < run.reports.size() && run.reports[next].code == kTrapSinkNotCreated) ++next;
    bool described = next < run.reports.size() && run.reports[next].code == kInfo &&
                     !run.reports[next].message.empty();
    if (run.reports[i].value != kErrorNotEnoughMemory || !described) {
      problems.push_back(Format("allocation failure report %llu lacks its value or its text", i));
    }
  }
  return problems;
}

std::vector<uint64_t> Sample(uint64_t count, size_t limit, bool full) {
  std::vector<uint64_t> picks;
  if (full || count <= limit) {
    for (uint64_t n = 1; n <= count; ++n) picks.push_back(n);
    return picks;
  }
  constexpr uint64_t kFirst = 4;
  for (uint64_t n = 1; n <= kFirst; ++n) picks.push_back(n);
  uint64_t spread = limit - kFirst;
  for (uint64_t i = 1; i <= spread; ++i) {
    uint64_t n = kFirst + (count - kFirst) * i / spread;
    if (n > picks.back()) picks.push_back(n);
  }
  return picks;
}

bool FullSweep() {
  const char* mode = std::getenv("CRV_FAULT_SWEEP");
  return mode != nullptr && std::string(mode) == "full";
}

}  // namespace faultsweep
