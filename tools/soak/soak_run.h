// A long run of the agent on a simulated server whose ports flap at random, with adapters
// hot-added and removed and faults from drivers, another component's registry writes and the
// IP helper. Optionally some ports are paired in NIC Teaming teams (each with its default
// team interface and VLAN team interfaces), and the machine's SMBIOS records make the
// starting ports on-board devices, so the platform inventory sets their slot numbers. It
// counts the traps the agent writes and computes, independently of the agent, the traps the
// trap rules owe for the same timeline; it samples the agent's live allocations and the
// process's resident memory as it goes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct SoakOptions {
  uint64_t cycles = 2000;
  uint32_t seed = 1;
  uint32_t ports = 8;             // adapters present from the start
  uint32_t timeoutMs = 30000;     // the poll interval
  uint32_t flapPerMille = 40;     // per port and interval: the link changes
  uint32_t hotplugPerMille = 15;  // per interval: an adapter is added, or one added removed
  uint32_t faultPerMille = 30;    // per interval: one fault of each kind may start or end
  uint64_t sampleEvery = 1000;    // cycles between memory samples
  uint32_t teams = 0;             // two-port teams, their members flapping as the ports do
  uint32_t vlansPerTeam = 0;      // VLAN team interfaces beside each team's default one
  bool inventory = false;         // SMBIOS on-board records for the starting ports
  bool reader = true;             // the trap records are read and removed at each sample
  uint32_t trapRecordLimit = 0;   // TrapRecordLimit to set; 0 leaves the agent's default
  bool keepEventLog = false;      // keep every event the simulated event log was given
};

// One trap: the poll cycle (0 for the first) it belongs to, its code, and for the redundancy
// codes the team's ports with link.
struct SoakTrap {
  uint64_t cycle = 0;
  uint32_t code = 0;
  uint32_t linksUp = 0;
  bool operator==(const SoakTrap&) const = default;
};

struct MemorySample {
  uint64_t cycle = 0;
  uint64_t liveAllocations = 0;  // blocks the agent holds
  uint64_t residentKiB = 0;      // the whole process (0 where /proc is not there)
  uint64_t cpuMs = 0;            // the process's processor time so far
};

struct SoakResult {
  uint64_t cycles = 0;
  std::vector<SoakTrap> written;   // read back from the published tree
  std::vector<SoakTrap> expected;  // from the timeline, by the trap rules
  std::vector<MemorySample> samples;
  uint64_t flaps = 0, hotAdds = 0, hotRemoves = 0;
  uint64_t driverFaults = 0, registryFaults = 0, ipHelperFaults = 0;
  uint64_t buildReports = 0;    // "Detected change in interface table" reports
  uint64_t removedByLimit = 0;  // the agent's TrapRecordsRemoved at the end
  // The registry calls the trap record limit costs the agent, over the whole run.
  uint64_t valueEnumerations = 0, valueDeletions = 0;
  bool treeWellFormed = false;
  std::string problem;  // why the tree is not well formed
};

SoakResult RunSoak(const SoakOptions& options);

// Whether the traps written are the traps owed, in order, less exactly the records the
// agent's limit removed.
bool TrapsAccountedFor(const SoakResult& result);

}  // namespace soak
