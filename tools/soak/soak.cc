// soak: runs the agent for many poll cycles on a simulated server with random link flaps,
// hot-plugged adapters and faults, and prints the traps written against the traps owed and
// the memory the agent and the process hold as the run goes on.
//
//   soak [--cycles N] [--seed S] [--ports P] [--hotplug PER_MILLE] [--teams N [--vlans V]]
//        [--inventory] [--no-reader] [--trap-limit N] [--keep-event-log]
//
// --teams adds N two-port NIC Teaming teams (members flapping as the other ports do), each
// with its default team interface and V VLAN team interfaces; --inventory gives the machine
// SMBIOS on-board records for the starting ports, so the platform inventory sets their slots.
// --no-reader leaves the trap records in the tree until the end, as on a server where no
// management service reads them, so the agent's trap record limit (--trap-limit, or its
// default) does the removing; the traps written must then be the traps owed less exactly the
// records it removed. --keep-event-log keeps every event in the simulated event log, which
// is otherwise emptied at each memory sample.
//
// With --hotplug 0 the set of adapters stays fixed, so the process's resident memory can be
// compared across the run: with hot-plug it grows by what the simulated server keeps of
// every removed device (its non-present device node and its network class key, as Windows
// keeps them).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "soak_run.h"

int main(int argc, char** argv) {
  soak::SoakOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--cycles" && hasValue) {
      options.cycles = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--seed" && hasValue) {
      options.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--ports" && hasValue) {
      options.ports = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--hotplug" && hasValue) {
      options.hotplugPerMille = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--teams" && hasValue) {
      options.teams = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--vlans" && hasValue) {
      options.vlansPerTeam = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--inventory") {
      options.inventory = true;
    } else if (arg == "--no-reader") {
      options.reader = false;
    } else if (arg == "--keep-event-log") {
      options.keepEventLog = true;
    } else if (arg == "--trap-limit" && hasValue) {
      options.trapRecordLimit = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      std::fprintf(stderr,
                   "usage: soak [--cycles N] [--seed S] [--ports P] [--hotplug PER_MILLE] "
                   "[--teams N [--vlans V]] [--inventory] [--no-reader] [--trap-limit N] "
                   "[--keep-event-log]\n");
      return 2;
    }
  }
  if (options.cycles < 2 || options.ports == 0) {
    std::fprintf(stderr, "soak: at least 2 cycles and 1 port\n");
    return 2;
  }
  options.sampleEvery = options.cycles >= 20000 ? options.cycles / 20 : 1000;

  soak::SoakResult r = soak::RunSoak(options);
  std::printf("cycles %llu, seed %u, ports %u, teams %u with %u VLANs each, inventory %s\n",
              static_cast<unsigned long long>(r.cycles), options.seed, options.ports, options.teams,
              options.vlansPerTeam, options.inventory ? "on" : "off");
  std::printf("link flaps %llu, adapters hot-added %llu and removed %llu, rebuilds %llu\n",
              static_cast<unsigned long long>(r.flaps), static_cast<unsigned long long>(r.hotAdds),
              static_cast<unsigned long long>(r.hotRemoves),
              static_cast<unsigned long long>(r.buildReports));
  std::printf("faults: driver %llu, registry %llu, IP helper %llu\n",
              static_cast<unsigned long long>(r.driverFaults),
              static_cast<unsigned long long>(r.registryFaults),
              static_cast<unsigned long long>(r.ipHelperFaults));
  std::printf("\n%10s %18s %14s %10s\n", "cycle", "agent allocations", "resident KiB", "CPU ms");
  for (const auto& s : r.samples) {
    std::printf("%10llu %18llu %14llu %10llu\n", static_cast<unsigned long long>(s.cycle),
                static_cast<unsigned long long>(s.liveAllocations),
                static_cast<unsigned long long>(s.residentKiB),
                static_cast<unsigned long long>(s.cpuMs));
  }
  auto text = [](const soak::SoakTrap& t) {
    return std::to_string(t.cycle) + "/" + std::to_string(t.code) + "/" + std::to_string(t.linksUp);
  };
  bool trapsMatch = soak::TrapsAccountedFor(r);
  std::printf(
      "\ntrap records read %zu, removed by the agent's limit %llu, owed by the timeline "
      "%zu: %s\n",
      r.written.size(), static_cast<unsigned long long>(r.removedByLimit), r.expected.size(),
      trapsMatch ? "the same traps in the same cycles" : "DIFFERENT");
  if (!trapsMatch) {
    size_t n = std::max(r.written.size(), r.expected.size());
    for (size_t i = 0; i < n; ++i) {
      bool same = i < r.written.size() && i < r.expected.size() && r.written[i] == r.expected[i];
      if (same) continue;
      std::string written = i < r.written.size() ? text(r.written[i]) : "-";
      std::string owed = i < r.expected.size() ? text(r.expected[i]) : "-";
      std::printf("  first difference at %zu (cycle/code/links up): written %s, owed %s\n", i,
                  written.c_str(), owed.c_str());
      break;
    }
  }
  std::printf("registry calls of the trap record limit: RegEnumValueW %llu, RegDeleteValueW %llu\n",
              static_cast<unsigned long long>(r.valueEnumerations),
              static_cast<unsigned long long>(r.valueDeletions));
  std::printf("published tree: %s\n", r.treeWellFormed ? "well formed" : r.problem.c_str());
  return trapsMatch && r.treeWellFormed ? 0 : 1;
}
