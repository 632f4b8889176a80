#include "service/collection_watchdog.h"

#include <atomic>

#include "common/report.h"
#include "events/event_writer.h"
#include "platform/platform.h"

namespace crv {

void MarkPassStarted(DCStruct& shared) {
  std::atomic_ref<uint64_t>(shared.passStartedMs)
      .store(platform::Os().kernel->GetTickCount64(), std::memory_order_relaxed);
  std::atomic_ref<uint32_t>(shared.passRunning).store(1, std::memory_order_release);
}

void MarkPassEnded(DCStruct& shared) {
  std::atomic_ref<uint32_t>(shared.passRunning).store(0, std::memory_order_release);
}

uint64_t StalledPassStart(DCStruct& shared, uint64_t nowMs) {
  if (std::atomic_ref<uint32_t>(shared.passRunning).load(std::memory_order_acquire) == 0) return 0;
  // Read after the flag: a pass that started since is younger, never older, than the one seen.
  const uint64_t started =
      std::atomic_ref<uint64_t>(shared.passStartedMs).load(std::memory_order_relaxed);
  if (nowMs < started || nowMs - started <= StallLimitMs(shared.pollInterval)) return 0;
  return started == 0 ? 1 : started;  // never 0 for a stalled pass
}

void ReportStalledPass(uint64_t runningMs) {
  const uint64_t seconds = runningMs / 1000;
  const uint32_t shown = seconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(seconds);
  Report(kReportCollectionStalled, u"Collection pass stalled, seconds", shown);
  WriteCollectionStalledEvent(shown);
}

}  // namespace crv
