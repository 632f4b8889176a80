// Writes the scenario file of a generated server, for nicsim.
// usage: crv-bench-server SIZE [POLL_MS] [DURATION_MS] > server.json
#include <cstdio>
#include <cstdlib>

#include "generated_server.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s SIZE [POLL_MS] [DURATION_MS]\n", argv[0]);
    return 2;
  }
  uint32_t size = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  uint32_t pollMs = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 30000;
  uint64_t durationMs = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 4 * uint64_t{pollMs};
  std::fputs(crvbench::GenerateServerScenario(size, pollMs, durationMs).c_str(), stdout);
  std::fputs("\n", stdout);
  return 0;
}
