#include "collect/data_collection_thread.h"

#include <cstdint>

#include "collect/if_list.h"
#include "collect/interface_change_watch.h"
#include "collect/link_state_watch.h"
#include "collect/metrics_publisher.h"
#include "collect/trap_record_limit.h"
#include "common/alloc.h"
#include "common/process_state.h"
#include "common/report.h"
#include "common/saturating.h"
#include "events/event_writer.h"
#include "platform/os_access.h"
#include "platform/platform.h"
#include "service/collection_watchdog.h"
#include "service/dc_struct.h"
#include "trap/trap.h"

namespace crv {
namespace {

constexpr int32_t kBuildRetries = 4;

// The thread's own state; nothing here is shared with another thread.
class Collector {
 public:
  explicit Collector(DCStruct& shared)
      : shared_(shared),
        wakeEvents_{shared.wakeEvents[0], shared.wakeEvents[1]},
        configuredInterval_(shared.pollInterval) {}

  void Start() {
    PassMark mark(shared_);
    trap_ = NewObject<CTrap>();
    if (trap_ == nullptr) {
      // The thread goes on without one: no condition is carried and no trap is written.
      lastError_ = LastError();
      Report(kReportAllocationFailed, nullptr, lastError_);
      Report(kReportTrapSinkNotCreated, nullptr, lastError_);
      ReportInfo(u"DataCollectionThread: failure to create CTrap", lastError_);
    } else {
      trap_->SetTrapRecordLimit(ReadTrapRecordLimit());
    }
    State().pollInterval = configuredInterval_;
    const bool immediate = ImmediateUpdatesOn();
    watch_.Start(immediate);
    linkWatch_.Start(immediate);
    metrics_.Start();
    if (InitializeDataCollection(&list_, trap_) == 0) {
      needInit_ = false;
      Publish();
      ArmLinkWatch();
    }
  }

  // One pass of the loop: announce the wait, wait, act on how it ended.
  void Pass() {
    uint32_t& waitTime = State().pollInterval;
    if (!needInit_) waitTime = configuredInterval_;  // while building, the doubled wait stays
    if (pausing_) {
      Pause();
      return;
    }
    // The interval runs from the last pass: after a notified pass and its pause, the next
    // regular one comes one interval after that pass.
    uint32_t wait = waitTime;
    if (wait != platform::kInfinite) wait = SubtractOrZero(wait, pausedMs_);
    pausedMs_ = 0;
    ReportInfo(u"Collect poll Timeout", wait);
    // While a build is failing its retries keep their doubling schedule: notifications wait
    // (the event stays set) until a model exists.
    platform::Handle handles[3] = {wakeEvents_[0], wakeEvents_[1], watch_.Event()};
    uint32_t count = !needInit_ && handles[2] != nullptr ? 3 : 2;
    bool linkChanged = false;
    uint32_t result = Wait(count, handles, wait, &linkChanged);
    PassMark mark(shared_);
    if (linkChanged || (count == 3 && result == platform::kWaitObject0 + 2)) {
      // Notifications that came since (the same change for the other address family, or
      // others) are covered by the pass, which reads everything after this.
      if (count == 3) platform::Os().kernel->WaitForMultipleObjects(1, &handles[2], false, 0);
      Poll();
      pausing_ = true;
      return;
    }
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
  // One cycle published, then the metrics file written from it.
  void Publish() {
    list_->PublishCycle();
    metrics_.Write(*list_, trap_);
  }

  // The poll wait, cut into slices while the link state watch has rows to look at: it looks
  // first (right after a pause, so a change that came during it is not kept waiting) and
  // after every slice. *linkChanged is set when it saw a change.
  uint32_t Wait(uint32_t count, const platform::Handle* handles, uint32_t wait, bool* linkChanged) {
    platform::Kernel& kernel = *platform::Os().kernel;
    if (needInit_ || !linkWatch_.Active()) {
      return kernel.WaitForMultipleObjects(count, handles, false, wait);
    }
    for (;;) {
      if (linkWatch_.Changed()) {
        *linkChanged = true;
        return platform::kWaitTimeout;
      }
      const uint32_t slice = wait < CLinkStateWatch::kPeriodMs ? wait : CLinkStateWatch::kPeriodMs;
      uint32_t result = kernel.WaitForMultipleObjects(count, handles, false, slice);
      if (result != platform::kWaitTimeout) return result;
      if (wait != platform::kInfinite) wait -= slice;
      if (wait == 0 || !linkWatch_.Active()) {
        return wait == 0 ? result : kernel.WaitForMultipleObjects(count, handles, false, wait);
      }
    }
  }

  // After every build: the watch takes the new model's rows, all ports' when no interface
  // change notification will come.
  void ArmLinkWatch() { linkWatch_.Arm(*list_, watch_.Event() == nullptr); }

  void Retry() {
    const uint32_t status = InitializeDataCollection(&list_, trap_);
    if (status == 0) {
      needInit_ = false;
      Publish();
      ArmLinkWatch();
      retriesLeft_ = kBuildRetries;
      return;
    }
    // Doubled up to the longest interval: never past it, so never wrapping to 0 nor
    // reaching all ones (INFINITE).
    uint32_t& wait = State().pollInterval;
    wait = wait > kMaximumPollInterval / 2 ? kMaximumPollInterval : wait * 2;
    if (retriesLeft_ == 0) {
      ReportInfo(u"DataCollectionThread: init failed after retries.", lastError_);
      WriteCollectionStoppedEvent(status);
      watch_.Stop();
      linkWatch_.Stop();
      MarkPassEnded(shared_);  // a thread that ended is not stuck
      platform::Os().kernel->EndThread();
    }
    --retriesLeft_;
  }

  // The pause after a notified pass (a second): notifications only gather, so a flapping port
  // costs at most one extra pass a second, and one that came during the pass or the pause
  // still gets its pass right after. The wake events cut it short and start it again, as they
  // restart a poll wait.
  void Pause() {
    const uint32_t gap = State().notifiedPassGapMs;
    uint32_t result = platform::Os().kernel->WaitForMultipleObjects(2, wakeEvents_, false, gap);
    if (result == platform::kWaitTimeout) {
      pausing_ = false;
      pausedMs_ = gap;
    } else if (result == platform::kWaitFailed) {
      lastError_ = LastError();
      Report(kReportWaitFailed, nullptr, lastError_);
      pausing_ = false;
    }
  }

  void Poll() {
    bool teamsRead = false;
    if (list_ != nullptr && list_->HasInterfaceTableChanged() == 0) {
      teamsRead = list_->TeamsBecameReadable();
      if (!teamsRead) {
        Publish();
        return;
      }
      ReportInfo(u"NIC teaming: the teams can be read now, reinitializing", 0);
    } else {
      ReportInfo(u"Detected change in interface table, reinitializing", 0);
    }
    DeleteObject(list_);  // deletes the published tree
    list_ = nullptr;
    if (trap_ != nullptr) trap_->BeginGeneration();
    if (InitializeDataCollection(&list_, trap_) == 0) {
      if (teamsRead) State().teamsReadCycle = State().cycleCounter + 1;
      Publish();
      ArmLinkWatch();
      needInit_ = false;
      retriesLeft_ = kBuildRetries;
    } else {
      needInit_ = true;
    }
  }

  DCStruct& shared_;  // only for the pass marks
  platform::Handle wakeEvents_[2];
  uint32_t configuredInterval_;
  CInterfaceChangeWatch watch_;
  CLinkStateWatch linkWatch_;
  MetricsPublisher metrics_;
  bool pausing_ = false;     // a notified pass ran: the pause comes next
  uint32_t pausedMs_ = 0;    // a pause that ended: the next poll wait is shorter by it
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
  Collector collector(*static_cast<DCStruct*>(argument));
  collector.Start();
  for (;;) collector.Pass();
}

}  // namespace crv
