// The module's process-wide state, kept in one place: set at module entry, read and written
// only by the collection thread afterwards, and reset by tests between runs.
#pragma once

#include <cstdint>

#include "common/startup_link_table.h"

namespace crv {

inline constexpr uint32_t kDefaultNotifiedPassGapMs = 1000;

struct ProcessState {
  uint32_t cycleCounter = 0;
  uint32_t agentStartTime = 0;  // 10 ms units, low 32 bits of file time / 100000
  uint32_t pollInterval = 0;    // milliseconds, the collection loop's next wait
  uint32_t nextInterfaceMapNumber = 1;
  uint32_t nextPhysPortNumber = 1;
  uint32_t nextVlanMapNumber = 1;
  StartupLinkTable startupLinks;
  // The cycle that first published the teams after a start without them (0: none): their
  // ports count as present at start, so their first conditions raise nothing.
  uint32_t teamsReadCycle = 0;
  // The file time the last trap record was named after (see trap/trap_time.h).
  uint64_t lastTrapFileTime = 0;
  // Whether searches may use the indexes beside the lists (common/list_index.h); switched
  // off only to compare the agent with and without them.
  bool useListIndexes = true;
  // The collection thread's pause after a pass an interface change notification started,
  // in which further notifications only gather (collect/data_collection_thread.h); changed
  // only to measure the agent without the limit.
  uint32_t notifiedPassGapMs = kDefaultNotifiedPassGapMs;
  // Whether a failure to read the interface flags that mark filter rows was reported: once
  // is enough, the interface table is read at every poll.
  bool filterFlagsFailureReported = false;
};

ProcessState& State();

// Back to the state of a freshly loaded module (frees the start-up link table), with the
// process-wide state of the layers above registered by RegisterStateReset.
void ResetProcessState();

// The layers above keep process-wide state of their own (the vendor libraries, the platform
// inventory); each registers how to reset it when it first creates it, so that this layer
// knows none of them. Registering the same function again changes nothing. False when the
// table of kMaxStateResets functions is full.
inline constexpr uint32_t kMaxStateResets = 4;
bool RegisterStateReset(void (*reset)());

}  // namespace crv
