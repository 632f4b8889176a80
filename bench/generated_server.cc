#include "generated_server.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "discovery/lbfo_teams.h"
#include "discovery/miniport.h"

namespace crvbench {
namespace {

using json = nlohmann::json;

constexpr uint32_t kVlansPerTeam = 4;
constexpr uint32_t kTeamsAtMost = 16;
static_assert(kTeamsAtMost + crv::kLbfoMaxTeamNics / kVlansPerTeam <= crv::kLbfoMaxTeams &&
                  2 * crv::kLbfoMaxTeams <= crv::kLbfoMaxMembers,
              "the generated teams fit in one NIC Teaming answer");

std::string Format(const char* format, uint32_t a, uint32_t b = 0, uint32_t c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

// Instance GUIDs look random, as the system's are; the same on every run.
std::string Guid(uint32_t kind, uint32_t n) {
  uint64_t x = (uint64_t{kind} << 32 | n) + 0x9E3779B97F4A7C15ull;  // splitmix64
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  char text[48];
  std::snprintf(text, sizeof text, "{%08X-%04X-4%03X-8%03X-%012X}", static_cast<uint32_t>(x >> 32),
                static_cast<uint32_t>(x >> 16) & 0xFFFF, static_cast<uint32_t>(x) & 0xFFF,
                kind & 0xFFF, n);
  return text;
}

std::string Mac(uint32_t prefix, uint32_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%02X-1B-21-%02X-%02X-%02X", prefix, (n >> 16) & 0xFF,
                (n >> 8) & 0xFF, n & 0xFF);
  return text;
}

std::string Ipv4(uint32_t n) {
  return Format("10.%u.%u.", (n >> 16) & 0xFF, (n >> 8) & 0xFF) + std::to_string(n & 0xFF);
}

// The NIC Teaming team of that index, created in teams at its first use.
json& LbfoTeam(json& teams, uint32_t team) {
  std::string name = "Team " + std::to_string(team);
  for (json& t : teams) {
    if (t["name"] == name) return t;
  }
  teams.push_back({{"name", name}, {"members", json::array()}, {"team_nics", json::array()}});
  return teams.back();
}

// Places ports on four-port cards: 32 cards to a bus.
class PortPlacer {
 public:
  json Next(json adapter) {
    uint32_t k = next_++;
    uint32_t slot = k / 4 + 1;
    adapter["location"] = {
        {"bus", 1 + k / 128}, {"device", (k / 4) % 32}, {"function", k % 4}, {"slot", slot}};
    adapter["ui_number"] = slot;
    return adapter;
  }

 private:
  uint32_t next_ = 0;
};

json IntelPort(const std::string& guid, uint32_t macNumber, uint32_t ifIndex, uint32_t number) {
  std::string description = "Intel(R) Ethernet Controller X710 for 10GbE SFP+";
  if (number > 1) description += " #" + std::to_string(number);
  return json{
      {"guid", guid},
      {"mac", Mac(0x00, macNumber)},
      {"if_index", ifIndex},
      {"description", description},
      {"service", "i40ea"},
      {"pci",
       {{"vendor", "0x8086"}, {"device", "0x1572"}, {"subsystem", "0x00068086"}, {"revision", 1}}},
      {"speed", 10000000000ull},
      {"duplex", "full"},
      {"firmware", "9.20.0"},
      {"keywords", {{"*SpeedDuplex", "0"}}}};
}

// A team's virtual adapter (vlan 0) or one of its VLAN interfaces.
json TeamInterface(const std::string& guid, uint32_t teamMac, uint32_t ifIndex, uint32_t vlan) {
  json a{{"guid", guid},
         {"mac", Mac(0x02, teamMac)},
         {"if_index", ifIndex},
         {"kind", "other"},
         {"instance_id", "ROOT\\CV_CRVTEAMMP\\" + Format("%04u", ifIndex)},
         {"description", vlan == 0 ? "Corvane Team Interface" : "Corvane Team VLAN Interface"},
         {"service", "crvteam"},
         {"speed", 20000000000ull},
         {"duplex", "full"},
         {"ipv4", json::array({{{"address", Ipv4(ifIndex)}, {"mask", "255.255.0.0"}}})}};
  if (vlan == 0)
    a["ipv6"] = json::array({Format("fe80::2:%x%%", ifIndex) + std::to_string(ifIndex)});
  return a;
}

}  // namespace

ServerShape ShapeFor(uint32_t managedInterfaces) {
  ServerShape s;
  s.managed = managedInterfaces < 4 ? 4 : managedInterfaces;
  // Teams as NIC Teaming can describe them to the agent in one answer: the team interfaces
  // (a team's own and the VLANs) and the teams within its bounds; the rest single ports.
  s.teams = std::min(s.managed / 4, kTeamsAtMost);
  s.vlans = std::min(s.managed / 4, crv::kLbfoMaxTeamNics - s.teams);
  s.vlanTeams = (s.vlans + kVlansPerTeam - 1) / kVlansPerTeam;
  s.singles = s.managed - 1 - s.teams - s.vlans;
  s.ports = s.singles + 2 * s.teams + 2 * s.vlanTeams;
  return s;
}

std::string GenerateServerScenario(uint32_t managedInterfaces, uint32_t pollMs,
                                   uint64_t durationMs) {
  ServerShape shape = ShapeFor(managedInterfaces);
  json adapters = json::array();
  json lbfo = json::array();
  // A team interface of NIC Teaming: the team's default one (vlan 0) or one of its VLANs.
  auto addTeamNic = [&](const json& adapter, uint32_t teamIndex, uint32_t vlan) {
    LbfoTeam(lbfo, teamIndex)["team_nics"].push_back(
        {{"name", "Team interface " + adapter["guid"].get<std::string>()},
         {"guid", adapter["guid"]},
         {"vlan", vlan},
         {"default", vlan == 0}});
    adapters.push_back(adapter);
  };
  PortPlacer placer;
  uint32_t ifIndex = 2;  // 1 is the loopback
  uint32_t portNumber = 0, macNumber = 0, team = 0, guidNumber = 0;

  for (uint32_t i = 0; i < shape.singles; ++i) {
    json port = IntelPort(Guid(1, ++guidNumber), ++macNumber, ifIndex, ++portNumber);
    port["ipv4"] = json::array({{{"address", Ipv4(ifIndex)}, {"mask", "255.255.0.0"}}});
    port["ipv6"] = json::array({Format("fe80::1:%x%%", ifIndex) + std::to_string(ifIndex)});
    port["connection_name"] = "Ethernet " + std::to_string(ifIndex);
    if (i % 8 == 7) port["link"] = false;
    if (i % 2 == 1) port["filters_listed"] = "before";  // Windows promises no order
    adapters.push_back(placer.Next(port));
    ++ifIndex;
  }
  auto addMembers = [&](uint32_t teamIndex) {
    for (int m = 0; m < 2; ++m) {
      // A member has an interface row of its own, without TCP/IP.
      json port = IntelPort(Guid(2, ++guidNumber), ++macNumber, ifIndex++, ++portNumber);
      port["ip_binding"] = false;
      LbfoTeam(lbfo, teamIndex)["members"].push_back(
          {{"name", "Member " + port["guid"].get<std::string>()}, {"guid", port["guid"]}});
      adapters.push_back(placer.Next(port));
    }
  };
  for (uint32_t t = 0; t < shape.teams; ++t) {
    addMembers(++team);
    addTeamNic(TeamInterface(Guid(3, ++guidNumber), team, ifIndex++, 0), team, 0);
  }
  for (uint32_t v = 0; v < shape.vlans; ++v) {
    if (v % kVlansPerTeam == 0) addMembers(++team);
    uint32_t vlan = 10 * (v % kVlansPerTeam + 1);
    addTeamNic(TeamInterface(Guid(4, ++guidNumber), team, ifIndex++, vlan), team, vlan);
  }

  json scenario{
      {"description",
       "Generated server: " + std::to_string(shape.managed) + " managed interfaces (" +
           std::to_string(shape.singles) + " single ports, " + std::to_string(shape.teams) +
           " teams, " + std::to_string(shape.vlans) + " VLAN interfaces on " +
           std::to_string(shape.vlanTeams) + " teams, " + std::to_string(shape.ports) + " ports)"},
      {"command_line", {"crvnichost.exe"}},
      {"duration_ms", durationMs},
      {"registry",
       {{{"key", "SYSTEM\\CurrentControlSet\\Services\\CRVNicMgmt\\CRVNICS"},
         {"values", {{"Timeout", {{"type", "REG_DWORD"}, {"data", pollMs}}}}}}}},
      {"interfaces",
       {{{"index", 1},
         {"type", 24},
         {"mtu", 0},
         {"speed", 1073741824},
         {"description", "Software Loopback Interface 1"},
         {"adapter_name", "{8A3F2B10-0000-0000-0000-000000000001}"},
         {"friendly_name", "Loopback Pseudo-Interface 1"},
         {"ipv4", {{{"address", "127.0.0.1"}, {"mask", "255.0.0.0"}}}},
         {"ipv6", {"::1"}}},
        {{"index", ifIndex},
         {"type", 71},
         {"mac", "A4-34-D9-11-22-33"},
         {"description", "Intel(R) Wi-Fi 6 AX201 160MHz"},
         {"adapter_name", "{9F2B3C40-3F5C-4A8B-ACBD-4E5F6A7B8C01}"},
         {"friendly_name", "Wi-Fi"}}}},
      {"ndis_filters",
       {{"names",
         {"WFP Native MAC Layer LightWeight Filter", "QoS Packet Scheduler",
          "WFP 802.3 MAC Layer LightWeight Filter", "Packet Capture Filter Driver"}},
        {"listed", "after"}}},
      {"adapters", adapters},
      {"wmi", {{"lbfo_teams", lbfo}}}};
  return scenario.dump(1);
}

}  // namespace crvbench
