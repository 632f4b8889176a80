#include "service/recovery_actions.h"

#include <iterator>

#include "platform/platform.h"

namespace crv {

bool SetRecoveryActions(platform::ScHandle service) {
  platform::ServiceManager& scm = *platform::Os().services;
  return scm.SetFailureActions(service, kRecoveryResetPeriodS, kRecoveryActions,
                               static_cast<uint32_t>(std::size(kRecoveryActions))) &&
         scm.SetFailureActionsOnNonCrashFailures(service, true);
}

}  // namespace crv
