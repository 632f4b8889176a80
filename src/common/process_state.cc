#include "common/process_state.h"

#include "inventory/platform_inventory.h"
#include "vendor/vendor_libraries.h"

namespace crv {
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
  ResetVendorLibraries();
  ResetPlatformInventory();
}

}  // namespace crv
