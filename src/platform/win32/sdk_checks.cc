// The platform's portable constants and structures are the SDK's: the agent passes them to
// Windows unchanged, so a mismatch here would be a wrong call at run time.
#include <cstddef>
#include <type_traits>

#include "platform/code_page.h"
#include "platform/com_wmi.h"
#include "platform/config_manager.h"
#include "platform/device_io.h"
#include "platform/dynamic_library.h"
#include "platform/file_system.h"
#include "platform/ip_helper.h"
#include "platform/kernel.h"
#include "platform/ndis.h"
#include "platform/types.h"

#include <winsock2.h>

#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "platform/win32/handles.h"

#include <cfgmgr32.h>
#include <ntddndis.h>
#include <oleauto.h>
#include <wbemcli.h>

namespace platform::win32 {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed as wchar_t");
static_assert(sizeof(RegKey) == sizeof(HKEY) && sizeof(ScHandle) == sizeof(SC_HANDLE) &&
              sizeof(Handle) == sizeof(HANDLE));
static_assert(sizeof(DWORD) == sizeof(uint32_t) && sizeof(LSTATUS) == sizeof(int32_t));

// Layouts handed to the SDK by pointer.
template <class Ours, class Sdk>
constexpr bool kSameSize = sizeof(Ours) == sizeof(Sdk) && alignof(Ours) <= alignof(Sdk);
static_assert(std::is_standard_layout_v<FileTime> && std::is_standard_layout_v<SystemTime> &&
              std::is_standard_layout_v<ServiceStatus>);

static_assert(kSameSize<FileTime, FILETIME>);
static_assert(offsetof(FileTime, low) == offsetof(FILETIME, dwLowDateTime));
static_assert(offsetof(FileTime, high) == offsetof(FILETIME, dwHighDateTime));

static_assert(kSameSize<SystemTime, SYSTEMTIME>);
static_assert(offsetof(SystemTime, year) == offsetof(SYSTEMTIME, wYear));
static_assert(offsetof(SystemTime, month) == offsetof(SYSTEMTIME, wMonth));
static_assert(offsetof(SystemTime, dayOfWeek) == offsetof(SYSTEMTIME, wDayOfWeek));
static_assert(offsetof(SystemTime, day) == offsetof(SYSTEMTIME, wDay));
static_assert(offsetof(SystemTime, hour) == offsetof(SYSTEMTIME, wHour));
static_assert(offsetof(SystemTime, minute) == offsetof(SYSTEMTIME, wMinute));
static_assert(offsetof(SystemTime, second) == offsetof(SYSTEMTIME, wSecond));
static_assert(offsetof(SystemTime, milliseconds) == offsetof(SYSTEMTIME, wMilliseconds));

static_assert(kSameSize<ServiceStatus, SERVICE_STATUS>);
static_assert(offsetof(ServiceStatus, serviceType) == offsetof(SERVICE_STATUS, dwServiceType));
static_assert(offsetof(ServiceStatus, currentState) == offsetof(SERVICE_STATUS, dwCurrentState));
static_assert(offsetof(ServiceStatus, controlsAccepted) ==
              offsetof(SERVICE_STATUS, dwControlsAccepted));
static_assert(offsetof(ServiceStatus, win32ExitCode) == offsetof(SERVICE_STATUS, dwWin32ExitCode));
static_assert(offsetof(ServiceStatus, serviceSpecificExitCode) ==
              offsetof(SERVICE_STATUS, dwServiceSpecificExitCode));
static_assert(offsetof(ServiceStatus, checkPoint) == offsetof(SERVICE_STATUS, dwCheckPoint));
static_assert(offsetof(ServiceStatus, waitHint) == offsetof(SERVICE_STATUS, dwWaitHint));

static_assert(std::is_same_v<ThreadEntry, void (*)(void*)>, "_beginthread's entry type");

// Win32 errors.
static_assert(kErrorSuccess == ERROR_SUCCESS);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrorMoreData == ERROR_MORE_DATA);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kErrorKeyDeleted == ERROR_KEY_DELETED);
static_assert(kErrorChildMustBeVolatile == ERROR_CHILD_MUST_BE_VOLATILE);
static_assert(kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(kErrorServiceNotActive == ERROR_SERVICE_NOT_ACTIVE);
static_assert(kErrorFailedServiceControllerConnect == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
static_assert(kErrorServiceMarkedForDelete == ERROR_SERVICE_MARKED_FOR_DELETE);
static_assert(kErrorServiceExists == ERROR_SERVICE_EXISTS);

// Waits.
static_assert(kInfinite == INFINITE);
static_assert(kWaitObject0 == WAIT_OBJECT_0);
static_assert(kWaitTimeout == WAIT_TIMEOUT);
static_assert(kWaitFailed == WAIT_FAILED);
static_assert(kMaximumWaitObjects == MAXIMUM_WAIT_OBJECTS);

// Registry.
static_assert(kRegNone == REG_NONE && kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ &&
              kRegBinary == REG_BINARY && kRegDword == REG_DWORD && kRegMultiSz == REG_MULTI_SZ);
static_assert(kKeyQueryValue == KEY_QUERY_VALUE);
static_assert(kKeySetValue == KEY_SET_VALUE);
static_assert(kKeyCreateSubKey == KEY_CREATE_SUB_KEY);
static_assert(kKeyEnumerateSubKeys == KEY_ENUMERATE_SUB_KEYS);
static_assert(kKeyRead == KEY_READ);
static_assert(kKeyAllAccess == KEY_ALL_ACCESS);
static_assert(kRegOptionNonVolatile == REG_OPTION_NON_VOLATILE);
static_assert(kRegOptionVolatile == REG_OPTION_VOLATILE);
static_assert(kRegCreatedNewKey == REG_CREATED_NEW_KEY);
static_assert(kRegOpenedExistingKey == REG_OPENED_EXISTING_KEY);

// Service control manager.
static_assert(kScManagerConnect == SC_MANAGER_CONNECT);
static_assert(kScManagerAllAccess == SC_MANAGER_ALL_ACCESS);
static_assert(kServiceQueryConfig == SERVICE_QUERY_CONFIG);
static_assert(kServiceQueryStatus == SERVICE_QUERY_STATUS);
static_assert(kServiceStart == SERVICE_START);
static_assert(kServiceStop == SERVICE_STOP);
static_assert(kDelete == DELETE);
static_assert(kServiceAllAccess == SERVICE_ALL_ACCESS);
static_assert(kServiceWin32OwnProcess == SERVICE_WIN32_OWN_PROCESS);
static_assert(kServiceDemandStart == SERVICE_DEMAND_START);
static_assert(kServiceErrorNormal == SERVICE_ERROR_NORMAL);
static_assert(kServiceControlStop == SERVICE_CONTROL_STOP);
static_assert(kServiceStopped == SERVICE_STOPPED);
static_assert(kServiceStopPending == SERVICE_STOP_PENDING);
static_assert(kServiceRunning == SERVICE_RUNNING);

// IP helper tables, read by the agent field by field from the SDK's buffers.
#define CRV_SAME_FIELD(Ours, Sdk, ourField, sdkField)                  \
  static_assert(offsetof(Ours, ourField) == offsetof(Sdk, sdkField) && \
                sizeof(Ours::ourField) == sizeof(Sdk::sdkField))
// The interface change notification's types and family.
static_assert(kMibParameterNotification == MibParameterNotification &&
              kMibAddInstance == MibAddInstance && kMibDeleteInstance == MibDeleteInstance &&
              kMibInitialNotification == MibInitialNotification);
static_assert(kAfUnspec == AF_UNSPEC && kAfInet == AF_INET && kAfInet6 == AF_INET6);
static_assert(kMediaConnectStateUnknown == MediaConnectStateUnknown &&
              kMediaConnectStateConnected == MediaConnectStateConnected &&
              kMediaConnectStateDisconnected == MediaConnectStateDisconnected);

static_assert(kSameSize<MibIfRow, MIB_IFROW>);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, wszName, wszName);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwIndex, dwIndex);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwType, dwType);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwMtu, dwMtu);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwSpeed, dwSpeed);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwPhysAddrLen, dwPhysAddrLen);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, bPhysAddr, bPhysAddr);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwAdminStatus, dwAdminStatus);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOperStatus, dwOperStatus);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwLastChange, dwLastChange);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwInOctets, dwInOctets);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwInUcastPkts, dwInUcastPkts);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwInNUcastPkts, dwInNUcastPkts);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwInDiscards, dwInDiscards);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwInErrors, dwInErrors);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwInUnknownProtos, dwInUnknownProtos);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOutOctets, dwOutOctets);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOutUcastPkts, dwOutUcastPkts);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOutNUcastPkts, dwOutNUcastPkts);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOutDiscards, dwOutDiscards);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOutErrors, dwOutErrors);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwOutQLen, dwOutQLen);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, dwDescrLen, dwDescrLen);
CRV_SAME_FIELD(MibIfRow, MIB_IFROW, bDescr, bDescr);
CRV_SAME_FIELD(MibIfTable, MIB_IFTABLE, dwNumEntries, dwNumEntries);
CRV_SAME_FIELD(MibIfTable, MIB_IFTABLE, table, table);

static_assert(kSameSize<MibIpAddrRow, MIB_IPADDRROW>);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, dwAddr, dwAddr);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, dwIndex, dwIndex);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, dwMask, dwMask);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, dwBCastAddr, dwBCastAddr);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, dwReasmSize, dwReasmSize);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, unused1, unused1);
CRV_SAME_FIELD(MibIpAddrRow, MIB_IPADDRROW, wType, wType);
CRV_SAME_FIELD(MibIpAddrTable, MIB_IPADDRTABLE, dwNumEntries, dwNumEntries);
CRV_SAME_FIELD(MibIpAddrTable, MIB_IPADDRTABLE, table, table);

// Adapter addresses: only the leading fields are declared, so only those are compared.
CRV_SAME_FIELD(SocketAddress, SOCKET_ADDRESS, lpSockaddr, lpSockaddr);
CRV_SAME_FIELD(SocketAddress, SOCKET_ADDRESS, iSockaddrLength, iSockaddrLength);
CRV_SAME_FIELD(IpAdapterUnicastAddress, IP_ADAPTER_UNICAST_ADDRESS, Length, Length);
CRV_SAME_FIELD(IpAdapterUnicastAddress, IP_ADAPTER_UNICAST_ADDRESS, Flags, Flags);
CRV_SAME_FIELD(IpAdapterUnicastAddress, IP_ADAPTER_UNICAST_ADDRESS, Next, Next);
CRV_SAME_FIELD(IpAdapterUnicastAddress, IP_ADAPTER_UNICAST_ADDRESS, Address, Address);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, Length, Length);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, IfIndex, IfIndex);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, Next, Next);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, AdapterName, AdapterName);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, FirstUnicastAddress, FirstUnicastAddress);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, FirstAnycastAddress, FirstAnycastAddress);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, FirstMulticastAddress,
               FirstMulticastAddress);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, FirstDnsServerAddress,
               FirstDnsServerAddress);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, DnsSuffix, DnsSuffix);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, Description, Description);
CRV_SAME_FIELD(IpAdapterAddresses, IP_ADAPTER_ADDRESSES, FriendlyName, FriendlyName);
#undef CRV_SAME_FIELD

static_assert(kMaxInterfaceNameLength == MAX_INTERFACE_NAME_LEN);
static_assert(kMaxPhysAddrLength == MAXLEN_PHYSADDR);
static_assert(kMaxIfDescrLength == MAXLEN_IFDESCR);
static_assert(kIfTypeEthernetCsmacd == IF_TYPE_ETHERNET_CSMACD);
static_assert(kIfTypeSoftwareLoopback == IF_TYPE_SOFTWARE_LOOPBACK);
static_assert(kIfTypeIeee80211 == IF_TYPE_IEEE80211);
static_assert(kErrorBufferOverflow == ERROR_BUFFER_OVERFLOW);
static_assert(kErrorInvalidData == ERROR_INVALID_DATA);
static_assert(kErrorNoData == ERROR_NO_DATA);
static_assert(kAfInet == AF_INET && kAfInet6 == AF_INET6);

// Code pages.
static_assert(kCpAcp == CP_ACP);
static_assert(kMbPrecomposed == MB_PRECOMPOSED);

// _beginthread answers -1 when it cannot start the thread.
static_assert(kBeginThreadFailed == static_cast<uintptr_t>(-1));

// Device I/O.
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kFileAttributeReadonly == FILE_ATTRIBUTE_READONLY);
static_assert(kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(kErrorNotSupported == ERROR_NOT_SUPPORTED);

// NDIS queries and the answers read from them.
static_assert(kIoctlNdisQueryGlobalStats == IOCTL_NDIS_QUERY_GLOBAL_STATS);
static_assert(kNdisMedium802_3 == NdisMedium802_3 && kNdisMedium802_5 == NdisMedium802_5 &&
              kNdisMediumMax == NdisMediumMax);
static_assert(kNdisMediaStateConnected == NdisMediaStateConnected &&
              kNdisMediaStateDisconnected == NdisMediaStateDisconnected);
static_assert(kSameSize<NdisLinkState, NDIS_LINK_STATE>);
static_assert(offsetof(NdisLinkState, mediaConnectState) ==
              offsetof(NDIS_LINK_STATE, MediaConnectState));
static_assert(offsetof(NdisLinkState, mediaDuplexState) ==
              offsetof(NDIS_LINK_STATE, MediaDuplexState));
static_assert(offsetof(NdisLinkState, xmitLinkSpeed) == offsetof(NDIS_LINK_STATE, XmitLinkSpeed));
static_assert(offsetof(NdisLinkState, rcvLinkSpeed) == offsetof(NDIS_LINK_STATE, RcvLinkSpeed));
static_assert(offsetof(NdisLinkState, pauseFunctions) == offsetof(NDIS_LINK_STATE, PauseFunctions));
static_assert(offsetof(NdisLinkState, autoNegotiationFlags) ==
              offsetof(NDIS_LINK_STATE, AutoNegotiationFlags));

// Configuration manager.
static_assert(sizeof(DevInst) == sizeof(DEVINST) && sizeof(ConfigRet) == sizeof(CONFIGRET));
static_assert(kSameSize<Guid, GUID>);
static_assert(offsetof(Guid, data1) == offsetof(GUID, Data1) &&
              offsetof(Guid, data2) == offsetof(GUID, Data2) &&
              offsetof(Guid, data3) == offsetof(GUID, Data3) &&
              offsetof(Guid, data4) == offsetof(GUID, Data4));
static_assert(kCrSuccess == CR_SUCCESS);
static_assert(kCrInvalidPointer == CR_INVALID_POINTER);
static_assert(kCrInvalidFlag == CR_INVALID_FLAG);
static_assert(kCrInvalidDevNode == CR_INVALID_DEVNODE);
static_assert(kCrNoSuchDevNode == CR_NO_SUCH_DEVNODE);
static_assert(kCrFailure == CR_FAILURE);
static_assert(kCrBufferSmall == CR_BUFFER_SMALL);
static_assert(kCrRegistryError == CR_REGISTRY_ERROR);
static_assert(kCrInvalidDeviceId == CR_INVALID_DEVICE_ID);
static_assert(kCrInvalidData == CR_INVALID_DATA);
static_assert(kCrNoSuchValue == CR_NO_SUCH_VALUE);
static_assert(kCrNoSuchRegistryKey == CR_NO_SUCH_REGISTRY_KEY);
static_assert(kCrInvalidProperty == CR_INVALID_PROPERTY);
static_assert(kCmGetIdListFilterNone == CM_GETIDLIST_FILTER_NONE);
static_assert(kCmGetIdListFilterEnumerator == CM_GETIDLIST_FILTER_ENUMERATOR);
static_assert(kCmGetIdListFilterService == CM_GETIDLIST_FILTER_SERVICE);
static_assert(kCmGetIdListFilterPresent == CM_GETIDLIST_FILTER_PRESENT);
static_assert(kCmGetIdListFilterClass == CM_GETIDLIST_FILTER_CLASS);
static_assert(kCmLocateDevNodeNormal == CM_LOCATE_DEVNODE_NORMAL);
static_assert(kCmLocateDevNodePhantom == CM_LOCATE_DEVNODE_PHANTOM);
static_assert(kCmGetDeviceInterfaceListPresent == CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
static_assert(kCmGetDeviceInterfaceListAllDevices == CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES);
static_assert(kCmRegistryHardware == CM_REGISTRY_HARDWARE);
static_assert(kCmRegistrySoftware == CM_REGISTRY_SOFTWARE);
static_assert(kRegDispositionOpenAlways == RegDisposition_OpenAlways);
static_assert(kRegDispositionOpenExisting == RegDisposition_OpenExisting);
static_assert(kCmDrpDeviceDesc == CM_DRP_DEVICEDESC);
static_assert(kCmDrpHardwareId == CM_DRP_HARDWAREID);
static_assert(kCmDrpService == CM_DRP_SERVICE);
static_assert(kCmDrpFriendlyName == CM_DRP_FRIENDLYNAME);
static_assert(kCmDrpLocationInformation == CM_DRP_LOCATION_INFORMATION);
static_assert(kCmDrpUiNumber == CM_DRP_UI_NUMBER);

// Dynamic loading.
static_assert(sizeof(Module) == sizeof(HMODULE));
static_assert(kErrorModNotFound == ERROR_MOD_NOT_FOUND);
static_assert(kErrorProcNotFound == ERROR_PROC_NOT_FOUND);
static_assert(kMaxPath == MAX_PATH);

// COM and WMI: statuses, flags and the VARTYPEs the agent tells apart. WMI's statuses are
// an unsigned enumeration; HRESULTs are signed.
constexpr HResult Status(WBEMSTATUS status) { return static_cast<HResult>(status); }
static_assert(std::is_same_v<HResult, int32_t> && sizeof(HRESULT) == sizeof(HResult));
static_assert(sizeof(ComObject) == sizeof(IUnknown*) && sizeof(SafeArray) == sizeof(SAFEARRAY*));
static_assert(kSOk == S_OK && kSFalse == S_FALSE && kSFalse == Status(WBEM_S_FALSE));
static_assert(kWbemSTimedOut == Status(WBEM_S_TIMEDOUT));
static_assert(kEFail == E_FAIL && kEOutOfMemory == E_OUTOFMEMORY && kEInvalidArg == E_INVALIDARG);
static_assert(kRpcEChangedMode == RPC_E_CHANGED_MODE && kRpcETooLate == RPC_E_TOO_LATE);
static_assert(kRegdbEClassNotReg == REGDB_E_CLASSNOTREG);
static_assert(kWbemEFailed == Status(WBEM_E_FAILED) && kWbemENotFound == Status(WBEM_E_NOT_FOUND) &&
              kWbemEAccessDenied == Status(WBEM_E_ACCESS_DENIED));
static_assert(kWbemEInvalidClass == Status(WBEM_E_INVALID_CLASS) &&
              kWbemEInvalidNamespace == Status(WBEM_E_INVALID_NAMESPACE) &&
              kWbemEInvalidQuery == Status(WBEM_E_INVALID_QUERY));
static_assert(kDispEArrayIsLocked == DISP_E_ARRAYISLOCKED && kDispEBadIndex == DISP_E_BADINDEX);
static_assert(kCoinitMultithreaded == COINIT_MULTITHREADED);
static_assert(kClsctxInprocServer == CLSCTX_INPROC_SERVER && kClsctxAll == CLSCTX_ALL);
static_assert(kRpcCAuthnDefault == static_cast<uint32_t>(RPC_C_AUTHN_DEFAULT) &&
              kRpcCAuthnWinnt == RPC_C_AUTHN_WINNT && kRpcCAuthzNone == RPC_C_AUTHZ_NONE);
static_assert(kRpcCAuthnLevelDefault == RPC_C_AUTHN_LEVEL_DEFAULT &&
              kRpcCAuthnLevelCall == RPC_C_AUTHN_LEVEL_CALL);
static_assert(kRpcCImpLevelImpersonate == RPC_C_IMP_LEVEL_IMPERSONATE);
static_assert(kEoacNone == EOAC_NONE);
static_assert(kWbemFlagShallow == WBEM_FLAG_SHALLOW &&
              kWbemFlagReturnImmediately == WBEM_FLAG_RETURN_IMMEDIATELY &&
              kWbemFlagForwardOnly == WBEM_FLAG_FORWARD_ONLY);
static_assert(kWbemInfinite == static_cast<int32_t>(WBEM_INFINITE));
static_assert(kVtEmpty == VT_EMPTY && kVtNull == VT_NULL && kVtI2 == VT_I2 && kVtI4 == VT_I4 &&
              kVtBstr == VT_BSTR && kVtBool == VT_BOOL && kVtI1 == VT_I1 && kVtUi1 == VT_UI1 &&
              kVtUi2 == VT_UI2 && kVtUi4 == VT_UI4 && kVtI8 == VT_I8 && kVtUi8 == VT_UI8 &&
              kVtArray == VT_ARRAY);

// Library loading by full path, and the file calls that precede it.
static_assert(kLoadWithAlteredSearchPath == LOAD_WITH_ALTERED_SEARCH_PATH &&
              kLoadLibrarySearchDllLoadDir == LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR &&
              kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32 &&
              kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES &&
              kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY && kMaxAclBytes == 0xFFFF &&
              sizeof(ACL) == 8 && sizeof(ACE_HEADER) == 4 &&
              offsetof(ACCESS_ALLOWED_ACE, SidStart) == 8);

// The metrics file: written under a new name, renamed over the old one.
static_assert(kFileAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT &&
              kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL &&
              kFileFlagOpenReparsePoint == FILE_FLAG_OPEN_REPARSE_POINT &&
              kGenericWrite == GENERIC_WRITE && kCreateNew == CREATE_NEW &&
              kCreateAlways == CREATE_ALWAYS &&
              kMoveFileReplaceExisting == MOVEFILE_REPLACE_EXISTING &&
              kMoveFileWriteThrough == MOVEFILE_WRITE_THROUGH &&
              kErrorFileExists == ERROR_FILE_EXISTS && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
              kErrorDiskFull == ERROR_DISK_FULL);

}  // namespace
}  // namespace platform::win32
