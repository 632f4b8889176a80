// Every call of the simulated server that can be made to fail, by the name a fault plan gives
// it (Machine::FailCall, a scenario's "faults"): the Windows API's names, "CloseHandle(device)"
// for a device handle's close, and the vendor libraries' entry points, those of the bmapi.dll
// beside the agent as "bmapi.dll!" and the export's name.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace sim {

inline constexpr std::string_view kFaultCalls[] = {
    // Registry.
    "RegOpenKeyExW",
    "RegCreateKeyExW",
    "RegSetValueExW",
    "RegQueryValueExW",
    "RegEnumKeyExW",
    "RegEnumValueW",
    "RegDeleteKeyW",
    "RegDeleteValueW",
    "RegCloseKey",
    // Service control manager.
    "OpenSCManagerW",
    "OpenServiceW",
    "CreateServiceW",
    "ControlService",
    "DeleteService",
    "CloseServiceHandle",
    "ChangeServiceConfig2W",
    "QueryServiceConfig2W",
    // Kernel and C runtime.
    "CreateEventW",
    "SetEvent",
    "CloseHandle",
    "WaitForMultipleObjects",
    "_beginthread",
    "GetModuleFileNameW",
    "ExpandEnvironmentStringsW",
    "MultiByteToWideChar",
    "WideCharToMultiByte",
    // Event log.
    "RegisterEventSourceW",
    "ReportEventW",
    "DeregisterEventSource",
    // IP helper and Winsock.
    "GetIfTable",
    "GetIpAddrTable",
    "GetIfEntry",
    "GetIfEntry2",
    "GetAdaptersAddresses",
    "NotifyIpInterfaceChange",
    "CancelMibChangeNotify2",
    "WSAStartup",
    "WSACleanup",
    "WSAAddressToStringW",
    "InetPtonW",
    // Device I/O.
    "CreateFileW",
    "DeviceIoControl",
    "CloseHandle(device)",
    // Configuration manager.
    "CM_Get_Device_ID_List_SizeW",
    "CM_Get_Device_ID_ListW",
    "CM_Locate_DevNodeW",
    "CM_Get_Parent",
    "CM_Get_Device_IDW",
    "CM_Get_DevNode_Registry_PropertyW",
    "CM_Open_DevNode_Key",
    "CM_Get_Device_Interface_List_SizeW",
    "CM_Get_Device_Interface_ListW",
    // Dynamic loading.
    "LoadLibraryW",
    "LoadLibraryExW",
    "GetProcAddress",
    "FreeLibrary",
    // Files and folders.
    "GetFileAttributesW",
    "GetNamedSecurityInfoW",
    "CreateFileW(file)",
    "WriteFile",
    "CloseHandle(file)",
    "MoveFileExW",
    "DeleteFileW",
    // COM and WMI.
    "CoInitializeEx",
    "CoInitializeSecurity",
    "CoCreateInstance",
    "ConnectServer",
    "CoSetProxyBlanket",
    "ExecQuery",
    "CreateInstanceEnum",
    "Next",
    "Get",
    "SafeArrayGetLBound",
    "SafeArrayGetUBound",
    "SafeArrayAccessData",
    "SafeArrayGetElement",
    // The vendor libraries' entry points: qlmapia.dll, bmapia.dll ...
    "QLmapiInitializeEx",
    "QLmapiUninitialize",
    "QLmapiGetHandleByServiceName",
    "QLmapiGetBRCMNicInfo",
    "QLmapiRetrieveLinkStatus",
    "QLmapiGetPhyNic",
    "QLmapiGetNumPhyNic",
    "QLmapiGetAllPhyNic",
    "QLmapiGetVbdEnumInfo",
    "QLmapiGet5706FwInfo",
    "QLmapiGet57710FwInfo",
    "QLmapiGet579XXFwInfo",
    "BmapiInitializeEx",
    "BmapiUninitialize",
    "BmapiGetHandleByServiceName",
    "BmapiGetBRCMNicInfo",
    "BmapiGetNumPhyNic",
    "BmapiGetAllPhyNic",
    "BmapiGetVbdEnumInfo",
    "BmapiGetFirmwareInfo",
    "BmapiGet5706FwInfo",
    "BmapiGet57710FwInfo",
    // ... and bmapi.dll beside the agent.
    "bmapi.dll!BmapiInitializeEx",
    "bmapi.dll!BmapiUninitialize",
    "bmapi.dll!BmapiGetBRCMNicInfoEx",
    "bmapi.dll!BmapiGetHandleByServiceName",
    "bmapi.dll!BmapiGetNumPhyNicEx",
    "bmapi.dll!BmapiGetAllPhyNicHandles",
    "bmapi.dll!BmapiGetPhyNic",
    "bmapi.dll!BmapiGetPnpDevId",
};

constexpr bool IsFaultCall(std::string_view call) {
  for (std::string_view name : kFaultCalls) {
    if (name == call) return true;
  }
  return false;
}

constexpr bool FaultCallsAreDistinct() {
  for (size_t i = 0; i < std::size(kFaultCalls); ++i) {
    for (size_t j = i + 1; j < std::size(kFaultCalls); ++j) {
      if (kFaultCalls[i] == kFaultCalls[j]) return false;
    }
  }
  return true;
}
static_assert(FaultCallsAreDistinct(), "a call is named twice in the fault table");

}  // namespace sim
