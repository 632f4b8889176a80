#include "common/process_state.h"

namespace crv {
namespace {

void (*g_stateResets[kMaxStateResets])() = {};
uint32_t g_stateResetCount = 0;

}  // namespace

// Never destroyed: the module may outlive the heap it allocated from at process exit.
ProcessState& State() {
  static ProcessState* state = new ProcessState();
  return *state;
}

void ResetProcessState() {
  ProcessState& s = State();
  s.startupLinks.Clear();
  s.cycleCounter = 0;
  s.teamsReadCycle = 0;
  s.agentStartTime = 0;
  s.pollInterval = 0;
  s.nextInterfaceMapNumber = 1;
  s.nextPhysPortNumber = 1;
  s.nextVlanMapNumber = 1;
  s.lastTrapFileTime = 0;
  s.useListIndexes = true;
  s.filterFlagsFailureReported = false;
  s.notifiedPassGapMs = kDefaultNotifiedPassGapMs;
  for (uint32_t i = 0; i < g_stateResetCount; ++i) g_stateResets[i]();
}

bool RegisterStateReset(void (*reset)()) {
  for (uint32_t i = 0; i < g_stateResetCount; ++i) {
    if (g_stateResets[i] == reset) return true;
  }
  if (g_stateResetCount == kMaxStateResets) return false;
  g_stateResets[g_stateResetCount++] = reset;
  return true;
}

}  // namespace crv
