#include "platform/sim/agent_process.h"

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

}  // namespace sim
