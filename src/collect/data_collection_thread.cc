#include "collect/data_collection_thread.h"

#include <cstdint>

#include "collect/if_list.h"
#include "common/alloc.h"
#include "common/process_state.h"
#include "common/report.h"
#include "platform/platform.h"
#include "service/dc_struct.h"
#include "trap/trap.h"

namespace crv {
namespace {

constexpr int32_t kBuildRetries = 4;

uint32_t LastError() { return platform::Os().kernel->GetLastError(); }

// The thread's own state; nothing here is shared with another thread.
class Collector {
 public:
  explicit Collector(const DCStruct& shared)
      : wakeEvents_{shared.wakeEvents[0], shared.wakeEvents[1]},
        configuredInterval_(shared.pollInterval) {}

  void Start() {
    trap_ = NewObject<CTrap>();
    if (trap_ == nullptr) {
      // The thread goes on without one: no condition is carried and no trap is written.
      lastError_ = LastError();
      Report(kReportAllocationFailed, nullptr, lastError_);
      Report(kReportTrapSinkNotCreated, nullptr, lastError_);
      ReportInfo(u"DataCollectionThread: failure to create CTrap", lastError_);
    }
    State().pollInterval = configuredInterval_;
    if (InitializeDataCollection(&list_, trap_) == 0) {
      needInit_ = false;
      list_->PublishCycle();
    }
  }

  // One pass of the loop: announce the wait, wait, act on how it ended.
  void Pass() {
    uint32_t& waitTime = State().pollInterval;
    if (!needInit_) waitTime = configuredInterval_;  // while building, the doubled wait stays
    ReportInfo(u"Collect poll Timeout", waitTime);
    uint32_t result =
        platform::Os().kernel->WaitForMultipleObjects(2, wakeEvents_, false, waitTime);
    if (result < platform::kWaitObject0 + 2) return;  // a wake event only cuts the wait short
    switch (result) {
      case platform::kWaitTimeout:
        if (needInit_) {
          Retry();
        } else {
          Poll();
        }
        break;
      case platform::kWaitFailed:
        lastError_ = LastError();
        Report(kReportWaitFailed, nullptr, lastError_);
        break;
      default:
        ReportInfo(u"DataCollectionThread: default case", 0);
        break;
    }
  }

 private:
  void Retry() {
    if (InitializeDataCollection(&list_, trap_) == 0) {
      needInit_ = false;
      list_->PublishCycle();
      retriesLeft_ = kBuildRetries;
      return;
    }
    State().pollInterval *= 2;  // 32-bit: an interval of 2^31 ms or more loses its top bit
    if (retriesLeft_ == 0) {
      ReportInfo(u"DataCollectionThread: init failed after retries.", lastError_);
      platform::Os().kernel->EndThread();
    }
    --retriesLeft_;
  }

  void Poll() {
    if (list_ != nullptr && list_->HasInterfaceTableChanged() == 0) {
      list_->PublishCycle();
      return;
    }
    ReportInfo(u"Detected change in interface table, reinitializing", 0);
    DeleteObject(list_);  // deletes the published tree
    list_ = nullptr;
    if (trap_ != nullptr) trap_->BeginGeneration();
    if (InitializeDataCollection(&list_, trap_) == 0) {
      list_->PublishCycle();
      needInit_ = false;
      retriesLeft_ = kBuildRetries;
    } else {
      needInit_ = true;
    }
  }

  platform::Handle wakeEvents_[2];
  uint32_t configuredInterval_;
  CTrap* trap_ = nullptr;    // lives as long as the thread
  CIFList* list_ = nullptr;  // the current model; null while no build has succeeded
  bool needInit_ = true;
  int32_t retriesLeft_ = kBuildRetries;
  uint32_t lastError_ = 0;  // the last Win32 error the thread recorded
};

}  // namespace

uint32_t InitializeDataCollection(CIFList** list, CTrap* trap) {
  *list = NewObject<CIFList>();
  if (*list == nullptr) {
    ReportInfo(u"InitializeDataCollection: NULL IFList", 0);
    return kReportAllocationFailed;
  }
  uint32_t status = (*list)->Build(trap);
  if (status != 0) {
    DeleteObject(*list);
    *list = nullptr;
  }
  return status;
}

void DataCollectionThread(void* argument) {
  Collector collector(*static_cast<const DCStruct*>(argument));
  collector.Start();
  for (;;) collector.Pass();
}

}  // namespace crv
