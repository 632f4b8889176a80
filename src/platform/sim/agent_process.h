// Runs the agent as a simulated host process: Win2KMain with a command line, on the
// machine's virtual clock, with the module's state fresh before and released after.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

struct AgentRun {
  RunEnd end = RunEnd::kIdle;
  bool returned = false;  // Win2KMain returned (an installation word or a failed start)
  int32_t result = -1;    // what it returned
};

// The machine must be installed. Afterwards the module's process-wide state is reset and
// everything the abandoned process still held is freed.
AgentRun RunAgentProcess(Machine& machine, const std::vector<std::string>& commandLine,
                         uint64_t durationMs);

}  // namespace sim
