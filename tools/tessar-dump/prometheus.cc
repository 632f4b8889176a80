// The tree as Prometheus metrics (text exposition format 0.0.4), and the replace-by-rename
// write that Prometheus' textfile collectors expect, through a temporary file of its own.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tree_view.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tessar {
namespace {

using Labels = std::vector<std::pair<std::string, std::string>>;

// Label values escape '\', '"' and line feeds; HELP texts escape '\' and line feeds.
std::string EscapeLabelValue(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// One metric family: its lines are written together, after its HELP and TYPE lines.
class Family {
 public:
  Family(std::string name, const char* type, const char* help)
      : name_(std::move(name)), type_(type), help_(help) {}

  void Add(const Labels& labels, uint64_t value) {
    std::string line = name_;
    if (!labels.empty()) {
      line += '{';
      for (size_t i = 0; i < labels.size(); ++i) {
        if (i > 0) line += ',';
        line += labels[i].first + "=\"" + EscapeLabelValue(labels[i].second) + '"';
      }
      line += '}';
    }
    line += ' ' + std::to_string(value) + '\n';
    samples_ += line;
  }

  void AppendTo(std::string& out) const {
    out += "# HELP " + name_ + ' ' + help_ + '\n';
    out += "# TYPE " + name_ + ' ' + type_ + '\n';
    out += samples_;
  }

 private:
  std::string name_;
  const char* type_;
  const char* help_;
  std::string samples_;
};

std::string Hex(uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*x", digits, value);
  return buffer;
}

// The adapter maker by PCI vendor id; the id itself for one not listed here.
std::string VendorName(uint32_t vendorId) {
  switch (vendorId) {
    case 0x8086:
      return "intel";
    case 0x14E4:
      return "broadcom";
    case 0x15B3:
      return "mellanox";
    case 0x1924:
      return "solarflare";
    case 0x1077:
      return "qlogic";
    case 0x19A2:
      return "emulex";
    case 0x4040:
      return "netxen";
    case 0x10EC:
      return "realtek";
    default:
      return "0x" + Hex(vendorId, 4);
  }
}

Labels PortLabels(const PortView& p) {
  return {{"interface", p.interfaceName},
          {"port", std::to_string(p.portNumber)},
          {"slot", std::to_string(p.slot)},
          {"pci_location", p.pciLocation},
          {"mac", p.mac}};
}

Labels With(Labels labels, const char* name, std::string value) {
  labels.emplace_back(name, std::move(value));
  return labels;
}

Labels InterfaceLabels(const InterfaceView& i) {
  return {{"interface", i.name}, {"map", std::to_string(i.mapNumber)}};
}

struct ErrorCounter {
  const char* field;
  const char* label;
};

const ErrorCounter kErrors[] = {
    {"alignmentErrors", "alignment"},
    {"fcsErrors", "fcs"},
    {"lateCollisions", "late_collision"},
    {"excessiveCollisions", "excessive_collisions"},
    {"internalMacTransmitErrors", "internal_mac_transmit"},
    {"carrierSenseErrors", "carrier_sense"},
    {"frameTooLongs", "frame_too_long"},
    {"internalMacReceiveErrors", "internal_mac_receive"},
};

uint32_t EthernetCount(const PortView& p, std::string_view field) {
  for (const auto& [name, value] : p.ethernet) {
    if (name == field) return value;
  }
  return 0;
}

constexpr uint64_t kFileTimeOf1970 = 116444736000000000;

const char* const kTrapKinds[][2] = {{"connectivity lost", "connectivity_lost"},
                                     {"connectivity regained", "connectivity_regained"},
                                     {"redundancy reduced", "redundancy_reduced"},
                                     {"redundancy increased", "redundancy_increased"}};

}  // namespace

std::string RenderPrometheus(const TreeView& view) {
  Family present("crvnic_tree_present", "gauge",
                 "1 when the agent's published tree exists, 0 when there is none.");
  present.Add({}, view.present ? 1 : 0);
  std::string out;
  present.AppendTo(out);
  if (!view.present) return out;

  Family overall("crvnic_overall_ok", "gauge",
                 "1 when the agent reports every managed interface in working order.");
  overall.Add({}, view.overallCondition == 2 ? 1 : 0);
  Family poll("crvnic_poll_interval_seconds", "gauge",
              "How often the agent refreshes the published tree.");
  poll.Add({}, view.pollIntervalSeconds);
  // A stalled agent leaves this behind while time goes on; a quiet one moves it every poll.
  Family cycle("crvnic_last_cycle_timestamp_seconds", "gauge",
               "When the agent last finished refreshing the tree; older than a few poll "
               "intervals means collection has stalled.");
  if (view.cycleFileTime >= kFileTimeOf1970) {
    cycle.Add({}, (view.cycleFileTime - kFileTimeOf1970) / 10000000);
  }

  Family ifInfo("crvnic_interface_info", "gauge",
                "An interface the agent manages, with its description, address and grouping.");
  Family ifUp("crvnic_interface_up", "gauge", "1 when the interface has link, else 0.");
  Family ifSpeed("crvnic_interface_speed_bytes_per_second", "gauge",
                 "The interface's speed (bits per second / 8); 0 while it has no link.");
  Family ifPorts("crvnic_interface_ports", "gauge", "The number of ports of the interface.");
  Family ifPortsUp("crvnic_interface_ports_with_link", "gauge",
                   "The number of the interface's ports that have link.");
  for (const InterfaceView& i : view.interfaces) {
    Labels labels = InterfaceLabels(i);
    const char* grouping = i.grouping == 4 ? "team" : i.grouping == 2 ? "single" : "unknown";
    Labels info = labels;
    info.insert(
        info.end(),
        {{"description", i.description}, {"mac", i.mac}, {"ipv4", i.ipv4}, {"grouping", grouping}});
    ifInfo.Add(info, 1);
    ifUp.Add(labels, i.status == 2 ? 1 : 0);
    ifSpeed.Add(labels, i.speedBitsPerSecond / 8);
    ifPorts.Add(labels, i.portCount);
    ifPortsUp.Add(labels, i.portsWithLink);
  }

  Family portInfo("crvnic_port_info", "gauge",
                  "A physical port, with its adapter's description, maker and PCI ids.");
  Family firmware("crvnic_port_firmware_info", "gauge",
                  "The firmware version and part number of a port's adapter.");
  Family up("crvnic_port_up", "gauge", "1 when the port has link, else 0.");
  Family link("crvnic_port_link_state", "gauge",
              "The port's link condition: 1 on the state it is in, 0 on the others.");
  Family speed("crvnic_port_speed_bytes_per_second", "gauge",
               "The port's link speed (bits per second / 8); 0 while it has no link.");
  Family duplex("crvnic_port_full_duplex", "gauge",
                "1 when the port runs full duplex, 0 for half duplex or unknown.");
  Family framesSent("crvnic_port_transmitted_frames_total", "counter",
                    "Frames the port transmitted without error.");
  Family framesReceived("crvnic_port_received_frames_total", "counter",
                        "Frames the port received without error.");
  Family bytesSent("crvnic_port_transmitted_bytes_total", "counter",
                   "Bytes the port's interface sent (a 32-bit count that wraps).");
  Family bytesReceived("crvnic_port_received_bytes_total", "counter",
                       "Bytes the port's interface received (a 32-bit count that wraps).");
  Family errors("crvnic_port_ethernet_errors_total", "counter",
                "Ethernet errors the port's driver counted, by kind.");
  Family collisions("crvnic_port_collision_frames_total", "counter",
                    "Frames transmitted after one (single) or several (multiple) collisions.");
  Family deferred("crvnic_port_deferred_transmissions_total", "counter",
                  "Transmissions the port deferred because the medium was busy.");
  for (const PortView& p : view.ports) {
    Labels labels = PortLabels(p);
    Labels info = labels;
    info.insert(info.end(), {{"description", p.description},
                             {"vendor", VendorName(p.pciId >> 16)},
                             {"pci_id", Hex(p.pciId >> 16, 4) + ":" + Hex(p.pciId & 0xFFFF, 4)},
                             {"subsystem_id", Hex(p.subsystemId, 8)}});
    portInfo.Add(info, 1);
    firmware.Add(With(With(labels, "firmware", p.firmware), "part_number", p.partNumber), 1);
    up.Add(labels, p.linkCondition == 2 ? 1 : 0);
    for (auto [code, state] : {std::pair{2u, "up"}, {4u, "down"}, {1u, "unknown"}}) {
      link.Add(With(labels, "state", state), p.linkCondition == code ? 1 : 0);
    }
    speed.Add(labels, p.speedBitsPerSecond / 8);
    duplex.Add(labels, p.duplex == 3 ? 1 : 0);
    framesSent.Add(labels, p.framesSent);
    framesReceived.Add(labels, p.framesReceived);
    bytesSent.Add(labels, p.octetsSent);
    bytesReceived.Add(labels, p.octetsReceived);
    for (const ErrorCounter& e : kErrors) {
      errors.Add(With(labels, "error", e.label), EthernetCount(p, e.field));
    }
    collisions.Add(With(labels, "collisions", "single"), EthernetCount(p, "singleCollisionFrames"));
    collisions.Add(With(labels, "collisions", "multiple"),
                   EthernetCount(p, "multipleCollisionFrames"));
    deferred.Add(labels, EthernetCount(p, "deferredTransmissions"));
  }

  Family traps("crvnic_trap_records", "gauge", "Trap records now in the published tree, by kind.");
  Family lastTrap("crvnic_trap_last_raised_timestamp_seconds", "gauge",
                  "When the newest trap record of a kind still in the tree was raised.");
  uint32_t unknown = 0;
  for (const TrapView& t : view.traps) {
    bool known = false;
    for (const auto& kind : kTrapKinds) known = known || t.kind == kind[0];
    if (!known) ++unknown;
  }
  for (const auto& kind : kTrapKinds) {
    uint32_t count = 0;
    uint64_t newest = 0;
    for (const TrapView& t : view.traps) {
      if (t.kind != kind[0]) continue;
      ++count;
      if (t.fileTime > newest) newest = t.fileTime;
    }
    traps.Add({{"kind", kind[1]}}, count);
    if (newest >= kFileTimeOf1970) {
      lastTrap.Add({{"kind", kind[1]}}, (newest - kFileTimeOf1970) / 10000000);
    }
  }
  if (unknown > 0) traps.Add({{"kind", "unknown"}}, unknown);
  Family removed("crvnic_trap_records_removed_total", "counter",
                 "Trap records the agent removed, oldest first, to keep each kind within its "
                 "limit; rising means no reader takes them.");
  removed.Add({}, view.trapRecordsRemoved);

  for (const Family* f :
       {&overall, &poll,       &cycle,      &ifInfo,         &ifUp,      &ifSpeed,
        &ifPorts, &ifPortsUp,  &portInfo,   &firmware,       &up,        &link,
        &speed,   &duplex,     &framesSent, &framesReceived, &bytesSent, &bytesReceived,
        &errors,  &collisions, &deferred,   &traps,          &lastTrap,  &removed}) {
    f->AppendTo(out);
  }
  return out;
}

namespace {

// Creates name as a new file, refusing anything already there under it, a link included.
int CreateNewFile(const std::string& name) {
#if defined(_WIN32)
  return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
#endif
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    unsigned chunk = static_cast<unsigned>(std::min<size_t>(text.size(), 1u << 20));
#if defined(_WIN32)
    int n = _write(fd, text.data(), chunk);
#else
    ssize_t n = write(fd, text.data(), chunk);
    if (n < 0 && errno == EINTR) continue;
#endif
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

int CloseFile(int fd) {
#if defined(_WIN32)
  return _close(fd);
#else
  return close(fd);
#endif
}

// A temporary file beside path under a name of its own (random, so that nobody can plant
// something there in advance), created exclusively. -1 with a message when none can be.
int CreateTemporaryBeside(const std::string& path, std::string* temporary, std::string* error) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x%08x.tmp", random(), random());
    *temporary = path + suffix;
    int fd = CreateNewFile(*temporary);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  *error = "cannot create " + *temporary + ": " + std::strerror(errno);
  return -1;
}

}  // namespace

bool WriteFileReplacing(const std::string& path, const std::string& text, std::string* error) {
  std::string temporary;
  int fd = CreateTemporaryBeside(path, &temporary, error);
  if (fd < 0) return false;
  bool written = WriteAll(fd, text);
  int writeErrno = errno;
  written = CloseFile(fd) == 0 && written;
  if (!written) {
    *error = "cannot write " + temporary + ": " + std::strerror(writeErrno);
    std::remove(temporary.c_str());
    return false;
  }
#if defined(_WIN32)
  // rename() on Windows refuses an existing target; MoveFileEx replaces it.
  bool renamed = MoveFileExA(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  bool renamed = std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
  if (!renamed) {
    *error = "cannot rename " + temporary + " to " + path;
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace tessar
