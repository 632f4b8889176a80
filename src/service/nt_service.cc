#include "service/nt_service.h"

#include "platform/platform.h"
#include "service/console_line.h"

namespace crv {
namespace {
constexpr uint32_t kModulePathChars = 512;

uint32_t LastError() { return platform::Os().kernel->GetLastError(); }
}  // namespace

CNtService::CNtService(const char16_t* name, const char16_t* displayName)
    : name_(name), displayName_(displayName), runAsService_(1) {}

CNtService::~CNtService() = default;

bool CNtService::IsInstalled() {
  platform::ServiceManager& scm = *platform::Os().services;
  platform::ScHandle manager = scm.OpenSCManager(nullptr, nullptr, platform::kScManagerAllAccess);
  if (manager == nullptr) return false;
  platform::ScHandle service = scm.OpenService(manager, name_, platform::kServiceQueryConfig);
  if (service != nullptr) scm.CloseServiceHandle(service);
  scm.CloseServiceHandle(manager);
  return service != nullptr;
}

bool CNtService::Install() {
  if (IsInstalled()) return true;

  platform::ServiceManager& scm = *platform::Os().services;
  platform::ScHandle manager = scm.OpenSCManager(nullptr, nullptr, platform::kScManagerAllAccess);
  if (manager == nullptr) {
    PrintServiceLine(name_, ": Couldn't open service manager");
    return false;
  }

  bool installed = false;
  // The path is registered as the query gives it: no quotes, no arguments, and cut to the
  // buffer when it is longer.
  char16_t modulePath[kModulePathChars];
  if (platform::Os().kernel->GetModuleFileName(modulePath, kModulePathChars) == 0) {
    PrintServiceLine(name_, ": Couldn't get module file name: ", LastError());
  } else {
    modulePath[kModulePathChars - 1] = 0;
    platform::ScHandle service = scm.CreateService(
        manager, name_, displayName_, platform::kServiceAllAccess,
        platform::kServiceWin32OwnProcess, platform::kServiceDemandStart,
        platform::kServiceErrorNormal, modulePath, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
      PrintServiceLine(name_, ": Couldn't create service.");
    } else {
      scm.CloseServiceHandle(service);
      installed = true;
    }
  }
  scm.CloseServiceHandle(manager);
  return installed;
}

bool CNtService::Uninstall() {
  if (!IsInstalled()) return true;

  platform::ServiceManager& scm = *platform::Os().services;
  platform::ScHandle manager = scm.OpenSCManager(nullptr, nullptr, platform::kScManagerAllAccess);
  if (manager == nullptr) {
    PrintServiceLine(name_, ": Couldn't open service manager: ", LastError());
    return false;
  }

  bool uninstalled = false;
  platform::ScHandle service =
      scm.OpenService(manager, name_, platform::kDelete | platform::kServiceStop);
  if (service == nullptr) {
    PrintServiceLine(name_, ": Couldn't open service: ", LastError());
  } else {
    platform::ServiceStatus status;
    if (!scm.ControlService(service, platform::kServiceControlStop, &status)) {
      PrintServiceLine(name_, ": ControlService failed: ", LastError());
    } else if (!scm.DeleteService(service)) {
      PrintServiceLine(name_, ": Service could not be deleted: ", LastError());
    } else {
      uninstalled = true;
    }
    scm.CloseServiceHandle(service);
  }
  scm.CloseServiceHandle(manager);
  return uninstalled;
}

int32_t CNtService::Start() {
  runAsService_ = 0;
  if (!Initialize()) return 0;
  RunAsExe();
  return 0;
}

bool CNtService::Initialize() { return true; }

}  // namespace crv
