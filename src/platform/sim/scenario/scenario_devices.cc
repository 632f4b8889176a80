#include "platform/sim/scenario/scenario_devices.h"

#include "platform/sim/scenario/scenario_network.h"

#include "common/utf.h"

namespace sim {
namespace {

using namespace scenario_json;

std::u16string Wide(const json& value, const std::string& where) {
  return crv::Utf8ToUtf16(Text(value, where));
}

// A number, or a text "0x..." / decimal.
uint32_t Hex32(const json& value, const std::string& where) {
  if (!value.is_string()) return Number32(value, where);
  std::string text = value.get<std::string>();
  int base = 10;
  std::string digits = text;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    digits = text.substr(2);
  }
  if (digits.empty() || digits.size() > (base == 16 ? 8u : 10u) ||
      digits.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") !=
          std::string::npos) {
    Bad(where, "expected a number or a text like \"0x8086\"");
  }
  uint64_t n = std::stoull(digits, nullptr, base);
  if (n > 0xFFFFFFFFull) Bad(where, "does not fit in 32 bits");
  return static_cast<uint32_t>(n);
}

std::vector<uint8_t> Bytes(const json& data, const std::string& where) {
  std::vector<uint8_t> bytes;
  if (data.is_array()) {
    for (size_t i = 0; i < data.size(); ++i) {
      uint64_t b = Number(data[i], where + "[" + std::to_string(i) + "]");
      if (b > 255) Bad(where, "byte above 255");
      bytes.push_back(static_cast<uint8_t>(b));
    }
    return bytes;
  }
  std::string hex;
  for (char c : Text(data, where)) {
    if (c != ' ') hex.push_back(c);
  }
  if (hex.size() % 2 != 0) Bad(where, "odd number of hexadecimal digits");
  if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    Bad(where, "not hexadecimal");
  }
  for (size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

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
  Bad(where, "unknown kind \"" + text + "\"");
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

OidAnswer ParseOidAnswer(const json& spec, const std::string& where) {
  if (!spec.is_object()) Bad(where, "expected { \"data\" | \"dword\" | \"error\": ... }");
  if (spec.contains("error")) return OidAnswer::Fail(Hex32(spec["error"], where + ".error"));
  if (spec.contains("dword")) return OidAnswer::Dword(Hex32(spec["dword"], where + ".dword"));
  return OidAnswer::Bytes(Bytes(Need(spec, "data", where), where + ".data"));
}

PrivateAnswer ParsePrivateAnswer(const json& spec, const std::string& where) {
  if (!spec.is_object()) Bad(where, "expected { \"data\", \"status\", \"error\" }");
  PrivateAnswer answer;
  if (spec.contains("data")) answer.data = Bytes(spec["data"], where + ".data");
  if (spec.contains("status")) answer.status = Hex32(spec["status"], where + ".status");
  if (spec.contains("error")) answer.error = Hex32(spec["error"], where + ".error");
  return answer;
}

// The low-level answers of an entry, checked now and applied later.
struct Overrides {
  std::map<uint32_t, OidAnswer> oids;
  std::map<uint32_t, PrivateAnswer> privateOids;
  std::optional<uint32_t> openError;
};

Overrides ParseOverrides(const json& spec, const std::string& where) {
  Overrides o;
  if (spec.contains("oids")) {
    const json& oids = spec["oids"];
    if (!oids.is_object()) Bad(where + ".oids", "expected an object of OIDs");
    for (auto it = oids.begin(); it != oids.end(); ++it) {
      std::string w = where + ".oids." + it.key();
      o.oids[Hex32(json(it.key()), w)] = ParseOidAnswer(it.value(), w);
    }
  }
  if (spec.contains("private_oids")) {
    const json& oids = spec["private_oids"];
    if (!oids.is_object()) Bad(where + ".private_oids", "expected an object of OIDs");
    for (auto it = oids.begin(); it != oids.end(); ++it) {
      std::string w = where + ".private_oids." + it.key();
      o.privateOids[Hex32(json(it.key()), w)] = ParsePrivateAnswer(it.value(), w);
    }
  }
  if (spec.contains("open_error")) o.openError = Hex32(spec["open_error"], where + ".open_error");
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

SimAdapter ParseAdapter(const json& spec, const std::string& where) {
  if (!spec.is_object()) Bad(where, "expected an adapter object");
  SimAdapter a;
  a.guid = Guid(Need(spec, "guid", where), where + ".guid");
  a.mac = Mac(Need(spec, "mac", where), where + ".mac");
  if (spec.contains("permanent_mac")) {
    a.permanentMac = Mac(spec["permanent_mac"], where + ".permanent_mac");
  }
  if (spec.contains("if_index")) a.ifIndex = Number32(spec["if_index"], where + ".if_index");
  if (spec.contains("if_type")) a.ifType = Number32(spec["if_type"], where + ".if_type");
  if (spec.contains("mtu")) a.mtu = Number32(spec["mtu"], where + ".mtu");
  if (spec.contains("description"))
    a.description = Wide(spec["description"], where + ".description");
  if (spec.contains("friendly_name")) {
    a.friendlyName = Wide(spec["friendly_name"], where + ".friendly_name");
  }
  if (spec.contains("kind")) a.kind = Kind(Text(spec["kind"], where + ".kind"), where + ".kind");
  if (spec.contains("bus_device")) a.busDevice = Wide(spec["bus_device"], where + ".bus_device");
  if (spec.contains("enumerator")) {
    a.solarflareEnumerator = Wide(spec["enumerator"], where + ".enumerator");
  }
  if (spec.contains("pci")) {
    const json& pci = spec["pci"];
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
  if (spec.contains("location")) {
    const json& l = spec["location"];
    std::string w = where + ".location";
    if (!l.is_object()) Bad(w, "expected an object");
    if (l.contains("bus")) a.bus = Number32(l["bus"], w + ".bus");
    if (l.contains("device")) a.device = Number32(l["device"], w + ".device");
    if (l.contains("function")) a.function = Number32(l["function"], w + ".function");
    if (l.contains("slot")) a.slot = Number32(l["slot"], w + ".slot");
  }
  if (spec.contains("location_text")) {
    a.location = Wide(spec["location_text"], where + ".location_text");
  }
  if (spec.contains("ui_number")) a.uiNumber = Number32(spec["ui_number"], where + ".ui_number");
  if (spec.contains("port")) a.port = Number32(spec["port"], where + ".port");
  if (spec.contains("port_ui_number")) {
    a.portUiNumber = Flag(spec["port_ui_number"], where + ".port_ui_number");
  }
  if (spec.contains("instance_id"))
    a.instanceId = Wide(spec["instance_id"], where + ".instance_id");
  if (a.kind == AdapterKind::kOther && a.instanceId.empty()) {
    Bad(where + ".instance_id", "required for kind \"other\"");
  }
  if (spec.contains("service")) a.service = Wide(spec["service"], where + ".service");
  if (spec.contains("medium")) a.medium = Number32(spec["medium"], where + ".medium");
  if (spec.contains("link")) a.linkUp = Flag(spec["link"], where + ".link");
  if (spec.contains("firmware")) a.firmware = Text(spec["firmware"], where + ".firmware");
  if (spec.contains("speed")) a.speedBps = Number(spec["speed"], where + ".speed");
  if (spec.contains("duplex")) {
    a.duplex = Duplex(Text(spec["duplex"], where + ".duplex"), where + ".duplex");
  }
  if (spec.contains("private_device")) {
    a.privateDevice = Flag(spec["private_device"], where + ".private_device");
  }
  ParseAddresses(spec, where, &a.ipv4, &a.ipv6);
  if (spec.contains("dhcp")) a.dhcp = Flag(spec["dhcp"], where + ".dhcp");
  if (spec.contains("connection_name")) {
    a.connectionName = Wide(spec["connection_name"], where + ".connection_name");
  }
  if (spec.contains("keywords")) {
    const json& k = spec["keywords"];
    if (!k.is_object()) Bad(where + ".keywords", "expected an object of texts");
    for (auto it = k.begin(); it != k.end(); ++it) {
      a.keywords[crv::Utf8ToUtf16(it.key())] = Wide(it.value(), where + ".keywords." + it.key());
    }
  }
  if (spec.contains("ndis_interface")) {
    a.ndisInterface = Flag(spec["ndis_interface"], where + ".ndis_interface");
  }
  return a;
}

void LoadAdapter(Machine& machine, const json& spec, const std::string& where) {
  SimAdapter adapter = ParseAdapter(spec, where);
  Overrides overrides = ParseOverrides(spec, where);
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
    machine.At(at, [&machine, adapter, overrides] {
      AddAdapter(machine, adapter);
      ApplyOverrides(machine, adapter.guid, overrides);
    });
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
