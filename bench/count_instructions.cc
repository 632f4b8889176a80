// Runs the first publication cycle, a build, later cycles and a change test on a generated
// server, for `valgrind --tool=callgrind --instr-atstart=no --collect-atstart=no`:
// instrumentation starts once the server is set up and has had its first build, and each
// measured step is collected on its own and dumped under its name (first, build, cycle,
// change), so the counts do not depend on the machine's load.
// scripts/callgrind-cycle.sh runs it and splits each count into the agent's and the
// simulated machine's part.
//
// usage: crv-count-instructions SIZE [CYCLES]
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_server.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SIZE [CYCLES]\n", argv[0]);
    return 2;
  }
  uint32_t size = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  int cycles = argc > 2 ? std::atoi(argv[2]) : 2;
  crvbench::BenchServer server(size);

  // As the agent runs: a first build and the first cycle of the process (which fills the
  // start-up link table); then a rebuild (which carries the ports' conditions over), cycles
  // after the first one, and the change test of an unchanged table.
  server.Rebuild();
  CALLGRIND_START_INSTRUMENTATION;
  CALLGRIND_TOGGLE_COLLECT;
  server.List()->PublishCycle();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT("first");
  server.DropList();
  CALLGRIND_TOGGLE_COLLECT;
  uint32_t built = server.BuildList();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT("build");
  std::string problem = server.CheckModel();
  if (built != 0 || !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return 1;
  }
  server.List()->PublishCycle();
  CALLGRIND_TOGGLE_COLLECT;
  for (int i = 0; i < cycles; ++i) server.List()->PublishCycle();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT("cycle");
  CALLGRIND_TOGGLE_COLLECT;
  uint32_t changed = server.List()->HasInterfaceTableChanged();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT("change");
  std::printf("size %u interfaces %u ports %u cycles %d changed %u\n", size, server.Shape().managed,
              server.Shape().ports, cycles, changed);
  return changed == 0 ? 0 : 1;
}
