#include "fault_sweep.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
const std::u16string kBuiltWithoutAddresses =
    u"GetIPAddressTable Failed. VLAN ip address assignment could be incorrect";
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

// The tree's dump without the trap keys, in a canonical order: keys by path, each key's
// values by name. The reader looks values up by name, so a value that is written later than
// in the run without the fault (a failed write made good by the next build) is no difference.
std::string Canonical(const std::string& dump) {
  std::map<std::string, std::vector<std::string>> keys;
  std::istringstream in(dump);
  std::string line;
  std::vector<std::string>* values = nullptr;
  while (std::getline(in, line)) {
    if (line.rfind("key ", 0) == 0) {
      bool trap = line.find("\\\\Trap_") != std::string::npos;
      values = trap ? nullptr : &keys[line];
    } else if (values != nullptr) {
      values->push_back(line);
    }
  }
  std::string out;
  for (auto& [key, lines] : keys) {
    std::sort(lines.begin(), lines.end());
    out += key + "\n";
    for (const auto& value : lines) out += value + "\n";
  }
  return out;
}

// The link condition the start-up link table holds for each port the first cycle published,
// by device description.
std::map<std::string, int> FirstCycleLinks(const sim::Machine& machine) {
  constexpr size_t kDescriptionOffset = 410;
  std::map<std::string, int> links;
  for (const auto& write : machine.RegistryWrites()) {
    if (write.keyName != u"PhysInterface" ||
        write.data.size() < kDescriptionOffset + crv::StartupLinkTable::kDescriptionBytes) {
      continue;
    }
    const char* description = reinterpret_cast<const char*>(write.data.data()) + kDescriptionOffset;
    uint8_t condition = 0;
    bool found = crv::State().startupLinks.Find(description, &condition);
    links[std::string(description,
                      strnlen(description, crv::StartupLinkTable::kDescriptionBytes))] =
        found ? condition : -1;
  }
  return links;
}

// Vendor libraries a GetProcAddress fault left initialised, and so loaded, for good: a
// missing uninitialise entry point leaves no way to shut the library down, and a firmware
// query that finds its handle look-up or firmware entry point missing gives up before it
// uninitialises. Every later query takes the library as initialised, with the entry point
// still missing.
int64_t LibrariesLeftInitialised(sim::Machine& machine, const Fault& fault) {
  if (fault.call != "GetProcAddress") return 0;
  int64_t count = 0;
  for (auto id : {sim::VendorLibraryId::kQlmapi, sim::VendorLibraryId::kBmapi}) {
    const sim::SimVendorLibrary& library = machine.libraries().Library(id);
    if (library.references == 1 && library.initializeCalls == library.uninitializeCalls + 1) {
      ++count;
    }
  }
  return count;
}

// Handles, COM objects and libraries the agent holds while its thread waits for the next
// poll: none. Only checked when the collection thread is blocked in that wait (a vendor
// library's start-up sleep in the middle of a build does not count).
void Checkpoint(sim::Machine& machine, const Fault& fault, Outcome& out) {
  // With interface change notifications the wait also holds the watch's unnamed event.
  static const std::vector<std::u16string> kPollWait = {u"CrvMNicSCMEvent", u"CrvMNicInitEvent"};
  static const std::vector<std::u16string> kNotifiedPollWait = {u"CrvMNicSCMEvent",
                                                                u"CrvMNicInitEvent", u""};
  if (!machine.scheduler().InTimedWaitOn(kPollWait) &&
      !machine.scheduler().InTimedWaitOn(kNotifiedPollWait)) {
    return;
  }
  if (!out.firstCycleSeen && crv::State().cycleCounter >= 1) {
    out.firstCycleSeen = true;
    out.firstCycleLinks = FirstCycleLinks(machine);
  }
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
              {"loaded vendor libraries",
               machine.libraries().LoadedReferences() - LibrariesLeftInitialised(machine, fault)}};
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

// The dump with the firmware version field of every port record blanked.
std::string WithoutFirmwareVersions(const std::string& dump) {
  constexpr size_t kOffset = 671, kWidth = 33;
  std::istringstream in(dump);
  std::string line, out;
  while (std::getline(in, line)) {
    size_t hex = line.rfind(' ') + 1;
    if (line.rfind("value \"PhysAdapter", 0) == 0 && line.size() >= hex + 2 * (kOffset + kWidth)) {
      line.replace(hex + 2 * kOffset, 2 * kWidth, 2 * kWidth, '-');
    }
    out += line + "\n";
  }
  return out;
}

// The first line where two dumps part, as "got ... / without the fault ...".
std::string FirstDifference(const std::string& got, const std::string& expected) {
  std::istringstream a(got), b(expected);
  std::string lineA, lineB, key;
  for (;;) {
    bool moreA = static_cast<bool>(std::getline(a, lineA));
    bool moreB = static_cast<bool>(std::getline(b, lineB));
    if (!moreA) lineA = "(end)";
    if (!moreB) lineB = "(end)";
    if (lineA != lineB || (!moreA && !moreB)) break;
    if (lineA.rfind("key ", 0) == 0) key = lineA;
  }
  size_t at = 0;
  while (at < lineA.size() && at < lineB.size() && lineA[at] == lineB[at]) ++at;
  size_t from = at > 60 ? at - 60 : 0;
  auto around = [&](const std::string& line) {
    return (from > 0 ? "..." : "") + line.substr(from, 100) +
           (line.size() > from + 100 ? "..." : "");
  };
  return key + "\n    got " + around(lineA) + "\n    without the fault " + around(lineB);
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
  out.initialTree = Canonical(machine.registry().Dump(kTree));
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
    machine.At(t, [&] { Checkpoint(machine, fault, out); });
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
  out.librariesLeftInitialised = LibrariesLeftInitialised(machine, fault);
  out.heldBlocks = static_cast<int64_t>(machine.LiveAllocations()) -
                   static_cast<int64_t>(crv::State().startupLinks.Count());
  std::string dump = machine.registry().Dump(kTree);
  out.finalTree = Canonical(dump);
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
    if (run.finalTree != run.initialTree)
      problems.push_back("a tree was published by an agent that did not start");
  } else if (PollInterval(run) != PollInterval(baseline)) {
    // The fault changed the configuration (the Timeout value could not be read): the run is
    // a different schedule, so only its own checks apply.
    if (run.end != sim::RunEnd::kDurationOver) problems.push_back("the run ended early");
  } else {
    if (run.end != sim::RunEnd::kDurationOver) problems.push_back("the run ended early");
    // A port the first cycle did not see, or saw with another link condition, is judged
    // against a different start-up record for the life of the process: a port down from the
    // start then shows a link failure (and raises its traps) where it would stay "never
    // seen". Such a run is a different history; its tree and traps are not compared.
    bool sameStart = run.firstCycleLinks == baseline.firstCycleLinks;
    // Without a trap sink the thread keeps no port conditions and writes no trap: it holds
    // fewer blocks, never more, and its traps are not compared. A start-up record with fewer
    // entries also holds fewer blocks of the table's index.
    bool noTrapSink = false;
    for (const auto& report : run.reports) noTrapSink |= report.code == kTrapSinkNotCreated;
    bool fewerMayBeHeld = noTrapSink || !sameStart;
    if (fewerMayBeHeld ? run.heldBlocks > baseline.heldBlocks
                       : run.heldBlocks != baseline.heldBlocks) {
      problems.push_back(Format("the agent holds %lld blocks at the end, %lld without the fault",
                                static_cast<unsigned long long>(run.heldBlocks),
                                static_cast<unsigned long long>(baseline.heldBlocks)));
    }
    // A vendor library left initialised with an entry point missing answers no firmware
    // version for the rest of the process.
    std::string tree = run.finalTree, expected = baseline.finalTree;
    if (run.librariesLeftInitialised > 0) {
      tree = WithoutFirmwareVersions(tree);
      expected = WithoutFirmwareVersions(expected);
    }
    if (sameStart && tree != expected) {
      problems.push_back("the final tree differs from the one without the fault: " +
                         FirstDifference(tree, expected));
    }
    // A trap is lost only when the fault hit its own write (or the memory for its condition).
    // So may a fault that changes a model for its whole life: a configuration manager call,
    // a registry read of a port's location or a text conversion of a device name in a build
    // leaves a port unlocated or unpaired, and its condition is not carried across the next
    // rebuild; an address table that cannot be read leaves a build to pair interfaces without
    // their addresses; a link status query that fails (its open or its control call) is never
    // sent again to that miniport, whose link then reads "unknown" until the next rebuild.
    bool mayLoseTrap = fault.allocation != 0 || fault.call == "RegOpenKeyExW" ||
                       fault.call == "RegCreateKeyExW" || fault.call == "RegSetValueExW" ||
                       fault.call == "RegQueryValueExW" || fault.call == "WideCharToMultiByte" ||
                       fault.call == "CreateFileW" || fault.call == "DeviceIoControl" ||
                       fault.call.rfind("CM_", 0) == 0;
    // A build whose teams could not be read keeps the team's ports plain for its life: the
    // team's links-up count starts over with the next build that reads them.
    for (const auto& report : run.reports) {
      mayLoseTrap |= report.message == kBuiltWithoutAddresses;
      mayLoseTrap |= report.message.rfind(u"NIC teaming:", 0) == 0;
    }
    bool compareTraps = sameStart && !noTrapSink;
    for (const auto& [kind, count] : compareTraps ? baseline.traps : decltype(baseline.traps){}) {
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

std::vector<uint64_t> Sample(uint64_t count, size_t limit) {
  std::vector<uint64_t> picks;
  if (limit == 0 || count <= limit) {
    for (uint64_t n = 1; n <= count; ++n) picks.push_back(n);
    return picks;
  }
  const uint64_t first = std::min<uint64_t>(4, limit / 2);
  for (uint64_t n = 1; n <= first; ++n) picks.push_back(n);
  uint64_t spread = limit - first;
  for (uint64_t i = 1; i <= spread; ++i) {
    uint64_t n = first + (count - first) * i / spread;
    if (picks.empty() || n > picks.back()) picks.push_back(n);
  }
  return picks;
}

Mode SweepMode() {
  const char* mode = std::getenv("CRV_FAULT_SWEEP");
  std::string name = mode != nullptr ? mode : "";
  if (name == "full") return {"full", 0, 0};
  if (name == "sample") return {"sample", 10, 60};
  return {"quick", 3, 20};
}

}  // namespace faultsweep
