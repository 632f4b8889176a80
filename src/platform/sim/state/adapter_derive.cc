#include "platform/sim/state/adapter_derive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "common/utf.h"
#include "platform/config_manager.h"
#include "platform/ndis.h"
#include "platform/sim/api/apis.h"
#include "platform/sim/state/adapter_builder.h"
#include "platform/sim/state/sim_bytes.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = crv::UpperCase(c);
  return out;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return out;
}

// A deterministic 32-bit hash standing in for the PnP manager's instance hashes.
uint32_t InstanceHash(uint32_t seed) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < 4; ++i) {
    h ^= (seed >> (8 * i)) & 0xFF;
    h *= 16777619u;
  }
  return h;
}

bool ServiceIn(const std::u16string& service, std::initializer_list<const char16_t*> names) {
  for (const char16_t* name : names) {
    if (SameNoCase(service, name)) return true;
  }
  return false;
}

// Drivers whose miniport offers the private query device with its duplex answer.
bool HasPrivateDuplex(const std::u16string& service) {
  return ServiceIn(
      service, {u"N100", u"N1000", u"N1e5132", u"N1000x8", u"N1000e8", u"e1qexpress", u"e1rexpress",
                u"e1express", u"E100", u"E1000", u"i40ea", u"ixgbn", u"ixgbt"});
}
// Drivers that answer link and duplex through their two private counter blocks.
bool HasPrivateCounters(const std::u16string& service) { return ServiceIn(service, {u"netflx3"}); }
// Drivers that answer the vendor duplex OID directly.
bool HasVendorDuplex(const std::u16string& service) {
  return ServiceIn(service, {u"NXP2NIC", u"NXND6Vq", u"NXND5Vq", u"QLNDNIC"});
}

bool IsL2nd(AdapterKind kind) {
  return kind == AdapterKind::kB06bdrv || kind == AdapterKind::kEbdrv ||
         kind == AdapterKind::kQebdrv;
}

std::u16string Enumerator(const SimAdapter& a) {
  switch (a.kind) {
    case AdapterKind::kB06bdrv:
      return u"B06BDRV";
    case AdapterKind::kEbdrv:
      return u"EBDRV";
    case AdapterKind::kQebdrv:
      return u"QEBDRV";
    case AdapterKind::kMlx4:
      return u"MLX4";
    case AdapterKind::kIba:
      return u"IBA";
    case AdapterKind::kSolarflare:
      return Upper(a.solarflareEnumerator);
    default:
      return u"PCI";
  }
}

std::u16string BusDevice(const SimAdapter& a) {
  if (!a.busDevice.empty()) return Upper(a.busDevice);
  switch (a.kind) {
    case AdapterKind::kMlx4:
      return u"CONNECTX-3_ETH";
    case AdapterKind::kIba:
      return u"CONNECTX-3_IPOIB";
    case AdapterKind::kSolarflare:
      return u"NDIS&VEN_1924&DEV_0903";
    default:
      return u"L2ND";
  }
}

// "PCI\VEN_v&DEV_d&SUBSYS_s&REV_r", the PCI function's first hardware ID.
std::u16string PciHardwareId(const SimAdapter& a) {
  return FormatText("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_%02X", a.vendorId, a.deviceId,
                    a.subsystem, a.revision);
}

std::u16string PciInstanceId(const SimAdapter& a) {
  return PciHardwareId(a) + FormatText("\\4&%08X&0&00%02X", InstanceHash(a.bus),
                                       ((a.device & 0x1F) << 3) | (a.function & 7));
}

// The device part of a bus-enumerated ID, without the instance part.
std::u16string BusDeviceId(const SimAdapter& a) {
  std::u16string id = Enumerator(a) + u"\\" + BusDevice(a);
  if (IsL2nd(a.kind)) {
    id += FormatText("&PCI_%04X%04X&SUBSYS_%08X&REV_%02X", a.deviceId, a.vendorId, a.subsystem,
                     a.revision);
  }
  return id;
}

void SetRowDescription(platform::MibIfRow& row, const std::u16string& text) {
  std::string ansi = ToAnsiCodePage(text);
  size_t n = std::min(ansi.size(), sizeof row.bDescr - 1);
  std::memset(row.bDescr, 0, sizeof row.bDescr);
  std::memcpy(row.bDescr, ansi.data(), n);
  row.dwDescrLen = static_cast<uint32_t>(n + 1);
}

// The 802.3 statistics the agent collects; drivers answer each as a 32-bit count.
constexpr uint32_t kStatisticOids[] = {0x00020101, 0x00020102, 0x01020101, 0x0002020D,
                                       0x01020102, 0x01020103, 0x01020201, 0x01020207,
                                       0x01020202, 0x01020204, 0x01020206, 0x01020203};

// The numbers of an "A.B.C" version text (missing parts 0).
std::array<uint32_t, 3> VersionParts(const std::string& text) {
  std::array<uint32_t, 3> parts{};
  size_t part = 0;
  for (char c : text) {
    if (c == '.') {
      if (++part == parts.size()) break;
    } else if (c >= '0' && c <= '9') {
      parts[part] = parts[part] * 10 + static_cast<uint32_t>(c - '0');
    }
  }
  return parts;
}

// The vendor OID answers that carry the firmware version, as each vendor's driver encodes it.
void DeriveFirmware(const SimAdapter& a, NdisDevice& d) {
  if (a.firmware.empty()) return;
  auto [major, minor, build] = VersionParts(a.firmware);
  switch (a.vendorId) {
    case 0x8086: {
      // The adapter information block: the version word at its end, major in the top byte.
      std::vector<uint8_t> info(72, 0);
      PutDword(info, 68, major << 24 | (minor & 0xFFFF) << 8 | (build & 0xFF));
      d.oids[kOidPrivateAdapterInfo] = OidAnswer::Bytes(info);
      if (d.privateDevice)
        d.privateDevice->answers[kOidPrivateAdapterInfo] = PrivateAnswer{info, 0, 0};
      break;
    }
    case 0x4040:
    case 0x1077: {
      std::vector<uint8_t> words(12, 0);
      PutDword(words, 0, major);
      PutDword(words, 4, minor);
      PutDword(words, 8, build);
      d.oids[kOidNetXenFirmware] = OidAnswer::Bytes(words);
      break;
    }
    case 0x19A2: {
      std::vector<uint8_t> text(256, 0);
      std::copy_n(a.firmware.begin(), std::min<size_t>(a.firmware.size(), 255), text.begin());
      d.oids[kOidEmulexFirmware] = OidAnswer::Bytes(text);
      break;
    }
    case 0x15B3: {
      uint64_t q =
          uint64_t{major & 0xFFFF} << 32 | uint64_t{minor & 0xFFFF} << 16 | (build & 0xFFFF);
      std::vector<uint8_t> word(8, 0);
      std::memcpy(word.data(), &q, sizeof q);
      d.oids[kOidMellanoxFirmware] = OidAnswer::Bytes(word);
      break;
    }
    default:
      break;
  }
}

}  // namespace

bool IsMellanox(AdapterKind kind) {
  return kind == AdapterKind::kMlx4 || kind == AdapterKind::kIba;
}
bool HasPciParent(AdapterKind kind) {
  return IsL2nd(kind) || IsMellanox(kind) || kind == AdapterKind::kSolarflare;
}

std::vector<std::u16string> PciHardwareIds(const SimAdapter& a) {
  return {PciHardwareId(a),
          FormatText("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X", a.vendorId, a.deviceId, a.subsystem),
          FormatText("PCI\\VEN_%04X&DEV_%04X&CC_020000", a.vendorId, a.deviceId),
          FormatText("PCI\\VEN_%04X&DEV_%04X&CC_0200", a.vendorId, a.deviceId)};
}

std::u16string ConnectionName(const SimAdapter& a) {
  return a.connectionName.empty() ? FormatText("Ethernet %u", a.ifIndex) : a.connectionName;
}

std::u16string FriendlyName(const SimAdapter& a) {
  return a.friendlyName ? *a.friendlyName : a.description;
}

std::u16string JoinKeyPath(std::u16string_view a, std::u16string_view b) {
  return std::u16string(a) + u"\\" + std::u16string(b);
}

std::u16string Ipv4Text(uint32_t address) {
  const auto* b = reinterpret_cast<const uint8_t*>(&address);
  return FormatText("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

SimInterface DeriveInterface(const SimAdapter& a) {
  SimInterface i;
  platform::MibIfRow& row = i.row;
  row.dwIndex = a.ifIndex;
  row.dwType = a.ifType;
  row.dwMtu = a.mtu;
  size_t n = std::min(a.mac.size(), size_t{platform::kMaxPhysAddrLength});
  row.dwPhysAddrLen = static_cast<uint32_t>(n);
  if (n != 0) std::memcpy(row.bPhysAddr, a.mac.data(), n);
  row.dwAdminStatus = 1;
  SetRowDescription(row, FriendlyName(a));
  i.adapterName = crv::Utf16ToUtf8(a.guid);
  std::u16string wideName = u"\\DEVICE\\TCPIP_" + a.guid;
  std::memcpy(row.wszName, wideName.c_str(),
              std::min(wideName.size(), size_t{platform::kMaxInterfaceNameLength - 1}) * 2);
  i.friendlyName = ConnectionName(a);
  if (a.ipBinding) {  // an interface without TCP/IP has no addresses
    i.ipv4 = a.ipv4;
    i.ipv6 = a.ipv6;
  }
  i.hardware = a.kind != AdapterKind::kOther;  // root-enumerated and multiplexor devices are not
  i.ipBinding = a.ipBinding;
  return i;
}

SimInterface DeriveFilterInterface(const SimAdapter& a, const SimInterface& adapter,
                                   const std::u16string& filter, uint32_t index) {
  SimInterface i = adapter;
  i.row.dwIndex = index;
  SetRowDescription(i.row, FriendlyName(a) + u"-" + filter + u"-0000");
  i.hardware = false;
  i.filter = true;
  i.ipBinding = false;
  i.ipv4.clear();
  i.ipv6.clear();
  i.filteredAdapter = a.guid;
  i.friendlyName = i.friendlyName + u"-" + filter + u"-0000";
  return i;
}

void ApplyLinkToRow(const SimAdapter& a, platform::MibIfRow& row, uint32_t lastChange) {
  row.dwOperStatus = a.linkUp ? 5 : 2;  // operational, or disconnected
  row.dwSpeed = a.linkUp ? static_cast<uint32_t>(std::min<uint64_t>(a.speedBps, 0xFFFFFFFFu)) : 0;
  row.dwLastChange = lastChange;
}

void ApplyLinkToNdis(const SimAdapter& a, NdisDevice& d) {
  uint32_t duplex = a.linkUp ? static_cast<uint32_t>(a.duplex) : 0;
  d.oids[kOidGenMediaConnectStatus] = OidAnswer::Dword(
      a.linkUp ? platform::kNdisMediaStateConnected : platform::kNdisMediaStateDisconnected);
  // Drivers keep answering their nominal speed while the link is down.
  d.oids[kOidGenLinkSpeed] =
      OidAnswer::Dword(static_cast<uint32_t>(std::min<uint64_t>(a.speedBps / 100, 0xFFFFFFFFu)));
  d.oids[kOidGenMediaDuplexState] = OidAnswer::Dword(duplex);
  platform::NdisLinkState state{};
  state.headerType = 0x80;  // NDIS_OBJECT_TYPE_DEFAULT
  state.headerRevision = 1;
  state.headerSize = sizeof state;
  state.mediaConnectState = a.linkUp ? 1 : 2;  // MediaConnectStateConnected / Disconnected
  state.mediaDuplexState = duplex;
  state.xmitLinkSpeed = a.linkUp ? a.speedBps : ~uint64_t{0};  // NDIS_LINK_SPEED_UNKNOWN
  state.rcvLinkSpeed = state.xmitLinkSpeed;
  std::vector<uint8_t> bytes(sizeof state);
  std::memcpy(bytes.data(), &state, sizeof state);
  d.oids[kOidGenLinkState] = OidAnswer::Bytes(std::move(bytes));
  if (d.privateDevice) {
    std::vector<uint8_t> data(8, 0);
    PutDword(data, 0, duplex);
    d.privateDevice->answers[kOidPrivateDuplex] = PrivateAnswer{data, 0, 0};
  }
  if (HasPrivateCounters(a.service)) {
    // The driver's other counters fill the blocks around the two fields.
    std::vector<uint8_t> blockA(128, 0x5A), blockB(48, 0x5A);
    PutDword(blockA, 16, a.linkUp ? 0 : 1);
    PutDword(blockB, 12, a.duplex == SimDuplex::kFull ? 1 : 0);
    d.oids[kOidPrivateCountersA] = OidAnswer::Bytes(blockA);
    d.oids[kOidPrivateCountersB] = OidAnswer::Bytes(blockB);
  }
  if (HasVendorDuplex(a.service)) {
    std::vector<uint8_t> data(8, 0);
    PutDword(data, 0, a.duplex == SimDuplex::kFull ? 1 : 0);
    d.oids[kOidVendorDuplex] = OidAnswer::Bytes(data);
  }
}

void DeriveNdis(const SimAdapter& a, NdisDevice& d) {
  d.oids.clear();
  d.oids[kOidGenMediaInUse] = OidAnswer::Dword(a.medium);
  if (a.medium == platform::kNdisMedium802_3) {
    d.oids[kOid8023CurrentAddress] = OidAnswer::Bytes(a.mac);
    d.oids[kOid8023PermanentAddress] =
        OidAnswer::Bytes(a.permanentMac.empty() ? a.mac : a.permanentMac);
    for (uint32_t oid : kStatisticOids) d.oids[oid] = OidAnswer::Dword(0);
  }
  d.privateDevice.reset();
  if (HasPrivateQueryDevice(a)) {
    PrivateQueryDevice p;
    p.name = u"NdisPrivate" + Upper(a.guid);
    d.privateDevice = std::move(p);
  }
  DeriveFirmware(a, d);
  ApplyLinkToNdis(a, d);
}

DevNode DeriveParent(const SimAdapter& a) {
  DevNode parent;
  parent.instanceId = PciInstanceId(a);
  parent.classGuid = kSystemClassGuidText;
  parent.SetText(platform::kCmDrpDeviceDesc, a.description);
  parent.SetMultiText(platform::kCmDrpHardwareId, PciHardwareIds(a));
  std::u16string busService = a.kind == AdapterKind::kSolarflare ? Lower(a.solarflareEnumerator)
                              : IsMellanox(a.kind)               ? u"mlx4_bus"
                                                                 : Lower(Enumerator(a));
  parent.SetText(platform::kCmDrpService, busService);
  parent.SetText(platform::kCmDrpLocationInformation,
                 PciLocationText(a.bus, a.device, a.function, a.slot));
  if (a.uiNumber) parent.SetDword(platform::kCmDrpUiNumber, *a.uiNumber);
  parent.hardwareKey =
      JoinKeyPath(JoinKeyPath(kEnumKeyPath, parent.instanceId), u"Device Parameters");
  return parent;
}

std::optional<std::u16string> DeriveLocation(const SimAdapter& a) {
  if (a.location) return a.location->empty() ? std::nullopt : a.location;
  switch (a.kind) {
    case AdapterKind::kPci:
    case AdapterKind::kB06bdrv:
    case AdapterKind::kEbdrv:
    case AdapterKind::kQebdrv:
      return PciLocationText(a.bus, a.device, a.function, a.slot);
    case AdapterKind::kMlx4:
    case AdapterKind::kIba:
      return FormatText("MLX4 bus %x, device %x, function %x, port %x", a.bus, a.device, a.function,
                        a.port);
    default:
      return std::nullopt;
  }
}

std::u16string PciLocationText(uint32_t bus, uint32_t device, uint32_t function,
                               std::optional<uint32_t> slot) {
  std::u16string text = FormatText("PCI bus %u, device %u, function %u", bus, device, function);
  if (slot) text = FormatText("PCI Slot %u (", *slot) + text + u")";
  return text;
}

std::u16string ParentIdPrefixFor(const SimAdapter& a) {
  uint32_t seed = (a.bus << 8) | ((a.device & 0x1F) << 3) | (a.function & 7);
  return FormatText("5&%08x&0", InstanceHash(seed ^ 0x5A5A0000u));
}

std::u16string DeriveInstanceId(const SimAdapter& a) {
  if (!a.instanceId.empty()) return a.instanceId;
  if (a.kind == AdapterKind::kPci || a.kind == AdapterKind::kOther) return PciInstanceId(a);
  std::u16string prefix = Upper(ParentIdPrefixFor(a));
  uint32_t child = IsMellanox(a.kind) ? a.port : a.function;
  return BusDeviceId(a) + u"\\" + prefix + FormatText("&%X", child);
}

bool HasPrivateQueryDevice(const SimAdapter& a) {
  return a.privateDevice ? *a.privateDevice : HasPrivateDuplex(a.service);
}

}  // namespace sim
