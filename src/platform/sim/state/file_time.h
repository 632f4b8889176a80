// Conversions between Windows file times (100 ns since 1601-01-01 UTC) and calendar times.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace sim {

platform::SystemTime FileTimeToSystemTime(uint64_t fileTime);
// False when a field is out of range, as SystemTimeToFileTime answers.
bool SystemTimeToFileTime(const platform::SystemTime& time, uint64_t* fileTime);

}  // namespace sim
