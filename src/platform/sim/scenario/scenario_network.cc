#include "platform/sim/scenario/scenario_network.h"

#include <cstring>

#include "common/utf.h"
#include "platform/sim/api/apis.h"

namespace sim {
namespace {

using namespace scenario_json;

struct CounterField {
  const char* name;
  uint32_t platform::MibIfRow::*field;
};

constexpr CounterField kCounters[] = {
    {"in_octets", &platform::MibIfRow::dwInOctets},
    {"in_ucast", &platform::MibIfRow::dwInUcastPkts},
    {"in_nucast", &platform::MibIfRow::dwInNUcastPkts},
    {"in_discards", &platform::MibIfRow::dwInDiscards},
    {"in_errors", &platform::MibIfRow::dwInErrors},
    {"in_unknown_protos", &platform::MibIfRow::dwInUnknownProtos},
    {"out_octets", &platform::MibIfRow::dwOutOctets},
    {"out_ucast", &platform::MibIfRow::dwOutUcastPkts},
    {"out_nucast", &platform::MibIfRow::dwOutNUcastPkts},
    {"out_discards", &platform::MibIfRow::dwOutDiscards},
    {"out_errors", &platform::MibIfRow::dwOutErrors},
    {"out_qlen", &platform::MibIfRow::dwOutQLen},
};

// Applies {"counter": n, ...}; with add, n is added (32-bit wrap, as the counters wrap).
void ApplyCounters(platform::MibIfRow& row, const json& counters, bool add,
                   const std::string& where) {
  if (!counters.is_object()) Bad(where, "expected an object of counters");
  for (auto it = counters.begin(); it != counters.end(); ++it) {
    const CounterField* found = nullptr;
    for (const auto& c : kCounters) {
      if (it.key() == c.name) found = &c;
    }
    if (found == nullptr) Bad(Member(where, it.key()), "unknown counter");
    uint32_t n = Number32(it.value(), Member(where, it.key()));
    row.*(found->field) = add ? row.*(found->field) + n : n;
  }
}

void SetDescription(platform::MibIfRow& row, const std::string& utf8) {
  std::string ansi = ToAnsiCodePage(crv::Utf8ToUtf16(utf8));
  size_t n = std::min(ansi.size(), sizeof row.bDescr - 1);
  std::memset(row.bDescr, 0, sizeof row.bDescr);
  std::memcpy(row.bDescr, ansi.data(), n);
  row.dwDescrLen = static_cast<uint32_t>(n + 1);
}

uint32_t Ipv4(const json& value, const std::string& where) {
  uint32_t address = 0;
  if (!ParseIpv4(Wide(value, where), &address)) {
    Bad(where, "not an IPv4 address");
  }
  return address;
}

}  // namespace

void ParseAddresses(const json& node, const std::string& where, std::vector<SimIpv4Address>* ipv4,
                    std::vector<std::u16string>* ipv6) {
  if (node.contains("ipv4")) {
    const json& list = node["ipv4"];
    if (!list.is_array()) Bad(where + ".ipv4", "expected a list");
    for (size_t k = 0; k < list.size(); ++k) {
      std::string w = where + ".ipv4[" + std::to_string(k) + "]";
      ipv4->push_back(SimIpv4Address{
          Ipv4(Need(list[k], "address", w), w + ".address"),
          list[k].contains("mask") ? Ipv4(list[k]["mask"], w + ".mask") : 0x00FFFFFFu});
    }
  }
  if (node.contains("ipv6")) {
    const json& list = node["ipv6"];
    if (!list.is_array()) Bad(where + ".ipv6", "expected a list");
    for (size_t k = 0; k < list.size(); ++k) {
      std::string w = where + ".ipv6[" + std::to_string(k) + "]";
      std::u16string text = Wide(list[k], w);
      uint8_t bytes[16];
      uint32_t scope;
      if (!ParseIpv6(text, bytes, &scope)) Bad(w, "not an IPv6 address");
      ipv6->push_back(text);
    }
  }
}

SimInterface ParseInterface(const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an interface object");
  SimInterface i;
  platform::MibIfRow& row = i.row;
  row.dwIndex = Number32(Need(node, "index", where), where + ".index");
  row.dwType = node.contains("type") ? Number32(node["type"], where + ".type") : 6;
  row.dwMtu = node.contains("mtu") ? Number32(node["mtu"], where + ".mtu") : 1500;
  row.dwSpeed = node.contains("speed") ? Number32(node["speed"], where + ".speed") : 1000000000;
  row.dwAdminStatus =
      node.contains("admin_status") ? Number32(node["admin_status"], where + ".admin_status") : 1;
  row.dwOperStatus =
      node.contains("oper_status") ? Number32(node["oper_status"], where + ".oper_status") : 5;
  row.dwLastChange =
      node.contains("last_change") ? Number32(node["last_change"], where + ".last_change") : 0;
  if (node.contains("mac")) {
    std::vector<uint8_t> mac;
    if (!ParseMacAddress(Text(node["mac"], where + ".mac"), &mac)) {
      Bad(where + ".mac", "expected bytes like 00-1B-21-AA-BB-01 (at most 8)");
    }
    row.dwPhysAddrLen = static_cast<uint32_t>(mac.size());
    std::memcpy(row.bPhysAddr, mac.data(), mac.size());
  }
  SetDescription(row, node.contains("description")
                          ? Text(node["description"], where + ".description")
                          : std::string());
  if (node.contains("adapter_name"))
    i.adapterName = Text(node["adapter_name"], where + ".adapter_name");
  std::u16string wideName = u"\\DEVICE\\TCPIP_" + crv::Utf8ToUtf16(i.adapterName);
  std::memcpy(row.wszName, wideName.c_str(),
              std::min(wideName.size(), size_t{platform::kMaxInterfaceNameLength - 1}) * 2);
  if (node.contains("friendly_name")) {
    i.friendlyName = Wide(node["friendly_name"], where + ".friendly_name");
  }
  ParseAddresses(node, where, &i.ipv4, &i.ipv6);
  if (node.contains("hardware")) i.hardware = Flag(node["hardware"], where + ".hardware");
  if (node.contains("filter")) i.filter = Flag(node["filter"], where + ".filter");
  if (node.contains("ip_binding")) i.ipBinding = Flag(node["ip_binding"], where + ".ip_binding");
  if (node.contains("counters")) ApplyCounters(row, node["counters"], false, where + ".counters");
  return i;
}

bool LoadNetworkAction(Machine& machine, uint64_t at, const json& entry, const std::string& where) {
  if (entry.contains("interface_add")) {
    SimInterface added = ParseInterface(entry["interface_add"], where + ".interface_add");
    machine.At(at, [&machine, added] { machine.network().Add(added); });
    return true;
  }
  if (entry.contains("interface_remove")) {
    uint32_t index = Number32(entry["interface_remove"], where + ".interface_remove");
    machine.At(at, [&machine, index] { machine.network().Remove(index); });
    return true;
  }
  if (!entry.contains("interface_set")) return false;
  const json& set = entry["interface_set"];
  std::string w = where + ".interface_set";
  uint32_t index = Number32(Need(set, "index", w), w + ".index");
  // Validate now, apply at the action's time.
  platform::MibIfRow probe{};
  if (set.contains("counters")) ApplyCounters(probe, set["counters"], false, w + ".counters");
  if (set.contains("add_counters"))
    ApplyCounters(probe, set["add_counters"], true, w + ".add_counters");
  for (const char* field :
       {"new_index", "oper_status", "admin_status", "speed", "mtu", "last_change"}) {
    if (set.contains(field)) Number32(set[field], w + "." + field);
  }
  if (set.contains("description")) Text(set["description"], w + ".description");
  machine.At(at, [&machine, index, set] {
    SimInterface* i = machine.network().Find(index);
    if (i == nullptr) return;  // the interface is gone: nothing to change
    platform::MibIfRow& row = i->row;
    if (set.contains("new_index")) row.dwIndex = set["new_index"].get<uint32_t>();
    if (set.contains("oper_status")) row.dwOperStatus = set["oper_status"].get<uint32_t>();
    if (set.contains("admin_status")) row.dwAdminStatus = set["admin_status"].get<uint32_t>();
    if (set.contains("speed")) row.dwSpeed = set["speed"].get<uint32_t>();
    if (set.contains("mtu")) row.dwMtu = set["mtu"].get<uint32_t>();
    if (set.contains("last_change")) row.dwLastChange = set["last_change"].get<uint32_t>();
    if (set.contains("description")) SetDescription(row, set["description"].get<std::string>());
    if (set.contains("counters")) ApplyCounters(row, set["counters"], false, "");
    if (set.contains("add_counters")) ApplyCounters(row, set["add_counters"], true, "");
  });
  return true;
}

}  // namespace sim
