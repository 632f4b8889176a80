#include "platform/sim/state/device_sim.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "common/utf.h"
#include "platform/config_manager.h"
#include "platform/ndis.h"
#include "platform/sim/api/apis.h"
#include "platform/sim/machine.h"
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

std::u16string Format(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return crv::Utf8ToUtf16(buffer);
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> MultiTextBytes(const std::vector<std::u16string>& texts) {
  std::vector<uint8_t> bytes;
  for (const auto& t : texts) {
    auto b = Utf16Bytes(t);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

void PutDword(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  if (bytes.size() < offset + 4) bytes.resize(offset + 4);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
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
bool IsMellanox(AdapterKind kind) {
  return kind == AdapterKind::kMlx4 || kind == AdapterKind::kIba;
}
bool HasPciParent(AdapterKind kind) {
  return IsL2nd(kind) || IsMellanox(kind) || kind == AdapterKind::kSolarflare;
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
  return Format("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X&REV_%02X", a.vendorId, a.deviceId, a.subsystem,
                a.revision);
}

std::vector<std::u16string> PciHardwareIds(const SimAdapter& a) {
  return {PciHardwareId(a),
          Format("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%08X", a.vendorId, a.deviceId, a.subsystem),
          Format("PCI\\VEN_%04X&DEV_%04X&CC_020000", a.vendorId, a.deviceId),
          Format("PCI\\VEN_%04X&DEV_%04X&CC_0200", a.vendorId, a.deviceId)};
}

std::u16string PciInstanceId(const SimAdapter& a) {
  return PciHardwareId(a) + Format("\\4&%08X&0&00%02X", InstanceHash(a.bus),
                                   ((a.device & 0x1F) << 3) | (a.function & 7));
}

// The device part of a bus-enumerated ID, without the instance part.
std::u16string BusDeviceId(const SimAdapter& a) {
  std::u16string id = Enumerator(a) + u"\\" + BusDevice(a);
  if (IsL2nd(a.kind)) {
    id += Format("&PCI_%04X%04X&SUBSYS_%08X&REV_%02X", a.deviceId, a.vendorId, a.subsystem,
                 a.revision);
  }
  return id;
}

std::u16string ConnectionName(const SimAdapter& a) {
  return a.connectionName.empty() ? Format("Ethernet %u", a.ifIndex) : a.connectionName;
}

std::u16string FriendlyName(const SimAdapter& a) {
  return a.friendlyName ? *a.friendlyName : a.description;
}

std::u16string Join(std::u16string_view a, std::u16string_view b) {
  return std::u16string(a) + u"\\" + std::u16string(b);
}

std::u16string Ipv4Text(uint32_t address) {
  const auto* b = reinterpret_cast<const uint8_t*>(&address);
  return Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void SetRowDescription(platform::MibIfRow& row, const std::u16string& text) {
  std::string ansi = ToAnsiCodePage(text);
  size_t n = std::min(ansi.size(), sizeof row.bDescr - 1);
  std::memset(row.bDescr, 0, sizeof row.bDescr);
  std::memcpy(row.bDescr, ansi.data(), n);
  row.dwDescrLen = static_cast<uint32_t>(n + 1);
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

// The row of an NDIS filter bound to an adapter: the adapter's row under an index and a
// description of its own, no TCP/IP binding, no addresses.
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

// The parts of the interface row that follow the link.
void ApplyLinkToRow(const SimAdapter& a, platform::MibIfRow& row, uint32_t lastChange) {
  row.dwOperStatus = a.linkUp ? 5 : 2;  // operational, or disconnected
  row.dwSpeed = a.linkUp ? static_cast<uint32_t>(std::min<uint64_t>(a.speedBps, 0xFFFFFFFFu)) : 0;
  row.dwLastChange = lastChange;
}

// The answers that follow the link, speed and duplex.
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

// The class key's subkey of the GUID, or a new one after the highest number in use.
std::u16string ClassKeyFor(SimRegistry& registry, const std::u16string& guid) {
  int highest = -1;
  // The class key's subkeys read in place: a walk from the registry's root for each of them
  // would make adding thousands of adapters cost the square of their number.
  auto classKey = SimRegistry::Find(registry.root(), kNetClassKeyPath);
  for (const auto& [key, subkey] : classKey->subkeys) {
    const std::u16string& name = subkey->name;
    auto value = subkey->values.find(u"NetCfgInstanceId");
    if (value != subkey->values.end() && value->second.data.size() >= 2) {
      const auto& data = value->second.data;
      std::u16string text(data.size() / 2, u'\0');
      std::memcpy(text.data(), data.data(), text.size() * 2);
      text.resize(std::char_traits<char16_t>::length(text.c_str()));
      if (SameNoCase(text, guid)) return Join(kNetClassKeyPath, name);
    }
    if (name.size() == 4 &&
        std::all_of(name.begin(), name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
      int n = 0;
      for (char16_t c : name) n = n * 10 + (c - u'0');
      highest = std::max(highest, n);
    }
  }
  return Join(kNetClassKeyPath, Format("%04d", highest + 1));
}

void WriteEnumKey(SimRegistry& registry, const DevNode& node, const std::u16string& driver,
                  std::optional<std::u16string> parentIdPrefix) {
  std::u16string key = Join(kEnumKeyPath, node.instanceId);
  registry.DeleteTree(key);
  registry.CreateKey(key);
  registry.SetString(key, u"ClassGUID", node.classGuid);
  auto copyText = [&](uint32_t property, const char16_t* name) {
    auto it = node.properties.find(property);
    if (it != node.properties.end()) registry.SetValue(key, name, it->second.type, it->second.data);
  };
  copyText(platform::kCmDrpDeviceDesc, u"DeviceDesc");
  copyText(platform::kCmDrpHardwareId, u"HardwareID");
  copyText(platform::kCmDrpService, u"Service");
  copyText(platform::kCmDrpFriendlyName, u"FriendlyName");
  copyText(platform::kCmDrpLocationInformation, u"LocationInformation");
  copyText(platform::kCmDrpUiNumber, u"UINumber");
  if (!driver.empty()) registry.SetString(key, u"Driver", driver);
  if (parentIdPrefix) registry.SetString(key, u"ParentIdPrefix", *parentIdPrefix);
  registry.CreateKey(Join(key, u"Device Parameters"));
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
  parent.hardwareKey = Join(Join(kEnumKeyPath, parent.instanceId), u"Device Parameters");
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
      return Format("MLX4 bus %x, device %x, function %x, port %x", a.bus, a.device, a.function,
                    a.port);
    default:
      return std::nullopt;
  }
}

}  // namespace

// --- records ---

OidAnswer OidAnswer::Bytes(std::vector<uint8_t> bytes) { return OidAnswer{std::move(bytes), 0}; }

OidAnswer OidAnswer::Dword(uint32_t value) {
  std::vector<uint8_t> bytes;
  PutDword(bytes, 0, value);
  return OidAnswer{std::move(bytes), 0};
}

OidAnswer OidAnswer::Fail(uint32_t error) { return OidAnswer{{}, error}; }

void DevNode::SetText(uint32_t property, std::u16string_view text) {
  properties[property] = DevProperty{platform::kRegSz, Utf16Bytes(text)};
}

void DevNode::SetMultiText(uint32_t property, const std::vector<std::u16string>& texts) {
  properties[property] = DevProperty{platform::kRegMultiSz, MultiTextBytes(texts)};
}

void DevNode::SetDword(uint32_t property, uint32_t value) {
  std::vector<uint8_t> bytes;
  PutDword(bytes, 0, value);
  properties[property] = DevProperty{platform::kRegDword, std::move(bytes)};
}

std::optional<std::u16string> DevNode::Text(uint32_t property) const {
  auto it = properties.find(property);
  if (it == properties.end()) return std::nullopt;
  const auto& data = it->second.data;
  std::u16string text(data.size() / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * 2);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return text;
}

// --- indexes ---

template <typename T>
size_t SimDevices::NameIndex<T>::NoCaseHash::operator()(std::u16string_view name) const {
  size_t h = 14695981039346656037u;
  for (char16_t c : name) {
    h ^= crv::FoldCase(c);  // letters that SameNoCase takes as one hash alike
    h *= 1099511628211u;
  }
  return h;
}

template <typename T>
bool SimDevices::NameIndex<T>::NoCaseEqual::operator()(std::u16string_view a,
                                                       std::u16string_view b) const {
  return SameNoCase(a, b);
}

template <typename T>
void SimDevices::NameIndex<T>::File(T* record, uint64_t place,
                                    const std::vector<std::u16string_view>& names) {
  Remove(record);
  auto& filing = filed_[record];
  filing.first = place;
  for (std::u16string_view name : names) {
    auto it = byName_.find(name);
    if (it == byName_.end()) it = byName_.emplace(std::u16string(name), std::vector<Entry>{}).first;
    auto& entries = it->second;
    auto at = std::find_if(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.place > place; });
    entries.insert(at, Entry{place, record});
    filing.second.emplace_back(name);
  }
}

template <typename T>
void SimDevices::NameIndex<T>::Refile(T* record, const std::vector<std::u16string_view>& names) {
  auto it = filed_.find(record);
  if (it != filed_.end()) File(record, it->second.first, names);
}

template <typename T>
void SimDevices::NameIndex<T>::Remove(const T* record) {
  auto it = filed_.find(record);
  if (it == filed_.end()) return;
  for (const std::u16string& name : it->second.second) {
    auto entries = byName_.find(std::u16string_view(name));
    if (entries == byName_.end()) continue;
    std::erase_if(entries->second, [&](const Entry& e) { return e.record == record; });
    if (entries->second.empty()) byName_.erase(entries);
  }
  filed_.erase(it);
}

template <typename T>
auto SimDevices::NameIndex<T>::Candidates(std::u16string_view name) const
    -> const std::vector<Entry>& {
  static const std::vector<Entry> kNone;
  auto it = byName_.find(name);
  return it == byName_.end() ? kNone : it->second;
}

namespace {

std::vector<std::u16string_view> NamesOf(std::u16string_view name) { return {name}; }

// The first candidate that still has the name; candidates that lost it are filed again.
template <typename T, typename Index, typename Has, typename Refile>
T* FirstFiled(const Index& index, std::u16string_view name, Has has, Refile refile) {
  std::vector<T*> stale;
  T* found = nullptr;
  for (const auto& entry : index.Candidates(name)) {
    if (has(*entry.record)) {
      found = entry.record;
      break;
    }
    stale.push_back(entry.record);
  }
  for (T* record : stale) refile(record);
  return found;
}

}  // namespace

NdisDevice* SimDevices::Edited(NdisDevice* device) const {
  if (device != nullptr) editedNdis_.push_back(device);
  return device;
}

DevNode* SimDevices::Edited(DevNode* node) const {
  if (node != nullptr) editedNodes_.push_back(node);
  return node;
}

AdapterRecord* SimDevices::Edited(AdapterRecord* record) const {
  if (record != nullptr) editedAdapters_.push_back(record);
  return record;
}

void SimDevices::FileNdis(NdisDevice* device, uint64_t place) const {
  ndisByGuid_.File(device, place, NamesOf(device->guid));
  std::vector<std::u16string_view> privateName;
  if (device->privateDevice) privateName.push_back(device->privateDevice->name);
  ndisByPrivateName_.File(device, place, privateName);
}

void SimDevices::FileNode(DevNode* node, uint64_t place) const {
  nodesById_.File(node, place, NamesOf(node->instanceId));
  std::vector<std::u16string_view> paths(node->ndisLanInterfaces.begin(),
                                         node->ndisLanInterfaces.end());
  nodesByInterface_.File(node, place, paths);
}

void SimDevices::FileAdapter(AdapterRecord* record, uint64_t place) const {
  adaptersByGuid_.File(record, place, NamesOf(record->adapter.guid));
  adaptersByInstanceId_.File(record, place, NamesOf(record->instanceId));
  std::vector<std::u16string_view> parent;
  if (!record->parentId.empty()) parent.push_back(record->parentId);
  adaptersByParentId_.File(record, place, parent);
}

void SimDevices::RefileEdited() const {
  for (NdisDevice* d : editedNdis_) {
    ndisByGuid_.Refile(d, NamesOf(d->guid));
    std::vector<std::u16string_view> privateName;
    if (d->privateDevice) privateName.push_back(d->privateDevice->name);
    ndisByPrivateName_.Refile(d, privateName);
  }
  editedNdis_.clear();
  for (DevNode* n : editedNodes_) {
    nodesById_.Refile(n, NamesOf(n->instanceId));
    std::vector<std::u16string_view> paths(n->ndisLanInterfaces.begin(),
                                           n->ndisLanInterfaces.end());
    nodesByInterface_.Refile(n, paths);
  }
  editedNodes_.clear();
  for (AdapterRecord* r : editedAdapters_) {
    adaptersByGuid_.Refile(r, NamesOf(r->adapter.guid));
    adaptersByInstanceId_.Refile(r, NamesOf(r->instanceId));
    std::vector<std::u16string_view> parent;
    if (!r->parentId.empty()) parent.push_back(r->parentId);
    adaptersByParentId_.Refile(r, parent);
  }
  editedAdapters_.clear();
}

// --- devices ---

SimDevices::SimDevices() {
  auto root = std::make_unique<DevNode>();
  root->instanceId = u"HTREE\\ROOT\\0";
  root->devInst = nextDevInst_++;
  nodes_.push_back(std::move(root));
  FileNode(nodes_.back().get(), nextPlace_++);
}

NdisDevice& SimDevices::AddNdis(std::u16string guid) {
  RemoveNdis(guid);
  auto device = std::make_unique<NdisDevice>();
  device->guid = std::move(guid);
  ndis_.push_back(std::move(device));
  FileNdis(ndis_.back().get(), nextPlace_++);
  return *Edited(ndis_.back().get());
}

const NdisDevice* SimDevices::FindNdis(std::u16string_view guid) const {
  RefileEdited();
  return FirstFiled<NdisDevice>(
      ndisByGuid_, guid, [&](const NdisDevice& d) { return SameNoCase(d.guid, guid); },
      [&](NdisDevice* d) { ndisByGuid_.Refile(d, NamesOf(d->guid)); });
}

NdisDevice* SimDevices::FindNdis(std::u16string_view guid) {
  return Edited(const_cast<NdisDevice*>(std::as_const(*this).FindNdis(guid)));
}

const NdisDevice* SimDevices::FindNdisByInterfacePath(std::u16string_view path) const {
  RefileEdited();
  auto hasPath = [&](const DevNode& n) {
    return std::any_of(n.ndisLanInterfaces.begin(), n.ndisLanInterfaces.end(),
                       [&](const std::u16string& known) { return SameNoCase(known, path); });
  };
  bool reached = false;
  std::vector<DevNode*> stale;
  for (const auto& entry : nodesByInterface_.Candidates(path)) {
    if (!hasPath(*entry.record)) {
      stale.push_back(entry.record);
    } else if (entry.record->present) {
      reached = true;
      break;
    }
  }
  for (DevNode* n : stale) {
    std::vector<std::u16string_view> paths(n->ndisLanInterfaces.begin(),
                                           n->ndisLanInterfaces.end());
    nodesByInterface_.Refile(n, paths);
  }
  return reached ? FindNdis(path.substr(path.rfind(u'\\') + 1)) : nullptr;
}

NdisDevice* SimDevices::FindNdisByInterfacePath(std::u16string_view path) {
  return Edited(const_cast<NdisDevice*>(std::as_const(*this).FindNdisByInterfacePath(path)));
}

const NdisDevice* SimDevices::FindPrivateDeviceOwner(std::u16string_view name) const {
  RefileEdited();
  auto refile = [&](NdisDevice* d) {
    std::vector<std::u16string_view> privateName;
    if (d->privateDevice) privateName.push_back(d->privateDevice->name);
    ndisByPrivateName_.Refile(d, privateName);
  };
  return FirstFiled<NdisDevice>(
      ndisByPrivateName_, name,
      [&](const NdisDevice& d) {
        return d.privateDevice && SameNoCase(d.privateDevice->name, name);
      },
      refile);
}

bool SimDevices::RemoveNdis(std::u16string_view guid) {
  const NdisDevice* device = std::as_const(*this).FindNdis(guid);
  if (device == nullptr) return false;
  ndisByGuid_.Remove(device);
  ndisByPrivateName_.Remove(device);
  std::erase(editedNdis_, device);
  std::erase_if(ndis_, [&](const auto& d) { return d.get() == device; });
  return true;
}

DevNode& SimDevices::AddNode(DevNode node) {
  if (DevNode* existing = const_cast<DevNode*>(std::as_const(*this).FindNode(node.instanceId))) {
    node.devInst = existing->devInst;
    *existing = std::move(node);
    return *Edited(existing);
  }
  node.devInst = nextDevInst_++;
  nodes_.push_back(std::make_unique<DevNode>(std::move(node)));
  FileNode(nodes_.back().get(), nextPlace_++);
  return *Edited(nodes_.back().get());
}

const DevNode* SimDevices::FindNode(std::u16string_view instanceId) const {
  RefileEdited();
  return FirstFiled<DevNode>(
      nodesById_, instanceId,
      [&](const DevNode& n) { return SameNoCase(n.instanceId, instanceId); },
      [&](DevNode* n) { nodesById_.Refile(n, NamesOf(n->instanceId)); });
}

DevNode* SimDevices::FindNode(std::u16string_view instanceId) {
  return Edited(const_cast<DevNode*>(std::as_const(*this).FindNode(instanceId)));
}

std::vector<const DevNode*> SimDevices::NodesWithId(std::u16string_view instanceId) const {
  std::vector<const DevNode*> found;
  if (FindNode(instanceId) == nullptr) return found;  // files stale candidates again
  for (const auto& entry : nodesById_.Candidates(instanceId)) {
    if (SameNoCase(entry.record->instanceId, instanceId)) found.push_back(entry.record);
  }
  return found;
}

const DevNode* SimDevices::NodeByDevInst(uint32_t devInst) const {
  // DevInsts are handed out in list order from 1 and nodes are never taken out of the list.
  if (devInst >= 1 && devInst <= nodes_.size() && nodes_[devInst - 1]->devInst == devInst) {
    return nodes_[devInst - 1].get();
  }
  for (const auto& n : nodes_) {
    if (n->devInst == devInst) return n.get();
  }
  return nullptr;
}

DevNode* SimDevices::NodeByDevInst(uint32_t devInst) {
  return Edited(const_cast<DevNode*>(std::as_const(*this).NodeByDevInst(devInst)));
}

const AdapterRecord* SimDevices::FindAdapter(std::u16string_view guid) const {
  RefileEdited();
  return FirstFiled<AdapterRecord>(
      adaptersByGuid_, guid,
      [&](const AdapterRecord& r) { return SameNoCase(r.adapter.guid, guid); },
      [&](AdapterRecord* r) { adaptersByGuid_.Refile(r, NamesOf(r->adapter.guid)); });
}

AdapterRecord* SimDevices::FindAdapter(std::u16string_view guid) {
  return Edited(const_cast<AdapterRecord*>(std::as_const(*this).FindAdapter(guid)));
}

bool SimDevices::AdapterWithInstanceId(std::u16string_view instanceId) const {
  RefileEdited();
  return FirstFiled<AdapterRecord>(
             adaptersByInstanceId_, instanceId,
             [&](const AdapterRecord& r) { return SameNoCase(r.instanceId, instanceId); },
             [&](AdapterRecord* r) { adaptersByInstanceId_.Refile(r, NamesOf(r->instanceId)); }) !=
         nullptr;
}

bool SimDevices::OtherAdapterWithParent(std::u16string_view parentId,
                                        std::u16string_view guid) const {
  RefileEdited();
  auto refile = [&](AdapterRecord* r) {
    std::vector<std::u16string_view> parent;
    if (!r->parentId.empty()) parent.push_back(r->parentId);
    adaptersByParentId_.Refile(r, parent);
  };
  return FirstFiled<AdapterRecord>(
             adaptersByParentId_, parentId,
             [&](const AdapterRecord& r) {
               return !SameNoCase(r.adapter.guid, guid) && SameNoCase(r.parentId, parentId);
             },
             refile) != nullptr;
}

AdapterRecord& SimDevices::KeepAdapter(std::unique_ptr<AdapterRecord> record) {
  adapters_.push_back(std::move(record));
  FileAdapter(adapters_.back().get(), nextPlace_++);
  return *Edited(adapters_.back().get());
}

void SimDevices::DropAdapter(const AdapterRecord* record) {
  adaptersByGuid_.Remove(record);
  adaptersByInstanceId_.Remove(record);
  adaptersByParentId_.Remove(record);
  std::erase(editedAdapters_, record);
  std::erase_if(adapters_, [&](const auto& r) { return r.get() == record; });
}

uint64_t SimDevices::QueryCount(std::u16string_view guid, uint32_t oid) const {
  uint64_t n = 0;
  for (const auto& q : queries_) {
    if (q.controlCode == platform::kIoctlNdisQueryGlobalStats && q.oid == oid &&
        SameNoCase(q.device, guid)) {
      ++n;
    }
  }
  return n;
}

// --- derived texts ---

std::u16string PciLocationText(uint32_t bus, uint32_t device, uint32_t function,
                               std::optional<uint32_t> slot) {
  std::u16string text = Format("PCI bus %u, device %u, function %u", bus, device, function);
  if (slot) text = Format("PCI Slot %u (", *slot) + text + u")";
  return text;
}

std::u16string ParentIdPrefixFor(const SimAdapter& a) {
  uint32_t seed = (a.bus << 8) | ((a.device & 0x1F) << 3) | (a.function & 7);
  return Format("5&%08x&0", InstanceHash(seed ^ 0x5A5A0000u));
}

std::u16string DeriveInstanceId(const SimAdapter& a) {
  if (!a.instanceId.empty()) return a.instanceId;
  if (a.kind == AdapterKind::kPci || a.kind == AdapterKind::kOther) return PciInstanceId(a);
  std::u16string prefix = Upper(ParentIdPrefixFor(a));
  uint32_t child = IsMellanox(a.kind) ? a.port : a.function;
  return BusDeviceId(a) + u"\\" + prefix + Format("&%X", child);
}

bool HasPrivateQueryDevice(const SimAdapter& a) {
  return a.privateDevice ? *a.privateDevice : HasPrivateDuplex(a.service);
}

// --- high-level adapters ---

AdapterRecord& AddAdapter(Machine& machine, const SimAdapter& adapter) {
  SimDevices& devices = machine.devices();
  SimRegistry& registry = machine.registry();
  RemoveAdapter(machine, adapter.guid);

  auto record = std::make_unique<AdapterRecord>();
  record->adapter = adapter;
  const SimAdapter& a = record->adapter;
  record->instanceId = DeriveInstanceId(a);
  // Two adapters described at the same place would be one device; keep them apart unless the
  // scenario gave the ID itself.
  if (a.instanceId.empty()) {
    std::u16string base = record->instanceId;
    for (uint32_t n = 1; devices.AdapterWithInstanceId(record->instanceId); ++n) {
      record->instanceId = base + Format("&%u", n);
    }
  }

  // PCI parent of the bus-enumerated kinds (shared by the ports of one function).
  if (HasPciParent(a.kind)) {
    DevNode parent = DeriveParent(a);
    record->parentId = parent.instanceId;
    const DevNode& added = devices.AddNode(std::move(parent));
    WriteEnumKey(registry, added, u"", ParentIdPrefixFor(a));  // with its UINumber
  }

  // Network class key: the driver key of the adapter's node.
  if (!registry.KeyExists(kNetClassKeyPath)) {
    registry.CreateKey(kNetClassKeyPath);
    registry.CreateKey(Join(kNetClassKeyPath, u"Properties"));
  }
  record->classKey = ClassKeyFor(registry, a.guid);
  registry.DeleteTree(record->classKey);
  registry.CreateKey(record->classKey);
  registry.SetString(record->classKey, u"NetCfgInstanceId", a.guid);
  registry.SetString(record->classKey, u"DriverDesc", a.description);
  for (const auto& [name, value] : a.keywords) registry.SetString(record->classKey, name, value);

  // The adapter's own node.
  DevNode node;
  node.instanceId = record->instanceId;
  node.classGuid = kNetClassGuidText;
  node.parentId = record->parentId;
  node.SetText(platform::kCmDrpDeviceDesc, a.description);
  if (a.kind == AdapterKind::kPci) {
    node.SetMultiText(platform::kCmDrpHardwareId, PciHardwareIds(a));
  } else {
    std::u16string id = node.instanceId.substr(0, node.instanceId.rfind(u'\\'));
    node.SetMultiText(platform::kCmDrpHardwareId, {id});
  }
  if (!a.service.empty()) node.SetText(platform::kCmDrpService, a.service);
  std::u16string friendly = FriendlyName(a);
  if (!friendly.empty()) node.SetText(platform::kCmDrpFriendlyName, friendly);
  if (auto location = DeriveLocation(a))
    node.SetText(platform::kCmDrpLocationInformation, *location);
  if (a.kind == AdapterKind::kPci || a.kind == AdapterKind::kOther) {
    if (a.uiNumber) node.SetDword(platform::kCmDrpUiNumber, *a.uiNumber);
  } else if (IsMellanox(a.kind) && a.portUiNumber) {
    node.SetDword(platform::kCmDrpUiNumber, a.port);
  }
  std::u16string interfaceId = node.instanceId;
  std::replace(interfaceId.begin(), interfaceId.end(), u'\\', u'#');
  record->interfacePath = u"\\\\?\\" + interfaceId + u"#" + kNdisLanClassGuidText + u"\\" + a.guid;
  if (a.ndisInterface) node.ndisLanInterfaces.push_back(record->interfacePath);
  node.driverKey = record->classKey;
  record->enumKey = Join(kEnumKeyPath, node.instanceId);
  node.hardwareKey = Join(record->enumKey, u"Device Parameters");
  const DevNode& added = devices.AddNode(std::move(node));
  // The Enum key names the driver key relative to the class keys.
  std::u16string driver = std::u16string(kNetClassGuidText) + u"\\" +
                          record->classKey.substr(record->classKey.rfind(u'\\') + 1);
  WriteEnumKey(registry, added, driver, std::nullopt);
  if (IsMellanox(a.kind)) registry.SetDword(added.hardwareKey, u"InstanceIndex", a.port);

  // NDIS device.
  DeriveNdis(a, devices.AddNdis(a.guid));

  // Interface row, TCP/IP parameters and connection name.
  if (a.ifIndex != 0) {
    machine.network().Remove(a.ifIndex);
    machine.network().RemoveFiltersOf(a.guid);
    SimInterface row = DeriveInterface(a);
    ApplyLinkToRow(a, row.row, 0);
    const bool filtersFirst = a.filtersFirst.value_or(devices.defaultFiltersFirst_);
    if (!filtersFirst) machine.network().Add(row);
    for (const auto& filter : a.filters.value_or(devices.defaultFilters_)) {
      machine.network().Add(DeriveFilterInterface(a, row, filter, machine.network().UnusedIndex()));
    }
    if (filtersFirst) machine.network().Add(std::move(row));
  }
  record->tcpipKey = Join(kTcpipInterfacesKeyPath, a.guid);
  registry.DeleteTree(record->tcpipKey);
  registry.CreateKey(record->tcpipKey);
  registry.SetDword(record->tcpipKey, u"EnableDHCP", a.dhcp ? 1 : 0);
  if (!a.ipv4.empty()) {
    if (a.dhcp) {
      registry.SetString(record->tcpipKey, u"DhcpIPAddress", Ipv4Text(a.ipv4[0].address));
      registry.SetString(record->tcpipKey, u"DhcpSubnetMask", Ipv4Text(a.ipv4[0].mask));
    } else {
      std::vector<std::u16string> addresses, masks;
      for (const auto& v : a.ipv4) {
        addresses.push_back(Ipv4Text(v.address));
        masks.push_back(Ipv4Text(v.mask));
      }
      registry.SetValue(record->tcpipKey, u"IPAddress", platform::kRegMultiSz,
                        MultiTextBytes(addresses));
      registry.SetValue(record->tcpipKey, u"SubnetMask", platform::kRegMultiSz,
                        MultiTextBytes(masks));
    }
  }
  record->connectionKey = Join(Join(kNetworkControlKeyPath, a.guid), u"Connection");
  registry.CreateKey(record->connectionKey);
  registry.SetString(record->connectionKey, u"Name", ConnectionName(a));
  registry.SetString(record->connectionKey, u"PnpInstanceID", record->instanceId);

  return devices.KeepAdapter(std::move(record));
}

bool RemoveAdapter(Machine& machine, std::u16string_view guid) {
  SimDevices& devices = machine.devices();
  const AdapterRecord* found = std::as_const(devices).FindAdapter(guid);
  if (found == nullptr) return false;
  const AdapterRecord& r = *found;
  devices.RemoveNdis(r.adapter.guid);
  if (r.adapter.ifIndex != 0) machine.network().Remove(r.adapter.ifIndex);
  machine.network().RemoveFiltersOf(r.adapter.guid);
  // Presence is not a name the indexes know: no need to hand the nodes out for editing.
  if (auto* node = const_cast<DevNode*>(std::as_const(devices).FindNode(r.instanceId))) {
    node->present = false;
  }
  if (!r.parentId.empty() && !devices.OtherAdapterWithParent(r.parentId, r.adapter.guid)) {
    if (auto* parent = const_cast<DevNode*>(std::as_const(devices).FindNode(r.parentId))) {
      parent->present = false;
    }
  }
  devices.DropAdapter(found);
  return true;
}

namespace {

bool ChangeLink(Machine& machine, std::u16string_view guid, auto&& change) {
  AdapterRecord* r = machine.devices().FindAdapter(guid);
  if (r == nullptr) return false;
  change(r->adapter);
  if (NdisDevice* d = machine.devices().FindNdis(guid)) ApplyLinkToNdis(r->adapter, *d);
  if (r->adapter.ifIndex != 0) {
    if (SimInterface* i = machine.network().Find(r->adapter.ifIndex)) {
      // dwLastChange counts hundredths of a second of system up time.
      ApplyLinkToRow(r->adapter, i->row, static_cast<uint32_t>(machine.NowMs() / 10));
    }
  }
  // A filter's interface follows the adapter it is bound to.
  for (SimInterface& i : machine.network().interfaces()) {
    if (i.filter && i.filteredAdapter == guid) {
      ApplyLinkToRow(r->adapter, i.row, static_cast<uint32_t>(machine.NowMs() / 10));
    }
  }
  return true;
}

}  // namespace

bool SetAdapterLink(Machine& machine, std::u16string_view guid, bool up) {
  return ChangeLink(machine, guid, [up](SimAdapter& a) { a.linkUp = up; });
}

bool SetAdapterSpeed(Machine& machine, std::u16string_view guid, uint64_t speedBps,
                     SimDuplex duplex) {
  return ChangeLink(machine, guid, [&](SimAdapter& a) {
    a.speedBps = speedBps;
    a.duplex = duplex;
  });
}

std::vector<std::function<void()>> SimDevices::TakeArrivals(ListRead list) {
  std::vector<std::function<void()>> taken;
  for (auto it = arrivals_.begin(); it != arrivals_.end();) {
    if (it->first == list) {
      taken.push_back(std::move(it->second));
      it = arrivals_.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

}  // namespace sim
