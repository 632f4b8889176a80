// IP helper and Winsock calls (iphlpapi, ws2_32), with the tables laid out as Windows lays
// them out: the agent reads MIB_IFROW and MIB_IPADDRROW fields directly from the buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kMaxInterfaceNameLength = 256;  // MAX_INTERFACE_NAME_LEN
constexpr uint32_t kMaxPhysAddrLength = 8;         // MAXLEN_PHYSADDR
constexpr uint32_t kMaxIfDescrLength = 256;        // MAXLEN_IFDESCR

constexpr uint32_t kIfTypeEthernetCsmacd = 6;
constexpr uint32_t kIfTypeSoftwareLoopback = 24;
constexpr uint32_t kIfTypeIeee80211 = 71;

constexpr uint16_t kAfInet = 2;
constexpr uint16_t kAfInet6 = 23;

struct MibIfRow {
  char16_t wszName[kMaxInterfaceNameLength];
  uint32_t dwIndex;
  uint32_t dwType;
  uint32_t dwMtu;
  uint32_t dwSpeed;
  uint32_t dwPhysAddrLen;
  uint8_t bPhysAddr[kMaxPhysAddrLength];
  uint32_t dwAdminStatus;
  uint32_t dwOperStatus;
  uint32_t dwLastChange;
  uint32_t dwInOctets;
  uint32_t dwInUcastPkts;
  uint32_t dwInNUcastPkts;
  uint32_t dwInDiscards;
  uint32_t dwInErrors;
  uint32_t dwInUnknownProtos;
  uint32_t dwOutOctets;
  uint32_t dwOutUcastPkts;
  uint32_t dwOutNUcastPkts;
  uint32_t dwOutDiscards;
  uint32_t dwOutErrors;
  uint32_t dwOutQLen;
  uint32_t dwDescrLen;
  uint8_t bDescr[kMaxIfDescrLength];
};
static_assert(sizeof(MibIfRow) == 860);
static_assert(offsetof(MibIfRow, dwIndex) == 512);
static_assert(offsetof(MibIfRow, bPhysAddr) == 532);
static_assert(offsetof(MibIfRow, dwLastChange) == 548);
static_assert(offsetof(MibIfRow, bDescr) == 604);

// MIB_IFTABLE: a row count and that many rows.
struct MibIfTable {
  uint32_t dwNumEntries;
  MibIfRow table[1];
};
static_assert(offsetof(MibIfTable, table) == 4);
constexpr size_t MibIfTableSize(size_t rows) {
  return offsetof(MibIfTable, table) + rows * sizeof(MibIfRow);
}

struct MibIpAddrRow {
  uint32_t dwAddr;  // network byte order
  uint32_t dwIndex;
  uint32_t dwMask;
  uint32_t dwBCastAddr;
  uint32_t dwReasmSize;
  uint16_t unused1;
  uint16_t wType;
};
static_assert(sizeof(MibIpAddrRow) == 24);

struct MibIpAddrTable {
  uint32_t dwNumEntries;
  MibIpAddrRow table[1];
};
static_assert(offsetof(MibIpAddrTable, table) == 4);
constexpr size_t MibIpAddrTableSize(size_t rows) {
  return offsetof(MibIpAddrTable, table) + rows * sizeof(MibIpAddrRow);
}

// SOCKADDR as the adapter addresses carry it; the agent only passes it to
// WSAAddressToStringW together with its length.
struct SocketAddress {
  void* lpSockaddr;
  int32_t iSockaddrLength;
};

// The leading fields of IP_ADAPTER_UNICAST_ADDRESS (as far as the agent reads them).
struct IpAdapterUnicastAddress {
  uint32_t Length;
  uint32_t Flags;
  IpAdapterUnicastAddress* Next;
  SocketAddress Address;
};

// The leading fields of IP_ADAPTER_ADDRESSES (as far as the agent reads them). Entries are
// chained through Next inside the caller's buffer.
struct IpAdapterAddresses {
  uint32_t Length;
  uint32_t IfIndex;
  IpAdapterAddresses* Next;
  char* AdapterName;
  IpAdapterUnicastAddress* FirstUnicastAddress;
  void* FirstAnycastAddress;
  void* FirstMulticastAddress;
  void* FirstDnsServerAddress;
  char16_t* DnsSuffix;
  char16_t* Description;
  char16_t* FriendlyName;
};

// What the agent reads of MIB_IF_ROW2 (GetIfEntry2): interfaceIndex selects the interface,
// the rest is the answer: its kind and flags, its medium, and its 64-bit counters (which,
// unlike GetIfTable's 32-bit ones, do not wrap within minutes on a busy 10 Gb/s link).
struct IfRow2Flags {
  uint32_t interfaceIndex = 0;
  uint32_t type = 0;
  bool hardwareInterface = false;  // InterfaceAndOperStatusFlags.HardwareInterface
  bool filterInterface = false;    // InterfaceAndOperStatusFlags.FilterInterface: an NDIS filter
  uint32_t mediaConnectState = 0;  // MediaConnectState: one of the kMediaConnectState* below
  uint64_t inOctets = 0;
  uint64_t outOctets = 0;
  uint64_t inUcastPkts = 0;
  uint64_t inNUcastPkts = 0;
  uint64_t outUcastPkts = 0;
  uint64_t outNUcastPkts = 0;
  uint64_t inErrors = 0;
  uint64_t outErrors = 0;
  uint64_t inDiscards = 0;
  uint64_t outDiscards = 0;
};

// NET_IF_MEDIA_CONNECT_STATE
constexpr uint32_t kMediaConnectStateUnknown = 0;
constexpr uint32_t kMediaConnectStateConnected = 1;
constexpr uint32_t kMediaConnectStateDisconnected = 2;

// What the agent reads of the MIB_IPINTERFACE_ROW handed to an interface change callback.
struct IpInterfaceChange {
  uint16_t family = 0;  // kAfInet or kAfInet6
  uint32_t interfaceIndex = 0;
  bool connected = false;         // the row's Connected member
  uint32_t notificationType = 0;  // MIB_NOTIFICATION_TYPE: one of the kMib* below
};

constexpr uint32_t kMibParameterNotification = 0;
constexpr uint32_t kMibAddInstance = 1;
constexpr uint32_t kMibDeleteInstance = 2;
constexpr uint32_t kMibInitialNotification = 3;
constexpr uint16_t kAfUnspec = 0;

// Called on a thread of the system's (between threads on the simulated server); calls for
// one registration are serialised. change is null for the initial notification.
using IpInterfaceChangeCallback = void (*)(void* context, const IpInterfaceChange* change);

class IpHelper {
 public:
  virtual ~IpHelper() = default;

  // GetIfTable: with a null or small buffer, *size receives the size needed and the answer
  // is kErrorInsufficientBuffer.
  virtual uint32_t GetIfTable(MibIfTable* table, uint32_t* size, bool sorted) = 0;
  // GetIpAddrTable, with the same size protocol.
  virtual uint32_t GetIpAddrTable(MibIpAddrTable* table, uint32_t* size, bool sorted) = 0;
  // GetIfEntry: row->dwIndex selects the interface.
  virtual uint32_t GetIfEntry(MibIfRow* row) = 0;
  // GetIfEntry2 by interface index, keeping only the fields above. kErrorProcNotFound where
  // the system has no such call.
  virtual uint32_t GetIfEntry2(IfRow2Flags* row) = 0;
  // GetAdaptersAddresses without the reserved argument; kErrorBufferOverflow with the size
  // needed in *size when the buffer is too small.
  virtual uint32_t GetAdaptersAddresses(uint32_t family, uint32_t flags,
                                        IpAdapterAddresses* addresses, uint32_t* size) = 0;

  // NotifyIpInterfaceChange: calls callback with context for every change of an IP interface
  // of the family (kAfUnspec: both). On success *notification is the registration, which may
  // be null (a success with no handle is what a stand-in that never calls back answers).
  virtual uint32_t NotifyIpInterfaceChange(uint16_t family, IpInterfaceChangeCallback callback,
                                           void* context, bool initialNotification,
                                           Handle* notification) = 0;
  // CancelMibChangeNotify2: ends a registration made above. Never called from inside the
  // callback.
  virtual uint32_t CancelMibChangeNotify2(Handle notification) = 0;

  // Winsock. WSAStartup's data block is not used by the agent.
  virtual int32_t WSAStartup(uint16_t version) = 0;
  virtual int32_t WSACleanup() = 0;
  // WSAAddressToStringW without protocol information. *length in characters, in and out.
  virtual int32_t WSAAddressToString(const void* address, uint32_t addressLength, char16_t* text,
                                     uint32_t* length) = 0;
  // InetPtonW: 1 when converted, 0 when the text is not an address of the family, -1 on error.
  virtual int32_t InetPton(int32_t family, const char16_t* text, void* address) = 0;
};

}  // namespace platform
