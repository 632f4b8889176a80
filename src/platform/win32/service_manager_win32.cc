// advapi32 service control manager calls. Failures leave the reason in the thread's last
// error, where the agent reads it through the kernel interface.
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

class Win32ServiceManager final : public ServiceManager {
 public:
  ScHandle OpenSCManager(const char16_t* machineName, const char16_t* databaseName,
                         uint32_t access) override {
    return FromSdk(OpenSCManagerW(Wide(machineName), Wide(databaseName), access));
  }

  ScHandle OpenService(ScHandle manager, const char16_t* serviceName, uint32_t access) override {
    return FromSdk(OpenServiceW(ToSdk(manager), Wide(serviceName), access));
  }

  ScHandle CreateService(ScHandle manager, const char16_t* serviceName, const char16_t* displayName,
                         uint32_t access, uint32_t serviceType, uint32_t startType,
                         uint32_t errorControl, const char16_t* binaryPathName,
                         const char16_t* loadOrderGroup, const char16_t* dependencies,
                         const char16_t* serviceStartName, const char16_t* password) override {
    return FromSdk(CreateServiceW(ToSdk(manager), Wide(serviceName), Wide(displayName), access,
                                  serviceType, startType, errorControl, Wide(binaryPathName),
                                  Wide(loadOrderGroup), nullptr, Wide(dependencies),
                                  Wide(serviceStartName), Wide(password)));
  }

  bool ControlService(ScHandle service, uint32_t control, ServiceStatus* status) override {
    return ::ControlService(ToSdk(service), control, reinterpret_cast<SERVICE_STATUS*>(status));
  }

  bool DeleteService(ScHandle service) override { return ::DeleteService(ToSdk(service)); }

  bool CloseServiceHandle(ScHandle handle) override { return ::CloseServiceHandle(ToSdk(handle)); }

  bool SetFailureActions(ScHandle service, uint32_t resetPeriodS, const ScAction* actions,
                         uint32_t count) override {
    static_assert(sizeof(ScAction) == sizeof(SC_ACTION));
    SERVICE_FAILURE_ACTIONSW failureActions = {};
    failureActions.dwResetPeriod = resetPeriodS;
    failureActions.cActions = count;
    failureActions.lpsaActions = reinterpret_cast<SC_ACTION*>(const_cast<ScAction*>(actions));
    return ChangeServiceConfig2W(ToSdk(service), SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions);
  }

  bool SetFailureActionsOnNonCrashFailures(ScHandle service, bool on) override {
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    flag.fFailureActionsOnNonCrashFailures = on ? TRUE : FALSE;
    return ChangeServiceConfig2W(ToSdk(service), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
  }

  bool QueryFailureActions(ScHandle service, uint32_t* resetPeriodS, ScAction* actions,
                           uint32_t capacity, uint32_t* count) override {
    // The structure, its texts and its actions in one block; 8 KiB is the documented maximum.
    alignas(SERVICE_FAILURE_ACTIONSW) static thread_local BYTE buffer[8192];
    DWORD needed = 0;
    if (!QueryServiceConfig2W(ToSdk(service), SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof buffer,
                              &needed)) {
      return false;
    }
    const auto* answer = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer);
    *resetPeriodS = answer->dwResetPeriod;
    *count = answer->cActions;
    for (uint32_t i = 0; i < answer->cActions && i < capacity && answer->lpsaActions; ++i) {
      actions[i].type = static_cast<uint32_t>(answer->lpsaActions[i].Type);
      actions[i].delayMs = answer->lpsaActions[i].Delay;
    }
    return true;
  }

  bool QueryFailureActionsOnNonCrashFailures(ScHandle service, bool* on) override {
    SERVICE_FAILURE_ACTIONS_FLAG flag = {};
    DWORD needed = 0;
    if (!QueryServiceConfig2W(ToSdk(service), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG,
                              reinterpret_cast<BYTE*>(&flag), sizeof flag, &needed)) {
      return false;
    }
    *on = flag.fFailureActionsOnNonCrashFailures != FALSE;
    return true;
  }
};

}  // namespace

ServiceManager& ServiceManagerBackend() {
  static Win32ServiceManager services;
  return services;
}

}  // namespace platform::win32
