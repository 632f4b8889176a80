// What the service object hands the collection thread. The service fills it completely
// before the thread starts and never writes it afterwards, so the thread reads it unlocked.
// The pass marks are the one exception: the collection thread writes them and the service's
// thread reads them, both only through collection_watchdog.h.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace crv {

class CMsgQueue;

// The poll interval's range in milliseconds. The upper bound keeps every wait finite (all
// ones would be INFINITE) and leaves room to double a failed build's wait without wrapping.
constexpr uint32_t kMinimumPollInterval = 30000;
constexpr uint32_t kMaximumPollInterval = 86400000;  // one day

struct DCStruct {
  CMsgQueue* queue;  // the service's, not owned
  // The SCM event, then the init event (not owned): setting either one cuts the collection
  // loop's current wait short.
  platform::Handle wakeEvents[2];
  platform::Handle commandDoneEvent;  // not owned
  uint32_t* command;                  // the service's command word; stays 0
  uint32_t pollInterval;              // milliseconds, within the range above
  uint32_t runAsService;              // the service's flag when the structure was made
  uint64_t passStartedMs;             // GetTickCount64 when the pass under way started
  uint32_t passRunning;               // 1 while a pass is under way
};

}  // namespace crv
