// Runs the agent as a simulated host process: Win2KMain with a command line, on the
// machine's virtual clock, with the module's state fresh before and released after.
#pragma once

#include <string>
#include <string_view>
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

// A registered service started by the service control manager, with crvnichost.exe's part:
// Win2KMain runs with the host's name as its command line; should it return, the service
// stops with ERROR_SERVICE_SPECIFIC_ERROR and what it returned (1 for 0), recorded in the
// service's record. Such a stop is a failure when the service's failure actions flag is set
// (otherwise only a crash would be, and the simulated host never crashes); the failure's
// action, counted as Windows counts (the count goes back to 0 after the reset period without
// a failure; the last action repeats), restarts the service after its delay as a new process.
// Runs until durationMs of virtual time have passed or the service stays stopped.
struct ServiceRun {
  std::vector<uint64_t> startsMs;  // when each process started
  std::vector<AgentRun> runs;      // how each ended
};
ServiceRun RunServiceProcess(Machine& machine, std::u16string_view serviceName,
                             uint64_t durationMs);

}  // namespace sim
