#include "service/nt_service.h"

#include "common/report.h"
#include "platform/os_access.h"
#include "platform/platform.h"
#include "service/console_line.h"
#include "service/recovery_actions.h"

namespace crv {
namespace {
constexpr uint32_t kModulePathChars = 512;

// path[0] is free and the text from path[1] on has room for one more character after it.
// Returns the text itself when it has no blank, or the text in double quotes built in place.
const char16_t* QuoteIfBlank(char16_t* path) {
  char16_t* text = path + 1;
  size_t length = 0;
  bool blank = false;
  for (; text[length] != 0; ++length) blank = blank || text[length] == u' ';
  if (!blank) return text;
  path[0] = u'"';
  text[length] = u'"';
  text[length + 1] = 0;
  return path;
}
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
  // The image path is the executable's path as the query gives it, cut to the buffer when it
  // is longer, and without arguments. A path with a blank is put in double quotes: unquoted,
  // the service control manager would try each blank-ended prefix as a program first
  // ("C:\Program.exe" before "C:\Program Files\...").
  char16_t imagePath[1 + kModulePathChars + 1];
  char16_t* modulePath = imagePath + 1;
  if (platform::Os().libraries->GetModuleFileName(nullptr, modulePath, kModulePathChars) == 0) {
    PrintServiceLine(name_, ": Couldn't get module file name: ", LastError());
  } else {
    modulePath[kModulePathChars - 1] = 0;
    const char16_t* registered = QuoteIfBlank(imagePath);
    platform::ScHandle service = scm.CreateService(
        manager, name_, displayName_, platform::kServiceAllAccess,
        platform::kServiceWin32OwnProcess, platform::kServiceDemandStart,
        platform::kServiceErrorNormal, registered, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
      PrintServiceLine(name_, ": Couldn't create service.");
    } else {
      // Without them the service stays installed, only not restarted after a failure; the
      // console lines stay those of an installation.
      if (!SetRecoveryActions(service)) {
        ReportInfo(u"CNtService::Install: failure setting the recovery actions", LastError());
      }
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
