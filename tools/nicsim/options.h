// nicsim's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct NicsimOptions {
  std::string scenarioPath;  // empty: the built-in default server
  std::optional<uint64_t> durationMs;
  bool trace = false;
  bool json = false;        // the published tree as JSON
  bool events = false;      // the Application log as the Event Viewer shows it
  std::string dumpPath;     // write the registry tree there (for tessar-dump)
  std::string metricsPath;  // the agent's metrics file is copied there
  bool help = false;
};

// False with a message on a bad command line.
bool ParseNicsimOptions(int argc, char** argv, NicsimOptions* options, std::string* error);

// "90s", "10m", "2h", "1500ms" or a bare number of milliseconds.
std::optional<uint64_t> ParseDuration(const std::string& text);

extern const char kNicsimUsage[];
