// link-latency: how long a link change takes to become a trap record, and what a storm of
// flaps costs, on the default simulated server (scenarios/default.json) with and without
// interface change notifications.
//
//   link-latency [--changes N] [--seed S] [--delay MS] [--storm-seconds S]
//                [--storm-every MS] [--repeat N] [--scenario FILE] [--member]
//
// Latency: N link changes of the Mellanox port (--member: of the second Intel port, a team
// member, whose changes are redundancy traps) at random times (gaps uniform in 0.5 s to
// 90 s), each matched with the first trap of its kind for that port after it; a change that
// is undone before any pass sees it has no trap (missed). Storm: the same port flaps every
// MS for S seconds in the middle of a quiet hour; passes and process CPU time are counted
// against the same hour without the storm (each run N times, the least CPU time taken).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/process_state.h"
#include "common/utf.h"
#include "platform/sim/api/interface_notify_sim.h"
#include "platform/sim/harness/agent_process.h"
#include "platform/sim/scenario/scenario.h"
#include "platform/sim/state/device_sim.h"
#include "publish/records.h"

namespace {

const char16_t kParameters[] = u"SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS";
// The Mellanox port: a plain one, whose link changes are connectivity traps; and the second
// Intel port, a team's member, whose changes are redundancy traps while the other is up.
struct WatchedPort {
  const char16_t* guid;
  const char* description;
  uint32_t upCode;
  uint32_t downCode;
};
const WatchedPort kPlainPort = {u"{7D9A1F30-2E4B-4F7A-9BAC-3D4E5F6A7B01}",
                                "Mellanox ConnectX-4 Lx Ethernet Adapter",
                                crv::kTrapConnectivityRegained, crv::kTrapConnectivityLost};
const WatchedPort kMemberPort = {u"{3F1A6C10-8A2E-4C51-9B0D-1E2F3A4B5C02}",
                                 "Intel(R) Ethernet Controller X710 for 10GbE SFP+ #2",
                                 crv::kTrapRedundancyIncreased, crv::kTrapRedundancyReduced};
constexpr uint64_t kStart = 600000;  // after the default timeline's own changes

struct Options {
  uint32_t changes = 400;
  uint32_t seed = 1;
  uint64_t delayMs = 100;
  uint64_t stormSeconds = 60;
  uint64_t stormEveryMs = 50;
  uint64_t repeat = 5;  // storm runs of each kind; the least CPU time is taken
  std::string scenario = CRV_DEFAULT_SCENARIO_PATH;
  const WatchedPort* port = &kPlainPort;
};

enum class Mode { kNotified, kNoLimit, kPolling };
const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::kNotified:
      return "immediate passes, 1 s limit";
    case Mode::kNoLimit:
      return "immediate, no limit";
    case Mode::kPolling:
      return "polling only";
  }
  return "";
}

struct Change {
  uint64_t timeMs;
  bool up;
};

struct Trap {
  uint64_t timeMs;
  uint32_t code;
};

struct RunResult {
  std::vector<Trap> traps;  // of the port, in time order
  uint64_t passes = 0;      // publication passes in the measured window
  double cpuSeconds = 0;    // the whole run's process CPU time
  uint64_t notifications = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    std::fprintf(stderr, "link-latency: cannot read %s\n", path.c_str());
    std::exit(2);
  }
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

RunResult Run(const Options& options, Mode mode, const std::vector<Change>& changes,
              uint64_t windowFrom, uint64_t windowTo, uint64_t durationMs) {
  sim::Machine machine;
  machine.Install();
  sim::Scenario scenario;
  std::string error;
  if (!sim::LoadScenario(ReadFile(options.scenario), machine, &scenario, &error)) {
    std::fprintf(stderr, "link-latency: %s\n", error.c_str());
    std::exit(2);
  }
  machine.interfaceNotifier().SetDelayMs(options.delayMs);
  if (mode == Mode::kPolling) machine.registry().SetDword(kParameters, u"ImmediateUpdates", 0);
  if (mode == Mode::kNoLimit) machine.At(0, [] { crv::State().notifiedPassGapMs = 0; });
  for (const Change& c : changes) {
    const char16_t* guid = options.port->guid;
    machine.At(c.timeMs, [&machine, c, guid] { sim::SetAdapterLink(machine, guid, c.up); });
  }
  machine.RecordRegistryWrites(true);
  std::clock_t cpuBefore = std::clock();
  sim::RunAgentProcess(machine, scenario.commandLine, durationMs);
  RunResult result;
  result.cpuSeconds = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  result.notifications = machine.interfaceNotifier().Delivered();
  for (const auto& w : machine.RegistryWrites()) {
    if (w.valueName == u"InterfaceData_Ready" && w.data.size() == 4 && w.data[0] == 0 &&
        w.timeMs >= windowFrom && w.timeMs < windowTo) {
      ++result.passes;
    }
    if (w.keyName.rfind(u"Trap_", 0) != 0 || w.data.size() != sizeof(crv::TrapRecord)) continue;
    crv::TrapRecord record;
    std::memcpy(&record, w.data.data(), sizeof record);
    if (std::strncmp(record.deviceDescription, options.port->description,
                     sizeof record.deviceDescription) != 0) {
      continue;
    }
    result.traps.push_back({w.timeMs, record.trapCode});
  }
  return result;
}

struct Latency {
  std::vector<uint64_t> values;
  uint32_t missed = 0;
};

// Each change takes the first unused trap of its kind at or after it and before the next
// change of the same kind.
Latency Match(const WatchedPort& port, const std::vector<Change>& changes,
              const std::vector<Trap>& traps) {
  Latency latency;
  std::vector<bool> used(traps.size(), false);
  for (size_t i = 0; i < changes.size(); ++i) {
    uint32_t code = changes[i].up ? port.upCode : port.downCode;
    uint64_t until = i + 2 < changes.size() ? changes[i + 2].timeMs : UINT64_MAX;
    bool found = false;
    for (size_t k = 0; k < traps.size() && !found; ++k) {
      if (used[k] || traps[k].code != code || traps[k].timeMs < changes[i].timeMs ||
          traps[k].timeMs >= until) {
        continue;
      }
      used[k] = true;
      found = true;
      latency.values.push_back(traps[k].timeMs - changes[i].timeMs);
    }
    if (!found) ++latency.missed;
  }
  std::sort(latency.values.begin(), latency.values.end());
  return latency;
}

uint64_t Percentile(const std::vector<uint64_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t at = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[at];
}

bool ParseNumber(const char* text, uint64_t* value) {
  char* end = nullptr;
  *value = std::strtoull(text, &end, 10);
  return end != text && *end == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    uint64_t n = 0;
    bool hasValue = i + 1 < argc;
    if (arg == "--scenario" && hasValue) {
      options.scenario = argv[++i];
    } else if (arg == "--member") {
      options.port = &kMemberPort;
    } else if (hasValue && ParseNumber(argv[i + 1], &n) &&
               (arg == "--changes" || arg == "--seed" || arg == "--delay" ||
                arg == "--storm-seconds" || arg == "--storm-every" || arg == "--repeat")) {
      ++i;
      if (arg == "--changes") options.changes = static_cast<uint32_t>(n);
      if (arg == "--seed") options.seed = static_cast<uint32_t>(n);
      if (arg == "--delay") options.delayMs = n;
      if (arg == "--storm-seconds") options.stormSeconds = n;
      if (arg == "--storm-every") options.stormEveryMs = n == 0 ? 1 : n;
      if (arg == "--repeat") options.repeat = n == 0 ? 1 : n;
    } else {
      std::fprintf(stderr,
                   "usage: link-latency [--changes N] [--seed S] [--delay MS] "
                   "[--storm-seconds S] [--storm-every MS] [--repeat N] [--scenario FILE] "
                   "[--member]\n");
      return 2;
    }
  }

  // Latency over random changes.
  std::mt19937 random(options.seed);
  std::uniform_int_distribution<uint64_t> gap(500, 90000);
  std::vector<Change> changes;
  uint64_t t = kStart;
  bool up = true;
  for (uint32_t i = 0; i < options.changes; ++i) {
    t += gap(random);
    up = !up;
    changes.push_back({t, up});
  }
  uint64_t end = t + 300000;
  std::printf(
      "link-latency: %u changes of the %s from %.0f s to %.0f s (seed %u), "
      "notification delay %llu ms, poll interval 30 s\n\n",
      options.changes, options.port == &kMemberPort ? "team member" : "plain port", kStart / 1000.0,
      t / 1000.0, options.seed, static_cast<unsigned long long>(options.delayMs));
  std::printf("%-26s %8s %8s %8s %8s %7s %8s %8s\n", "link change to trap", "median", "p90",
              "worst", "best", "missed", "passes", "cpu s");
  for (Mode mode : {Mode::kNotified, Mode::kPolling}) {
    RunResult run = Run(options, mode, changes, kStart, end, end);
    Latency latency = Match(*options.port, changes, run.traps);
    std::printf("%-26s %7.2fs %7.2fs %7.2fs %7.2fs %7u %8llu %8.2f\n", ModeName(mode),
                Percentile(latency.values, 0.5) / 1000.0, Percentile(latency.values, 0.9) / 1000.0,
                latency.values.empty() ? 0.0 : latency.values.back() / 1000.0,
                latency.values.empty() ? 0.0 : latency.values.front() / 1000.0, latency.missed,
                static_cast<unsigned long long>(run.passes), run.cpuSeconds);
  }

  // A storm in the middle of an hour, against the same hour without it.
  const uint64_t hour = 3600000;
  const uint64_t stormFrom = kStart + 1200000;
  const uint64_t stormTo = stormFrom + options.stormSeconds * 1000;
  std::vector<Change> storm;
  up = true;
  for (uint64_t s = stormFrom; s < stormTo; s += options.stormEveryMs) {
    up = !up;
    storm.push_back({s, up});
  }
  if (!up) storm.push_back({stormTo, true});  // the storm ends with the link up
  std::printf(
      "\nstorm: %zu changes, one every %llu ms for %llu s; passes while it lasts (and "
      "1 s after), CPU time of the hour beyond the same hour without the storm\n",
      storm.size(), static_cast<unsigned long long>(options.stormEveryMs),
      static_cast<unsigned long long>(options.stormSeconds));
  std::printf("%-26s %8s %10s %12s %12s %14s\n", "", "passes", "callbacks", "cpu s (hour)",
              "cpu s quiet", "storm cpu ms");
  for (Mode mode : {Mode::kNotified, Mode::kNoLimit, Mode::kPolling}) {
    RunResult quiet, stormy;
    for (uint64_t k = 0; k < options.repeat; ++k) {
      RunResult q = Run(options, mode, {}, stormFrom, stormTo + 1000, kStart + hour);
      RunResult s = Run(options, mode, storm, stormFrom, stormTo + 1000, kStart + hour);
      if (k == 0 || q.cpuSeconds < quiet.cpuSeconds) quiet = q;
      if (k == 0 || s.cpuSeconds < stormy.cpuSeconds) stormy = s;
    }
    std::printf("%-26s %8llu %10llu %12.3f %12.3f %14.1f\n", ModeName(mode),
                static_cast<unsigned long long>(stormy.passes),
                static_cast<unsigned long long>(stormy.notifications), stormy.cpuSeconds,
                quiet.cpuSeconds, (stormy.cpuSeconds - quiet.cpuSeconds) * 1000.0);
  }
  return 0;
}
