#include "platform/sim/scenario/scenario_wmi.h"

#include "common/utf.h"
#include "platform/sim/state/network_sim.h"
#include "platform/sim/state/smbios_builder.h"

namespace sim {
namespace {

using namespace scenario_json;
using platform::kVtArray;

int64_t Signed(const json& value, const std::string& where) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number_unsigned()) {
    uint64_t n = value.get<uint64_t>();
    if (n > static_cast<uint64_t>(INT64_MAX)) Bad(where, "number too large");
    return static_cast<int64_t>(n);
  }
  if (!value.is_number_integer()) Bad(where, "expected a whole number");
  return value.get<int64_t>();
}

uint8_t Byte(const json& value, const std::string& where) {
  uint64_t n = Number(value, where);
  if (n > 0xFF) Bad(where, "does not fit in a byte");
  return static_cast<uint8_t>(n);
}

uint16_t Word(const json& value, const std::string& where) {
  uint64_t n = Number(value, where);
  if (n > 0xFFFF) Bad(where, "does not fit in 16 bits");
  return static_cast<uint16_t>(n);
}

uint16_t ScalarType(const std::string& name, const std::string& where) {
  static const std::pair<const char*, uint16_t> kTypes[] = {
      {"empty", platform::kVtEmpty}, {"null", platform::kVtNull}, {"bool", platform::kVtBool},
      {"i1", platform::kVtI1},       {"ui1", platform::kVtUi1},   {"i2", platform::kVtI2},
      {"ui2", platform::kVtUi2},     {"i4", platform::kVtI4},     {"ui4", platform::kVtUi4},
      {"i8", platform::kVtI8},       {"ui8", platform::kVtUi8},   {"bstr", platform::kVtBstr}};
  for (const auto& [text, type] : kTypes) {
    if (name == text) return type;
  }
  Bad(where, "unknown property type " + Quoted(name));
}

WmiValue Property(const json& node, const std::string& where) {
  std::string typeName = Text(Need(node, "type", where), where + ".type");
  bool isArray = typeName.size() > 2 && typeName.compare(typeName.size() - 2, 2, "[]") == 0;
  uint16_t type =
      ScalarType(isArray ? typeName.substr(0, typeName.size() - 2) : typeName, where + ".type");
  if (type == platform::kVtEmpty) return WmiValue::Empty();
  if (type == platform::kVtNull) return WmiValue::Null();
  const json& value = Need(node, "value", where);
  std::string w = where + ".value";
  if (isArray) {
    if (WmiElementSize(type) == 0) Bad(where + ".type", "arrays hold integer kinds only");
    std::vector<int64_t> elements;
    if (value.is_string() && type == platform::kVtUi1) {
      for (uint8_t b : HexBytes(value.get<std::string>(), w)) elements.push_back(b);
    } else {
      if (!value.is_array()) Bad(w, "expected a list of numbers");
      for (size_t i = 0; i < value.size(); ++i)
        elements.push_back(Signed(value[i], w + "[" + std::to_string(i) + "]"));
    }
    int32_t lowerBound = 0;
    if (node.contains("lower_bound")) {
      int64_t lb = Signed(node["lower_bound"], where + ".lower_bound");
      if (lb < INT32_MIN || lb > INT32_MAX) Bad(where + ".lower_bound", "out of range");
      lowerBound = static_cast<int32_t>(lb);
    }
    return WmiValue::Array(type, std::move(elements), lowerBound);
  }
  if (type == platform::kVtBstr) return WmiValue::Text(Wide(value, w));
  if (type == platform::kVtBool) return WmiValue::Bool(Flag(value, w));
  return WmiValue::Integer(type, Signed(value, w));
}

uint8_t DevFn(const json& node, const std::string& where) {
  uint8_t device = node.contains("device") ? Byte(node["device"], where + ".device") : 0;
  uint8_t function = node.contains("function") ? Byte(node["function"], where + ".function") : 0;
  if (device > 31 || function > 7) Bad(where, "device above 31 or function above 7");
  return static_cast<uint8_t>(device << 3 | function);
}

void LoadSmbios(Machine& machine, const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  SmbiosHeader header;
  if (node.contains("major_version"))
    header.majorVersion = Byte(node["major_version"], where + ".major_version");
  if (node.contains("minor_version"))
    header.minorVersion = Byte(node["minor_version"], where + ".minor_version");
  if (node.contains("dmi_revision"))
    header.dmiRevision = Byte(node["dmi_revision"], where + ".dmi_revision");
  if (node.contains("used20_calling_method"))
    header.used20CallingMethod =
        Flag(node["used20_calling_method"], where + ".used20_calling_method");
  if (node.contains("raw")) {
    InstallSmbiosTable(machine.wmi(), HexBytes(Text(node["raw"], where + ".raw"), where + ".raw"),
                       header);
    return;
  }
  SmbiosDescription d;
  if (node.contains("product_name"))
    d.productName = Text(node["product_name"], where + ".product_name");
  if (node.contains("manufacturer"))
    d.manufacturer = Text(node["manufacturer"], where + ".manufacturer");
  if (node.contains("slots")) {
    const json& slots = node["slots"];
    if (!slots.is_array()) Bad(where + ".slots", "expected a list");
    for (size_t i = 0; i < slots.size(); ++i) {
      std::string w = where + ".slots[" + std::to_string(i) + "]";
      const json& s = slots[i];
      SmbiosSlot slot;
      slot.id = Word(Need(s, "id", w), w + ".id");
      if (s.contains("designation")) slot.designation = Text(s["designation"], w + ".designation");
      if (s.contains("segment")) slot.segment = Word(s["segment"], w + ".segment");
      slot.bus = Byte(Need(s, "bus", w), w + ".bus");
      slot.devfn = DevFn(s, w);
      if (s.contains("usage")) slot.usage = Byte(s["usage"], w + ".usage");
      d.slots.push_back(slot);
    }
  }
  if (node.contains("onboard")) {
    const json& list = node["onboard"];
    if (!list.is_array()) Bad(where + ".onboard", "expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = where + ".onboard[" + std::to_string(i) + "]";
      const json& o = list[i];
      SmbiosOnboardDevice device;
      if (o.contains("designation"))
        device.designation = Text(o["designation"], w + ".designation");
      if (o.contains("type")) device.type = Byte(o["type"], w + ".type");
      if (o.contains("instance")) device.instance = Byte(o["instance"], w + ".instance");
      if (o.contains("segment")) device.segment = Word(o["segment"], w + ".segment");
      device.bus = Byte(Need(o, "bus", w), w + ".bus");
      device.devfn = DevFn(o, w);
      d.onboard.push_back(device);
    }
  }
  InstallSmbios(machine.wmi(), d, header);
}

void LoadLbfoTeams(SimWmi& wmi, const json& teams, const std::string& where) {
  if (!teams.is_array()) Bad(where, "expected a list");
  for (size_t i = 0; i < teams.size(); ++i) {
    std::string w = where + "[" + std::to_string(i) + "]";
    const json& t = teams[i];
    LbfoTeam team;
    team.name = Wide(Need(t, "name", w), w + ".name");
    if (t.contains("teaming_mode")) {
      team.teamingMode = Number32(t["teaming_mode"], w + ".teaming_mode");
    }
    if (t.contains("load_balancing")) {
      team.loadBalancing = Number32(t["load_balancing"], w + ".load_balancing");
    }
    if (t.contains("status")) team.status = Number32(t["status"], w + ".status");
    if (t.contains("members")) {
      const json& members = List(t, "members", w);
      for (size_t m = 0; m < members.size(); ++m) {
        std::string wm = w + ".members[" + std::to_string(m) + "]";
        const json& j = members[m];
        LbfoMember member;
        member.name = Wide(Need(j, "name", wm), wm + ".name");
        if (j.contains("guid")) member.guid = Wide(j["guid"], wm + ".guid");
        if (j.contains("administrative_mode"))
          member.administrativeMode =
              Number32(j["administrative_mode"], wm + ".administrative_mode");
        team.members.push_back(member);
      }
    }
    if (t.contains("team_nics")) {
      const json& nics = List(t, "team_nics", w);
      for (size_t n = 0; n < nics.size(); ++n) {
        std::string wn = w + ".team_nics[" + std::to_string(n) + "]";
        const json& j = nics[n];
        LbfoTeamNic nic;
        nic.name = Wide(Need(j, "name", wn), wn + ".name");
        if (j.contains("guid")) nic.guid = Wide(j["guid"], wn + ".guid");
        if (j.contains("vlan")) nic.vlanId = Number32(j["vlan"], wn + ".vlan");
        if (j.contains("default")) nic.isDefault = Flag(j["default"], wn + ".default");
        team.teamNics.push_back(nic);
      }
    }
    AddLbfoTeam(wmi, team);
  }
}

// Namespaces whose provider is missing for the first minutes after start.
void LoadHiddenNamespaces(Machine& machine, const json& list, const std::string& where) {
  if (!list.is_array()) Bad(where + ".namespaces", "expected a list");
  for (size_t i = 0; i < list.size(); ++i) {
    std::string w = where + ".namespaces[" + std::to_string(i) + "]";
    std::u16string name = Wide(Need(list[i], "namespace", w), w + ".namespace");
    if (!list[i].contains("missing_until_ms")) continue;
    uint64_t until = Number(list[i]["missing_until_ms"], w + ".missing_until_ms");
    machine.wmi().AddNamespace(name);
    machine.wmi().SetNamespaceHidden(name, true);
    machine.At(until, [&machine, name] { machine.wmi().SetNamespaceHidden(name, false); });
  }
}

}  // namespace

void LoadWmi(Machine& machine, const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  SimWmi& wmi = machine.wmi();
  wmi.SetAvailable(node.contains("available") ? Flag(node["available"], where + ".available")
                                              : true);
  if (node.contains("smbios")) LoadSmbios(machine, node["smbios"], where + ".smbios");
  if (node.contains("efx_ports")) {
    const json& ports = node["efx_ports"];
    if (!ports.is_array()) Bad(where + ".efx_ports", "expected a list");
    for (size_t i = 0; i < ports.size(); ++i) {
      std::string w = where + ".efx_ports[" + std::to_string(i) + "]";
      EfxPort port;
      if (!ParseMacAddress(Text(Need(ports[i], "mac", w), w + ".mac"), &port.mac))
        Bad(w + ".mac", "expected bytes like 00-0F-53-01-02-03");
      if (ports[i].contains("external")) port.external = Flag(ports[i]["external"], w);
      if (ports[i].contains("mcfwversion"))
        port.firmwareVersion = Wide(ports[i]["mcfwversion"], w + ".mcfwversion");
      AddEfxPort(wmi, port);
    }
  }
  if (node.contains("lbfo_teams")) LoadLbfoTeams(wmi, node["lbfo_teams"], where + ".lbfo_teams");
  if (node.contains("classes")) {
    const json& classes = node["classes"];
    if (!classes.is_array()) Bad(where + ".classes", "expected a list");
    for (size_t i = 0; i < classes.size(); ++i) {
      std::string w = where + ".classes[" + std::to_string(i) + "]";
      const json& c = classes[i];
      WmiClass& declared = wmi.Class(Wide(Need(c, "namespace", w), w + ".namespace"),
                                     Wide(Need(c, "class", w), w + ".class"));
      if (c.contains("delivery_delay_ms"))
        declared.deliveryDelayMs = Number32(c["delivery_delay_ms"], w + ".delivery_delay_ms");
      if (c.contains("delivery_delay_until_ms")) {
        // A provider slow only while the machine starts: from then on it answers at once.
        uint64_t until = Number(c["delivery_delay_until_ms"], w + ".delivery_delay_until_ms");
        machine.At(until, [&declared] { declared.deliveryDelayMs = 0; });
      }
    }
  }
  if (node.contains("namespaces")) LoadHiddenNamespaces(machine, node["namespaces"], where);
  if (node.contains("objects")) {
    const json& objects = node["objects"];
    if (!objects.is_array()) Bad(where + ".objects", "expected a list");
    for (size_t i = 0; i < objects.size(); ++i) {
      std::string w = where + ".objects[" + std::to_string(i) + "]";
      const json& o = objects[i];
      WmiObject& object = wmi.AddObject(Wide(Need(o, "namespace", w), w + ".namespace"),
                                        Wide(Need(o, "class", w), w + ".class"));
      if (!o.contains("properties")) continue;
      const json& properties = o["properties"];
      if (!properties.is_object()) Bad(w + ".properties", "expected an object");
      for (auto it = properties.begin(); it != properties.end(); ++it) {
        object.Set(crv::Utf8ToUtf16(it.key()),
                   Property(it.value(), Member(w + ".properties", it.key())));
      }
    }
  }
}

}  // namespace sim
