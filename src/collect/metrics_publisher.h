// The metrics file the service keeps current itself: when the REG_SZ (or REG_EXPAND_SZ)
// MetricsFile under the parameters key names a file, every published cycle is also written
// there as Prometheus metrics (metrics/prometheus_metrics.h), whole or not at all
// (metrics/metrics_file.h). Frame and octet counts come from the system's 64-bit interface
// counters, which do not wrap between two scrapes on a busy link as the tree's 32-bit ones
// do, and speeds are the model's own 64-bit figures. A failed write is reported once, until
// a write succeeds again, and tried again at the next cycle.
#pragma once

#include <cstdint>

#include "metrics/metrics_file.h"
#include "metrics/metrics_text.h"

namespace crv {

class CIFList;
class CTrap;

inline constexpr char16_t kMetricsFileValueName[] = u"MetricsFile";

class MetricsPublisher {
 public:
  // Reads MetricsFile; without it (or with an empty one) Write does nothing.
  void Start();
  // Writes the list's model as it was just published.
  void Write(const CIFList& list, const CTrap* trap);
  bool On() const { return path_[0] != 0; }

 private:
  char16_t path_[kMaxMetricsPathChars + 1] = {};
  MetricsText text_;
  bool failing_ = false;          // the last write failed and was reported
  bool ifEntryReported_ = false;  // a GetIfEntry2 that failed was reported
};

}  // namespace crv
