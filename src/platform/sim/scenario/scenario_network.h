// The network part of scenario files: interface rows with their addresses and counters,
// and timeline actions that add, remove or change interfaces.
//
//   "interfaces": [ { "index": 12, "type": 6, "mtu": 1500, "speed": 1000000000,
//                     "mac": "00-1B-21-AA-BB-01", "description": "text",
//                     "admin_status": 1, "oper_status": 5, "last_change": 0,
//                     "adapter_name": "{GUID}", "friendly_name": "Ethernet 2",
//                     "ipv4": [ { "address": "10.0.0.5", "mask": "255.255.255.0" } ],
//                     "ipv6": [ "fe80::21b:21ff:feaa:bb01%12" ],
//                     "counters": { "in_octets": 0, "out_octets": 0, ... },
//                     "hardware": false, "filter": false,   MIB_IF_ROW2's flags
//                     "ip_binding": true } ]                false: no IP interface changes
//   timeline: { "at_ms": T, "interface_add": { ...as above... } }
//             { "at_ms": T, "interface_remove": 12 }
//             { "at_ms": T, "interface_set": { "index": 12, "new_index": 13, "oper_status": 2,
//                                              "counters": {...}, "add_counters": {...} } }
// Counter names: in_octets in_ucast in_nucast in_discards in_errors in_unknown_protos
// out_octets out_ucast out_nucast out_discards out_errors out_qlen.
#pragma once

#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/scenario/scenario_json.h"

namespace sim {

// The "ipv4" and "ipv6" lists of an interface or adapter entry.
void ParseAddresses(const nlohmann::json& node, const std::string& where,
                    std::vector<SimIpv4Address>* ipv4, std::vector<std::u16string>* ipv6);

SimInterface ParseInterface(const nlohmann::json& node, const std::string& where);
// Schedules the entry when it is a network action; false when it is not one.
bool LoadNetworkAction(Machine& machine, uint64_t at, const nlohmann::json& entry,
                       const std::string& where);

}  // namespace sim
