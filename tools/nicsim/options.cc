#include "options.h"

#include <cstdlib>

#include "platform/sim/scenario/scenario.h"

const char kNicsimUsage[] =
    "usage: nicsim [SCENARIO.json] [--duration TIME] [--trace] [--events] [--json]\n"
    "              [--dump FILE] [--metrics FILE]\n"
    "  Runs the agent on a simulated Windows server (the built-in default server when no\n"
    "  scenario is given) for a virtual duration and prints what it did.\n"
    "  --duration TIME  virtual time to run, up to 31 days: 1500ms, 90s, 10m, 2h (default: the\n"
    "                   scenario's)\n"
    "  --trace          also print every report with its virtual time\n"
    "  --events         also print the agent's events as the Event Viewer shows them (time,\n"
    "                   level, event id, source, message)\n"
    "  --json           print the published tree as JSON\n"
    "  --dump FILE      write the published registry tree to FILE (tessar-dump reads it)\n"
    "  --metrics FILE   set MetricsFile on the server and copy the metrics file the agent kept\n"
    "                   there to FILE at the end\n";

std::optional<uint64_t> ParseDuration(const std::string& text) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  char* end = nullptr;
  unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  std::string unit(end);
  uint64_t scale = 0;
  if (unit.empty() || unit == "ms") scale = 1;
  if (unit == "s") scale = 1000;
  if (unit == "m") scale = 60000;
  if (unit == "h") scale = 3600000;
  if (scale == 0 || n > sim::kLongestDurationMs / scale) return std::nullopt;
  return n * scale;
}

bool ParseNicsimOptions(int argc, char** argv, NicsimOptions* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--trace") {
      options->trace = true;
    } else if (arg == "--events") {
      options->events = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--duration") {
      auto value = next("--duration");
      if (!value) return false;
      options->durationMs = ParseDuration(*value);
      if (!options->durationMs) {
        *error = "--duration: not a time of at most 31 days: " + *value;
        return false;
      }
    } else if (arg == "--metrics") {
      auto value = next("--metrics");
      if (!value) return false;
      options->metricsPath = *value;
    } else if (arg == "--dump") {
      auto value = next("--dump");
      if (!value) return false;
      options->dumpPath = *value;
    } else if (!arg.empty() && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else if (options->scenarioPath.empty()) {
      options->scenarioPath = arg;
    } else {
      *error = "only one scenario file can be given";
      return false;
    }
  }
  return true;
}
