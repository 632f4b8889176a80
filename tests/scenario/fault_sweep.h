// The fault sweep's runner: the agent on the sweep server (scenarios/fault_sweep.json) with at
// most one platform call or one allocation made to fail, and what the run left behind, checked
// against a run without the fault.
//
// A run has two halves. Faults are only injected into calls and allocations made before the
// cut-off (the first build, cycles with traps, a rebuild after a hot-add); after it the server
// removes and re-adds a port, so the agent rebuilds its model twice without any fault. At the
// end the model, the published tree and the memory the agent holds must be what they are
// without the fault: the agent recovered and nothing leaked on the fault's path.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace faultsweep {

constexpr uint64_t kPollMs = 30000;
constexpr uint64_t kCutoffMs = 200000;
constexpr uint64_t kDurationMs = 320000;  // mid-wait after the last cycle

// One thing made to fail: the occurrence-th call of a platform call name with a status, or
// the n-th allocation (allocation non-zero), or nothing.
struct Fault {
  std::string call;
  uint32_t occurrence = 0;
  uint32_t status = 0;
  uint64_t allocation = 0;

  std::string Describe() const;
};

struct Outcome {
  sim::RunEnd end = sim::RunEnd::kIdle;
  bool returned = false;  // Win2KMain returned: the agent did not start
  std::vector<sim::ReportRecord> reports;
  // Platform calls by name, and allocations, made before the cut-off.
  std::map<std::string, uint64_t> callsAtCutoff;
  uint64_t allocationsAtCutoff = 0;
  // Blocks the agent holds at the end, less the start-up link table's entries (whose number
  // depends on what the first cycle saw, not on leaks).
  int64_t heldBlocks = 0;
  // The tree at the end as a dump, trap keys left out (traps differ with timing), and as the
  // scenario left it before the agent started (another component's bridging key).
  std::string finalTree;
  std::string initialTree;
  // What the start-up link table held for the ports of the first cycle (device description,
  // condition or -1 when absent), taken at the first poll wait after it.
  bool firstCycleSeen = false;
  std::map<std::string, int> firstCycleLinks;
  // Traps written, by trap key.
  std::map<std::string, int> traps;
  // What the checks during and after the run found wrong; empty when all is well.
  std::vector<std::string> problems;
  int64_t librariesLeftInitialised = 0;  // vendor libraries the fault left initialised
  int quietCheckpoints = 0;         // checkpoints that found the collection thread in its poll wait
  int64_t closeFaultAllowance = 0;  // handles a failed close may leave counted
};

// The scenario text (read once from the source tree).
const std::string& ScenarioText();

// Every call name whose occurrences are counted (the platform calls of the table in
// fault_sweep_test.cc, which must know them all).
void SetCountedCalls(std::vector<std::string> names);

// Runs the agent once with the fault and checks what does not need the baseline: the tree
// and every value written decode, handles and COM objects are given back whenever the thread
// waits, InterfaceData_Ready is 1 after each finished cycle (unless the fault is the write
// that sets it).
Outcome Run(const Fault& fault);

// Checks a faulted run against the run without a fault: recovery (same tree and held memory
// at the end), no trap lost (unless the fault lost the write of one), and every report that
// claims an allocation failure comes with its message. Returns the problems found.
std::vector<std::string> CompareWithBaseline(const Fault& fault, const Outcome& run,
                                             const Outcome& baseline);

// How much of the sweep runs: by default a quick sample that still fails every call name
// at its first occurrence and at a spread over the rest; CRV_FAULT_SWEEP=sample tries more
// occurrences of each, CRV_FAULT_SWEEP=full every occurrence and every allocation.
struct Mode {
  const char* name;
  size_t occurrencesPerCall;  // 0: all
  size_t allocations;         // 0: all
};
Mode SweepMode();

// Occurrences 1..count to try: all of them when limit is 0 or not below count, otherwise
// the first few and an even spread over the rest (limit in all), so that every part of a
// build and of a cycle is hit.
std::vector<uint64_t> Sample(uint64_t count, size_t limit);

}  // namespace faultsweep
