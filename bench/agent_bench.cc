// The agent's recurring work on generated servers of 4 to 4096 managed interfaces: a build
// of the interface list, a publication cycle and a change test, each also as CPU time per
// managed interface (cpu_per_if). The simulated machine's own work is included.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench_server.h"

namespace {

using crvbench::BenchServer;

// One server at a time is installed; the benchmarks of one size run one after the other.
BenchServer& ServerOf(uint32_t size) {
  static std::unique_ptr<BenchServer> server;
  if (!server || server->Shape().managed != size) {
    server.reset();
    server = std::make_unique<BenchServer>(size);
  }
  return *server;
}

void SetCounters(benchmark::State& state, const BenchServer& server) {
  double interfaces = server.Shape().managed;
  state.counters["interfaces"] = interfaces;
  state.counters["ports"] = server.Shape().ports;
  state.counters["cpu_per_if"] = benchmark::Counter(
      interfaces, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Builds a list in place of the current one; the destruction of the old list (which deletes
// the published tree) is not timed.
void BM_Build(benchmark::State& state) {
  BenchServer& server = ServerOf(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    server.DropList();
    state.ResumeTiming();
    benchmark::DoNotOptimize(server.BuildList());
  }
  std::string problem = server.CheckModel();
  if (!problem.empty()) state.SkipWithError(problem.c_str());
  SetCounters(state, server);
}

// Publication cycles after the first one of a fresh list.
void BM_PublishCycle(benchmark::State& state) {
  BenchServer& server = ServerOf(static_cast<uint32_t>(state.range(0)));
  server.Rebuild();
  std::string problem = server.CheckModel();
  if (!problem.empty()) {
    state.SkipWithError(problem.c_str());
    return;
  }
  server.List()->PublishCycle();
  for (auto _ : state) benchmark::DoNotOptimize(server.List()->PublishCycle());
  SetCounters(state, server);
}

// The change test on an unchanged interface table (every row compared).
void BM_ChangeTest(benchmark::State& state) {
  BenchServer& server = ServerOf(static_cast<uint32_t>(state.range(0)));
  if (server.List() == nullptr) server.Rebuild();
  for (auto _ : state) {
    if (server.List()->HasInterfaceTableChanged() != 0) {
      state.SkipWithError("the unchanged table counted as changed");
      break;
    }
  }
  SetCounters(state, server);
}

void RegisterAll() {
  for (int64_t size : {4, 64, 512, 4096}) {
    benchmark::RegisterBenchmark("Build", BM_Build)->Arg(size)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PublishCycle", BM_PublishCycle)
        ->Arg(size)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ChangeTest", BM_ChangeTest)
        ->Arg(size)
        ->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
