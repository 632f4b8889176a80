// The adapter vendors' management libraries: qlmapia.dll (QLmapi entry points) and bmapia.dll
// (Bmapi entry points), found through the library search or in their suite's folder on the
// system PATH (path_library_search.h), and bmapi.dll, found beside the
// agent's own module (bmapi_local.h). The libraries are optional and lie outside the agent:
// each is loaded by name, its entry points resolved by name, initialised around one query and
// unloaded again. This file holds the process-wide state of all three, the load, initialise
// and uninitialise operations of the first two, and the virtual bus driver handle look-ups.
//
// Every library handle (adapter, physical NIC, virtual bus driver) is a 32-bit value and every
// entry point answers a 32-bit status, 0 for success. Records handed to a library are zeroed
// by the caller first. Collection thread only: nothing here is locked.
#pragma once

#include <cstdint>

#include "platform/dynamic_library.h"
#include "vendor/path_library_search.h"

namespace crv {

// --- entry point signatures (one calling convention on x64 Windows) ---
using MapiInitializeExFn = uint32_t (*)(uint32_t reserved);
using MapiUninitializeFn = uint32_t (*)();
// The adapter is named by its instance GUID in braces; the handle is preset to 0.
using MapiGetHandleByServiceNameFn = uint32_t (*)(const char16_t* serviceName, uint32_t* handle);
// (handle, record): the NIC info, link status, enumeration and firmware queries.
using MapiHandleRecordFn = uint32_t (*)(uint32_t handle, void* record);
using MapiGetNumPhyNicFn = uint32_t (*)(uint32_t* count);
using MapiGetAllPhyNicFn = uint32_t (*)(void* entries, uint32_t count);
using BmapiGetAllPhyNicHandlesFn = uint32_t (*)(uint32_t* handles, uint32_t count);
// (physical NIC, buffer or null, in/out length in bytes, two words the agent does not read).
using BmapiGetPnpDevIdFn = uint32_t (*)(uint32_t handle, char* buffer, uint32_t* length,
                                        uint32_t* reserved1, uint32_t* reserved2);

// --- records: sizes, versions the agent sets at 0, offsets it reads ---
constexpr uint32_t kPhyNicEntrySize = 420;  // type at 0, physical NIC handle at 4
constexpr uint32_t kPhyNicEntryTypeOffset = 0;
constexpr uint32_t kPhyNicEntryHandleOffset = 4;
constexpr uint32_t kVbdEnumInfoSize = 40;
constexpr uint32_t kVbdEnumInfoVersion = 4;
constexpr uint32_t kVbdEnumInfoOwnerOffset = 16;
constexpr uint32_t kBmapiNicInfoSize = 112;
constexpr uint32_t kBmapiNicInfoDuplexOffset = 84;
constexpr uint32_t kQLmapiLinkStatusSize = 28;
constexpr uint32_t kQLmapiLinkStatusDuplexOffset = 20;

// --- the libraries' process-wide state (null pointers for missing entry points) ---
struct QLmapiLibrary {
  platform::Module module = nullptr;
  uint32_t initialised = 0;
  // Resolved in this order.
  MapiInitializeExFn initializeEx = nullptr;
  MapiUninitializeFn uninitialize = nullptr;
  MapiGetHandleByServiceNameFn getHandleByServiceName = nullptr;
  MapiHandleRecordFn getBRCMNicInfo = nullptr;  // resolved, never called
  MapiHandleRecordFn retrieveLinkStatus = nullptr;
  MapiHandleRecordFn getPhyNic = nullptr;  // resolved, never called
  MapiGetNumPhyNicFn getNumPhyNic = nullptr;
  MapiGetAllPhyNicFn getAllPhyNic = nullptr;
  MapiHandleRecordFn getVbdEnumInfo = nullptr;
  MapiHandleRecordFn get5706FwInfo = nullptr;
  MapiHandleRecordFn get57710FwInfo = nullptr;
  MapiHandleRecordFn get579XXFwInfo = nullptr;
};

struct BmapiLibrary {
  platform::Module module = nullptr;
  uint32_t initialised = 0;
  // Resolved in this order.
  MapiInitializeExFn initializeEx = nullptr;
  MapiUninitializeFn uninitialize = nullptr;
  MapiGetHandleByServiceNameFn getHandleByServiceName = nullptr;
  MapiHandleRecordFn getBRCMNicInfo = nullptr;
  MapiGetNumPhyNicFn getNumPhyNic = nullptr;
  MapiGetAllPhyNicFn getAllPhyNic = nullptr;
  MapiHandleRecordFn getVbdEnumInfo = nullptr;
  MapiHandleRecordFn getFirmwareInfo = nullptr;
  MapiHandleRecordFn get5706FwInfo = nullptr;
  MapiHandleRecordFn get57710FwInfo = nullptr;
};

// The extended NIC info buffer handed to bmapi.dll: the agent reads the word at 196; the
// rest of the record is the library's, so the buffer leaves it generous room.
constexpr uint32_t kBmapiNicInfoExSize = 1024;
constexpr uint32_t kBmapiNicInfoExVersion = 19;
constexpr uint32_t kBmapiNicInfoExValueOffset = 196;

struct BmapiLocalLibrary {
  platform::Module module = nullptr;
  // Resolved in this order; the library is only kept when every one is there.
  MapiInitializeExFn initializeEx = nullptr;
  MapiUninitializeFn uninitialize = nullptr;
  MapiHandleRecordFn getBRCMNicInfoEx = nullptr;
  MapiGetHandleByServiceNameFn getHandleByServiceName = nullptr;  // resolved, not called
  MapiGetNumPhyNicFn getNumPhyNicEx = nullptr;
  BmapiGetAllPhyNicHandlesFn getAllPhyNicHandles = nullptr;
  MapiHandleRecordFn getPhyNic = nullptr;
  BmapiGetPnpDevIdFn getPnpDevId = nullptr;
  alignas(4) uint8_t nicInfoEx[kBmapiNicInfoExSize] = {};
};

struct VendorLibraryState {
  QLmapiLibrary qlmapi;
  BmapiLibrary bmapi;
  BmapiLocalLibrary bmapiLocal;
  LibrarySearchReports searchReports;
};

// The process-wide state of the three libraries.
VendorLibraryState& VendorLibraries();
// Back to "nothing loaded", as at module load (for tests; modules still held are not freed).
void ResetVendorLibraries();

// --- qlmapia.dll and bmapia.dll ---
// Loads the library when needed and resolves its entry points; the module, or null when the
// library is absent.
platform::Module LoadQMAPI();
platform::Module LoadBMAPI();

// Initialises the library (loading it first when needed): 1 when it is initialised, else 0.
// Up to six tries, each after a one-second sleep; a library that cannot be initialised is
// unloaded again before the answer.
uint32_t InitializeQMAPI();
uint32_t InitializeBMAPI();

// With queryOnly 0: uninitialises and unloads an initialised library. Answers 1 when the
// library is not (or no longer) initialised, else 0; a non-zero queryOnly changes nothing.
uint32_t UnInitializeQMAPI(uint32_t queryOnly);
uint32_t UnInitializeBMAPI(uint32_t queryOnly);

// The virtual bus driver handle of the adapter the library knows by adapterHandle: the
// physical NIC whose enumeration info names that adapter as its owner (for qlmapia.dll, also
// the first NIC of type 6 whose enumeration info cannot be had). 0 with *vbdHandle set;
// 39 when a needed entry point is missing; 1 when the entry array cannot be allocated; 204
// when no NIC belongs to the adapter; otherwise the library's failing status.
constexpr uint32_t kVbdNotFound = 204;
constexpr uint32_t kVbdEntryPointMissing = 39;
uint32_t GetQLVBDHandle(uint32_t adapterHandle, uint32_t* vbdHandle);
uint32_t GetVBDHandle(uint32_t adapterHandle, uint32_t* vbdHandle);

// --- calls of the link procedures (missing entry points answer 127) ---
bool QLmapiGetHandleByServiceNameAvailable();
bool QLmapiRetrieveLinkStatusAvailable();
bool BmapiGetHandleByServiceNameAvailable();
bool BmapiGetBRCMNicInfoAvailable();
uint32_t QLmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle);
uint32_t QLmapiRetrieveLinkStatus(uint32_t handle, void* linkStatus);
uint32_t BmapiGetHandleByServiceName(const char16_t* serviceName, uint32_t* handle);
uint32_t BmapiGetBRCMNicInfo(uint32_t handle, void* nicInfo);

}  // namespace crv
