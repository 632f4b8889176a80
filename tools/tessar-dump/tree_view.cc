// The administrator's view of a decoded tree.
#include "tree_view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "ascii_text.h"
#include "metrics/windows_1252.h"

namespace tessar {
namespace {

const DecodedField* FindField(const DecodedValue& value, std::string_view name) {
  for (const DecodedField& field : value.fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

uint32_t Number(const DecodedValue& value, std::string_view name) {
  const DecodedField* field = FindField(value, name);
  return field != nullptr ? field->number : 0;
}

std::string Text(const DecodedValue& value, std::string_view name) {
  const DecodedField* field = FindField(value, name);
  return field != nullptr ? TextOfField(value, *field) : std::string();
}

std::string Formatted(const DecodedValue& value, std::string_view name) {
  const DecodedField* field = FindField(value, name);
  return field != nullptr ? field->text : std::string();
}

bool Usable(const DecodedValue& value, std::string_view kind) {
  return value.kind == kind && value.problem.empty() && !value.fields.empty();
}

// "PCIID0x80861572,SUBSYSID0x00068086" into its two numbers.
void ParsePciIdentity(const std::string& text, uint32_t* pciId, uint32_t* subsystemId) {
  unsigned a = 0, b = 0;
  if (std::sscanf(text.c_str(), "PCIID0x%8x,SUBSYSID0x%8x", &a, &b) == 2) {
    *pciId = a;
    *subsystemId = b;
  }
}

uint64_t TimeOfTrapName(std::string_view name) {
  uint64_t fileTime = 0;
  for (char c : name.substr(std::min<size_t>(name.size(), 8))) {
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : 0;
    fileTime = fileTime << 4 | static_cast<uint64_t>(digit);
  }
  return fileTime;
}

const char* const kEthernetFields[] = {"alignmentErrors",         "fcsErrors",
                                       "singleCollisionFrames",   "multipleCollisionFrames",
                                       "deferredTransmissions",   "lateCollisions",
                                       "excessiveCollisions",     "internalMacTransmitErrors",
                                       "carrierSenseErrors",      "frameTooLongs",
                                       "internalMacReceiveErrors"};

PortView PortOf(const DecodedValue& value) {
  PortView p;
  p.valueName = value.name;
  p.portNumber = Number(value, "portNumber");
  p.interfaceIndex = Number(value, "interfaceIndex");
  p.slot = Number(value, "slotNumber");
  p.portInCard = Number(value, "portInCard");
  p.mac = Formatted(value, "macAddress");
  p.pciLocation = Text(value, "pciLocation");
  ParsePciIdentity(Text(value, "pciIdentity"), &p.pciId, &p.subsystemId);
  p.description = Text(value, "deviceDescription");
  p.partNumber = Text(value, "partNumber");
  p.firmware = Text(value, "firmwareVersion");
  p.linkCondition = Number(value, "linkCondition");
  p.duplex = Number(value, "duplex");
  p.speedBitsPerSecond = uint64_t{Number(value, "linkSpeed")} * 1000000;
  p.framesSent = Number(value, "framesTransmittedOk");
  p.framesReceived = Number(value, "framesReceivedOk");
  p.octetsSent = Number(value, "sentOctets");
  p.octetsReceived = Number(value, "receivedOctets");
  for (const char* name : kEthernetFields) p.ethernet.emplace_back(name, Number(value, name));
  return p;
}

InterfaceView InterfaceOf(const DecodedValue& value) {
  InterfaceView i;
  i.valueName = value.name;
  i.mapNumber = Number(value, "interfaceMapNumber");
  i.description = Text(value, "description");
  i.name = Text(value, "connectionName");
  if (i.name.empty()) i.name = i.description;
  i.mac = Formatted(value, "macAddress");
  i.ipv4 = Formatted(value, "ipv4Address");
  i.grouping = Number(value, "grouping");
  i.condition = Number(value, "condition");
  i.status = Number(value, "status");
  i.speedBitsPerSecond = Number(value, "speedBitsPerSecond");
  i.portCount = Number(value, "portCount");
  i.portsWithLink = Number(value, "portsWithLink");
  if (const DecodedField* ports = FindField(value, "portNumbers")) {
    size_t n = std::min<size_t>(i.portCount, ports->numbers.size());
    i.portNumbers.assign(ports->numbers.begin(), ports->numbers.begin() + n);
  }
  return i;
}

TrapView TrapOf(const std::string& key, const DecodedValue& value) {
  TrapView t;
  t.key = key;
  t.name = value.name;
  t.fileTime = TimeOfTrapName(value.name);
  t.code = Number(value, "trapCode");
  if (const DecodedField* code = FindField(value, "trapCode")) t.kind = code->meaning;
  t.portNumber = Number(value, "portNumber");
  t.slot = Number(value, "slotNumber");
  t.teamMapNumber = Number(value, "teamInterfaceMapNumber");
  t.teamPortsWithLink = Number(value, "teamPortsWithLink");
  t.description = Text(value, "deviceDescription");
  t.mac = Formatted(value, "interfaceMacAddress");
  return t;
}

void Collect(const DecodedKey& key, TreeView& view) {
  const std::string& at = key.relativePath;
  for (const DecodedValue& value : key.values) {
    if (EqualsNoCase(at, "Interface") && Usable(value, "IfTableInformation")) {
      view.overallCondition = Number(value, "overallCondition");
    } else if (EqualsNoCase(at, "Interface") && Usable(value, "MibStats")) {
      view.pollIntervalSeconds = Number(value, "pollIntervalSeconds");
    } else if (Usable(value, "InterfaceMap")) {
      view.interfaces.push_back(InterfaceOf(value));
    } else if (Usable(value, "PhysAdapter")) {
      view.ports.push_back(PortOf(value));
    } else if (Usable(value, "TrapData")) {
      view.traps.push_back(TrapOf(at, value));
    } else if (value.kind == "InterfaceData_CycleTime" && value.qword && value.problem.empty()) {
      view.cycleFileTime = *value.qword;
    } else if (at.empty() && value.kind == "TrapRecordsRemoved" && value.dword) {
      view.trapRecordsRemoved = *value.dword;
    }
  }
  for (const DecodedKey& child : key.subkeys) Collect(child, view);
}

}  // namespace

std::string TextOfField(const DecodedValue& value, const DecodedField& field) {
  if (field.offset >= value.data.size()) return std::string();
  size_t width = std::min<size_t>(field.width, value.data.size() - field.offset);
  // Three UTF-8 bytes at most for each byte of the field, and the terminator.
  std::string text(3 * width + 1, '\0');
  crv::Windows1252ToUtf8(reinterpret_cast<const char*>(value.data.data()) + field.offset, width,
                         text.data(), text.size());
  text.resize(std::strlen(text.c_str()));
  return text;
}

TreeView ViewOf(const DecodedKey& root) {
  TreeView view;
  view.present = true;
  Collect(root, view);
  // Each port belongs to the first interface that lists it.
  std::unordered_map<uint32_t, const InterfaceView*> interfaceOfPort;
  for (const InterfaceView& i : view.interfaces) {
    for (uint32_t port : i.portNumbers) interfaceOfPort.try_emplace(port, &i);
  }
  for (PortView& port : view.ports) {
    auto found = interfaceOfPort.find(port.portNumber);
    if (found != interfaceOfPort.end()) {
      port.interfaceName = found->second->name;
      port.interfaceMapNumber = found->second->mapNumber;
    }
  }
  std::stable_sort(view.traps.begin(), view.traps.end(),
                   [](const TrapView& a, const TrapView& b) { return a.fileTime < b.fileTime; });
  return view;
}

std::string LinkWord(uint32_t linkCondition) {
  switch (linkCondition) {
    case 2:
      return "up";
    case 4:
      return "down";
    case 1:
      return "unknown";
    default:
      return std::to_string(linkCondition);
  }
}

std::string DuplexWord(uint32_t duplex) {
  switch (duplex) {
    case 2:
      return "half";
    case 3:
      return "full";
    case 1:
      return "unknown";
    default:
      return std::to_string(duplex);
  }
}

}  // namespace tessar
