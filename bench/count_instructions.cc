// Runs the first publication cycle, a build, later cycles and a change test on a generated
// server, for `valgrind --tool=callgrind --instr-atstart=no --collect-atstart=no`: each
// measured step is instrumented and collected on its own and dumped under its name (first,
// build, cycle, change), so the counts do not depend on the machine's load. Everything else,
// the setup and the steps left out, runs uninstrumented, which matters on the largest servers,
// where the simulated machine's own work takes most of the time.
// scripts/callgrind-cycle.sh runs it and splits each count into the agent's and the
// simulated machine's part.
//
// usage: crv-count-instructions SIZE [CYCLES] [STEPS]
//   STEPS  the steps to measure, comma-separated (default first,build,cycle,change); the
//          others still run, in the same order, so each step starts from the same state
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_server.h"

namespace {

bool Measured(const char* steps, const char* step) {
  std::string list = std::string(",") + steps + ",";
  return list.find(std::string(",") + step + ",") != std::string::npos;
}

// Counts what `work` does when the step is measured; runs it uninstrumented otherwise.
template <typename Work>
auto Step(const char* steps, const char* step, Work work) {
  bool measured = Measured(steps, step);
  if (measured) {
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
  }
  auto result = work();
  if (measured) {
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT(step);
    CALLGRIND_STOP_INSTRUMENTATION;
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SIZE [CYCLES] [STEPS]\n", argv[0]);
    return 2;
  }
  uint32_t size = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  int cycles = argc > 2 ? std::atoi(argv[2]) : 2;
  const char* steps = argc > 3 ? argv[3] : "first,build,cycle,change";
  crvbench::BenchServer server(size);

  // As the agent runs: a first build and the first cycle of the process (which fills the
  // start-up link table); then a rebuild (which carries the ports' conditions over), cycles
  // after the first one, and the change test of an unchanged table.
  server.Rebuild();
  Step(steps, "first", [&] { return server.List()->PublishCycle(); });
  server.DropList();
  uint32_t built = Step(steps, "build", [&] { return server.BuildList(); });
  std::string problem = server.CheckModel();
  if (built != 0 || !problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return 1;
  }
  server.List()->PublishCycle();
  Step(steps, "cycle", [&] {
    for (int i = 0; i < cycles; ++i) server.List()->PublishCycle();
    return 0;
  });
  uint32_t changed =
      Step(steps, "change", [&] { return server.List()->HasInterfaceTableChanged(); });
  std::printf("size %u interfaces %u ports %u cycles %d changed %u\n", size, server.Shape().managed,
              server.Shape().ports, cycles, changed);
  return changed == 0 ? 0 : 1;
}
