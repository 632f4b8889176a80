// The watchdog on the collection thread: the thread marks when each pass starts and ends, and
// the service's own thread, which otherwise only waits, checks the marks with a bounded wait.
// A pass under way for longer than the stall limit is stuck in a call that does not come back
// (a miniport that never completes a request, a vendor library that hangs): it is reported,
// written to the Event Log as a warning, and the service ends with an error so that the
// service control manager's recovery actions start it again.
#pragma once

#include <cstdint>

#include "service/dc_struct.h"

namespace crv {

// The longest wait of a single bounded read (a WMI read's budget, lbfo_teams.cc and
// efx_firmware.cc), and how many of them one pass may make in full before it counts as stuck.
constexpr uint64_t kLongestBoundedWaitMs = 30000;
constexpr uint64_t kBoundedWaitsPerPass = 10;
// How often the service's thread looks at the marks.
constexpr uint32_t kWatchdogCheckMs = 15000;
// What the service reports as its service-specific exit code after a stall.
constexpr int32_t kExitCollectionStalled = 2;

// A pass stuck for longer than this has stalled: ten full bounded waits, which no slow but
// working server reaches in one pass, plus one poll interval, so that a consumer has missed a
// whole update before the agent is restarted.
constexpr uint64_t StallLimitMs(uint32_t pollInterval) {
  return kBoundedWaitsPerPass * kLongestBoundedWaitMs + pollInterval;
}

// The collection thread's marks, from the start of a pass's work to its end.
void MarkPassStarted(DCStruct& shared);
void MarkPassEnded(DCStruct& shared);
class PassMark {
 public:
  explicit PassMark(DCStruct& shared) : shared_(shared) { MarkPassStarted(shared_); }
  ~PassMark() { MarkPassEnded(shared_); }
  PassMark(const PassMark&) = delete;
  PassMark& operator=(const PassMark&) = delete;

 private:
  DCStruct& shared_;
};

// The service's thread: the start (GetTickCount64) of the pass under way when it has run past
// the stall limit at nowMs; 0 otherwise.
uint64_t StalledPassStart(DCStruct& shared, uint64_t nowMs);

// Reports a stalled pass and writes its warning event (how long it has run, in seconds).
void ReportStalledPass(uint64_t runningMs);

}  // namespace crv
