#include "trap/trap_time.h"

#include "common/process_state.h"

namespace crv {

uint64_t UniqueTrapFileTime(platform::FileTime now) {
  uint64_t time = (uint64_t{now.high} << 32) | now.low;
  uint64_t& last = State().lastTrapFileTime;
  if (time <= last) time = last + 1;
  last = time;
  return time;
}

}  // namespace crv
