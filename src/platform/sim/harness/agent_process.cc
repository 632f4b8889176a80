#include "platform/sim/harness/agent_process.h"

#include <algorithm>

#include "common/process_state.h"

extern "C" int32_t Win2KMain(int32_t argc, char** argv);

namespace sim {

AgentRun RunAgentProcess(Machine& machine, const std::vector<std::string>& commandLine,
                         uint64_t durationMs) {
  std::vector<std::string> args = commandLine;
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  AgentRun run;
  crv::ResetProcessState();
  run.end = machine.Run(
      [&] {
        run.result = Win2KMain(static_cast<int32_t>(args.size()), argv.data());
        run.returned = true;
      },
      durationMs);
  crv::ResetProcessState();
  machine.ReleaseAbandoned();
  return run;
}

ServiceRun RunServiceProcess(Machine& machine, std::u16string_view serviceName,
                             uint64_t durationMs) {
  constexpr uint32_t kErrorServiceSpecificError = 1066;
  constexpr uint32_t kHostAgentDidNotStart = 1;
  ServiceRun log;
  const uint64_t end = machine.NowMs() + durationMs;
  while (machine.NowMs() < end) {
    ServiceRecord* record = machine.services().Find(serviceName);
    if (record == nullptr) break;
    record->running = true;
    ++record->starts;
    log.startsMs.push_back(machine.NowMs());
    AgentRun run = RunAgentProcess(machine, {"crvnichost.exe"}, end - machine.NowMs());
    log.runs.push_back(run);
    record = machine.services().Find(serviceName);
    if (!run.returned || record == nullptr) break;  // the process lives on to the end
    record->running = false;
    record->win32ExitCode = kErrorServiceSpecificError;
    record->serviceSpecificExitCode =
        run.result != 0 ? static_cast<uint32_t>(run.result) : kHostAgentDidNotStart;
    if (!record->failureActionsOnNonCrashFailures || record->failureActions.empty()) break;
    const uint64_t now = machine.NowMs();
    if (record->resetPeriodS != platform::kInfinite &&
        now - record->lastFailureMs >= uint64_t{record->resetPeriodS} * 1000) {
      record->failureCount = 0;
    }
    ++record->failureCount;
    record->lastFailureMs = now;
    const size_t last = record->failureActions.size() - 1;
    const platform::ScAction action =
        record->failureActions[std::min<size_t>(record->failureCount - 1, last)];
    if (action.type != platform::kScActionRestart) break;
    machine.AdvanceTo(std::min(end, now + action.delayMs));
  }
  return log;
}

}  // namespace sim
