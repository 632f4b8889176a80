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
};

}  // namespace platform
