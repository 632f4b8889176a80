// iphlpapi tables and ws2_32 address conversion. The tables are the SDK's structures (see
// sdk_checks.cc), so the caller's buffers pass through as they are.
//
// The seam's headers come before the SDK's, whose A/W macros (WSAAddressToString, InetPton)
// would rename its methods; the SDK headers keep this order.
#include "platform/win32/backends.h"

#include <winsock2.h>

#include <ws2tcpip.h>

#include <iphlpapi.h>

#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

// One interface change registration: the agent's callback and context, handed to the system
// as the callback's context. The seam's notification handle is this record.
struct ChangeRegistration {
  IpInterfaceChangeCallback callback;
  void* context;
  HANDLE handle;
};

void NETIOAPI_API_ OnIpInterfaceChange(PVOID context, PMIB_IPINTERFACE_ROW row,
                                       MIB_NOTIFICATION_TYPE type) {
  auto* registration = static_cast<ChangeRegistration*>(context);
  if (row == nullptr) {
    registration->callback(registration->context, nullptr);
    return;
  }
  IpInterfaceChange change;
  change.family = row->Family;
  change.interfaceIndex = row->InterfaceIndex;
  change.connected = row->Connected != FALSE;
  change.notificationType = static_cast<uint32_t>(type);
  registration->callback(registration->context, &change);
}

class Win32IpHelper final : public IpHelper {
 public:
  uint32_t GetIfTable(MibIfTable* table, uint32_t* size, bool sorted) override {
    ULONG bytes = *size;
    DWORD status = ::GetIfTable(reinterpret_cast<MIB_IFTABLE*>(table), &bytes, sorted);
    *size = bytes;
    return status;
  }

  uint32_t GetIpAddrTable(MibIpAddrTable* table, uint32_t* size, bool sorted) override {
    ULONG bytes = *size;
    DWORD status = ::GetIpAddrTable(reinterpret_cast<MIB_IPADDRTABLE*>(table), &bytes, sorted);
    *size = bytes;
    return status;
  }

  uint32_t GetIfEntry(MibIfRow* row) override {
    return ::GetIfEntry(reinterpret_cast<MIB_IFROW*>(row));
  }

  uint32_t GetIfEntry2(IfRow2Flags* flags) override {
    if (flags == nullptr) return ERROR_INVALID_PARAMETER;
    MIB_IF_ROW2 row{};  // InterfaceLuid 0: the index selects the interface
    row.InterfaceIndex = flags->interfaceIndex;
    DWORD status = ::GetIfEntry2(&row);
    if (status != NO_ERROR) return status;
    flags->type = row.Type;
    flags->hardwareInterface = row.InterfaceAndOperStatusFlags.HardwareInterface != 0;
    flags->filterInterface = row.InterfaceAndOperStatusFlags.FilterInterface != 0;
    flags->mediaConnectState = static_cast<uint32_t>(row.MediaConnectState);
    flags->inOctets = row.InOctets;
    flags->outOctets = row.OutOctets;
    flags->inUcastPkts = row.InUcastPkts;
    flags->inNUcastPkts = row.InNUcastPkts;
    flags->outUcastPkts = row.OutUcastPkts;
    flags->outNUcastPkts = row.OutNUcastPkts;
    flags->inErrors = row.InErrors;
    flags->outErrors = row.OutErrors;
    flags->inDiscards = row.InDiscards;
    flags->outDiscards = row.OutDiscards;
    return NO_ERROR;
  }

  uint32_t GetAdaptersAddresses(uint32_t family, uint32_t flags, IpAdapterAddresses* addresses,
                                uint32_t* size) override {
    ULONG bytes = *size;
    ULONG status = ::GetAdaptersAddresses(
        family, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(addresses), &bytes);
    *size = bytes;
    return status;
  }

  uint32_t NotifyIpInterfaceChange(uint16_t family, IpInterfaceChangeCallback callback,
                                   void* context, bool initialNotification,
                                   Handle* notification) override {
    *notification = nullptr;
    auto* registration = static_cast<ChangeRegistration*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ChangeRegistration)));
    if (registration == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    registration->callback = callback;
    registration->context = context;
    HANDLE handle = nullptr;
    DWORD status = ::NotifyIpInterfaceChange(family, &OnIpInterfaceChange, registration,
                                             initialNotification, &handle);
    if (status != NO_ERROR) {
      HeapFree(GetProcessHeap(), 0, registration);
      return status;
    }
    // A success without a handle leaves nothing to cancel with. The record stays allocated:
    // should the system call back after all, the callback still finds it.
    if (handle == nullptr) return NO_ERROR;
    registration->handle = handle;
    *notification = reinterpret_cast<Handle>(registration);
    return NO_ERROR;
  }

  uint32_t CancelMibChangeNotify2(Handle notification) override {
    auto* registration = reinterpret_cast<ChangeRegistration*>(notification);
    if (registration == nullptr) return ERROR_INVALID_HANDLE;
    DWORD status = ::CancelMibChangeNotify2(registration->handle);
    if (status == NO_ERROR) HeapFree(GetProcessHeap(), 0, registration);
    return status;
  }

  int32_t WSAStartup(uint16_t version) override {
    WSADATA data;
    return ::WSAStartup(version, &data);
  }

  int32_t WSACleanup() override { return ::WSACleanup(); }

  int32_t WSAAddressToString(const void* address, uint32_t addressLength, char16_t* text,
                             uint32_t* length) override {
    DWORD characters = *length;
    int result = WSAAddressToStringW(const_cast<sockaddr*>(static_cast<const sockaddr*>(address)),
                                     addressLength, nullptr, Wide(text), &characters);
    *length = characters;
    return result;
  }

  int32_t InetPton(int32_t family, const char16_t* text, void* address) override {
    return InetPtonW(family, Wide(text), address);
  }
};

}  // namespace

IpHelper& IpHelperBackend() {
  static Win32IpHelper ipHelper;
  return ipHelper;
}

}  // namespace platform::win32
