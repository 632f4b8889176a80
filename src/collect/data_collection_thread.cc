#include "collect/data_collection_thread.h"

#include <cstdint>

#include "common/process_state.h"
#include "common/report.h"
#include "platform/platform.h"
#include "service/dc_struct.h"

namespace crv {
namespace {

// The thread's own state; nothing here is shared with another thread.
class Collector {
 public:
  explicit Collector(const DCStruct& shared)
      : wakeEvents_{shared.wakeEvents[0], shared.wakeEvents[1]},
        configuredInterval_(shared.pollInterval) {}

  void Start() { State().pollInterval = configuredInterval_; }

  // One pass of the loop: announce the wait, wait, act on how it ended.
  void Pass() {
    uint32_t waitTime = State().pollInterval;
    ReportInfo(u"Collect poll Timeout", waitTime);
    uint32_t result =
        platform::Os().kernel->WaitForMultipleObjects(2, wakeEvents_, false, waitTime);
    if (result < platform::kWaitObject0 + 2) {
      // A wake event only cuts the wait short.
      return;
    }
    switch (result) {
      case platform::kWaitTimeout:
        OnTimeout();
        break;
      case platform::kWaitFailed:
        lastError_ = platform::Os().kernel->GetLastError();
        Report(kReportWaitFailed, nullptr, lastError_);
        break;
      default:
        ReportInfo(u"DataCollectionThread: default case", 0);
        break;
    }
  }

 private:
  // A quiet poll interval has passed; there is no model yet to refresh.
  void OnTimeout() {}

  platform::Handle wakeEvents_[2];
  uint32_t configuredInterval_;
  uint32_t lastError_ = 0;  // the last Win32 error the thread recorded
};

}  // namespace

void DataCollectionThread(void* argument) {
  Collector collector(*static_cast<const DCStruct*>(argument));
  collector.Start();
  for (;;) collector.Pass();
}

}  // namespace crv
