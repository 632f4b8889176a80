// The live view: a compact table of interfaces and ports drawn from two reads of the tree,
// with what changed between them marked, and the trap records as they appear.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tree_view.h"

namespace tessar {
namespace {

std::string Format(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

std::string SpeedText(uint64_t bitsPerSecond) {
  if (bitsPerSecond == 0) return "-";
  if (bitsPerSecond >= 1000000000 && bitsPerSecond % 1000000000 == 0) {
    return Format("%llu Gb/s", static_cast<unsigned long long>(bitsPerSecond / 1000000000));
  }
  return Format("%llu Mb/s", static_cast<unsigned long long>(bitsPerSecond / 1000000));
}

// The port's error counters added up (collisions and deferrals are not errors).
uint64_t ErrorTotal(const PortView& p) {
  uint64_t total = 0;
  for (const auto& [name, value] : p.ethernet) {
    bool notError = name == "singleCollisionFrames" || name == "multipleCollisionFrames" ||
                    name == "deferredTransmissions";
    if (!notError) total += value;
  }
  return total;
}

// A port is the same port by its MAC address: the agent numbers ports afresh when one is
// added or removed.
const PortView* FindPort(const TreeView* view, const std::string& mac) {
  if (view == nullptr) return nullptr;
  for (const PortView& p : view->ports) {
    if (p.mac == mac) return &p;
  }
  return nullptr;
}

// An interface likewise by its connection name and MAC address.
const InterfaceView* FindInterface(const TreeView* view, const InterfaceView& now) {
  if (view == nullptr) return nullptr;
  for (const InterfaceView& i : view->interfaces) {
    if (i.name == now.name && i.mac == now.mac) return &i;
  }
  return nullptr;
}

std::string Cut(const std::string& text, size_t width) {
  return text.size() <= width ? text : text.substr(0, width - 1) + "~";
}

// A cell followed by its change mark.
std::string Cell(const std::string& text, bool changed) { return text + (changed ? "*" : " "); }

}  // namespace

PortChanges CompareOwnPort(const PortView* before, const PortView& now) {
  PortChanges c;
  if (before == nullptr) {
    c.isNew = true;
    return c;
  }
  c.link = before->linkCondition != now.linkCondition;
  c.speed = before->speedBitsPerSecond != now.speedBitsPerSecond;
  c.duplex = before->duplex != now.duplex;
  c.errors = ErrorTotal(*before) != ErrorTotal(now);
  c.firmware = before->firmware != now.firmware;
  return c;
}

std::vector<TrapView> NewTraps(const TreeView* before, const TreeView& now) {
  std::vector<TrapView> fresh;
  for (const TrapView& t : now.traps) {
    bool seen = before != nullptr &&
                std::any_of(before->traps.begin(), before->traps.end(),
                            [&](const TrapView& b) { return b.key == t.key && b.name == t.name; });
    if (!seen) fresh.push_back(t);
  }
  return fresh;
}

std::string RenderTrapLine(const TrapView& t) {
  std::string kind = t.kind.empty() ? Format("trap code %u", t.code) : t.kind;
  std::string line = FileTimeText(t.fileTime) + "  " + kind;
  line += Format("  port %u slot %u", t.portNumber, t.slot);
  if (t.teamMapNumber != 0) {
    line += Format("  team %u, %u ports with link", t.teamMapNumber, t.teamPortsWithLink);
  }
  if (!t.description.empty()) line += "  " + t.description;
  return line + "\n";
}

std::string RenderWatchFrame(const TreeView* before, const TreeView& now) {
  if (!now.present) return "no tree published\n";
  std::string out;
  out += Format("%-4s %-22s %-9s %-10s %s\n", "MAP", "INTERFACE", "STATUS", "SPEED",
                "PORTS WITH LINK");
  for (const InterfaceView& i : now.interfaces) {
    const InterfaceView* was = FindInterface(before, i);
    bool isNew = before != nullptr && was == nullptr;
    bool status = was != nullptr && was->status != i.status;
    bool speed = was != nullptr && was->speedBitsPerSecond != i.speedBitsPerSecond;
    bool ports = was != nullptr && was->portsWithLink != i.portsWithLink;
    const char* word = i.status == 2 ? "up" : i.status == 5 ? "down" : "other";
    out += Format("%-4s %-22s %-9s %-10s %s\n",
                  Format("%u%s", i.mapNumber, isNew ? "+" : "").c_str(), Cut(i.name, 22).c_str(),
                  Cell(word, status).c_str(), Cell(SpeedText(i.speedBitsPerSecond), speed).c_str(),
                  Cell(Format("%u of %u", i.portsWithLink, i.portCount), ports).c_str());
  }
  out += "\n";
  out += Format("%-5s %-14s %-4s %-13s %-8s %-10s %-8s %12s %12s %7s  %s\n", "PORT", "INTERFACE",
                "SLOT", "PCI", "LINK", "SPEED", "DUPLEX", "TX FRAMES", "RX FRAMES", "ERRORS",
                "FIRMWARE");
  for (const PortView& p : now.ports) {
    const PortView* was = FindPort(before, p.mac);
    PortChanges c = CompareOwnPort(was, p);
    bool isNew = before != nullptr && c.isNew;
    out += Format("%-5s %-14s %-4u %-13s %-8s %-10s %-8s %12u %12u %7s  %s\n",
                  Format("%u%s", p.portNumber, isNew ? "+" : "").c_str(),
                  Cut(p.interfaceName, 14).c_str(), p.slot, Cut(p.pciLocation, 13).c_str(),
                  Cell(LinkWord(p.linkCondition), c.link).c_str(),
                  Cell(SpeedText(p.speedBitsPerSecond), c.speed).c_str(),
                  Cell(DuplexWord(p.duplex), c.duplex).c_str(), p.framesSent, p.framesReceived,
                  Cell(std::to_string(ErrorTotal(p)), c.errors).c_str(),
                  Cell(p.firmware.empty() ? "-" : p.firmware, c.firmware).c_str());
  }
  return out;
}

}  // namespace tessar
