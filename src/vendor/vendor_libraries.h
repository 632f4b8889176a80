// The adapter vendors' management libraries (qlmapia.dll with the QLmapi entry points,
// bmapia.dll with the Bmapi ones): process-wide state, initialisation around each query, and
// the entry points the link procedures of the miniports call.
//
// The libraries are optional and lie outside the agent; they are found by name at run time.
// Loading them needs dynamic loading (LoadLibraryW, GetProcAddress, FreeLibrary), which the
// platform does not offer yet: until it does, LoadQMAPI and LoadBMAPI find no library, the
// initialise operations answer 0 at once, and every caller takes its "library not usable"
// path. The state, the initialisation tries and the release already follow the libraries'
// rules, so that only the loading and the resolving of entry points remain to be filled in.
#pragma once

#include <cstdint>

namespace crv {

// Entry point signatures. Every status is 0 for success; handles are 32-bit values.
using QLmapiInitializeExFn = uint32_t (*)(uint32_t reserved);
using QLmapiUninitializeFn = uint32_t (*)();
using QLmapiGetHandleByServiceNameFn = uint32_t (*)(const char16_t* serviceName, uint32_t* handle);
using QLmapiRetrieveLinkStatusFn = uint32_t (*)(uint32_t handle, void* linkStatus);
using BmapiInitializeExFn = uint32_t (*)(uint32_t reserved);
using BmapiUninitializeFn = uint32_t (*)();
using BmapiGetHandleByServiceNameFn = uint32_t (*)(const char16_t* serviceName, uint32_t* handle);
using BmapiGetBRCMNicInfoFn = uint32_t (*)(uint32_t handle, void* nicInfo);

// Record sizes and the offsets the agent reads (the rest belongs to the libraries).
constexpr uint32_t kBmapiNicInfoSize = 112;
constexpr uint32_t kBmapiNicInfoDuplexOffset = 84;
constexpr uint32_t kQLmapiLinkStatusSize = 28;
constexpr uint32_t kQLmapiLinkStatusDuplexOffset = 20;

// One library: its module, whether it is initialised, and the entry points resolved from it
// (null when missing; every caller tests the ones it needs).
struct QLmapiLibrary {
  void* module = nullptr;
  uint32_t initialised = 0;
  QLmapiInitializeExFn initializeEx = nullptr;
  QLmapiUninitializeFn uninitialize = nullptr;
  QLmapiGetHandleByServiceNameFn getHandleByServiceName = nullptr;
  QLmapiRetrieveLinkStatusFn retrieveLinkStatus = nullptr;
};

struct BmapiLibrary {
  void* module = nullptr;
  uint32_t initialised = 0;
  BmapiInitializeExFn initializeEx = nullptr;
  BmapiUninitializeFn uninitialize = nullptr;
  BmapiGetHandleByServiceNameFn getHandleByServiceName = nullptr;
  BmapiGetBRCMNicInfoFn getBRCMNicInfo = nullptr;
};

struct VendorLibraryState {
  QLmapiLibrary qlmapi;
  BmapiLibrary bmapi;
};

// The process-wide state of both libraries (touched only by the collection thread).
VendorLibraryState& VendorLibraries();
// Back to "nothing loaded", as at module load (for tests).
void ResetVendorLibraries();

// Loads the library and resolves its entry points; the module, or null when the library is
// absent. Without dynamic loading on the platform the library is always absent.
void* LoadQMAPI();
void* LoadBMAPI();

// Initialises the library (loading it first when needed): 1 when it is initialised, else 0.
// Up to six tries, each after a one-second sleep; a library that cannot be initialised is
// unloaded again before the answer.
uint32_t InitializeQMAPI();
uint32_t InitializeBMAPI();

// With queryOnly 0: uninitialises and unloads the library. Answers 1 when the library is
// not (or no longer) initialised, else 0; with a non-zero queryOnly nothing changes.
uint32_t UnInitializeQMAPI(uint32_t queryOnly);
uint32_t UnInitializeBMAPI(uint32_t queryOnly);

// Whether the entry points are there.
bool QLmapiGetHandleByServiceNameAvailable();
bool QLmapiRetrieveLinkStatusAvailable();
bool BmapiGetHandleByServiceNameAvailable();
bool BmapiGetBRCMNicInfoAvailable();

// The entry points. The adapter is found by its service name, which for these libraries is
// the adapter's instance GUID in braces. The handle is preset to 0; a missing entry point
// answers 127 (ERROR_PROC_NOT_FOUND).
uint32_t QLmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle);
uint32_t QLmapiRetrieveLinkStatus(uint32_t handle, void* linkStatus);
uint32_t BmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle);
uint32_t BmapiGetBRCMNicInfo(uint32_t handle, void* nicInfo);

}  // namespace crv
