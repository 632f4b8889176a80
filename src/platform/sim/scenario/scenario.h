// Scenario files: a simulated server described in JSON (its registry, services, rights,
// console input, faults and a timeline of changes), and how long to run the agent on it.
//
//   {
//     "description": "text",
//     "command_line": ["crvnichost.exe"],            program name first
//     "duration_ms": 600000,
//     "start_time": "2026-01-05T08:00:00Z",
//     "administrator": true,
//     "module_file_name": "C:\\Program Files\\Corvane\\crvnichost.exe",
//     "console_input": "",
//     "registry": [ { "key": "SYSTEM\\...", "volatile": false,
//                     "values": { "Name": { "type": "REG_DWORD", "data": 1 } } } ],
//     "services": [ { "name": "...", "display_name": "...", "binary_path": "...",
//                     "running": false } ],
//     "faults": [ { "call": "RegOpenKeyExW", "occurrence": 1, "status": 5 } ],
//     "blocked_calls": [ { "call": "DeviceIoControl", "occurrence": 40, "block_ms": 20000 },
//                        { "call": "Next", "from_ms": 90000, "block_ms": "forever" } ],
//     "fail_allocation": 0,
//     "timeline": [ { "at_ms": 5000, "set_event": "CrvMNicSCMEvent" },
//                   { "at_ms": 6000, "registry_set": { "key": "...", "name": "...",
//                                                      "type": "REG_SZ", "data": "x" } },
//                   { "at_ms": 7000, "registry_delete_tree": "SYSTEM\\..." } ]
//   }
//
// A blocked call keeps the thread that makes it for block_ms of virtual time, or for good with
// "forever", before it answers (and fails, when a fault is planned for it too). It is the
// occurrence-th call of that name (1-based, counted over the whole machine, every process), or
// without an occurrence the first call made at or after from_ms (0 when left out). Each entry
// blocks one call; the names are the fault table's (fault_calls.h). A thread blocked for good
// is never resumed, the process's other threads go on, and the run ends as any other.
//
// Interface change notifications ("interface_notifications": mode and delay) are described
// in scenario_notifications.h.
//
// Network interfaces ("interfaces") are described in scenario_network.h, network adapters
// ("adapters", the PnP and NDIS side with their interfaces, and "ndis_filters", the filters
// listed beside every adapter) in scenario_devices.h; both add
// timeline actions of their own. Counters that grow while it runs ("traffic") are described
// in scenario_traffic.h.
//
// Value data: a number for REG_DWORD, a text for REG_SZ and REG_EXPAND_SZ, a list of texts
// for REG_MULTI_SZ, hexadecimal byte text ("01 2e 00") or a list of numbers for REG_BINARY.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

// The longest run a scenario or nicsim's --duration may ask for: a month of virtual time.
inline constexpr uint64_t kLongestDurationMs = 31ull * 24 * 3600 * 1000;

struct Scenario {
  std::string description;
  std::vector<std::string> commandLine{"crvnichost.exe"};
  uint64_t durationMs = 600000;
};

// Applies a scenario to a fresh machine. False with a message naming the faulty field when
// the text is not a valid scenario; the machine may then be partly set up.
bool LoadScenario(std::string_view json, Machine& machine, Scenario* scenario, std::string* error);

}  // namespace sim
