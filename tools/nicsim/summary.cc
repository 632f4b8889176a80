#include "summary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/utf.h"
#include "publish/records.h"
#include "tessar_decode.h"

namespace {

// PrintableText escapes C0 controls and broken UTF-8 but copies valid sequences, the C1
// controls (U+0080 to U+009F, "\xC2\x80" to "\xC2\x9F") among them; a terminal may act on
// those too. In its output a 0xC2 byte always starts a sequence.
std::string WithoutC1(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto next = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    if (static_cast<uint8_t>(text[i]) == 0xC2 && next >= 0x80 && next <= 0x9F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", next);
      out += escaped;
      ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::string Shown(std::string_view text, LineEnds lineEnds) {
  if (lineEnds == LineEnds::kEscape) return WithoutC1(tessar::PrintableText(text));
  std::string out;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    out += WithoutC1(tessar::PrintableText(text.substr(start, end - start)));
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

namespace {

const std::u16string kTree = u"SYSTEM\\TessarNetwork";

std::string Clock(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                static_cast<unsigned long long>(ms / 3600000),
                static_cast<unsigned long long>(ms / 60000 % 60),
                static_cast<unsigned long long>(ms / 1000 % 60));
  return text;
}

std::string Mac(const uint8_t* mac) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

const char* TrapName(uint32_t code) {
  switch (code) {
    case crv::kTrapConnectivityLost:
      return "connectivity lost";
    case crv::kTrapConnectivityRegained:
      return "connectivity regained";
    case crv::kTrapRedundancyIncreased:
      return "redundancy increased";
    case crv::kTrapRedundancyReduced:
      return "redundancy reduced";
  }
  return "?";
}

char ConditionMark(uint8_t condition) {
  switch (condition) {
    case crv::kConditionOk:
      return '.';
    case crv::kConditionFailed:
      return 'X';
    case crv::kConditionOther:
      return '?';
  }
  return '!';
}

}  // namespace

void PrintTraps(sim::Machine& machine) {
  struct Seen {
    uint64_t timeMs;
    crv::TrapRecord record;
  };
  std::vector<Seen> traps;
  for (const auto& key : machine.registry().SubKeyNames(kTree)) {
    if (key.rfind(u"Trap_", 0) != 0) continue;
    for (const auto& name : machine.registry().ValueNames(kTree + u"\\" + key)) {
      auto value = machine.registry().GetValue(kTree + u"\\" + key, name);
      if (!value || value->data.size() != sizeof(crv::TrapRecord) || name.size() != 24) continue;
      Seen seen{};
      std::memcpy(&seen.record, value->data.data(), sizeof seen.record);
      uint64_t fileTime = std::stoull(crv::Utf16ToUtf8(name.substr(8)), nullptr, 16);
      seen.timeMs =
          fileTime >= machine.StartFileTime() ? (fileTime - machine.StartFileTime()) / 10000 : 0;
      traps.push_back(seen);
    }
  }
  std::stable_sort(traps.begin(), traps.end(),
                   [](const Seen& a, const Seen& b) { return a.timeMs < b.timeMs; });
  std::printf("\n== traps raised (%zu) ==\n", traps.size());
  for (const auto& t : traps) {
    std::printf("%s.%03llu  code %u %-22s port %u (slot %u, bus %u)  %s\n", Clock(t.timeMs).c_str(),
                static_cast<unsigned long long>(t.timeMs % 1000), t.record.trapCode,
                TrapName(t.record.trapCode), t.record.portNumber, t.record.slotNumber,
                t.record.pciBus,
                Shown({t.record.deviceDescription,
                       strnlen(t.record.deviceDescription, sizeof t.record.deviceDescription)})
                    .c_str());
  }
}

void PrintInterfaceTable(const sim::Machine& machine) {
  std::printf("\n== interface table (GetIfTable, as listed) ==\n");
  for (const auto& i : machine.network().interfaces()) {
    const char* kind = i.filter ? "filter" : i.hardware ? "adapter" : "software";
    const auto* description = reinterpret_cast<const char*>(i.row.bDescr);
    std::printf("  %6u  %-8s  %-6s  %s\n", i.row.dwIndex, kind, i.ipBinding ? "IP" : "no IP",
                Shown({description, strnlen(description, sizeof i.row.bDescr)}).c_str());
  }
}

void PrintLinkTimeline(const sim::Machine& machine) {
  // Ports in the order they were first published; a cycle is the span between the writes of
  // InterfaceData_Ready 0 and 1.
  std::vector<std::string> ports;
  std::map<std::string, std::string> descriptions;
  std::map<std::string, crv::PhysAdapterRecord> lastRecords;
  std::vector<std::pair<uint64_t, std::map<std::string, uint8_t>>> cycles;
  bool inCycle = false;
  for (const auto& write : machine.RegistryWrites()) {
    if (write.valueName == u"InterfaceData_Ready" && write.data.size() == 4) {
      inCycle = write.data[0] == 0;
      if (inCycle) cycles.push_back({write.timeMs, {}});
      continue;
    }
    if (!inCycle || write.valueName.rfind(u"PhysAdapter", 0) != 0 ||
        write.data.size() != sizeof(crv::PhysAdapterRecord)) {
      continue;
    }
    crv::PhysAdapterRecord port;
    std::memcpy(&port, write.data.data(), sizeof port);
    std::string mac = Mac(port.macAddress);
    if (descriptions
            .emplace(mac, Shown({port.deviceDescription,
                                 strnlen(port.deviceDescription, sizeof port.deviceDescription)}))
            .second) {
      ports.push_back(mac);
    }
    cycles.back().second[mac] = port.linkCondition;
    lastRecords[mac] = port;
  }
  std::printf("\n== ports as last published ==\n");
  std::printf("  %-4s %-13s %4s %4s  %-12s  %s\n", "", "PCI location", "slot", "port", "firmware",
              "description");
  for (size_t i = 0; i < ports.size(); ++i) {
    const crv::PhysAdapterRecord& r = lastRecords[ports[i]];
    std::string firmware =
        Shown({r.firmwareVersion, strnlen(r.firmwareVersion, sizeof r.firmwareVersion)});
    std::printf("  p%-3zu %-13s %4u %4u  %-12s  %s\n", i + 1,
                Shown({r.pciLocation, strnlen(r.pciLocation, sizeof r.pciLocation)}).c_str(),
                static_cast<unsigned>(r.slotNumber), static_cast<unsigned>(r.portInCard),
                firmware.empty() ? "-" : firmware.c_str(), descriptions[ports[i]].c_str());
  }
  std::printf(
      "\n== link condition per cycle (. ok, X link failure, ? unknown, blank: not published) ==\n");
  for (size_t i = 0; i < ports.size(); ++i) {
    std::printf("  p%-2zu %s  %s\n", i + 1, ports[i].c_str(), descriptions[ports[i]].c_str());
  }
  std::printf("%-9s", "time");
  for (size_t i = 0; i < ports.size(); ++i) std::printf(" p%-2zu", i + 1);
  std::printf("\n");
  for (const auto& [time, conditions] : cycles) {
    std::printf("%-9s", Clock(time).c_str());
    for (const auto& mac : ports) {
      auto it = conditions.find(mac);
      std::printf("  %c ", it == conditions.end() ? ' ' : ConditionMark(it->second));
    }
    std::printf("\n");
  }
}
