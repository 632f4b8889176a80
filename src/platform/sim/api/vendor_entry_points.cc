// The entry points of the simulated vendor libraries: real functions of the libraries'
// signatures, one instance per library, answering from the state of the machine that last
// loaded a library (library_sim.h).
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/library_sim.h"

namespace sim {
namespace {

using Id = VendorLibraryId;

// Record layouts: the version the caller sets at 0, the sizes and the offsets answered.
constexpr uint32_t kPhyNicEntrySize = 420;
constexpr uint32_t kVbdEnumInfoVersion = 4;
constexpr size_t kVbdOwnerOffset = 16;
constexpr uint32_t kFirmwareInfoVersion = 12;
constexpr size_t kFirmwareWordOffset = 154;
constexpr size_t kNicInfoDuplexOffset = 84;
constexpr size_t kLinkStatusDuplexOffset = 20;
constexpr uint32_t kPhyNicInfoVersion = 16;
constexpr size_t kPhyNicKindOffset = 8;
constexpr uint32_t kNicInfoExVersion = 19;
constexpr size_t kNicInfoExValueOffset = 196;
constexpr size_t kMaxServiceNameChars = 256;

enum class FirmwareKind { k5706, k57710, k579xx };

struct FirmwareRecord {
  uint32_t version;
  size_t size;
  size_t textOffset;
};

constexpr FirmwareRecord RecordOf(Id id, FirmwareKind kind) {
  switch (kind) {
    case FirmwareKind::k5706:
      return {10, 632, 8};
    case FirmwareKind::k57710:
      return id == Id::kQlmapi ? FirmwareRecord{11, 824, 8} : FirmwareRecord{9, 792, 8};
    case FirmwareKind::k579xx:
      break;
  }
  return {1, 5257, 4};
}

constexpr const char* Prefix(Id id) {
  switch (id) {
    case Id::kQlmapi:
      return "QLmapi";
    case Id::kBmapi:
      return "Bmapi";
    case Id::kBmapiLocal:
      break;
  }
  return "bmapi.dll!Bmapi";
}

// One call: the machine and library it answers from, or the status it answers at once.
struct Call {
  SimVendorLibrary* library = nullptr;
  std::optional<uint32_t> answer;
};

// A call of a library's entry point, checked under its fault name (the library's prefix and the
// entry's name: see VendorFaultCall).
Call Enter(Id id, FaultCall fault) {
  Call call;
  Machine* machine = CurrentLibraryMachine();
  if (machine == nullptr) {
    call.answer = kMapiStatusUnknown;
    return call;
  }
  call.library = &machine->libraries().Library(id);
  call.answer = MachineInternals(*machine).CheckFault(fault);
  return call;
}

uint32_t Word(const void* record, size_t offset) {
  uint32_t value;
  std::memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
  return value;
}

void PutWord(void* record, size_t offset, uint32_t value) {
  std::memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

bool HasVersion(const void* record, uint32_t version) {
  return record != nullptr && Word(record, 0) == version;
}

const MapiAdapter* AdapterByHandle(const SimVendorLibrary& library, uint32_t handle) {
  for (const auto& [name, adapter] : library.adapters) {
    if (adapter.handle == handle) return &adapter;
  }
  return nullptr;
}

const MapiPhyNic* PhyNicByHandle(const SimVendorLibrary& library, uint32_t handle) {
  for (const auto& nic : library.phyNics) {
    if (nic.handle == handle) return &nic;
  }
  return nullptr;
}

const LocalNic* LocalNicByHandle(const SimVendorLibrary& library, uint32_t handle) {
  for (const auto& nic : library.localNics) {
    if (nic.handle == handle) return &nic;
  }
  return nullptr;
}

// --- shared by every library ---

template <Id L>
uint32_t InitializeEx(uint32_t argument) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "InitializeEx");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  SimVendorLibrary& library = *call.library;
  library.initializeArguments.push_back(argument);
  size_t index = library.initializeCalls++;
  return index < library.initializeStatuses.size() ? library.initializeStatuses[index] : 0;
}

template <Id L>
uint32_t Uninitialize() {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "Uninitialize");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  ++call.library->uninitializeCalls;
  return call.library->uninitializeStatus;
}

template <Id L>
uint32_t GetHandleByServiceName(const char16_t* serviceName, uint32_t* handle) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "GetHandleByServiceName");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  if (serviceName == nullptr || handle == nullptr) return kMapiStatusUnknown;
  size_t length = 0;
  while (length < kMaxServiceNameChars && serviceName[length] != 0) ++length;
  auto found = call.library->adapters.find(std::u16string(serviceName, length));
  if (found == call.library->adapters.end()) return kMapiStatusUnknown;
  if (found->second.handleStatus != 0) return found->second.handleStatus;
  *handle = found->second.handle;
  return 0;
}

// --- qlmapia.dll and bmapia.dll ---

template <Id L>
uint32_t GetBRCMNicInfo(uint32_t handle, void* nicInfo) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "GetBRCMNicInfo");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  if (!HasVersion(nicInfo, 0)) return kMapiStatusBadVersion;
  const MapiAdapter* adapter = AdapterByHandle(*call.library, handle);
  if (adapter == nullptr) return kMapiStatusUnknown;
  if (adapter->nicInfoStatus != 0) return adapter->nicInfoStatus;
  PutWord(nicInfo, kNicInfoDuplexOffset, adapter->nicInfoDuplex);
  return 0;
}

uint32_t QLmapiRetrieveLinkStatus(uint32_t handle, void* linkStatus) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kQlmapi), "RetrieveLinkStatus");
  Call call = Enter(Id::kQlmapi, kFault);
  if (call.answer) return *call.answer;
  if (!HasVersion(linkStatus, 0)) return kMapiStatusBadVersion;
  const MapiAdapter* adapter = AdapterByHandle(*call.library, handle);
  if (adapter == nullptr) return kMapiStatusUnknown;
  if (adapter->linkStatusStatus != 0) return adapter->linkStatusStatus;
  PutWord(linkStatus, kLinkStatusDuplexOffset, adapter->linkStatusDuplex);
  return 0;
}

uint32_t BmapiGetFirmwareInfo(uint32_t handle, void* firmwareInfo) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kBmapi), "GetFirmwareInfo");
  Call call = Enter(Id::kBmapi, kFault);
  if (call.answer) return *call.answer;
  if (!HasVersion(firmwareInfo, kFirmwareInfoVersion)) return kMapiStatusBadVersion;
  const MapiAdapter* adapter = AdapterByHandle(*call.library, handle);
  if (adapter == nullptr) return kMapiStatusUnknown;
  if (adapter->firmwareStatus != 0) return adapter->firmwareStatus;
  std::memcpy(static_cast<uint8_t*>(firmwareInfo) + kFirmwareWordOffset, &adapter->firmwareWord,
              sizeof adapter->firmwareWord);
  return 0;
}

// QLmapiGetPhyNic: the physical NIC's entry (type at 0, handle at 4) for its handle.
uint32_t QLmapiGetPhyNic(uint32_t handle, void* entry) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kQlmapi), "GetPhyNic");
  Call call = Enter(Id::kQlmapi, kFault);
  if (call.answer) return *call.answer;
  const MapiPhyNic* nic = PhyNicByHandle(*call.library, handle);
  if (nic == nullptr || entry == nullptr) return kMapiStatusUnknown;
  PutWord(entry, 0, nic->type);
  PutWord(entry, 4, nic->handle);
  return 0;
}

template <Id L>
uint32_t GetNumPhyNic(uint32_t* count) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "GetNumPhyNic");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  if (count == nullptr) return kMapiStatusUnknown;
  *count = static_cast<uint32_t>(call.library->phyNics.size());
  return call.library->numPhyNicStatus;
}

template <Id L>
uint32_t GetAllPhyNic(void* entries, uint32_t count) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "GetAllPhyNic");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  if (call.library->allPhyNicStatus != 0) return call.library->allPhyNicStatus;
  if (entries == nullptr && count != 0) return kMapiStatusUnknown;
  const auto& nics = call.library->phyNics;
  for (size_t i = 0; i < nics.size() && i < count; ++i) {
    void* entry = static_cast<uint8_t*>(entries) + i * kPhyNicEntrySize;
    PutWord(entry, 0, nics[i].type);
    PutWord(entry, 4, nics[i].handle);
  }
  return 0;
}

template <Id L>
uint32_t GetVbdEnumInfo(uint32_t handle, void* enumInfo) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), "GetVbdEnumInfo");
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  if (!HasVersion(enumInfo, kVbdEnumInfoVersion)) return kMapiStatusBadVersion;
  const MapiPhyNic* nic = PhyNicByHandle(*call.library, handle);
  if (nic == nullptr) return kMapiStatusUnknown;
  if (nic->enumStatus != 0) return nic->enumStatus;
  PutWord(enumInfo, kVbdOwnerOffset, nic->owner);
  return 0;
}

constexpr const char* FirmwareSuffix(FirmwareKind kind) {
  switch (kind) {
    case FirmwareKind::k5706:
      return "Get5706FwInfo";
    case FirmwareKind::k57710:
      return "Get57710FwInfo";
    case FirmwareKind::k579xx:
      break;
  }
  return "Get579XXFwInfo";
}

template <Id L, FirmwareKind K>
uint32_t GetFwInfo(uint32_t vbdHandle, void* firmwareInfo) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(L), FirmwareSuffix(K));
  Call call = Enter(L, kFault);
  if (call.answer) return *call.answer;
  constexpr FirmwareRecord record = RecordOf(L, K);
  if (!HasVersion(firmwareInfo, record.version)) return kMapiStatusBadVersion;
  auto found = call.library->vbdFirmware.find(vbdHandle);
  if (found == call.library->vbdFirmware.end()) return kMapiStatusUnknown;
  const MapiVbdFirmware& answers = found->second;
  const auto& answer = K == FirmwareKind::k5706    ? answers.fw5706
                       : K == FirmwareKind::k57710 ? answers.fw57710
                                                   : answers.fw579xx;
  if (!answer) return kMapiStatusUnknown;
  if (answer->status != 0) return answer->status;
  // The text stays terminated inside the record, cut when it is longer.
  size_t room = record.size - record.textOffset - 1;
  size_t n = std::min(room, answer->text.size());
  auto* text = static_cast<uint8_t*>(firmwareInfo) + record.textOffset;
  std::memcpy(text, answer->text.data(), n);
  text[n] = 0;
  return 0;
}

// --- bmapi.dll ---

uint32_t LocalGetNumPhyNicEx(uint32_t* count) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kBmapiLocal), "GetNumPhyNicEx");
  Call call = Enter(Id::kBmapiLocal, kFault);
  if (call.answer) return *call.answer;
  if (count == nullptr) return kMapiStatusUnknown;
  *count = static_cast<uint32_t>(call.library->localNics.size());
  return call.library->numPhyNicStatus;
}

uint32_t LocalGetAllPhyNicHandles(uint32_t* handles, uint32_t count) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kBmapiLocal), "GetAllPhyNicHandles");
  Call call = Enter(Id::kBmapiLocal, kFault);
  if (call.answer) return *call.answer;
  if (call.library->allPhyNicStatus != 0) return call.library->allPhyNicStatus;
  if (handles == nullptr && count != 0) return kMapiStatusUnknown;
  const auto& nics = call.library->localNics;
  for (size_t i = 0; i < nics.size() && i < count; ++i) handles[i] = nics[i].handle;
  return 0;
}

uint32_t LocalGetPhyNic(uint32_t handle, void* info) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kBmapiLocal), "GetPhyNic");
  Call call = Enter(Id::kBmapiLocal, kFault);
  if (call.answer) return *call.answer;
  if (!HasVersion(info, kPhyNicInfoVersion)) return kMapiStatusBadVersion;
  const LocalNic* nic = LocalNicByHandle(*call.library, handle);
  if (nic == nullptr) return kMapiStatusUnknown;
  if (nic->phyNicStatus != 0) return nic->phyNicStatus;
  PutWord(info, kPhyNicKindOffset, nic->kind);
  return 0;
}

// With a null buffer the length of the id with its terminator; else the id, when it fits.
uint32_t LocalGetPnpDevId(uint32_t handle, char* buffer, uint32_t* length, uint32_t* reserved1,
                          uint32_t* reserved2) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kBmapiLocal), "GetPnpDevId");
  Call call = Enter(Id::kBmapiLocal, kFault);
  if (call.answer) return *call.answer;
  const LocalNic* nic = LocalNicByHandle(*call.library, handle);
  if (nic == nullptr || length == nullptr) return kMapiStatusUnknown;
  if (nic->pnpDevIdStatus != 0) return nic->pnpDevIdStatus;
  auto needed = static_cast<uint32_t>(nic->pnpDeviceId.size() + 1);
  if (reserved1 != nullptr) *reserved1 = 0;
  if (reserved2 != nullptr) *reserved2 = 0;
  if (buffer != nullptr) {
    if (*length < needed) {
      *length = needed;
      return kMapiStatusBufferSmall;
    }
    std::memcpy(buffer, nic->pnpDeviceId.c_str(), needed);
  }
  *length = needed;
  return 0;
}

uint32_t LocalGetBRCMNicInfoEx(uint32_t handle, void* info) {
  constexpr FaultCall kFault = VendorFaultCall(Prefix(Id::kBmapiLocal), "GetBRCMNicInfoEx");
  Call call = Enter(Id::kBmapiLocal, kFault);
  if (call.answer) return *call.answer;
  if (!HasVersion(info, kNicInfoExVersion)) return kMapiStatusBadVersion;
  const LocalNic* nic = LocalNicByHandle(*call.library, handle);
  if (nic == nullptr) return kMapiStatusUnknown;
  if (nic->nicInfoExStatus != 0) return nic->nicInfoExStatus;
  PutWord(info, kNicInfoExValueOffset, nic->value);
  return 0;
}

struct Export {
  const char* name;
  void* entry;
};

template <class Fn>
void* Address(Fn fn) {
  return reinterpret_cast<void*>(fn);
}

const std::vector<Export>& Exports(Id id) {
  static const std::vector<Export> qlmapi = {
      {"QLmapiInitializeEx", Address(&InitializeEx<Id::kQlmapi>)},
      {"QLmapiUninitialize", Address(&Uninitialize<Id::kQlmapi>)},
      {"QLmapiGetHandleByServiceName", Address(&GetHandleByServiceName<Id::kQlmapi>)},
      {"QLmapiGetBRCMNicInfo", Address(&GetBRCMNicInfo<Id::kQlmapi>)},
      {"QLmapiRetrieveLinkStatus", Address(&QLmapiRetrieveLinkStatus)},
      {"QLmapiGetPhyNic", Address(&QLmapiGetPhyNic)},
      {"QLmapiGetNumPhyNic", Address(&GetNumPhyNic<Id::kQlmapi>)},
      {"QLmapiGetAllPhyNic", Address(&GetAllPhyNic<Id::kQlmapi>)},
      {"QLmapiGetVbdEnumInfo", Address(&GetVbdEnumInfo<Id::kQlmapi>)},
      {"QLmapiGet5706FwInfo", Address(&GetFwInfo<Id::kQlmapi, FirmwareKind::k5706>)},
      {"QLmapiGet57710FwInfo", Address(&GetFwInfo<Id::kQlmapi, FirmwareKind::k57710>)},
      {"QLmapiGet579XXFwInfo", Address(&GetFwInfo<Id::kQlmapi, FirmwareKind::k579xx>)},
  };
  static const std::vector<Export> bmapi = {
      {"BmapiInitializeEx", Address(&InitializeEx<Id::kBmapi>)},
      {"BmapiUninitialize", Address(&Uninitialize<Id::kBmapi>)},
      {"BmapiGetHandleByServiceName", Address(&GetHandleByServiceName<Id::kBmapi>)},
      {"BmapiGetBRCMNicInfo", Address(&GetBRCMNicInfo<Id::kBmapi>)},
      {"BmapiGetNumPhyNic", Address(&GetNumPhyNic<Id::kBmapi>)},
      {"BmapiGetAllPhyNic", Address(&GetAllPhyNic<Id::kBmapi>)},
      {"BmapiGetVbdEnumInfo", Address(&GetVbdEnumInfo<Id::kBmapi>)},
      {"BmapiGetFirmwareInfo", Address(&BmapiGetFirmwareInfo)},
      {"BmapiGet5706FwInfo", Address(&GetFwInfo<Id::kBmapi, FirmwareKind::k5706>)},
      {"BmapiGet57710FwInfo", Address(&GetFwInfo<Id::kBmapi, FirmwareKind::k57710>)},
  };
  static const std::vector<Export> local = {
      {"BmapiInitializeEx", Address(&InitializeEx<Id::kBmapiLocal>)},
      {"BmapiUninitialize", Address(&Uninitialize<Id::kBmapiLocal>)},
      {"BmapiGetBRCMNicInfoEx", Address(&LocalGetBRCMNicInfoEx)},
      {"BmapiGetHandleByServiceName", Address(&GetHandleByServiceName<Id::kBmapiLocal>)},
      {"BmapiGetNumPhyNicEx", Address(&LocalGetNumPhyNicEx)},
      {"BmapiGetAllPhyNicHandles", Address(&LocalGetAllPhyNicHandles)},
      {"BmapiGetPhyNic", Address(&LocalGetPhyNic)},
      {"BmapiGetPnpDevId", Address(&LocalGetPnpDevId)},
  };
  switch (id) {
    case Id::kQlmapi:
      return qlmapi;
    case Id::kBmapi:
      return bmapi;
    case Id::kBmapiLocal:
      break;
  }
  return local;
}

}  // namespace

void* VendorEntryPoint(VendorLibraryId id, const char* name) {
  if (name == nullptr) return nullptr;
  for (const Export& e : Exports(id)) {
    if (std::strcmp(e.name, name) == 0) return e.entry;
  }
  return nullptr;
}

}  // namespace sim
