#include "metrics/prometheus_metrics.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <utility>

namespace crv {
namespace {

struct Label {
  const char* name;
  const char* value;
};

// Port labels and room for the few a family adds.
struct Labels {
  Label items[12];
  size_t count = 0;

  Labels& With(const char* name, const char* value) {
    if (count < std::size(items)) items[count++] = Label{name, value};
    return *this;
  }
};

// Label values escape '\', '"' and line feeds.
void AppendLabelValue(MetricsText& out, const char* text) {
  for (const char* c = text; *c != 0; ++c) {
    if (*c == '\\') {
      out.Append("\\\\", 2);
    } else if (*c == '"') {
      out.Append("\\\"", 2);
    } else if (*c == '\n') {
      out.Append("\\n", 2);
    } else {
      out.Append(*c);
    }
  }
}

void Header(MetricsText& out, const char* name, const char* type, const char* help) {
  out.Append("# HELP ");
  out.Append(name);
  out.Append(' ');
  out.Append(help);
  out.Append("\n# TYPE ");
  out.Append(name);
  out.Append(' ');
  out.Append(type);
  out.Append('\n');
}

void Sample(MetricsText& out, const char* name, const Labels& labels, uint64_t value) {
  out.Append(name);
  if (labels.count > 0) {
    out.Append('{');
    for (size_t i = 0; i < labels.count; ++i) {
      if (i > 0) out.Append(',');
      out.Append(labels.items[i].name);
      out.Append("=\"", 2);
      AppendLabelValue(out, labels.items[i].value);
      out.Append('"');
    }
    out.Append('}');
  }
  out.Append(' ');
  out.AppendNumber(value);
  out.Append('\n');
}

void Sample(MetricsText& out, const char* name, uint64_t value) {
  Sample(out, name, Labels{}, value);
}

struct PortText {
  char port[12];
  char slot[12];
  char vendor[16];
  char pciId[16];
  char subsystemId[12];
};

void FillPortText(const MetricsPort& p, PortText* t) {
  std::snprintf(t->port, sizeof t->port, "%u", p.portNumber);
  std::snprintf(t->slot, sizeof t->slot, "%u", p.slot);
  uint32_t vendor = p.pciId >> 16;
  const char* name = nullptr;
  switch (vendor) {
    case 0x8086:
      name = "intel";
      break;
    case 0x14E4:
      name = "broadcom";
      break;
    case 0x15B3:
      name = "mellanox";
      break;
    case 0x1924:
      name = "solarflare";
      break;
    case 0x1077:
      name = "qlogic";
      break;
    case 0x19A2:
      name = "emulex";
      break;
    case 0x4040:
      name = "netxen";
      break;
    case 0x10EC:
      name = "realtek";
      break;
    default:
      break;
  }
  if (name != nullptr) {
    std::snprintf(t->vendor, sizeof t->vendor, "%s", name);
  } else {
    std::snprintf(t->vendor, sizeof t->vendor, "0x%04x", vendor);
  }
  std::snprintf(t->pciId, sizeof t->pciId, "%04x:%04x", vendor, p.pciId & 0xFFFF);
  std::snprintf(t->subsystemId, sizeof t->subsystemId, "%08x", p.subsystemId);
}

Labels PortLabels(const MetricsPort& p, const PortText& t) {
  Labels labels;
  labels.With("interface", p.interfaceName)
      .With("port", t.port)
      .With("slot", t.slot)
      .With("pci_location", p.pciLocation)
      .With("mac", p.mac);
  return labels;
}

constexpr uint64_t kFileTimeOf1970 = 116444736000000000;
uint64_t UnixSeconds(uint64_t fileTime) { return (fileTime - kFileTimeOf1970) / 10000000; }

const char* const kErrorLabels[] = {"alignment",
                                    "fcs",
                                    "late_collision",
                                    "excessive_collisions",
                                    "internal_mac_transmit",
                                    "carrier_sense",
                                    "frame_too_long",
                                    "internal_mac_receive"};
const EthernetCounter kErrorCounters[] = {
    kAlignmentErrors,           kFcsErrors,          kLateCollisions, kExcessiveCollisions,
    kInternalMacTransmitErrors, kCarrierSenseErrors, kFrameTooLongs,  kInternalMacReceiveErrors};

const char* const kTrapKindLabels[kTrapKinds] = {"connectivity_lost", "connectivity_regained",
                                                 "redundancy_reduced", "redundancy_increased"};

// One gauge or counter per port, its value taken by the function.
using PortValue = uint64_t (*)(const MetricsPort&);

void PortFamily(MetricsText& out, const MetricsInput& in, const char* name, const char* type,
                const char* help, PortValue value) {
  Header(out, name, type, help);
  for (size_t i = 0; i < in.portCount; ++i) {
    PortText text;
    FillPortText(in.ports[i], &text);
    Sample(out, name, PortLabels(in.ports[i], text), value(in.ports[i]));
  }
}

// The interface's speed: its record's, or at the record's 32-bit cap the sum of the speeds of
// its ports with link.
uint64_t InterfaceSpeed(const MetricsInput& in, const MetricsInterface& f) {
  if (f.speedBitsPerSecond != 0xFFFFFFFFu) return f.speedBitsPerSecond;
  uint64_t bits = 0;
  for (size_t i = 0; i < in.portCount; ++i) {
    const MetricsPort& p = in.ports[i];
    if (p.interfaceMapNumber == f.mapNumber && p.linkCondition == 2) bits += p.speedBitsPerSecond;
  }
  return bits;
}

void InterfaceFamilies(MetricsText& out, const MetricsInput& in) {
  Header(out, "crvnic_interface_info", "gauge",
         "An interface the agent manages, with its description, address and grouping.");
  char maps[64][12];
  auto labelsOf = [&](size_t i) {
    char* map = maps[i % 64];
    std::snprintf(map, sizeof maps[0], "%u", in.interfaces[i].mapNumber);
    Labels labels;
    labels.With("interface", in.interfaces[i].name).With("map", map);
    return labels;
  };
  for (size_t i = 0; i < in.interfaceCount; ++i) {
    const MetricsInterface& f = in.interfaces[i];
    const char* grouping = f.grouping == 4 ? "team" : f.grouping == 2 ? "single" : "unknown";
    Labels info = labelsOf(i);
    info.With("description", f.description)
        .With("mac", f.mac)
        .With("ipv4", f.ipv4)
        .With("grouping", grouping);
    Sample(out, "crvnic_interface_info", info, 1);
  }
  struct Gauge {
    const char* name;
    const char* help;
    uint64_t (*value)(const MetricsInput&, const MetricsInterface&);
  };
  const Gauge gauges[] = {
      {"crvnic_interface_up", "1 when the interface has link, else 0.",
       [](const MetricsInput&, const MetricsInterface& f) -> uint64_t {
         return f.status == 2 ? 1 : 0;
       }},
      {"crvnic_interface_speed_bytes_per_second",
       "The interface's speed (bits per second / 8); 0 while it has no link.",
       [](const MetricsInput& in, const MetricsInterface& f) { return InterfaceSpeed(in, f) / 8; }},
      {"crvnic_interface_ports", "The number of ports of the interface.",
       [](const MetricsInput&, const MetricsInterface& f) -> uint64_t { return f.portCount; }},
      {"crvnic_interface_ports_with_link", "The number of the interface's ports that have link.",
       [](const MetricsInput&, const MetricsInterface& f) -> uint64_t { return f.portsWithLink; }},
  };
  for (const Gauge& g : gauges) {
    Header(out, g.name, "gauge", g.help);
    for (size_t i = 0; i < in.interfaceCount; ++i) {
      Sample(out, g.name, labelsOf(i), g.value(in, in.interfaces[i]));
    }
  }
}

void PortFamilies(MetricsText& out, const MetricsInput& in) {
  Header(out, "crvnic_port_info", "gauge",
         "A physical port, with its adapter's description, maker and PCI ids.");
  for (size_t i = 0; i < in.portCount; ++i) {
    const MetricsPort& p = in.ports[i];
    PortText t;
    FillPortText(p, &t);
    Labels labels = PortLabels(p, t);
    labels.With("description", p.description)
        .With("vendor", t.vendor)
        .With("pci_id", t.pciId)
        .With("subsystem_id", t.subsystemId);
    Sample(out, "crvnic_port_info", labels, 1);
  }
  Header(out, "crvnic_port_firmware_info", "gauge",
         "The firmware version and part number of a port's adapter.");
  for (size_t i = 0; i < in.portCount; ++i) {
    const MetricsPort& p = in.ports[i];
    PortText t;
    FillPortText(p, &t);
    Labels labels = PortLabels(p, t);
    labels.With("firmware", p.firmware).With("part_number", p.partNumber);
    Sample(out, "crvnic_port_firmware_info", labels, 1);
  }
  PortFamily(out, in, "crvnic_port_up", "gauge", "1 when the port has link, else 0.",
             [](const MetricsPort& p) -> uint64_t { return p.linkCondition == 2 ? 1 : 0; });
  Header(out, "crvnic_port_link_state", "gauge",
         "The port's link condition: 1 on the state it is in, 0 on the others.");
  for (size_t i = 0; i < in.portCount; ++i) {
    const MetricsPort& p = in.ports[i];
    PortText t;
    FillPortText(p, &t);
    for (auto [code, state] : {std::pair{2u, "up"}, {4u, "down"}, {1u, "unknown"}}) {
      Labels labels = PortLabels(p, t);
      Sample(out, "crvnic_port_link_state", labels.With("state", state),
             p.linkCondition == code ? 1 : 0);
    }
  }
  PortFamily(out, in, "crvnic_port_speed_bytes_per_second", "gauge",
             "The port's link speed (bits per second / 8); 0 while it has no link.",
             [](const MetricsPort& p) -> uint64_t { return p.speedBitsPerSecond / 8; });
  PortFamily(out, in, "crvnic_port_full_duplex", "gauge",
             "1 when the port runs full duplex, 0 for half duplex or unknown.",
             [](const MetricsPort& p) -> uint64_t { return p.duplex == 3 ? 1 : 0; });
  const bool wide = in.interfaceCounters;
  PortFamily(out, in, "crvnic_port_transmitted_frames_total", "counter",
             wide ? "Packets the port's interface sent (the system's 64-bit interface count)."
                  : "Frames the port transmitted without error.",
             [](const MetricsPort& p) { return p.framesSent; });
  PortFamily(out, in, "crvnic_port_received_frames_total", "counter",
             wide ? "Packets the port's interface received (the system's 64-bit interface count)."
                  : "Frames the port received without error.",
             [](const MetricsPort& p) { return p.framesReceived; });
  PortFamily(out, in, "crvnic_port_transmitted_bytes_total", "counter",
             wide ? "Bytes the port's interface sent (the system's 64-bit interface count)."
                  : "Bytes the port's interface sent (a 32-bit count that wraps).",
             [](const MetricsPort& p) { return p.octetsSent; });
  PortFamily(out, in, "crvnic_port_received_bytes_total", "counter",
             wide ? "Bytes the port's interface received (the system's 64-bit interface count)."
                  : "Bytes the port's interface received (a 32-bit count that wraps).",
             [](const MetricsPort& p) { return p.octetsReceived; });
  if (wide) {
    const char* const directions[2] = {"receive", "transmit"};
    Header(out, "crvnic_port_interface_errors_total", "counter",
           "Packets in error on the port's interface, by direction (the system's 64-bit "
           "interface count).");
    for (size_t i = 0; i < in.portCount; ++i) {
      PortText t;
      FillPortText(in.ports[i], &t);
      for (int d = 0; d < 2; ++d) {
        Labels labels = PortLabels(in.ports[i], t);
        Sample(out, "crvnic_port_interface_errors_total", labels.With("direction", directions[d]),
               in.ports[i].interfaceErrors[d]);
      }
    }
    Header(out, "crvnic_port_interface_discards_total", "counter",
           "Packets the port's interface discarded without error, by direction (the system's "
           "64-bit interface count).");
    for (size_t i = 0; i < in.portCount; ++i) {
      PortText t;
      FillPortText(in.ports[i], &t);
      for (int d = 0; d < 2; ++d) {
        Labels labels = PortLabels(in.ports[i], t);
        Sample(out, "crvnic_port_interface_discards_total", labels.With("direction", directions[d]),
               in.ports[i].interfaceDiscards[d]);
      }
    }
  }
  Header(out, "crvnic_port_ethernet_errors_total", "counter",
         "Ethernet errors the port's driver counted, by kind.");
  for (size_t i = 0; i < in.portCount; ++i) {
    PortText t;
    FillPortText(in.ports[i], &t);
    for (size_t e = 0; e < std::size(kErrorCounters); ++e) {
      Labels labels = PortLabels(in.ports[i], t);
      Sample(out, "crvnic_port_ethernet_errors_total", labels.With("error", kErrorLabels[e]),
             in.ports[i].ethernet[kErrorCounters[e]]);
    }
  }
  Header(out, "crvnic_port_collision_frames_total", "counter",
         "Frames transmitted after one (single) or several (multiple) collisions.");
  for (size_t i = 0; i < in.portCount; ++i) {
    PortText t;
    FillPortText(in.ports[i], &t);
    Labels single = PortLabels(in.ports[i], t);
    Sample(out, "crvnic_port_collision_frames_total", single.With("collisions", "single"),
           in.ports[i].ethernet[kSingleCollisionFrames]);
    Labels multiple = PortLabels(in.ports[i], t);
    Sample(out, "crvnic_port_collision_frames_total", multiple.With("collisions", "multiple"),
           in.ports[i].ethernet[kMultipleCollisionFrames]);
  }
  PortFamily(out, in, "crvnic_port_deferred_transmissions_total", "counter",
             "Transmissions the port deferred because the medium was busy.",
             [](const MetricsPort& p) -> uint64_t { return p.ethernet[kDeferredTransmissions]; });
}

void TrapFamilies(MetricsText& out, const MetricsInput& in) {
  if (in.trapRecords) {
    Header(out, "crvnic_trap_records", "gauge", "Trap records now in the published tree, by kind.");
    for (size_t k = 0; k < kTrapKinds; ++k) {
      Sample(out, "crvnic_trap_records", Labels{}.With("kind", kTrapKindLabels[k]),
             in.trapCounts[k]);
    }
    if (in.unknownTraps > 0) {
      Sample(out, "crvnic_trap_records", Labels{}.With("kind", "unknown"), in.unknownTraps);
    }
    Header(out, "crvnic_trap_last_raised_timestamp_seconds", "gauge",
           "When the newest trap record of a kind still in the tree was raised.");
    for (size_t k = 0; k < kTrapKinds; ++k) {
      if (in.trapNewestFileTime[k] < kFileTimeOf1970) continue;
      Sample(out, "crvnic_trap_last_raised_timestamp_seconds",
             Labels{}.With("kind", kTrapKindLabels[k]), UnixSeconds(in.trapNewestFileTime[k]));
    }
  }
  Header(out, "crvnic_trap_records_removed_total", "counter",
         "Trap records the agent removed, oldest first, to keep each kind within its limit; "
         "rising means no reader takes them.");
  Sample(out, "crvnic_trap_records_removed_total", in.trapRecordsRemoved);
}

}  // namespace

void RenderPrometheus(const MetricsInput& in, MetricsText* out) {
  Header(*out, "crvnic_tree_present", "gauge",
         "1 when the agent's published tree exists, 0 when there is none.");
  Sample(*out, "crvnic_tree_present", in.present ? 1 : 0);
  if (!in.present) return;
  Header(*out, "crvnic_overall_ok", "gauge",
         "1 when the agent reports every managed interface in working order.");
  Sample(*out, "crvnic_overall_ok", in.overallCondition == 2 ? 1 : 0);
  Header(*out, "crvnic_poll_interval_seconds", "gauge",
         "How often the agent refreshes the published tree.");
  Sample(*out, "crvnic_poll_interval_seconds", in.pollIntervalSeconds);
  // A stalled agent leaves this behind while time goes on; a quiet one moves it every poll.
  Header(*out, "crvnic_last_cycle_timestamp_seconds", "gauge",
         "When the agent last finished refreshing the tree; older than a few poll intervals "
         "means collection has stalled.");
  if (in.cycleFileTime >= kFileTimeOf1970) {
    Sample(*out, "crvnic_last_cycle_timestamp_seconds", UnixSeconds(in.cycleFileTime));
  }
  InterfaceFamilies(*out, in);
  PortFamilies(*out, in);
  TrapFamilies(*out, in);
}

}  // namespace crv
