#include "collect/trap_record_limit.h"

#include "common/report.h"
#include "service/nic_service.h"
#include "trap/trap_record_writer.h"

namespace crv {

uint32_t ReadTrapRecordLimit() {
  // Another type reads as 0, which gives the default as well.
  uint32_t limit = 0;
  if (!ReadParameterDword(kTrapRecordLimitValueName, &limit, false) || limit == 0) {
    return kDefaultTrapRecordLimit;
  }
  if (limit >= kMinimumTrapRecordLimit && limit <= kMaximumTrapRecordLimit) return limit;
  uint32_t taken =
      limit < kMinimumTrapRecordLimit ? kMinimumTrapRecordLimit : kMaximumTrapRecordLimit;
  ReportInfo(u"TrapRecordLimit out of range, using", taken);
  return taken;
}

}  // namespace crv
