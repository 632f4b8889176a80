// The service control manager calls the installation words make (advapi32). Failures
// return null or false and leave the reason in the thread's last error (Kernel).
#pragma once

#include "platform/types.h"

namespace platform {

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  virtual ScHandle OpenSCManager(const char16_t* machineName, const char16_t* databaseName,
                                 uint32_t access) = 0;
  virtual ScHandle OpenService(ScHandle manager, const char16_t* serviceName, uint32_t access) = 0;
  // CreateServiceW. tagId is not supported (always null from the agent).
  virtual ScHandle CreateService(ScHandle manager, const char16_t* serviceName,
                                 const char16_t* displayName, uint32_t access, uint32_t serviceType,
                                 uint32_t startType, uint32_t errorControl,
                                 const char16_t* binaryPathName, const char16_t* loadOrderGroup,
                                 const char16_t* dependencies, const char16_t* serviceStartName,
                                 const char16_t* password) = 0;
  virtual bool ControlService(ScHandle service, uint32_t control, ServiceStatus* status) = 0;
  virtual bool DeleteService(ScHandle service) = 0;
  virtual bool CloseServiceHandle(ScHandle handle) = 0;

  // ChangeServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS): the failure count goes back to 0
  // after resetPeriodS seconds without a failure; the n-th failure runs actions[n - 1], the
  // last one for every failure after. Reboot message and command are left as they are. Needs
  // SERVICE_CHANGE_CONFIG, and SERVICE_START when an action restarts the service.
  virtual bool SetFailureActions(ScHandle service, uint32_t resetPeriodS, const ScAction* actions,
                                 uint32_t count) = 0;
  // ChangeServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG): whether a stop with an exit
  // code other than 0 counts as a failure too (otherwise only a process that ends without
  // reporting stopped does).
  virtual bool SetFailureActionsOnNonCrashFailures(ScHandle service, bool on) = 0;
  // QueryServiceConfig2W of both: the reset period, the actions (their number in *count, at
  // most capacity copied), and the flag. Needs SERVICE_QUERY_CONFIG.
  virtual bool QueryFailureActions(ScHandle service, uint32_t* resetPeriodS, ScAction* actions,
                                   uint32_t capacity, uint32_t* count) = 0;
  virtual bool QueryFailureActionsOnNonCrashFailures(ScHandle service, bool* on) = 0;
};

}  // namespace platform
