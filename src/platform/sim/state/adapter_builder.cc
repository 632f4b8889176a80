#include "platform/sim/state/adapter_builder.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "platform/config_manager.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/adapter_derive.h"
#include "platform/sim/state/sim_bytes.h"

namespace sim {
namespace {

void WriteEnumKey(SimRegistry& registry, const DevNode& node, const std::u16string& driver,
                  std::optional<std::u16string> parentIdPrefix) {
  std::u16string key = JoinKeyPath(kEnumKeyPath, node.instanceId);
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
  registry.CreateKey(JoinKeyPath(key, u"Device Parameters"));
}

}  // namespace

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
      record->instanceId = base + FormatText("&%u", n);
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
    registry.CreateKey(JoinKeyPath(kNetClassKeyPath, u"Properties"));
  }
  record->classKey = devices.netClassKeys_.KeyFor(registry, a.guid);
  registry.DeleteTree(record->classKey);
  registry.CreateKey(record->classKey);
  registry.SetString(record->classKey, u"NetCfgInstanceId", a.guid);
  devices.netClassKeys_.Claimed(registry, record->classKey, a.guid);
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
  record->enumKey = JoinKeyPath(kEnumKeyPath, node.instanceId);
  node.hardwareKey = JoinKeyPath(record->enumKey, u"Device Parameters");
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
    // The highest index in use, followed as rows are added: each filter row takes the next
    // one (what UnusedIndex answers) without a pass over the table per filter.
    uint32_t highest = machine.network().RemoveAdapterRows(a.ifIndex, a.guid);
    SimInterface row = DeriveInterface(a);
    ApplyLinkToRow(a, row.row, 0);
    const bool filtersFirst = a.filtersFirst.value_or(devices.defaultFiltersFirst_);
    if (!filtersFirst) {
      machine.network().Add(row);
      highest = std::max(highest, a.ifIndex);
    }
    for (const auto& filter : a.filters.value_or(devices.defaultFilters_)) {
      const uint32_t index = highest + 1;
      machine.network().Add(DeriveFilterInterface(a, row, filter, index));
      highest = std::max(highest, index);
    }
    if (filtersFirst) machine.network().Add(std::move(row));
  }
  record->tcpipKey = JoinKeyPath(kTcpipInterfacesKeyPath, a.guid);
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
  record->connectionKey = JoinKeyPath(JoinKeyPath(kNetworkControlKeyPath, a.guid), u"Connection");
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

}  // namespace sim
