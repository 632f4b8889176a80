#include "platform/sim/scenario/scenario.h"

#include <algorithm>
#include <string>

#include "platform/sim/scenario/scenario_devices.h"
#include "platform/sim/scenario/scenario_json.h"
#include "platform/sim/scenario/scenario_libraries.h"
#include "platform/sim/scenario/scenario_network.h"
#include "platform/sim/scenario/scenario_notifications.h"
#include "platform/sim/scenario/scenario_traffic.h"
#include "platform/sim/scenario/scenario_wmi.h"
#include "platform/sim/state/file_time.h"

namespace sim {
namespace {

using nlohmann::json;
using namespace scenario_json;

// Refuses a key path or value name that Windows' registry would refuse.
void CheckRegistryLimits(const std::u16string& key, const std::u16string* valueName,
                         const std::string& where) {
  std::string breach = KeyLimitBreach(0, SplitKeyPath(key));
  if (breach.empty() && valueName != nullptr) breach = ValueNameLimitBreach(*valueName);
  if (!breach.empty()) BeyondRegistryLimits(where, breach);
}

uint32_t ValueType(const std::string& name, const std::string& where) {
  static const std::pair<const char*, uint32_t> kTypes[] = {
      {"REG_NONE", platform::kRegNone},          {"REG_SZ", platform::kRegSz},
      {"REG_EXPAND_SZ", platform::kRegExpandSz}, {"REG_BINARY", platform::kRegBinary},
      {"REG_DWORD", platform::kRegDword},        {"REG_MULTI_SZ", platform::kRegMultiSz}};
  for (const auto& [text, type] : kTypes) {
    if (name == text) return type;
  }
  Bad(where, "unknown registry type " + Quoted(name));
}

void AppendUtf16(std::vector<uint8_t>& bytes, const std::u16string& text) {
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
}

std::vector<uint8_t> ValueData(uint32_t type, const json& data, const std::string& where) {
  std::vector<uint8_t> bytes;
  switch (type) {
    case platform::kRegDword: {
      uint32_t v = Number32(data, where);
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
      break;
    }
    case platform::kRegSz:
    case platform::kRegExpandSz:
      AppendUtf16(bytes, Wide(data, where));
      break;
    case platform::kRegMultiSz:
      if (!data.is_array()) Bad(where, "expected a list of texts");
      for (size_t i = 0; i < data.size(); ++i) {
        AppendUtf16(bytes, Wide(data[i], where + "[" + std::to_string(i) + "]"));
      }
      bytes.push_back(0);
      bytes.push_back(0);
      break;
    default:
      bytes = Bytes(data, where);
      break;
  }
  return bytes;
}

void SetRegistryValue(Machine& machine, const std::u16string& key, const json& name,
                      const json& node, const std::string& where) {
  uint32_t type = ValueType(Text(Need(node, "type", where), where + ".type"), where + ".type");
  auto data = ValueData(type, Need(node, "data", where), where + ".data");
  std::u16string valueName = Wide(name, where);
  CheckRegistryLimits(key, &valueName, where);
  machine.registry().SetValue(key, valueName, type, std::move(data));
}

uint64_t ParseStartTime(const std::string& text, const std::string& where) {
  platform::SystemTime t;
  unsigned y, mo, d, h, mi, s;
  char z = 0;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &z) != 7 ||
      z != 'Z') {
    Bad(where, "expected a UTC time like 2026-01-05T08:00:00Z");
  }
  t.year = static_cast<uint16_t>(y);
  t.month = static_cast<uint16_t>(mo);
  t.day = static_cast<uint16_t>(d);
  t.hour = static_cast<uint16_t>(h);
  t.minute = static_cast<uint16_t>(mi);
  t.second = static_cast<uint16_t>(s);
  uint64_t fileTime = 0;
  if (!SystemTimeToFileTime(t, &fileTime)) Bad(where, "not a valid time");
  return fileTime;
}

void LoadTimelineEntry(Machine& machine, const json& entry, const std::string& where) {
  uint64_t at = Number(Need(entry, "at_ms", where), where + ".at_ms");
  if (entry.contains("set_event")) {
    machine.SetEventAt(at, Wide(entry["set_event"], where + ".set_event"));
  } else if (entry.contains("registry_set")) {
    const json& set = entry["registry_set"];
    std::string w = where + ".registry_set";
    std::u16string key = Wide(Need(set, "key", w), w + ".key");
    uint32_t type = ValueType(Text(Need(set, "type", w), w + ".type"), w + ".type");
    std::u16string name = Wide(Need(set, "name", w), w + ".name");
    auto data = ValueData(type, Need(set, "data", w), w + ".data");
    CheckRegistryLimits(key, &name, w);
    machine.At(at, [&machine, key, name, type, data] {
      machine.registry().SetValue(key, name, type, data);
    });
  } else if (LoadNetworkAction(machine, at, entry, where)) {
  } else if (LoadDeviceAction(machine, at, entry, where)) {
  } else if (entry.contains("registry_delete_tree")) {
    std::u16string key = Wide(entry["registry_delete_tree"], where + ".registry_delete_tree");
    machine.At(at, [&machine, key] { machine.registry().DeleteTree(key); });
  } else {
    Bad(where, "unknown timeline action");
  }
}

void Load(const json& root, Machine& machine, Scenario& scenario) {
  if (!root.is_object()) Bad("scenario", "expected an object");
  if (root.contains("description")) scenario.description = Text(root["description"], "description");
  if (root.contains("command_line")) {
    const json& args = root["command_line"];
    if (!args.is_array() || args.empty()) Bad("command_line", "expected a non-empty list");
    scenario.commandLine.clear();
    for (size_t i = 0; i < args.size(); ++i) {
      scenario.commandLine.push_back(Text(args[i], "command_line[" + std::to_string(i) + "]"));
    }
  }
  if (root.contains("duration_ms")) {
    scenario.durationMs = Number(root["duration_ms"], "duration_ms");
    if (scenario.durationMs > kLongestDurationMs) Bad("duration_ms", "longer than 31 days");
  }
  if (root.contains("start_time")) {
    machine.SetStartFileTime(ParseStartTime(Text(root["start_time"], "start_time"), "start_time"));
  }
  if (root.contains("administrator")) {
    machine.SetAdministrator(Flag(root["administrator"], "administrator"));
  }
  if (root.contains("module_file_name")) {
    machine.SetModuleFileName(Wide(root["module_file_name"], "module_file_name"));
  }
  if (root.contains("console_input")) {
    machine.SetConsoleInput(Text(root["console_input"], "console_input"));
  }
  if (root.contains("registry")) {
    const json& keys = root["registry"];
    if (!keys.is_array()) Bad("registry", "expected a list of keys");
    for (size_t i = 0; i < keys.size(); ++i) {
      std::string where = "registry[" + std::to_string(i) + "]";
      std::u16string key = Wide(Need(keys[i], "key", where), where + ".key");
      bool isVolatile =
          keys[i].contains("volatile") && Flag(keys[i]["volatile"], where + ".volatile");
      CheckRegistryLimits(key, nullptr, where + ".key");
      machine.registry().CreateKey(key, isVolatile);
      if (keys[i].contains("values")) {
        const json& values = keys[i]["values"];
        if (!values.is_object()) Bad(where + ".values", "expected an object");
        for (auto it = values.begin(); it != values.end(); ++it) {
          SetRegistryValue(machine, key, json(it.key()), it.value(),
                           Member(where + ".values", it.key()));
        }
      }
    }
  }
  if (root.contains("services")) {
    const json& services = root["services"];
    if (!services.is_array()) Bad("services", "expected a list");
    for (size_t i = 0; i < services.size(); ++i) {
      std::string where = "services[" + std::to_string(i) + "]";
      const json& s = services[i];
      ServiceRecord record;
      record.name = Wide(Need(s, "name", where), where + ".name");
      record.displayName = s.contains("display_name")
                               ? Wide(s["display_name"], where + ".display_name")
                               : record.name;
      if (s.contains("binary_path")) {
        record.binaryPath = Wide(s["binary_path"], where + ".binary_path");
      }
      record.serviceType = platform::kServiceWin32OwnProcess;
      record.startType = platform::kServiceDemandStart;
      record.errorControl = platform::kServiceErrorNormal;
      if (s.contains("running")) record.running = Flag(s["running"], where + ".running");
      machine.services().Add(record);
    }
  }
  if (root.contains("faults")) {
    const json& faults = root["faults"];
    if (!faults.is_array()) Bad("faults", "expected a list");
    for (size_t i = 0; i < faults.size(); ++i) {
      std::string where = "faults[" + std::to_string(i) + "]";
      std::string call = Text(Need(faults[i], "call", where), where + ".call");
      uint32_t occurrence = faults[i].contains("occurrence")
                                ? Number32(faults[i]["occurrence"], where + ".occurrence")
                                : 0;
      if (!machine.FailCall(call, occurrence,
                            Number32(Need(faults[i], "status", where), where + ".status"))) {
        Bad(where + ".call", "no call named \"" + call + "\" can be made to fail");
      }
    }
  }
  if (root.contains("blocked_calls")) {
    const json& blocked = root["blocked_calls"];
    if (!blocked.is_array()) Bad("blocked_calls", "expected a list");
    for (size_t i = 0; i < blocked.size(); ++i) {
      std::string where = "blocked_calls[" + std::to_string(i) + "]";
      const json& b = blocked[i];
      std::string call = Text(Need(b, "call", where), where + ".call");
      uint32_t occurrence =
          b.contains("occurrence") ? Number32(b["occurrence"], where + ".occurrence") : 0;
      uint64_t fromMs = b.contains("from_ms") ? Number(b["from_ms"], where + ".from_ms") : 0;
      if (occurrence != 0 && b.contains("from_ms")) {
        Bad(where, "give an occurrence or a from_ms, not both");
      }
      const json& duration = Need(b, "block_ms", where);
      uint64_t blockMs = duration.is_string() && duration.get<std::string>() == "forever"
                             ? FaultPlan::kBlockForever
                             : Number(duration, where + ".block_ms");
      if (blockMs == 0) Bad(where + ".block_ms", "a call blocked for no time does not block");
      if (!machine.BlockCall(call, occurrence, fromMs, blockMs)) {
        Bad(where + ".call", "no call named \"" + call + "\" can be made to block");
      }
    }
  }
  if (root.contains("fail_allocation")) {
    uint64_t n = Number(root["fail_allocation"], "fail_allocation");
    if (n != 0) machine.FailAllocation(n);
  }
  if (root.contains("interfaces")) {
    const json& list = root["interfaces"];
    if (!list.is_array()) Bad("interfaces", "expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      machine.network().Add(ParseInterface(list[i], "interfaces[" + std::to_string(i) + "]"));
    }
  }
  if (root.contains("ndis_filters"))
    LoadDefaultFilters(machine, root["ndis_filters"], "ndis_filters");
  if (root.contains("adapters")) {
    const json& list = root["adapters"];
    if (!list.is_array()) Bad("adapters", "expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      LoadAdapter(machine, list[i], "adapters[" + std::to_string(i) + "]");
    }
  }
  if (root.contains("wmi")) LoadWmi(machine, root["wmi"], "wmi");
  if (root.contains("vendorLibraries")) {
    LoadVendorLibraries(machine, root["vendorLibraries"], "vendorLibraries");
  }
  if (root.contains("interface_notifications")) {
    LoadInterfaceNotifications(machine, root["interface_notifications"], "interface_notifications");
  }
  if (root.contains("traffic")) LoadTraffic(machine, root["traffic"], "traffic");
  if (root.contains("timeline")) {
    const json& timeline = root["timeline"];
    if (!timeline.is_array()) Bad("timeline", "expected a list");
    for (size_t i = 0; i < timeline.size(); ++i) {
      LoadTimelineEntry(machine, timeline[i], "timeline[" + std::to_string(i) + "]");
    }
  }
}

// The line and column (both from 1) of the byte a parse stopped at (counted from 1).
std::string PlaceOf(std::string_view text, size_t byte) {
  size_t end = byte == 0 ? 0 : std::min(byte - 1, text.size());
  size_t line = 1, lineStart = 0;
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(end - lineStart + 1);
}

}  // namespace

bool LoadScenario(std::string_view text, Machine& machine, Scenario* scenario, std::string* error) {
  json root;
  try {
    root = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/true,
                       /*ignore_comments=*/true);
  } catch (const json::parse_error& e) {
    *error = "scenario: not valid JSON at " + PlaceOf(text, e.byte);
    return false;
  }
  try {
    Load(root, machine, *scenario);
  } catch (const ScenarioError& e) {
    *error = e.message;
    return false;
  } catch (const json::exception& e) {
    *error = std::string("scenario: ") + e.what();
    return false;
  }
  return true;
}

}  // namespace sim
