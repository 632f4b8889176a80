// The live view: a compact table of interfaces and ports drawn from two reads of the tree,
// with what changed between them marked, and the trap records as they appear.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "format_text.h"
#include "tree_view.h"

namespace tessar {
namespace {

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

// The previous read's ports and interfaces by the numbers their records are filed under,
// which make them the same port or interface from one read to the next.
struct Previous {
  explicit Previous(const TreeView* view) {
    if (view == nullptr) return;
    for (const PortView& p : view->ports) ports.try_emplace(p.portNumber, &p);
    for (const InterfaceView& i : view->interfaces) interfaces.try_emplace(i.mapNumber, &i);
  }
  const PortView* Port(const PortView& now) const {
    auto found = ports.find(now.portNumber);
    return found != ports.end() ? found->second : nullptr;
  }
  const InterfaceView* Interface(const InterfaceView& now) const {
    auto found = interfaces.find(now.mapNumber);
    return found != interfaces.end() ? found->second : nullptr;
  }
  std::unordered_map<uint32_t, const PortView*> ports;
  std::unordered_map<uint32_t, const InterfaceView*> interfaces;
};

bool IsContinuationByte(char c) { return (static_cast<uint8_t>(c) & 0xC0) == 0x80; }

// Text (UTF-8) fitted to a column of width characters: cut between two characters with '~'
// for what is left out, then padded with spaces.
std::string Fit(const std::string& text, size_t width) {
  size_t characters = 0, cut = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) continue;
    if (characters == width - 1) cut = i;
    if (++characters > width) break;
  }
  std::string out = characters <= width ? text : text.substr(0, cut) + "~";
  size_t shown = std::min(characters, width);
  return out + std::string(width - shown, ' ');
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
  // A trap key's name holds no '\\', so key and name joined by one name a record.
  std::unordered_set<std::string> seen;
  if (before != nullptr) {
    for (const TrapView& b : before->traps) seen.insert(b.key + '\\' + b.name);
  }
  std::vector<TrapView> fresh;
  for (const TrapView& t : now.traps) {
    if (!seen.contains(t.key + '\\' + t.name)) fresh.push_back(t);
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
  Previous previous(before);
  for (const InterfaceView& i : now.interfaces) {
    const InterfaceView* was = previous.Interface(i);
    bool isNew = before != nullptr && was == nullptr;
    bool status = was != nullptr && was->status != i.status;
    bool speed = was != nullptr && was->speedBitsPerSecond != i.speedBitsPerSecond;
    bool ports = was != nullptr && was->portsWithLink != i.portsWithLink;
    const char* word = i.status == 2 ? "up" : i.status == 5 ? "down" : "other";
    out += Format("%-4s %-22s %-9s %-10s %s\n",
                  Format("%u%s", i.mapNumber, isNew ? "+" : "").c_str(), Fit(i.name, 22).c_str(),
                  Cell(word, status).c_str(), Cell(SpeedText(i.speedBitsPerSecond), speed).c_str(),
                  Cell(Format("%u of %u", i.portsWithLink, i.portCount), ports).c_str());
  }
  out += "\n";
  out += Format("%-5s %-14s %-4s %-13s %-8s %-10s %-8s %12s %12s %7s  %s\n", "PORT", "INTERFACE",
                "SLOT", "PCI", "LINK", "SPEED", "DUPLEX", "TX FRAMES", "RX FRAMES", "ERRORS",
                "FIRMWARE");
  for (const PortView& p : now.ports) {
    const PortView* was = previous.Port(p);
    PortChanges c = CompareOwnPort(was, p);
    bool isNew = before != nullptr && c.isNew;
    out += Format("%-5s %-14s %-4u %-13s %-8s %-10s %-8s %12u %12u %7s  %s\n",
                  Format("%u%s", p.portNumber, isNew ? "+" : "").c_str(),
                  Fit(p.interfaceName, 14).c_str(), p.slot, Fit(p.pciLocation, 13).c_str(),
                  Cell(LinkWord(p.linkCondition), c.link).c_str(),
                  Cell(SpeedText(p.speedBitsPerSecond), c.speed).c_str(),
                  Cell(DuplexWord(p.duplex), c.duplex).c_str(), p.framesSent, p.framesReceived,
                  Cell(std::to_string(ErrorTotal(p)), c.errors).c_str(),
                  Cell(p.firmware.empty() ? "-" : p.firmware, c.firmware).c_str());
  }
  return out;
}

}  // namespace tessar
