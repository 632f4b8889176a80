#include "vendor/vendor_libraries.h"

#include "common/report.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint32_t kInitializeTries = 6;
constexpr uint32_t kInitializeSleepMs = 1000;
constexpr uint32_t kUnloadSleepMs = 100;
constexpr uint32_t kErrorProcNotFound = 127;

VendorLibraryState& State() {
  static VendorLibraryState state;
  return state;
}

void Sleep(uint32_t milliseconds) { platform::Os().kernel->SleepEx(milliseconds, false); }

// Gives the module back to the system. Freeing arrives with dynamic loading; until then no
// module is ever held.
void ReleaseModule(void*& module) { module = nullptr; }

// The initialise operation, the same for both libraries.
template <class Library>
uint32_t Initialize(Library& library, void* (*load)(), const char16_t* succeeded,
                    const char16_t* failed) {
  if (library.initialised == 0 && load() != nullptr) {
    for (uint32_t attempt = 0; attempt < kInitializeTries; ++attempt) {
      Sleep(kInitializeSleepMs);
      if (library.initializeEx == nullptr) continue;
      uint32_t status = library.initializeEx(0);
      if (status == 0) {
        ReportInfo(succeeded, 0);
        library.initialised = 1;
        break;
      }
      ReportInfo(failed, status);
    }
  }
  if (library.module != nullptr && library.initialised == 0) ReleaseModule(library.module);
  return library.initialised;
}

template <class Library>
uint32_t UnInitialize(Library& library, uint32_t queryOnly, const char16_t* returned,
                      const char16_t* afterSleep) {
  if (queryOnly == 0 && library.initialised != 0 && library.uninitialize != nullptr) {
    uint32_t status = library.uninitialize();
    ReportInfo(returned, status);
    library.initialised = 0;
    Sleep(kUnloadSleepMs);
    ReleaseModule(library.module);
    ReportInfo(afterSleep, 0);
  }
  return library.initialised == 0 ? 1 : 0;
}

}  // namespace

VendorLibraryState& VendorLibraries() { return State(); }

void ResetVendorLibraries() { State() = VendorLibraryState{}; }

void* LoadQMAPI() {
  QLmapiLibrary& library = State().qlmapi;
  library.initializeEx = nullptr;
  // "qlmapia.dll" is looked up through the normal library search once the platform can load
  // libraries; its entry points are then resolved, and "QLmapi Loaded" and "QLmapi Loaded OK"
  // reported around the resolving.
  return library.module;
}

void* LoadBMAPI() {
  BmapiLibrary& library = State().bmapi;
  library.initializeEx = nullptr;
  library.uninitialize = nullptr;
  library.getHandleByServiceName = nullptr;
  library.getBRCMNicInfo = nullptr;
  // "bmapia.dll" is looked up through the normal library search once the platform can load
  // libraries; "Bmapi Loaded" is then reported and the entry points resolved.
  return library.module;
}

uint32_t InitializeQMAPI() {
  return Initialize(State().qlmapi, &LoadQMAPI, u"InitializeQMAPI: QLmapiInitializeEx() succeeded",
                    u"QLmapi Failed @InitializeQMAPI");
}

uint32_t InitializeBMAPI() {
  return Initialize(State().bmapi, &LoadBMAPI, u"InitializeBMAPI: BmapiInitializeEx() succeeded",
                    u"Bmapi Failed @InitializeBMAPI");
}

uint32_t UnInitializeQMAPI(uint32_t queryOnly) {
  return UnInitialize(State().qlmapi, queryOnly,
                      u"UnInitializeQMAPI: QmapiUninitialize() returned; QMAPI.dll unloaded",
                      u"Returning from sleep after QmapiUnitialize");
}

uint32_t UnInitializeBMAPI(uint32_t queryOnly) {
  return UnInitialize(State().bmapi, queryOnly,
                      u"UnInitializeBMAPI: BmapiUninitialize() returned; BMAPI.dll unloaded",
                      u"Returning from sleep after BmapiUnitialize");
}

bool QLmapiGetHandleByServiceNameAvailable() {
  return State().qlmapi.getHandleByServiceName != nullptr;
}
bool QLmapiRetrieveLinkStatusAvailable() { return State().qlmapi.retrieveLinkStatus != nullptr; }
bool BmapiGetHandleByServiceNameAvailable() {
  return State().bmapi.getHandleByServiceName != nullptr;
}
bool BmapiGetBRCMNicInfoAvailable() { return State().bmapi.getBRCMNicInfo != nullptr; }

uint32_t QLmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle) {
  *handle = 0;
  auto entry = State().qlmapi.getHandleByServiceName;
  return entry != nullptr ? entry(serviceName, handle) : kErrorProcNotFound;
}

uint32_t QLmapiRetrieveLinkStatus(uint32_t handle, void* linkStatus) {
  auto entry = State().qlmapi.retrieveLinkStatus;
  return entry != nullptr ? entry(handle, linkStatus) : kErrorProcNotFound;
}

uint32_t BmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle) {
  *handle = 0;
  auto entry = State().bmapi.getHandleByServiceName;
  return entry != nullptr ? entry(serviceName, handle) : kErrorProcNotFound;
}

uint32_t BmapiGetBRCMNicInfo(uint32_t handle, void* nicInfo) {
  auto entry = State().bmapi.getBRCMNicInfo;
  return entry != nullptr ? entry(handle, nicInfo) : kErrorProcNotFound;
}

}  // namespace crv
