#include "platform/sim/scenario/scenario_devices.h"

#include "platform/sim/scenario/scenario_network.h"

#include "common/utf.h"

namespace sim {
namespace {

using namespace scenario_json;

// MAX_DEVICE_ID_LEN: the longest device instance ID, in characters.
constexpr size_t kMaxDeviceInstanceIdChars = 200;

std::vector<uint8_t> Mac(const json& value, const std::string& where) {
  std::vector<uint8_t> mac;
  if (!ParseMacAddress(Text(value, where), &mac)) {
    Bad(where, "expected bytes like 00-1B-21-AA-BB-01 (at most 8)");
  }
  return mac;
}

AdapterKind Kind(const std::string& text, const std::string& where) {
  static const std::pair<const char*, AdapterKind> kKinds[] = {
      {"pci", AdapterKind::kPci},
      {"b06bdrv", AdapterKind::kB06bdrv},
      {"ebdrv", AdapterKind::kEbdrv},
      {"qebdrv", AdapterKind::kQebdrv},
      {"mlx4", AdapterKind::kMlx4},
      {"iba", AdapterKind::kIba},
      {"solarflare", AdapterKind::kSolarflare},
      {"other", AdapterKind::kOther}};
  for (const auto& [name, kind] : kKinds) {
    if (text == name) return kind;
  }
  Bad(where, "unknown kind " + Quoted(text));
}

SimDuplex Duplex(const std::string& text, const std::string& where) {
  if (text == "full") return SimDuplex::kFull;
  if (text == "half") return SimDuplex::kHalf;
  if (text == "unknown") return SimDuplex::kUnknown;
  Bad(where, "expected full, half or unknown");
}

std::u16string Guid(const json& value, const std::string& where) {
  std::u16string guid = Wide(value, where);
  if (guid.size() != 38 || guid.front() != u'{' || guid.back() != u'}') {
    Bad(where, "expected a GUID in braces");
  }
  return guid;
}

OidAnswer ParseOidAnswer(const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected { \"data\" | \"dword\" | \"error\": ... }");
  if (node.contains("error")) return OidAnswer::Fail(Hex32(node["error"], where + ".error"));
  if (node.contains("dword")) return OidAnswer::Dword(Hex32(node["dword"], where + ".dword"));
  return OidAnswer::Bytes(Bytes(Need(node, "data", where), where + ".data"));
}

PrivateAnswer ParsePrivateAnswer(const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected { \"data\", \"status\", \"error\" }");
  PrivateAnswer answer;
  if (node.contains("data")) answer.data = Bytes(node["data"], where + ".data");
  if (node.contains("status")) answer.status = Hex32(node["status"], where + ".status");
  if (node.contains("error")) answer.error = Hex32(node["error"], where + ".error");
  return answer;
}

// The low-level answers of an entry, checked now and applied later.
struct Overrides {
  std::map<uint32_t, OidAnswer> oids;
  std::map<uint32_t, PrivateAnswer> privateOids;
  std::optional<uint32_t> openError;
};

Overrides ParseOverrides(const json& node, const std::string& where) {
  Overrides o;
  if (node.contains("oids")) {
    const json& oids = node["oids"];
    if (!oids.is_object()) Bad(where + ".oids", "expected an object of OIDs");
    for (auto it = oids.begin(); it != oids.end(); ++it) {
      std::string w = Member(where + ".oids", it.key());
      o.oids[Hex32(json(it.key()), w)] = ParseOidAnswer(it.value(), w);
    }
  }
  if (node.contains("private_oids")) {
    const json& oids = node["private_oids"];
    if (!oids.is_object()) Bad(where + ".private_oids", "expected an object of OIDs");
    for (auto it = oids.begin(); it != oids.end(); ++it) {
      std::string w = Member(where + ".private_oids", it.key());
      o.privateOids[Hex32(json(it.key()), w)] = ParsePrivateAnswer(it.value(), w);
    }
  }
  if (node.contains("open_error")) o.openError = Hex32(node["open_error"], where + ".open_error");
  return o;
}

void ApplyOverrides(Machine& machine, const std::u16string& guid, const Overrides& o) {
  NdisDevice* device = machine.devices().FindNdis(guid);
  if (device == nullptr) return;  // removed meanwhile
  for (const auto& [oid, answer] : o.oids) device->oids[oid] = answer;
  if (!o.privateOids.empty()) {
    if (!device->privateDevice) {
      device->privateDevice = PrivateQueryDevice{};
      device->privateDevice->name = u"NdisPrivate" + guid;
    }
    for (const auto& [oid, answer] : o.privateOids) device->privateDevice->answers[oid] = answer;
  }
  if (o.openError) device->openError = *o.openError;
}

}  // namespace

std::vector<std::u16string> ParseFilterNames(const json& node, const std::string& where) {
  if (!node.is_array()) Bad(where, "expected a list of filter names");
  std::vector<std::u16string> names;
  for (size_t k = 0; k < node.size(); ++k) {
    names.push_back(Wide(node[k], where + "[" + std::to_string(k) + "]"));
  }
  return names;
}

bool FiltersListedFirst(const json& node, const std::string& where) {
  std::string listed = Text(node, where);
  if (listed != "before" && listed != "after") Bad(where, "expected \"before\" or \"after\"");
  return listed == "before";
}

void LoadDefaultFilters(Machine& machine, const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  std::vector<std::u16string> names =
      ParseFilterNames(Need(node, "names", where), where + ".names");
  bool first = node.contains("listed") && FiltersListedFirst(node["listed"], where + ".listed");
  machine.devices().SetDefaultFilters(std::move(names), first);
}

SimAdapter ParseAdapter(const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an adapter object");
  SimAdapter a;
  a.guid = Guid(Need(node, "guid", where), where + ".guid");
  a.mac = Mac(Need(node, "mac", where), where + ".mac");
  if (node.contains("permanent_mac")) {
    a.permanentMac = Mac(node["permanent_mac"], where + ".permanent_mac");
  }
  if (node.contains("if_index")) a.ifIndex = Number32(node["if_index"], where + ".if_index");
  if (node.contains("if_type")) a.ifType = Number32(node["if_type"], where + ".if_type");
  if (node.contains("mtu")) a.mtu = Number32(node["mtu"], where + ".mtu");
  if (node.contains("description"))
    a.description = Wide(node["description"], where + ".description");
  if (node.contains("friendly_name")) {
    a.friendlyName = Wide(node["friendly_name"], where + ".friendly_name");
  }
  if (node.contains("kind")) a.kind = Kind(Text(node["kind"], where + ".kind"), where + ".kind");
  if (node.contains("bus_device")) a.busDevice = Wide(node["bus_device"], where + ".bus_device");
  if (node.contains("enumerator")) {
    a.solarflareEnumerator = Wide(node["enumerator"], where + ".enumerator");
  }
  if (node.contains("pci")) {
    const json& pci = node["pci"];
    std::string w = where + ".pci";
    if (!pci.is_object()) Bad(w, "expected an object");
    auto field16 = [&](const char* name, uint16_t* out) {
      if (!pci.contains(name)) return;
      uint32_t v = Hex32(pci[name], w + "." + name);
      if (v > 0xFFFF) Bad(w + "." + name, "does not fit in 16 bits");
      *out = static_cast<uint16_t>(v);
    };
    field16("vendor", &a.vendorId);
    field16("device", &a.deviceId);
    if (pci.contains("subsystem")) a.subsystem = Hex32(pci["subsystem"], w + ".subsystem");
    if (pci.contains("revision")) {
      uint32_t v = Hex32(pci["revision"], w + ".revision");
      if (v > 0xFF) Bad(w + ".revision", "does not fit in 8 bits");
      a.revision = static_cast<uint8_t>(v);
    }
  }
  if (node.contains("location")) {
    const json& l = node["location"];
    std::string w = where + ".location";
    if (!l.is_object()) Bad(w, "expected an object");
    if (l.contains("bus")) a.bus = Number32(l["bus"], w + ".bus");
    if (l.contains("device")) a.device = Number32(l["device"], w + ".device");
    if (l.contains("function")) a.function = Number32(l["function"], w + ".function");
    if (l.contains("slot")) a.slot = Number32(l["slot"], w + ".slot");
  }
  if (node.contains("location_text")) {
    a.location = Wide(node["location_text"], where + ".location_text");
  }
  if (node.contains("ui_number")) a.uiNumber = Number32(node["ui_number"], where + ".ui_number");
  if (node.contains("port")) a.port = Number32(node["port"], where + ".port");
  if (node.contains("port_ui_number")) {
    a.portUiNumber = Flag(node["port_ui_number"], where + ".port_ui_number");
  }
  if (node.contains("instance_id")) {
    a.instanceId = Wide(node["instance_id"], where + ".instance_id");
    // Its key under Enum must be one Windows could make; Windows' device instance IDs are
    // shorter than any key that breaks the registry's limits.
    if (a.instanceId.size() > kMaxDeviceInstanceIdChars) {
      Bad(where + ".instance_id", "longer than " + std::to_string(kMaxDeviceInstanceIdChars) +
                                      " characters, the longest device instance ID Windows has");
    }
  }
  if (a.kind == AdapterKind::kOther && a.instanceId.empty()) {
    Bad(where + ".instance_id", "required for kind \"other\"");
  }
  if (node.contains("service")) a.service = Wide(node["service"], where + ".service");
  if (node.contains("medium")) a.medium = Number32(node["medium"], where + ".medium");
  if (node.contains("link")) a.linkUp = Flag(node["link"], where + ".link");
  if (node.contains("firmware")) a.firmware = Text(node["firmware"], where + ".firmware");
  if (node.contains("speed")) a.speedBps = Number(node["speed"], where + ".speed");
  if (node.contains("duplex")) {
    a.duplex = Duplex(Text(node["duplex"], where + ".duplex"), where + ".duplex");
  }
  if (node.contains("private_device")) {
    a.privateDevice = Flag(node["private_device"], where + ".private_device");
  }
  ParseAddresses(node, where, &a.ipv4, &a.ipv6);
  if (node.contains("dhcp")) a.dhcp = Flag(node["dhcp"], where + ".dhcp");
  if (node.contains("connection_name")) {
    a.connectionName = Wide(node["connection_name"], where + ".connection_name");
  }
  if (node.contains("keywords")) {
    const json& k = node["keywords"];
    if (!k.is_object()) Bad(where + ".keywords", "expected an object of texts");
    for (auto it = k.begin(); it != k.end(); ++it) {
      std::string w = Member(where + ".keywords", it.key());
      std::u16string name = crv::Utf8ToUtf16(it.key());
      std::string breach = ValueNameLimitBreach(name);
      if (!breach.empty()) BeyondRegistryLimits(w, breach);
      a.keywords[name] = Wide(it.value(), w);
    }
  }
  if (node.contains("ndis_interface")) {
    a.ndisInterface = Flag(node["ndis_interface"], where + ".ndis_interface");
  }
  if (node.contains("ip_binding")) a.ipBinding = Flag(node["ip_binding"], where + ".ip_binding");
  if (node.contains("filters")) a.filters = ParseFilterNames(node["filters"], where + ".filters");
  if (node.contains("filters_listed")) {
    a.filtersFirst = FiltersListedFirst(node["filters_listed"], where + ".filters_listed");
  }
  return a;
}

void LoadAdapter(Machine& machine, const json& node, const std::string& where) {
  SimAdapter adapter = ParseAdapter(node, where);
  Overrides overrides = ParseOverrides(node, where);
  AddAdapter(machine, adapter);
  ApplyOverrides(machine, adapter.guid, overrides);
}

bool LoadDeviceAction(Machine& machine, uint64_t at, const json& entry, const std::string& where) {
  if (entry.contains("adapter_link")) {
    const json& link = entry["adapter_link"];
    std::string w = where + ".adapter_link";
    std::u16string guid = Guid(Need(link, "guid", w), w + ".guid");
    bool up = Flag(Need(link, "up", w), w + ".up");
    machine.At(at, [&machine, guid, up] { SetAdapterLink(machine, guid, up); });
    return true;
  }
  if (entry.contains("adapter_speed")) {
    const json& set = entry["adapter_speed"];
    std::string w = where + ".adapter_speed";
    std::u16string guid = Guid(Need(set, "guid", w), w + ".guid");
    uint64_t speed = Number(Need(set, "speed", w), w + ".speed");
    SimDuplex duplex = SimDuplex::kFull;
    if (set.contains("duplex")) duplex = Duplex(Text(set["duplex"], w + ".duplex"), w + ".duplex");
    machine.At(at,
               [&machine, guid, speed, duplex] { SetAdapterSpeed(machine, guid, speed, duplex); });
    return true;
  }
  if (entry.contains("adapter_add")) {
    std::string w = where + ".adapter_add";
    SimAdapter adapter = ParseAdapter(entry["adapter_add"], w);
    Overrides overrides = ParseOverrides(entry["adapter_add"], w);
    auto add = [&machine, adapter, overrides] {
      AddAdapter(machine, adapter);
      ApplyOverrides(machine, adapter.guid, overrides);
    };
    if (!entry.contains("arrive_during")) {
      machine.At(at, add);
      return true;
    }
    std::string during = Text(entry["arrive_during"], where + ".arrive_during");
    SimDevices::ListRead list = SimDevices::ListRead::kDeviceIds;
    if (during == "device_interface_list") {
      list = SimDevices::ListRead::kDeviceInterfaces;
    } else if (during != "device_id_list") {
      Bad(where + ".arrive_during", "expected \"device_id_list\" or \"device_interface_list\"");
    }
    machine.At(at, [&machine, list, add] { machine.devices().ArriveDuringListRead(list, add); });
    return true;
  }
  if (entry.contains("adapter_remove")) {
    std::u16string guid = Guid(entry["adapter_remove"], where + ".adapter_remove");
    machine.At(at, [&machine, guid] { RemoveAdapter(machine, guid); });
    return true;
  }
  if (entry.contains("adapter_oids")) {
    const json& set = entry["adapter_oids"];
    std::string w = where + ".adapter_oids";
    std::u16string guid = Guid(Need(set, "guid", w), w + ".guid");
    Overrides overrides = ParseOverrides(set, w);
    machine.At(at, [&machine, guid, overrides] { ApplyOverrides(machine, guid, overrides); });
    return true;
  }
  return false;
}

}  // namespace sim
