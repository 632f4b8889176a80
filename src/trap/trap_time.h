// The time a trap record is named after. Trap records are values named after the system
// time they were written at; the system clock advances in ticks of a millisecond or more, so
// two ports changing in the same poll cycle would name their records alike and the second
// would overwrite the first. Each trap therefore takes the current time, or, when that is not
// later than the previous trap's, the previous trap's time plus one 100-ns step: every record
// keeps its own value and the names keep the order the traps were raised in.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace crv {

uint64_t UniqueTrapFileTime(platform::FileTime now);

}  // namespace crv
