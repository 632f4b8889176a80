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
};

}  // namespace

ServiceManager& ServiceManagerBackend() {
  static Win32ServiceManager services;
  return services;
}

}  // namespace platform::win32
