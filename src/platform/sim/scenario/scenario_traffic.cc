#include "platform/sim/scenario/scenario_traffic.h"

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "common/utf.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/network_sim.h"

namespace sim {
namespace {

using namespace scenario_json;

struct DriverCounter {
  const char* name;
  uint32_t oid;
};

constexpr DriverCounter kDriverCounters[] = {
    {"frames_sent", 0x00020101},
    {"frames_received", 0x00020102},
    {"alignment_errors", 0x01020101},
    {"fcs_errors", 0x0002020D},
    {"single_collisions", 0x01020102},
    {"multiple_collisions", 0x01020103},
    {"deferred_transmissions", 0x01020201},
    {"late_collisions", 0x01020207},
    {"excessive_collisions", 0x01020202},
    {"mac_transmit_errors", 0x01020204},
    {"carrier_sense_errors", 0x01020206},
    {"mac_receive_errors", 0x01020203},
};

struct PortTraffic {
  std::u16string guid;
  uint64_t fromMs = 0;
  uint64_t untilMs = std::numeric_limits<uint64_t>::max();
  std::vector<std::pair<uint32_t, uint32_t>> oids;  // OID, amount per step
  uint32_t framesSent = 0;
  uint32_t framesReceived = 0;
  uint64_t octetsSent = 0;
  uint64_t octetsReceived = 0;
};

PortTraffic ParsePort(const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected a port object");
  PortTraffic port;
  port.guid = Wide(Need(node, "guid", where), where + ".guid");
  if (node.contains("from_ms")) port.fromMs = Number(node["from_ms"], where + ".from_ms");
  if (node.contains("until_ms")) port.untilMs = Number(node["until_ms"], where + ".until_ms");
  const json& add = Need(node, "add", where);
  if (!add.is_object()) Bad(where + ".add", "expected an object of counters");
  for (auto it = add.begin(); it != add.end(); ++it) {
    std::string w = Member(where + ".add", it.key());
    // Octets may pass 32 bits in one step (a busy 10 Gb/s link moves 12.5 GB in ten seconds).
    bool octets = it.key() == "octets_sent" || it.key() == "octets_received";
    uint32_t amount = octets ? 0 : Number32(it.value(), w);
    bool known = false;
    for (const DriverCounter& c : kDriverCounters) {
      if (it.key() == c.name) {
        port.oids.emplace_back(c.oid, amount);
        known = true;
      }
    }
    if (it.key() == "frames_sent") port.framesSent = amount;
    if (it.key() == "frames_received") port.framesReceived = amount;
    if (it.key() == "octets_sent") {
      port.octetsSent = Number(it.value(), w);
      known = true;
    }
    if (it.key() == "octets_received") {
      port.octetsReceived = Number(it.value(), w);
      known = true;
    }
    if (!known) Bad(w, "unknown counter");
  }
  return port;
}

void AddToDword(OidAnswer& answer, uint32_t amount) {
  if (answer.error != 0 || answer.data.size() != 4) return;  // not a count the driver answers
  uint32_t value;
  std::memcpy(&value, answer.data.data(), 4);
  value += amount;
  std::memcpy(answer.data.data(), &value, 4);
}

// Adds to a 32-bit row counter, which wraps, and keeps what it lost for the 64-bit count.
void AddWrapping(uint32_t& counter, uint64_t& wrapped, uint64_t amount) {
  uint64_t sum = counter + amount;
  counter = static_cast<uint32_t>(sum);
  wrapped += sum - counter;
}

void Grow(Machine& machine, const PortTraffic& port) {
  AdapterRecord* adapter = machine.devices().FindAdapter(port.guid);
  if (adapter == nullptr || !adapter->adapter.linkUp) return;
  if (NdisDevice* device = machine.devices().FindNdis(port.guid)) {
    for (const auto& [oid, amount] : port.oids) {
      auto found = device->oids.find(oid);
      if (found != device->oids.end()) AddToDword(found->second, amount);
    }
  }
  if (adapter->adapter.ifIndex == 0) return;
  if (SimInterface* i = machine.network().Find(adapter->adapter.ifIndex)) {
    AddWrapping(i->row.dwOutOctets, i->wrapped.outOctets, port.octetsSent);
    AddWrapping(i->row.dwInOctets, i->wrapped.inOctets, port.octetsReceived);
    AddWrapping(i->row.dwOutUcastPkts, i->wrapped.outUcastPkts, port.framesSent);
    AddWrapping(i->row.dwInUcastPkts, i->wrapped.inUcastPkts, port.framesReceived);
  }
}

struct Traffic {
  uint64_t everyMs = 10000;
  std::vector<PortTraffic> ports;
};

// One step, then the next one scheduled; the steps stop when no window is still open.
void Step(Machine& machine, std::shared_ptr<const Traffic> traffic, uint64_t atMs) {
  bool more = false;
  for (const PortTraffic& port : traffic->ports) {
    if (atMs >= port.fromMs && atMs < port.untilMs) Grow(machine, port);
    if (atMs + traffic->everyMs < port.untilMs) more = true;
  }
  if (!more) return;
  uint64_t next = atMs + traffic->everyMs;
  machine.At(next, [&machine, traffic, next] { Step(machine, traffic, next); });
}

}  // namespace

void LoadTraffic(Machine& machine, const json& node, const std::string& where) {
  if (!node.is_object()) Bad(where, "expected { \"every_ms\", \"ports\" }");
  auto traffic = std::make_shared<Traffic>();
  if (node.contains("every_ms")) {
    traffic->everyMs = Number(node["every_ms"], where + ".every_ms");
    if (traffic->everyMs == 0) Bad(where + ".every_ms", "must be at least 1");
  }
  const json& ports = Need(node, "ports", where);
  if (!ports.is_array()) Bad(where + ".ports", "expected a list");
  for (size_t i = 0; i < ports.size(); ++i) {
    traffic->ports.push_back(ParsePort(ports[i], where + ".ports[" + std::to_string(i) + "]"));
  }
  if (traffic->ports.empty()) return;
  uint64_t first = traffic->everyMs;
  machine.At(first, [&machine, traffic = std::shared_ptr<const Traffic>(traffic), first] {
    Step(machine, traffic, first);
  });
}

}  // namespace sim
