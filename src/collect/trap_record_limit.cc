#include "collect/trap_record_limit.h"

#include "common/alloc.h"
#include "common/report.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "service/nic_service.h"
#include "trap/trap_record_writer.h"

namespace crv {

uint32_t ReadTrapRecordLimit() {
  CRegistryKey parameters = RootKey().Open(kParametersKeyPath, platform::kKeyRead, false);
  if (parameters.LastError() != 0) return kDefaultTrapRecordLimit;
  uint32_t type = 0;
  uint32_t length = 0;
  uint8_t* data = parameters.QueryValue(kTrapRecordLimitValueName, &type, &length, false);
  if (data == nullptr) return kDefaultTrapRecordLimit;
  uint32_t limit = 0;
  if (type == platform::kRegDword && length == 4) {
    limit = uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
            uint32_t{data[3]} << 24;
  }
  FreeBlock(data);
  if (limit == 0) return kDefaultTrapRecordLimit;
  if (limit >= kMinimumTrapRecordLimit && limit <= kMaximumTrapRecordLimit) return limit;
  uint32_t taken =
      limit < kMinimumTrapRecordLimit ? kMinimumTrapRecordLimit : kMaximumTrapRecordLimit;
  ReportInfo(u"TrapRecordLimit out of range, using", taken);
  return taken;
}

}  // namespace crv
