// What the service control manager does when the service fails: the recovery actions that
// "-install" sets on the service it registers.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace crv {

// Restart after a minute, twice; from the third failure on, after five minutes. The count of
// failures goes back to 0 after a day without one.
inline constexpr platform::ScAction kRecoveryActions[] = {
    {platform::kScActionRestart, 60000},
    {platform::kScActionRestart, 60000},
    {platform::kScActionRestart, 300000},
};
constexpr uint32_t kRecoveryResetPeriodS = 86400;

// Sets the actions, and makes a stop with an error count as a failure (the host reports the
// agent's end after a stalled collection pass as such a stop, not as a crash). False at the
// first call that fails, with the reason in the last error.
bool SetRecoveryActions(platform::ScHandle service);

}  // namespace crv
