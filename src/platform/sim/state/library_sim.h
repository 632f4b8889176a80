// The simulated machine's dynamically loadable libraries: the adapter vendors' management
// libraries qlmapia.dll and bmapia.dll (found by file name through the library search, or
// installed in a folder of their suite's and found there by full path) and
// bmapi.dll (found only by its full path in the directory of the agent's own module). Each
// library, when present, exports its entry points by name as real functions of the libraries'
// signatures that answer from this machine's state below.
//
// The entry points are plain functions without a context argument, so they answer for the
// machine whose dynamic loading interface last loaded a library (CurrentLibraryMachine); a
// machine that goes away stops being that machine.
//
// Every entry point call counts, and can be made to fail, under its name through
// Machine::CheckFault / FailCall (the fault's status is the entry point's answer): the names
// of qlmapia.dll and bmapia.dll are the entry points' own ("QLmapiInitializeEx",
// "BmapiGetFirmwareInfo"); those of bmapi.dll are prefixed "bmapi.dll!" ("bmapi.dll!
// BmapiInitializeEx" without the blank), since it shares some names with bmapia.dll. Records
// handed in must carry the version word the library expects at offset 0, or the call answers
// kMapiStatusBadVersion. Statuses of a handle or adapter the library does not know:
// kMapiStatusUnknown.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/sim/state/registry_sim.h"

namespace sim {

class Machine;
struct DevNode;

constexpr uint32_t kMapiStatusUnknown = 0x0E;
constexpr uint32_t kMapiStatusBadVersion = 0x57;
constexpr uint32_t kMapiStatusBufferSmall = 0x7A;

enum class VendorLibraryId { kQlmapi, kBmapi, kBmapiLocal };

inline constexpr char16_t kQlmapiFileName[] = u"qlmapia.dll";
inline constexpr char16_t kBmapiFileName[] = u"bmapia.dll";
inline constexpr char16_t kBmapiLocalFileName[] = u"bmapi.dll";
// Setup class of the devices bmapi.dll knows (listed by the configuration manager).
inline constexpr char16_t kBmapiDeviceClassGuidText[] = u"{6d807884-7d21-11cf-801c-08002be10318}";

// A firmware version answer: the status, and on 0 the narrow text written into the record.
struct MapiFirmwareAnswer {
  uint32_t status = 0;
  std::string text;
};

// One adapter as qlmapia.dll or bmapia.dll knows it, found by its service name (the
// adapter's instance GUID in braces, compared without regard to case).
struct MapiAdapter {
  uint32_t handle = 0;
  uint32_t handleStatus = 0;  // GetHandleByServiceName answers this (handle only on 0)
  // BmapiGetFirmwareInfo: status, and the 16-bit version word at 154.
  uint32_t firmwareStatus = 0;
  uint16_t firmwareWord = 0;
  // BmapiGetBRCMNicInfo: status, and the duplex value at 84.
  uint32_t nicInfoStatus = 0;
  uint32_t nicInfoDuplex = 0;
  // QLmapiRetrieveLinkStatus: status, and the duplex value at 20.
  uint32_t linkStatusStatus = 0;
  uint32_t linkStatusDuplex = 0;
};

// One physical NIC of qlmapia.dll or bmapia.dll: its entry (type at 0, handle at 4) and its
// virtual bus enumeration info (owner adapter handle at 16).
struct MapiPhyNic {
  uint32_t handle = 0;
  uint32_t type = 0;
  uint32_t owner = 0;
  uint32_t enumStatus = 0;
};

// The firmware answers of one virtual bus driver handle, by record kind; an unset kind
// answers kMapiStatusUnknown.
struct MapiVbdFirmware {
  std::optional<MapiFirmwareAnswer> fw5706;
  std::optional<MapiFirmwareAnswer> fw57710;
  std::optional<MapiFirmwareAnswer> fw579xx;  // qlmapia.dll only
};

// One physical NIC of bmapi.dll.
struct LocalNic {
  uint32_t handle = 0;
  uint32_t kind = 4;             // physical NIC info at 8
  std::string pnpDeviceId;       // BmapiGetPnpDevId, narrow
  uint32_t value = 0;            // BmapiGetBRCMNicInfoEx, at 196
  uint32_t phyNicStatus = 0;     // BmapiGetPhyNic
  uint32_t pnpDevIdStatus = 0;   // BmapiGetPnpDevId (both calls)
  uint32_t nicInfoExStatus = 0;  // BmapiGetBRCMNicInfoEx
};

// One library: whether it is installed, what its entry points answer, and how often it is
// loaded. The fields a library does not use are ignored.
struct SimVendorLibrary {
  bool present = false;
  // qlmapia.dll and bmapia.dll: the folder their suite installed them in ("C:\Program
  // Files\Vendor"), where only a load by full path finds them; empty: found by file name.
  std::u16string folder;
  std::set<std::string> missingEntryPoints;  // exported names left out
  // InitializeEx answers these in turn (over the machine's life), then 0.
  std::vector<uint32_t> initializeStatuses;
  uint32_t uninitializeStatus = 0;
  uint32_t numPhyNicStatus = 0;  // GetNumPhyNic / GetNumPhyNicEx, which write the count anyway
  uint32_t allPhyNicStatus = 0;  // GetAllPhyNic / GetAllPhyNicHandles
  // qlmapia.dll and bmapia.dll.
  std::map<std::u16string, MapiAdapter, NoCaseLess> adapters;  // by service name
  std::vector<MapiPhyNic> phyNics;                             // in the library's order
  std::map<uint32_t, MapiVbdFirmware> vbdFirmware;             // by virtual bus driver handle
  // bmapi.dll.
  std::vector<LocalNic> localNics;  // in the library's order

  // --- what happened ---
  int64_t references = 0;                     // loads not yet freed
  uint64_t loads = 0;                         // successful LoadLibraryW calls
  size_t initializeCalls = 0;                 // InitializeEx calls answered so far
  std::vector<uint32_t> initializeArguments;  // what each InitializeEx call was given
  uint64_t uninitializeCalls = 0;
};

class SimLibraries {
 public:
  SimVendorLibrary& Library(VendorLibraryId id);
  const SimVendorLibrary& Library(VendorLibraryId id) const;
  SimVendorLibrary& qlmapi() { return Library(VendorLibraryId::kQlmapi); }
  SimVendorLibrary& bmapi() { return Library(VendorLibraryId::kBmapi); }
  SimVendorLibrary& bmapiLocal() { return Library(VendorLibraryId::kBmapiLocal); }

  // Number of loads not yet given back with FreeLibrary, over every library.
  int64_t LoadedReferences() const;

 private:
  SimVendorLibrary libraries_[3];
};

// The exported entry point of a library by name (null when the library has none by that
// name; missingEntryPoints is the caller's to apply).
void* VendorEntryPoint(VendorLibraryId id, const char* name);

// The machine the entry points answer for (null when none).
Machine* CurrentLibraryMachine();
void SetCurrentLibraryMachine(Machine* machine);

// Adds a present device of bmapi.dll's setup class with a location text (the identifier
// FindClassDeviceByLocation hands back is the node's instance ID).
DevNode& AddBmapiClassDevice(Machine& machine, std::u16string instanceId, std::u16string location);
// Same with the location text of an adapter added with AddAdapter; false when the GUID is
// unknown or the adapter's node has no location.
bool AddBmapiClassDeviceFor(Machine& machine, std::u16string instanceId, std::u16string_view guid);

}  // namespace sim
