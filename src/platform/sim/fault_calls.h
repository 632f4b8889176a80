// Every call of the simulated server that can be made to fail, by the name a fault plan gives
// it (Machine::FailCall, a scenario's "faults"): the Windows API's names, "CloseHandle(device)"
// for a device handle's close, and the vendor libraries' entry points, those of the bmapi.dll
// beside the agent as "bmapi.dll!" and the export's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

namespace sim {

#define CRV_SIM_FAULT_CALLS(X)                                                  \
  /* Registry. */                                                               \
  X(kRegOpenKeyExW, "RegOpenKeyExW")                                            \
  X(kRegCreateKeyExW, "RegCreateKeyExW")                                        \
  X(kRegSetValueExW, "RegSetValueExW")                                          \
  X(kRegQueryValueExW, "RegQueryValueExW")                                      \
  X(kRegEnumKeyExW, "RegEnumKeyExW")                                            \
  X(kRegEnumValueW, "RegEnumValueW")                                            \
  X(kRegDeleteKeyW, "RegDeleteKeyW")                                            \
  X(kRegDeleteValueW, "RegDeleteValueW")                                        \
  X(kRegCloseKey, "RegCloseKey")                                                \
  /* Service control manager. */                                                \
  X(kOpenSCManagerW, "OpenSCManagerW")                                          \
  X(kOpenServiceW, "OpenServiceW")                                              \
  X(kCreateServiceW, "CreateServiceW")                                          \
  X(kControlService, "ControlService")                                          \
  X(kDeleteService, "DeleteService")                                            \
  X(kCloseServiceHandle, "CloseServiceHandle")                                  \
  X(kChangeServiceConfig2W, "ChangeServiceConfig2W")                            \
  X(kQueryServiceConfig2W, "QueryServiceConfig2W")                              \
  /* Kernel and C runtime. */                                                   \
  X(kCreateEventW, "CreateEventW")                                              \
  X(kSetEvent, "SetEvent")                                                      \
  X(kCloseHandle, "CloseHandle")                                                \
  X(kWaitForMultipleObjects, "WaitForMultipleObjects")                          \
  X(kBeginThread, "_beginthread")                                               \
  X(kGetModuleFileNameW, "GetModuleFileNameW")                                  \
  X(kExpandEnvironmentStringsW, "ExpandEnvironmentStringsW")                    \
  X(kMultiByteToWideChar, "MultiByteToWideChar")                                \
  X(kWideCharToMultiByte, "WideCharToMultiByte")                                \
  /* Event log. */                                                              \
  X(kRegisterEventSourceW, "RegisterEventSourceW")                              \
  X(kReportEventW, "ReportEventW")                                              \
  X(kDeregisterEventSource, "DeregisterEventSource")                            \
  /* IP helper and Winsock. */                                                  \
  X(kGetIfTable, "GetIfTable")                                                  \
  X(kGetIpAddrTable, "GetIpAddrTable")                                          \
  X(kGetIfEntry, "GetIfEntry")                                                  \
  X(kGetIfEntry2, "GetIfEntry2")                                                \
  X(kGetAdaptersAddresses, "GetAdaptersAddresses")                              \
  X(kNotifyIpInterfaceChange, "NotifyIpInterfaceChange")                        \
  X(kCancelMibChangeNotify2, "CancelMibChangeNotify2")                          \
  X(kWSAStartup, "WSAStartup")                                                  \
  X(kWSACleanup, "WSACleanup")                                                  \
  X(kWSAAddressToStringW, "WSAAddressToStringW")                                \
  X(kInetPtonW, "InetPtonW")                                                    \
  /* Device I/O. */                                                             \
  X(kCreateFileW, "CreateFileW")                                                \
  X(kDeviceIoControl, "DeviceIoControl")                                        \
  X(kCloseHandleDevice, "CloseHandle(device)")                                  \
  /* Configuration manager. */                                                  \
  X(kCMGetDeviceIDListSizeW, "CM_Get_Device_ID_List_SizeW")                     \
  X(kCMGetDeviceIDListW, "CM_Get_Device_ID_ListW")                              \
  X(kCMLocateDevNodeW, "CM_Locate_DevNodeW")                                    \
  X(kCMGetParent, "CM_Get_Parent")                                              \
  X(kCMGetDeviceIDW, "CM_Get_Device_IDW")                                       \
  X(kCMGetDevNodeRegistryPropertyW, "CM_Get_DevNode_Registry_PropertyW")        \
  X(kCMOpenDevNodeKey, "CM_Open_DevNode_Key")                                   \
  X(kCMGetDeviceInterfaceListSizeW, "CM_Get_Device_Interface_List_SizeW")       \
  X(kCMGetDeviceInterfaceListW, "CM_Get_Device_Interface_ListW")                \
  /* Dynamic loading. */                                                        \
  X(kLoadLibraryW, "LoadLibraryW")                                              \
  X(kLoadLibraryExW, "LoadLibraryExW")                                          \
  X(kGetProcAddress, "GetProcAddress")                                          \
  X(kFreeLibrary, "FreeLibrary")                                                \
  /* Files and folders. */                                                      \
  X(kGetFileAttributesW, "GetFileAttributesW")                                  \
  X(kGetNamedSecurityInfoW, "GetNamedSecurityInfoW")                            \
  X(kCreateFileWFile, "CreateFileW(file)")                                      \
  X(kWriteFile, "WriteFile")                                                    \
  X(kCloseHandleFile, "CloseHandle(file)")                                      \
  X(kMoveFileExW, "MoveFileExW")                                                \
  X(kDeleteFileW, "DeleteFileW")                                                \
  /* COM and WMI. */                                                            \
  X(kCoInitializeEx, "CoInitializeEx")                                          \
  X(kCoInitializeSecurity, "CoInitializeSecurity")                              \
  X(kCoCreateInstance, "CoCreateInstance")                                      \
  X(kConnectServer, "ConnectServer")                                            \
  X(kCoSetProxyBlanket, "CoSetProxyBlanket")                                    \
  X(kExecQuery, "ExecQuery")                                                    \
  X(kCreateInstanceEnum, "CreateInstanceEnum")                                  \
  X(kNext, "Next")                                                              \
  X(kGet, "Get")                                                                \
  X(kSafeArrayGetLBound, "SafeArrayGetLBound")                                  \
  X(kSafeArrayGetUBound, "SafeArrayGetUBound")                                  \
  X(kSafeArrayAccessData, "SafeArrayAccessData")                                \
  X(kSafeArrayGetElement, "SafeArrayGetElement")                                \
  /* The vendor libraries' entry points: qlmapia.dll, bmapia.dll ... */         \
  X(kQLmapiInitializeEx, "QLmapiInitializeEx")                                  \
  X(kQLmapiUninitialize, "QLmapiUninitialize")                                  \
  X(kQLmapiGetHandleByServiceName, "QLmapiGetHandleByServiceName")              \
  X(kQLmapiGetBRCMNicInfo, "QLmapiGetBRCMNicInfo")                              \
  X(kQLmapiRetrieveLinkStatus, "QLmapiRetrieveLinkStatus")                      \
  X(kQLmapiGetPhyNic, "QLmapiGetPhyNic")                                        \
  X(kQLmapiGetNumPhyNic, "QLmapiGetNumPhyNic")                                  \
  X(kQLmapiGetAllPhyNic, "QLmapiGetAllPhyNic")                                  \
  X(kQLmapiGetVbdEnumInfo, "QLmapiGetVbdEnumInfo")                              \
  X(kQLmapiGet5706FwInfo, "QLmapiGet5706FwInfo")                                \
  X(kQLmapiGet57710FwInfo, "QLmapiGet57710FwInfo")                              \
  X(kQLmapiGet579XXFwInfo, "QLmapiGet579XXFwInfo")                              \
  X(kBmapiInitializeEx, "BmapiInitializeEx")                                    \
  X(kBmapiUninitialize, "BmapiUninitialize")                                    \
  X(kBmapiGetHandleByServiceName, "BmapiGetHandleByServiceName")                \
  X(kBmapiGetBRCMNicInfo, "BmapiGetBRCMNicInfo")                                \
  X(kBmapiGetNumPhyNic, "BmapiGetNumPhyNic")                                    \
  X(kBmapiGetAllPhyNic, "BmapiGetAllPhyNic")                                    \
  X(kBmapiGetVbdEnumInfo, "BmapiGetVbdEnumInfo")                                \
  X(kBmapiGetFirmwareInfo, "BmapiGetFirmwareInfo")                              \
  X(kBmapiGet5706FwInfo, "BmapiGet5706FwInfo")                                  \
  X(kBmapiGet57710FwInfo, "BmapiGet57710FwInfo")                                \
  /* ... and bmapi.dll beside the agent. */                                     \
  X(kLocalBmapiInitializeEx, "bmapi.dll!BmapiInitializeEx")                     \
  X(kLocalBmapiUninitialize, "bmapi.dll!BmapiUninitialize")                     \
  X(kLocalBmapiGetBRCMNicInfoEx, "bmapi.dll!BmapiGetBRCMNicInfoEx")             \
  X(kLocalBmapiGetHandleByServiceName, "bmapi.dll!BmapiGetHandleByServiceName") \
  X(kLocalBmapiGetNumPhyNicEx, "bmapi.dll!BmapiGetNumPhyNicEx")                 \
  X(kLocalBmapiGetAllPhyNicHandles, "bmapi.dll!BmapiGetAllPhyNicHandles")       \
  X(kLocalBmapiGetPhyNic, "bmapi.dll!BmapiGetPhyNic")                           \
  X(kLocalBmapiGetPnpDevId, "bmapi.dll!BmapiGetPnpDevId")

// The typed names of the calls: each call site checks by one of these, so that a misspelt name
// does not compile.
enum class FaultCall : uint16_t {
#define CRV_SIM_FAULT_CALL_ID(id, name) id,
  CRV_SIM_FAULT_CALLS(CRV_SIM_FAULT_CALL_ID)
#undef CRV_SIM_FAULT_CALL_ID
};

inline constexpr std::string_view kFaultCalls[] = {
#define CRV_SIM_FAULT_CALL_NAME(id, name) name,
    CRV_SIM_FAULT_CALLS(CRV_SIM_FAULT_CALL_NAME)
#undef CRV_SIM_FAULT_CALL_NAME
};
inline constexpr size_t kFaultCallCount = std::size(kFaultCalls);

constexpr std::string_view NameOf(FaultCall call) { return kFaultCalls[static_cast<size_t>(call)]; }

// The call a fault plan names (a scenario's "faults", a test), or none for a name not in the
// table: no call would ever check it.
constexpr std::optional<FaultCall> FaultCallNamed(std::string_view name) {
  for (size_t i = 0; i < kFaultCallCount; ++i) {
    if (kFaultCalls[i] == name) return static_cast<FaultCall>(i);
  }
  return std::nullopt;
}

// Never defined: reached only while the compiler evaluates a name that is not in the table.
void NotAFaultCall();

// A vendor library's entry point, by the library's prefix ("QLmapi", "Bmapi", "bmapi.dll!Bmapi")
// and the entry's own name. Its callers keep the result in a constexpr, so the compiler
// evaluates it there and a name not in the table is an error.
constexpr FaultCall VendorFaultCall(std::string_view prefix, std::string_view entry) {
  for (size_t i = 0; i < kFaultCallCount; ++i) {
    std::string_view name = kFaultCalls[i];
    if (name.size() == prefix.size() + entry.size() && name.starts_with(prefix) &&
        name.ends_with(entry)) {
      return static_cast<FaultCall>(i);
    }
  }
  NotAFaultCall();  // not a constant expression: the entry is missing from the table
  return FaultCall{};
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
