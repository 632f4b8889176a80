// CWin32NetAdapter and its list: one record per present network adapter of a managed kind.
#include "discovery/win32_net_adapter.h"

#include "common/alloc.h"
#include "common/device_lists.h"
#include "common/owned_text.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/device_properties.h"
#include "discovery/instance_id.h"
#include "discovery/location_text.h"
#include "discovery/miniport.h"
#include "discovery/net_class_if.h"
#include "platform/os_access.h"
#include "publish/registry_key.h"

namespace crv {
namespace {

constexpr char16_t kNetCfgInstanceId[] = u"NetCfgInstanceId";

bool OpenDeviceKey(platform::DevInst devInst, uint32_t which, platform::RegKey* key) {
  return Cm().OpenDevNodeKey(devInst, platform::kKeyRead, 0, platform::kRegDispositionOpenExisting,
                             key, which) == platform::kCrSuccess;
}

}  // namespace

CWin32NetAdapter::~CWin32NetAdapter() {
  FreeBlock(serviceName_);
  FreeBlock(instanceId_);
  FreeBlock(displayName_);
  FreeBlock(guid_);
}

bool CWin32NetAdapter::Init(const char16_t* deviceInstanceId) {
  Discovery found;
  if (Cm().LocateDevNode(&found.devInst, deviceInstanceId, platform::kCmLocateDevNodeNormal) !=
      platform::kCrSuccess) {
    return false;
  }
  // A device without a service name is kept, but without identifiers or GUID: it is never
  // matched with a miniport.
  serviceName_ = ReadTextProperty(found.devInst, platform::kCmDrpService);
  if (serviceName_ != nullptr && !ReadIdentity(deviceInstanceId, found)) {
    FreeBlock(found.location);
    return false;
  }
  // A Solarflare adapter's location, UI number, identifiers and display name all come from
  // its parent.
  if (IsSolarflareInstanceId(instanceId_)) {
    FreeBlock(found.location);
    return true;
  }

  uint32_t ownUiNumber = 0;
  bool hasOwnUiNumber = ReadDwordProperty(found.devInst, platform::kCmDrpUiNumber, &ownUiNumber);
  if (!hasOwnUiNumber) {
    if (uiNumber_ != kUnknownUiNumber) {
      port_ = found.locationPort;
    } else {
      uiNumber_ = FindUiNumberInEnum();
    }
  } else if (uiNumber_ != kUnknownUiNumber || found.mellanox) {
    // The UI number of a Mellanox port's own node numbers the port.
    port_ = ownUiNumber;
  } else {
    uiNumber_ = ownUiNumber;
  }

  if (displayName_ == nullptr) {
    displayName_ = ReadTextProperty(found.devInst, platform::kCmDrpFriendlyName);
    if (displayName_ == nullptr) {
      displayName_ = ReadTextProperty(found.devInst, platform::kCmDrpService);
    }
  }

  if (found.location == nullptr) {
    found.location = ReadTextProperty(found.devInst, platform::kCmDrpLocationInformation);
  }
  if (found.location != nullptr) {
    PciLocation location{slot_, bus_, device_, function_, port_};
    ParseLocationText(found.location, found.mellanox, &location);
    slot_ = location.slot;
    bus_ = location.bus;
    device_ = location.device;
    function_ = location.function;
    port_ = location.port;
  }

  if (found.mellanox) {
    // A Mellanox port's function is its port number less one, not the location's function.
    uint32_t instanceIndex = 0;
    if (hasOwnUiNumber) {
      function_ = ownUiNumber - 1;
    } else if (ReadInstanceIndex(found.devInst, &instanceIndex)) {
      function_ = instanceIndex - 1;
    }
  }
  FreeBlock(found.location);
  return true;
}

bool CWin32NetAdapter::ReadIdentity(const char16_t* deviceInstanceId, Discovery& found) {
  instanceId_ = DuplicateText(deviceInstanceId);
  UpperCaseInPlace(instanceId_);
  if (!IsManagedInstanceId(instanceId_)) return false;

  PciIdentifiers ids;
  if (ParseInstanceIdentifiers(instanceId_, &ids)) {
    pciId_ = ids.pciId;
    subsystemId_ = ids.subsystemId;
  } else if (IsSolarflareInstanceId(instanceId_)) {
    ReadSolarflareParent(found);
  } else if (IsMellanoxInstanceId(instanceId_)) {
    found.mellanox = true;
    ReadMellanoxParent(found);
  } else {
    ReportInfo(instanceId_, 0);
    return false;
  }
  ReadNetCfgInstanceId(found.devInst);
  return true;
}

void CWin32NetAdapter::ReadSolarflareParent(const Discovery& found) {
  platform::DevInst parent = 0;
  if (Cm().GetParent(&parent, found.devInst, 0) != platform::kCrSuccess) return;

  char16_t* location = ReadSizedTextProperty(parent, platform::kCmDrpLocationInformation);
  if (location != nullptr) {
    slot_ = 0;
    ParseParentLocation(location, &bus_, &device_, &function_);
    FreeBlock(location);
  }
  ReadDwordProperty(parent, platform::kCmDrpUiNumber, &uiNumber_);
  ReadParentPciIdentifiers(parent);
  if (displayName_ == nullptr) {
    displayName_ = ReadTextProperty(found.devInst, platform::kCmDrpFriendlyName);
    if (displayName_ == nullptr) {
      displayName_ = ReadTextProperty(found.devInst, platform::kCmDrpDeviceDesc);
    }
  }
}

void CWin32NetAdapter::ReadMellanoxParent(Discovery& found) {
  platform::DevInst parent = 0;
  if (Cm().GetParent(&parent, found.devInst, 0) != platform::kCrSuccess) return;

  found.location = ReadSizedTextProperty(found.devInst, platform::kCmDrpLocationInformation);
  if (found.location != nullptr) ParseMellanoxPort(found.location, &found.locationPort);
  ReadDwordProperty(parent, platform::kCmDrpUiNumber, &uiNumber_);
  ReadParentPciIdentifiers(parent);
}

void CWin32NetAdapter::ReadParentPciIdentifiers(platform::DevInst parent) {
  char16_t* hardwareId = ReadSizedTextProperty(parent, platform::kCmDrpHardwareId);
  PciIdentifiers ids;
  if (hardwareId != nullptr && ParsePciHardwareId(hardwareId, &ids)) {
    pciId_ = ids.pciId;
    subsystemId_ = ids.subsystemId;
  }
  FreeBlock(hardwareId);
}

void CWin32NetAdapter::ReadNetCfgInstanceId(platform::DevInst devInst) {
  platform::RegKey opened = nullptr;
  if (!OpenDeviceKey(devInst, platform::kCmRegistrySoftware, &opened)) return;
  CRegistryKey key(opened);
  if (guid_ == nullptr) guid_ = key.QueryTerminatedText(kNetCfgInstanceId);
}

bool CWin32NetAdapter::ReadInstanceIndex(platform::DevInst devInst, uint32_t* instanceIndex) const {
  platform::RegKey opened = nullptr;
  if (!OpenDeviceKey(devInst, platform::kCmRegistryHardware, &opened)) return false;
  CRegistryKey key(opened);
  key.QueryDword(u"InstanceIndex", instanceIndex, false);
  return key.LastError() == 0;
}

uint32_t CWin32NetAdapter::FindUiNumberInEnum() const {
  static constexpr const char16_t* kEnumRoots[] = {
      u"SYSTEM\\CurrentControlSet\\Enum\\PCI",
      u"SYSTEM\\CurrentControlSet\\Enum\\b06bdrv",
      u"SYSTEM\\CurrentControlSet\\Enum\\ebdrv",
      u"SYSTEM\\CurrentControlSet\\Enum\\qebdrv",
      u"SYSTEM\\CurrentControlSet\\Enum\\MLX4",
      u"SYSTEM\\CurrentControlSet\\Enum\\IBA",
      u"SYSTEM\\CurrentControlSet\\Enum\\IBA\\ConnectX-3_IPoIB",
      u"SYSTEM\\CurrentControlSet\\Enum\\IBA\\ConnectX-3Pro_IPoIB",
  };
  constexpr uint32_t kPrefixChars = 256;
  bool first = true;
  for (const char16_t* rootPath : kEnumRoots) {
    // Only the PCI root is expected on every server; the bus drivers' roots may be absent.
    CRegistryKey root = RootKey().Open(rootPath, platform::kKeyRead, first);
    first = false;
    if (root.LastError() != 0) continue;
    for (;;) {
      root.EnumNextSubKey();
      if (root.LastError() != 0) break;
      CRegistryKey device = root.Open(root.EnumName(), platform::kKeyRead, true);
      if (device.LastError() != 0) continue;
      for (;;) {
        device.EnumNextSubKey();
        if (device.LastError() != 0) break;
        CRegistryKey instance = device.Open(device.EnumName(), platform::kKeyRead, true);
        if (instance.LastError() != 0 || instance.QueryValueSize(u"ParentIdPrefix") == 0) {
          continue;
        }
        char16_t prefix[kPrefixChars] = {};
        instance.QueryString(u"ParentIdPrefix", prefix, sizeof prefix, true);
        if (instance.LastError() != 0) continue;
        UpperCaseInPlace(prefix);
        if (!ContainsText(instanceId_, prefix)) continue;
        // The first instance whose children carry this adapter decides for its device key.
        uint32_t uiNumber = 0;
        instance.QueryDword(u"UINumber", &uiNumber, false);
        if (uiNumber != 0) return uiNumber;
        break;
      }
    }
  }
  return 0;
}

bool CWin32NetAdapter::GetServiceName(char16_t** serviceName) const {
  if (serviceName_ == nullptr) return false;
  char16_t* copy = DuplicateText(serviceName_);
  if (copy == nullptr) {
    uint32_t error = platform::Os().kernel->GetLastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CWin32NetAdapter::GetServiceName: failure to allocate memory for ServiceName: ",
               error);
    return false;
  }
  *serviceName = copy;
  return true;
}

void CWin32NetAdapter::GetPciInfo(PciInfo* info) const {
  info->ioBase = 0;
  info->memoryBase = 0;
  for (uint32_t i = 0; i < baseAddressCount_ && i < kBaseAddressSlots; ++i) {
    uint32_t base = baseAddresses_[i];
    if ((base & 1) != 0) {
      if (info->ioBase == 0) info->ioBase = base & ~1u;
    } else if (base != 0 && info->memoryBase == 0) {
      info->memoryBase = base;
    }
  }
  info->resourceValue = resourceValue_;
  info->uiNumber = uiNumber_;
  info->slot = slot_;
  info->bus = bus_;
  info->device = device_;
  info->function = function_;
  info->port = port_;
  info->pciId = pciId_;
  info->subsystemId = subsystemId_;
  info->displayName = displayName_;
}

CWin32NetAdapterList::CWin32NetAdapterList() { byGuid_.Start(); }

CWin32NetAdapterList::~CWin32NetAdapterList() { FreeBlock(deviceIds_); }

bool CWin32NetAdapterList::Init() {
  uint32_t flags = platform::kCmGetIdListFilterClass | platform::kCmGetIdListFilterPresent;
  DeviceList ids = ReadDeviceIdList(kNetClassFilter, flags);
  deviceIds_ = ids.texts;
  if (deviceIds_ == nullptr) {
    // A list that cannot be sized, or no memory for it, leaves the locations unknown; one
    // that was sized but not read fails the build.
    if (ids.readFailed) {
      ReportInfo(u"CWin32NetAdapterList::Init: CM_Get_Device_ID_ListW failed: ", ids.status);
      return false;
    }
    return true;
  }
  for (const char16_t* id = deviceIds_; *id != 0; id += TextLength(id) + 1) {
    CWin32NetAdapter* adapter = NewObject<CWin32NetAdapter>();
    if (adapter == nullptr) continue;
    WIN32NETADAPTERNODE* node = SinglyLinkedList<CWin32NetAdapter>::NewNode(adapter);
    if (node == nullptr) {
      DeleteObject(adapter);
      continue;
    }
    if (adapter->Init(id)) {
      list_.Append(node);
      ++count_;
      if (adapter->Guid() != nullptr) byGuid_.Add(HashFoldedText(adapter->Guid()), adapter);
    } else {
      SinglyLinkedList<CWin32NetAdapter>::DestroyNode(node);
    }
  }
  FreeBlock(deviceIds_);
  deviceIds_ = nullptr;
  return true;
}

const CWin32NetAdapter* CWin32NetAdapterList::FindByMiniport(const CMiniport& miniport) const {
  if (miniport.Guid() == nullptr) return nullptr;
  if (byGuid_.Usable()) {
    return byGuid_.FindFirst<const CWin32NetAdapter>(
        HashFoldedText(miniport.Guid()), [&miniport](const CWin32NetAdapter& adapter) {
          return adapter.Guid() != nullptr && EqualsNoCase(adapter.Guid(), miniport.Guid());
        });
  }
  for (WIN32NETADAPTERNODE* node = list_.Head(); node != nullptr; node = node->next) {
    const char16_t* guid = node->element->Guid();
    if (guid != nullptr && EqualsNoCase(guid, miniport.Guid())) return node->element;
  }
  return nullptr;
}

bool CWin32NetAdapterList::GetPciInfo(const CMiniport& miniport, PciInfo* info) const {
  const CWin32NetAdapter* adapter = FindByMiniport(miniport);
  if (adapter == nullptr) return false;
  adapter->GetPciInfo(info);
  return true;
}

bool CWin32NetAdapterList::GetServiceName(const CMiniport& miniport, char16_t** serviceName) const {
  const CWin32NetAdapter* adapter = FindByMiniport(miniport);
  return adapter != nullptr && adapter->GetServiceName(serviceName);
}

}  // namespace crv
