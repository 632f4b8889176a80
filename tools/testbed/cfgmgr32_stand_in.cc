// A stand-in cfgmgr32.dll for the test machine only (never shipped). Wine 8.0's configuration
// manager lists no device and does not implement CM_Get_Device_Interface_ListW, so the agent
// could never see an adapter there. This one answers the CM_* calls the agent makes from the
// registry layout read by pnp_registry.h, with Windows' documented semantics: lengths of texts
// and lists in characters, property lengths in bytes, CR_BUFFER_SMALL with the size needed,
// present-only filters, CR_NO_SUCH_DEVNODE, CR_INVALID_DEVNODE, parents.
//
// Loaded in place of Wine's when it lies beside the program and WINEDLLOVERRIDES names
// cfgmgr32=n,b; no Wine library imports cfgmgr32, so nothing else is affected.
#define _CFGMGR32_
#include "pnp_registry.h"

#include <cfgmgr32.h>

#include <cstring>

namespace {

using testbed::DevNodeTable;

constexpr ULONG kLocateFlags =
    CM_LOCATE_DEVNODE_PHANTOM | CM_LOCATE_DEVNODE_CANCELREMOVE | CM_LOCATE_DEVNODE_NOVALIDATION;
constexpr ULONG kIdListFlags = CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_SERVICE |
                               CM_GETIDLIST_FILTER_PRESENT | CM_GETIDLIST_FILTER_CLASS;

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  swprintf(text, ARRAYSIZE(text), L"{%08lx-%04hx-%04hx-%02x%02x-%02x%02x%02x%02x%02x%02x}",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
           guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6],
           guid.Data4[7]);
  return text;
}

// The list's length in characters: every text with its terminator, and the final one.
ULONG MultiTextLength(const std::vector<std::wstring>& texts) {
  size_t length = 1;
  for (const std::wstring& text : texts) length += text.size() + 1;
  return static_cast<ULONG>(length);
}

CONFIGRET CopyMultiText(const std::vector<std::wstring>& texts, PWSTR buffer, ULONG length) {
  if (MultiTextLength(texts) > length) return CR_BUFFER_SMALL;
  for (const std::wstring& text : texts) {
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    buffer += text.size() + 1;
  }
  *buffer = L'\0';
  return CR_SUCCESS;
}

bool MatchesFilter(const std::wstring& deviceId, const std::wstring& filter, ULONG flags) {
  if (flags & CM_GETIDLIST_FILTER_PRESENT && !testbed::DevicePresent(deviceId)) return false;
  if (flags & CM_GETIDLIST_FILTER_CLASS) {
    auto classGuid = testbed::DeviceText(deviceId, L"ClassGUID");
    return classGuid && testbed::EqualNoCase(*classGuid, filter);
  }
  if (flags & CM_GETIDLIST_FILTER_SERVICE) {
    auto service = testbed::DeviceText(deviceId, L"Service");
    return service && testbed::EqualNoCase(*service, filter);
  }
  if (flags & CM_GETIDLIST_FILTER_ENUMERATOR) {
    // "PCI" names an enumerator, "PCI\VEN_8086&DEV_1572" a device of it.
    return deviceId.size() > filter.size() && deviceId[filter.size()] == L'\\' &&
           testbed::EqualNoCase(deviceId.substr(0, filter.size()), filter);
  }
  return true;
}

CONFIGRET DeviceIdList(PCWSTR filter, ULONG flags, std::vector<std::wstring>* ids) {
  if (flags & ~kIdListFlags) return CR_INVALID_FLAG;
  const bool filtered = flags & (CM_GETIDLIST_FILTER_CLASS | CM_GETIDLIST_FILTER_SERVICE |
                                 CM_GETIDLIST_FILTER_ENUMERATOR);
  if (filtered && (filter == nullptr || *filter == L'\0')) return CR_INVALID_POINTER;
  for (const std::wstring& id : testbed::AllDeviceIds()) {
    if (MatchesFilter(id, filtered ? filter : L"", flags)) ids->push_back(id);
  }
  return CR_SUCCESS;
}

CONFIGRET InterfaceList(LPGUID interfaceClass, DEVINSTID_W deviceId, ULONG flags,
                        std::vector<std::wstring>* paths) {
  if (interfaceClass == nullptr) return CR_INVALID_POINTER;
  if (flags & ~CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES) return CR_INVALID_FLAG;
  std::wstring device = deviceId != nullptr ? deviceId : L"";
  if (!device.empty() && !testbed::DeviceExists(device)) return CR_INVALID_DEVICE_ID;
  *paths = testbed::InterfacePaths(GuidText(*interfaceClass), device,
                                   (flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES) == 0);
  return CR_SUCCESS;
}

// The Enum value behind each CM_DRP_ property the stand-in knows.
const wchar_t* PropertyValueName(ULONG property) {
  switch (property) {
    case CM_DRP_DEVICEDESC:
      return L"DeviceDesc";
    case CM_DRP_HARDWAREID:
      return L"HardwareID";
    case CM_DRP_COMPATIBLEIDS:
      return L"CompatibleIDs";
    case CM_DRP_SERVICE:
      return L"Service";
    case CM_DRP_CLASS:
      return L"Class";
    case CM_DRP_CLASSGUID:
      return L"ClassGUID";
    case CM_DRP_DRIVER:
      return L"Driver";
    case CM_DRP_CONFIGFLAGS:
      return L"ConfigFlags";
    case CM_DRP_MFG:
      return L"Mfg";
    case CM_DRP_FRIENDLYNAME:
      return L"FriendlyName";
    case CM_DRP_LOCATION_INFORMATION:
      return L"LocationInformation";
    case CM_DRP_CAPABILITIES:
      return L"Capabilities";
    case CM_DRP_UI_NUMBER:
      return L"UINumber";
    default:
      return nullptr;
  }
}

}  // namespace

extern "C" {

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags) {
  if (devInst == nullptr) return CR_INVALID_POINTER;
  *devInst = 0;
  if (flags & ~kLocateFlags) return CR_INVALID_FLAG;
  std::wstring id = deviceId != nullptr && *deviceId != L'\0' ? deviceId : testbed::kRootDeviceId;
  if (!testbed::DeviceExists(id)) return CR_NO_SUCH_DEVNODE;
  if ((flags & CM_LOCATE_DEVNODE_PHANTOM) == 0 && !testbed::DevicePresent(id)) {
    return CR_NO_SUCH_DEVNODE;
  }
  *devInst = DevNodeTable::Instance().HandleOf(id);
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST devInst, ULONG flags) {
  if (parent == nullptr) return CR_INVALID_POINTER;
  *parent = 0;
  if (flags != 0) return CR_INVALID_FLAG;
  auto id = DevNodeTable::Instance().IdOf(devInst);
  if (!id) return CR_INVALID_DEVNODE;
  auto parentId = testbed::ParentOf(*id);
  if (!parentId) return CR_NO_SUCH_DEVNODE;
  *parent = DevNodeTable::Instance().HandleOf(*parentId);
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG length, ULONG flags) {
  if (buffer == nullptr || length == 0) return CR_INVALID_POINTER;
  if (flags != 0) return CR_INVALID_FLAG;
  auto id = DevNodeTable::Instance().IdOf(devInst);
  if (!id) return CR_INVALID_DEVNODE;
  // As much as fits; the terminator only where there is room for it.
  size_t copied = id->size() < length ? id->size() : length;
  std::memcpy(buffer, id->c_str(), copied * sizeof(wchar_t));
  if (copied < length) buffer[copied] = L'\0';
  return id->size() > length ? CR_BUFFER_SMALL : CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_ID_List_SizeW(PULONG length, PCWSTR filter, ULONG flags) {
  if (length == nullptr) return CR_INVALID_POINTER;
  *length = 0;
  std::vector<std::wstring> ids;
  CONFIGRET status = DeviceIdList(filter, flags, &ids);
  if (status == CR_SUCCESS) *length = MultiTextLength(ids);
  return status;
}

CONFIGRET WINAPI CM_Get_Device_ID_ListW(PCWSTR filter, PZZWSTR buffer, ULONG length, ULONG flags) {
  if (buffer == nullptr || length == 0) return CR_INVALID_POINTER;
  *buffer = L'\0';
  std::vector<std::wstring> ids;
  CONFIGRET status = DeviceIdList(filter, flags, &ids);
  return status == CR_SUCCESS ? CopyMultiText(ids, buffer, length) : status;
}

CONFIGRET WINAPI CM_Get_DevNode_Registry_PropertyW(DEVINST devInst, ULONG property, PULONG type,
                                                   PVOID buffer, PULONG length, ULONG flags) {
  if (length == nullptr) return CR_INVALID_POINTER;
  if (buffer == nullptr && *length != 0) return CR_INVALID_POINTER;
  if (flags != 0) return CR_INVALID_FLAG;
  if (property < CM_DRP_MIN || property > CM_DRP_MAX) return CR_INVALID_PROPERTY;
  auto id = DevNodeTable::Instance().IdOf(devInst);
  if (!id) return CR_INVALID_DEVNODE;
  const wchar_t* name = PropertyValueName(property);
  auto value = name != nullptr ? testbed::DeviceValue(*id, name) : std::nullopt;
  if (!value) {
    *length = 0;
    return CR_NO_SUCH_VALUE;
  }
  if (type != nullptr) *type = value->type;
  const ULONG size = static_cast<ULONG>(value->data.size());
  if (buffer == nullptr || *length < size) {
    *length = size;
    return CR_BUFFER_SMALL;
  }
  std::memcpy(buffer, value->data.data(), size);
  *length = size;
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Open_DevNode_Key(DEVINST devInst, REGSAM access, ULONG profile,
                                     REGDISPOSITION disposition, PHKEY key, ULONG flags) {
  if (key == nullptr) return CR_INVALID_POINTER;
  *key = nullptr;
  if (flags != CM_REGISTRY_HARDWARE && flags != CM_REGISTRY_SOFTWARE) return CR_INVALID_FLAG;
  if (profile != 0) return CR_INVALID_DATA;
  auto id = DevNodeTable::Instance().IdOf(devInst);
  if (!id) return CR_INVALID_DEVNODE;
  std::wstring path;
  if (flags == CM_REGISTRY_HARDWARE) {
    path = testbed::EnumKeyPath(*id) + L"\\Device Parameters";
  } else {
    auto driver = testbed::DeviceText(*id, L"Driver");
    if (!driver) return CR_NO_SUCH_VALUE;
    path = L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + *driver;
  }
  HKEY opened = nullptr;
  LONG status = disposition == RegDisposition_OpenExisting
                    ? RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &opened)
                    : RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access,
                                      nullptr, &opened, nullptr);
  if (status != ERROR_SUCCESS) return CR_NO_SUCH_REGISTRY_KEY;
  *key = opened;
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID interfaceClass,
                                                    DEVINSTID_W deviceId, ULONG flags) {
  if (length == nullptr) return CR_INVALID_POINTER;
  *length = 0;
  std::vector<std::wstring> paths;
  CONFIGRET status = InterfaceList(interfaceClass, deviceId, flags, &paths);
  if (status == CR_SUCCESS) *length = MultiTextLength(paths);
  return status;
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID interfaceClass, DEVINSTID_W deviceId,
                                               PZZWSTR buffer, ULONG length, ULONG flags) {
  if (buffer == nullptr || length == 0) return CR_INVALID_POINTER;
  *buffer = L'\0';
  std::vector<std::wstring> paths;
  CONFIGRET status = InterfaceList(interfaceClass, deviceId, flags, &paths);
  return status == CR_SUCCESS ? CopyMultiText(paths, buffer, length) : status;
}

}  // extern "C"
