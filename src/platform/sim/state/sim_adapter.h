// A network adapter described once (SimAdapter), and what the machine derived from it
// (AdapterRecord). adapter_builder.h turns a description into the records of every API.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/state/network_sim.h"
#include "platform/sim/state/registry_sim.h"

namespace sim {

enum class AdapterKind {
  kPci,         // a PCI function: PCI\VEN_v&DEV_d&SUBSYS_s&REV_r\...
  kB06bdrv,     // B06BDRV\L2ND&PCI_<device><vendor>&SUBSYS_s&REV_r\..., below a PCI function
  kEbdrv,       // EBDRV\L2ND&PCI_...
  kQebdrv,      // QEBDRV\L2ND&PCI_...
  kMlx4,        // MLX4\<busDevice>\..., a port below a PCI function (busDevice CONNECTX-3_ETH)
  kIba,         // IBA\<busDevice>\..., an IP over InfiniBand port (busDevice CONNECTX-3_IPOIB)
  kSolarflare,  // <enumerator>\NDIS&VEN_1924&DEV_0903..., below its PCI function
  kOther,       // any instance ID (instanceId required): root-enumerated or unsupported kinds
};

enum class SimDuplex : uint32_t { kUnknown = 0, kHalf = 1, kFull = 2 };  // NDIS duplex states

struct SimAdapter {
  std::u16string guid;                // "{...}", the NetCfgInstanceId
  std::vector<uint8_t> mac;           // current address
  std::vector<uint8_t> permanentMac;  // empty: the current address
  uint32_t ifIndex = 0;               // the interface row's index (unique); 0: no interface row
  uint32_t ifType = 6;
  uint32_t mtu = 1500;
  std::u16string description;  // CM_DRP_DEVICEDESC, DriverDesc, the interface's description
  // CM_DRP_FRIENDLYNAME; unset: the description; empty text: no friendly name property.
  std::optional<std::u16string> friendlyName;
  AdapterKind kind = AdapterKind::kPci;
  // Device part of the bus-enumerated kinds' instance IDs; empty: "L2ND", "CONNECTX-3_ETH",
  // "CONNECTX-3_IPOIB", "NDIS&VEN_1924&DEV_0903" by kind.
  std::u16string busDevice;
  std::u16string solarflareEnumerator = u"SFNBUS";
  uint16_t vendorId = 0x8086;
  uint16_t deviceId = 0x10D3;
  uint32_t subsystem = 0;  // the SUBSYS_ word: subsystem device high, subsystem vendor low
  uint8_t revision = 0;
  uint32_t bus = 0, device = 0, function = 0;
  std::optional<uint32_t> slot;  // adds "PCI Slot S (...)" to the location text
  // The PnP UI number of the PCI function (the adapter's own node for kPci, the parent for
  // the bus kinds, where the parent's Enum key also carries it as "UINumber").
  std::optional<uint32_t> uiNumber;
  uint32_t port = 1;         // MLX4/IBA port, 1-based: the port node's UI number and InstanceIndex
  bool portUiNumber = true;  // MLX4/IBA: whether the port node has its UI number property
  // Own location text; unset: derived by kind (the PCI text, "MLX4 bus ..."; none for kOther).
  std::optional<std::u16string> location;
  // As given (case kept); empty: derived by kind, with "&n" added when another adapter has
  // the same place. Required for kOther.
  std::u16string instanceId;
  std::u16string service;  // CM_DRP_SERVICE; empty: no service property
  uint32_t medium = 0;     // NDIS_MEDIUM
  bool linkUp = true;
  uint64_t speedBps = 1000000000;
  SimDuplex duplex = SimDuplex::kFull;
  // The driver-private query device with kOidPrivateDuplex; unset: present for the service
  // names of drivers that have one (N100, N1000, E100, E1000, ixgbn, ... as the drivers ship).
  std::optional<bool> privateDevice;
  std::vector<SimIpv4Address> ipv4;
  std::vector<std::u16string> ipv6;
  bool dhcp = false;
  std::u16string connectionName;  // empty: "Ethernet <ifIndex>"
  // Network class key values (REG_SZ) such as "*SpeedDuplex" = "0".
  std::map<std::u16string, std::u16string, NoCaseLess> keywords;
  // Whether the node has an NDIS LAN device interface.
  bool ndisInterface = true;
  // Whether TCP/IP is bound to the adapter's interface; a team's member adapters have it
  // unbound, so their rows raise no IP interface change.
  bool ipBinding = true;
  // The NDIS filters bound to the adapter, each with an interface row of its own
  // ("<description>-<filter>-0000", the adapter's MAC, its link); unset: the machine's
  // default (SimDevices::SetDefaultFilters).
  std::optional<std::vector<std::u16string>> filters;
  // Whether the filter rows come before the adapter's own row; unset: the machine's default.
  std::optional<bool> filtersFirst;
  // The firmware version "A.B.C" the driver reports through its vendor's OID: Intel (8086)
  // in the adapter information block, NetXen (4040) and QLogic (1077) as three words,
  // Emulex (19A2) as text, Mellanox (15B3) as one 64-bit word. Empty: the driver does not
  // answer. Other vendors' versions come from their management libraries or WMI.
  std::string firmware;
};

// What AddAdapter derived, for tests that edit records afterwards.
struct AdapterRecord {
  SimAdapter adapter;
  std::u16string instanceId;
  std::u16string parentId;       // the PCI parent for the bus kinds; empty otherwise
  std::u16string interfacePath;  // the NDIS LAN device interface path
  std::u16string classKey;       // network class key "...\NNNN"
  std::u16string enumKey;        // Enum key of the adapter's node
  std::u16string connectionKey;  // ...\Network\{class}\{GUID}\Connection
  std::u16string tcpipKey;       // TCP/IP interface parameters key
};

}  // namespace sim
