#include "vendor/vendor_libraries.h"

#include <cstring>

#include "common/alloc.h"
#include "common/process_state.h"
#include "common/report.h"
#include "platform/platform.h"

namespace crv {
namespace {

constexpr uint32_t kInitializeTries = 6;
constexpr uint32_t kInitializeSleepMs = 1000;
constexpr uint32_t kUnloadSleepMs = 100;
constexpr uint32_t kVbdAllocationFailed = 1;
// qlmapia.dll: a NIC of this type whose enumeration info cannot be had is taken as the
// adapter's virtual bus driver.
constexpr uint32_t kQLmapiVbdEntryType = 6;

VendorLibraryState& LibraryState() {
  static VendorLibraryState state;
  static const bool resetRegistered = RegisterStateReset(&ResetVendorLibraries);
  (void)resetRegistered;
  return state;
}

platform::DynamicLibrary& Libraries() { return *platform::Os().libraries; }

void Sleep(uint32_t milliseconds) { platform::Os().kernel->SleepEx(milliseconds, false); }

template <class Fn>
void Resolve(platform::Module module, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(Libraries().GetProcAddress(module, name));
}

void ResolveAll(QLmapiLibrary& l) {
  Resolve(l.module, "QLmapiInitializeEx", l.initializeEx);
  Resolve(l.module, "QLmapiUninitialize", l.uninitialize);
  Resolve(l.module, "QLmapiGetHandleByServiceName", l.getHandleByServiceName);
  Resolve(l.module, "QLmapiGetBRCMNicInfo", l.getBRCMNicInfo);
  Resolve(l.module, "QLmapiRetrieveLinkStatus", l.retrieveLinkStatus);
  Resolve(l.module, "QLmapiGetPhyNic", l.getPhyNic);
  Resolve(l.module, "QLmapiGetNumPhyNic", l.getNumPhyNic);
  Resolve(l.module, "QLmapiGetAllPhyNic", l.getAllPhyNic);
  Resolve(l.module, "QLmapiGetVbdEnumInfo", l.getVbdEnumInfo);
  Resolve(l.module, "QLmapiGet5706FwInfo", l.get5706FwInfo);
  Resolve(l.module, "QLmapiGet57710FwInfo", l.get57710FwInfo);
  Resolve(l.module, "QLmapiGet579XXFwInfo", l.get579XXFwInfo);
}

void ResolveAll(BmapiLibrary& l) {
  Resolve(l.module, "BmapiInitializeEx", l.initializeEx);
  Resolve(l.module, "BmapiUninitialize", l.uninitialize);
  Resolve(l.module, "BmapiGetHandleByServiceName", l.getHandleByServiceName);
  Resolve(l.module, "BmapiGetBRCMNicInfo", l.getBRCMNicInfo);
  Resolve(l.module, "BmapiGetNumPhyNic", l.getNumPhyNic);
  Resolve(l.module, "BmapiGetAllPhyNic", l.getAllPhyNic);
  Resolve(l.module, "BmapiGetVbdEnumInfo", l.getVbdEnumInfo);
  Resolve(l.module, "BmapiGetFirmwareInfo", l.getFirmwareInfo);
  Resolve(l.module, "BmapiGet5706FwInfo", l.get5706FwInfo);
  Resolve(l.module, "BmapiGet57710FwInfo", l.get57710FwInfo);
}

// Gives the module back and forgets it with every entry point, so that nothing can call
// into a library that is gone.
template <class Library>
void Unload(Library& library) {
  if (library.module != nullptr) Libraries().FreeLibrary(library.module);
  uint32_t initialised = library.initialised;
  library = Library{};
  library.initialised = initialised;
}

// The initialise operation, the same for both libraries.
template <class Library>
uint32_t Initialize(Library& library, platform::Module (*load)(), const char16_t* succeeded,
                    const char16_t* failed) {
  if (library.initialised == 0 && load() != nullptr) {
    // The sleep comes before every try: a library just loaded needs a moment.
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
  if (library.module != nullptr && library.initialised == 0) Unload(library);
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
    Unload(library);
    ReportInfo(afterSleep, 0);
  }
  return library.initialised == 0 ? 1 : 0;
}

uint32_t ReadWord(const uint8_t* record, size_t offset) {
  uint32_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

// The virtual bus driver look-up, the same for both libraries but for the type-6 rule.
template <class Library>
uint32_t FindVbdHandle(const Library& library, uint32_t adapterHandle, uint32_t* vbdHandle,
                       bool takeTypeSixOnFailure) {
  if (library.getNumPhyNic == nullptr || library.getAllPhyNic == nullptr ||
      library.getVbdEnumInfo == nullptr) {
    return kVbdEntryPointMissing;
  }
  uint32_t count = 0;
  uint32_t status = library.getNumPhyNic(&count);
  if (status != 0) return status;
  auto* entries = static_cast<uint8_t*>(AllocateZeroed(size_t{count} * kPhyNicEntrySize));
  if (entries == nullptr) return kVbdAllocationFailed;
  status = library.getAllPhyNic(entries, count);
  if (status == 0) {
    status = kVbdNotFound;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = entries + size_t{i} * kPhyNicEntrySize;
      uint32_t nic = ReadWord(entry, kPhyNicEntryHandleOffset);
      uint8_t enumInfo[kVbdEnumInfoSize] = {};
      std::memcpy(enumInfo, &kVbdEnumInfoVersion, sizeof kVbdEnumInfoVersion);
      if (library.getVbdEnumInfo(nic, enumInfo) == 0) {
        if (ReadWord(enumInfo, kVbdEnumInfoOwnerOffset) != adapterHandle) continue;
      } else if (!takeTypeSixOnFailure ||
                 ReadWord(entry, kPhyNicEntryTypeOffset) != kQLmapiVbdEntryType) {
        continue;
      }
      *vbdHandle = nic;
      status = 0;
      break;
    }
  }
  FreeBlock(entries);
  return status;
}

}  // namespace

VendorLibraryState& VendorLibraries() { return LibraryState(); }

void ResetVendorLibraries() {
  LibraryState().qlmapi = QLmapiLibrary{};
  LibraryState().bmapi = BmapiLibrary{};
  LibraryState().bmapiLocal = BmapiLocalLibrary{};
  LibraryState().searchReports = LibrarySearchReports{};
}

platform::Module LoadQMAPI() {
  QLmapiLibrary& library = LibraryState().qlmapi;
  library.initializeEx = nullptr;
  if (library.module != nullptr) return library.module;
  library.module = LoadVendorLibrary(u"qlmapia.dll");
  if (library.module == nullptr) return nullptr;
  ReportInfo(u"QLmapi Loaded", 0);
  ResolveAll(library);
  ReportInfo(u"QLmapi Loaded OK", 0);
  return library.module;
}

platform::Module LoadBMAPI() {
  BmapiLibrary& library = LibraryState().bmapi;
  library.initializeEx = nullptr;
  library.uninitialize = nullptr;
  library.getHandleByServiceName = nullptr;
  library.getBRCMNicInfo = nullptr;
  if (library.module == nullptr) library.module = LoadVendorLibrary(u"bmapia.dll");
  if (library.module != nullptr) {
    ReportInfo(u"Bmapi Loaded", 0);
    ResolveAll(library);
  }
  return library.module;
}

uint32_t InitializeQMAPI() {
  return Initialize(LibraryState().qlmapi, &LoadQMAPI,
                    u"InitializeQMAPI: QLmapiInitializeEx() succeeded",
                    u"QLmapi Failed @InitializeQMAPI");
}

uint32_t InitializeBMAPI() {
  return Initialize(LibraryState().bmapi, &LoadBMAPI,
                    u"InitializeBMAPI: BmapiInitializeEx() succeeded",
                    u"Bmapi Failed @InitializeBMAPI");
}

uint32_t UnInitializeQMAPI(uint32_t queryOnly) {
  return UnInitialize(LibraryState().qlmapi, queryOnly,
                      u"UnInitializeQMAPI: QmapiUninitialize() returned; QMAPI.dll unloaded",
                      u"Returning from sleep after QmapiUnitialize");
}

uint32_t UnInitializeBMAPI(uint32_t queryOnly) {
  return UnInitialize(LibraryState().bmapi, queryOnly,
                      u"UnInitializeBMAPI: BmapiUninitialize() returned; BMAPI.dll unloaded",
                      u"Returning from sleep after BmapiUnitialize");
}

uint32_t GetQLVBDHandle(uint32_t adapterHandle, uint32_t* vbdHandle) {
  return FindVbdHandle(LibraryState().qlmapi, adapterHandle, vbdHandle, true);
}

uint32_t GetVBDHandle(uint32_t adapterHandle, uint32_t* vbdHandle) {
  return FindVbdHandle(LibraryState().bmapi, adapterHandle, vbdHandle, false);
}

bool QLmapiGetHandleByServiceNameAvailable() {
  return LibraryState().qlmapi.getHandleByServiceName != nullptr;
}
bool QLmapiRetrieveLinkStatusAvailable() {
  return LibraryState().qlmapi.retrieveLinkStatus != nullptr;
}
bool BmapiGetHandleByServiceNameAvailable() {
  return LibraryState().bmapi.getHandleByServiceName != nullptr;
}
bool BmapiGetBRCMNicInfoAvailable() { return LibraryState().bmapi.getBRCMNicInfo != nullptr; }

uint32_t QLmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle) {
  *handle = 0;
  auto entry = LibraryState().qlmapi.getHandleByServiceName;
  return entry != nullptr ? entry(serviceName, handle) : platform::kErrorProcNotFound;
}

uint32_t QLmapiRetrieveLinkStatus(uint32_t handle, void* linkStatus) {
  auto entry = LibraryState().qlmapi.retrieveLinkStatus;
  return entry != nullptr ? entry(handle, linkStatus) : platform::kErrorProcNotFound;
}

uint32_t BmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle) {
  *handle = 0;
  auto entry = LibraryState().bmapi.getHandleByServiceName;
  return entry != nullptr ? entry(serviceName, handle) : platform::kErrorProcNotFound;
}

uint32_t BmapiGetBRCMNicInfo(uint32_t handle, void* nicInfo) {
  auto entry = LibraryState().bmapi.getBRCMNicInfo;
  return entry != nullptr ? entry(handle, nicInfo) : platform::kErrorProcNotFound;
}

}  // namespace crv
