// The WMI part of scenario files: the machine's SMBIOS table, its Solarflare ports and any
// other WMI objects (see wmi_sim.h and smbios_builder.h for what they drive).
//
//   "wmi": {
//     "available": true,                               default true; false: no WMI at all
//     "smbios": {
//       "product_name": "Arvenis QD8 Node R7",         absent: no system-information structure
//       "manufacturer": "text",
//       "slots": [ { "id": 3, "designation": "PCIe Slot 3", "segment": 0, "bus": 94,
//                    "device": 0, "function": 0, "usage": 4 } ],
//       "onboard": [ { "designation": "NIC1", "instance": 1, "type": 133, "segment": 0,
//                      "bus": 2, "device": 0, "function": 0 } ],
//       "raw": "01 1b 00 01 ...",                      the structure table itself, in place of
//                                                      product_name, slots and onboard
//       "major_version": 3, "minor_version": 4, "dmi_revision": 0,
//       "used20_calling_method": false },
//     "efx_ports": [ { "mac": "00-0F-53-01-02-03", "external": true,
//                      "mcfwversion": "8.2.1.1000" } ],
//     "lbfo_teams": [ { "name": "Team1", "teaming_mode": 1, "load_balancing": 5,
//                       "members": [ { "name": "Ethernet 1", "guid": "{...}",
//                                      "administrative_mode": 0 } ],
//                       "team_nics": [ { "name": "Team1", "guid": "{...}", "default": true },
//                                      { "name": "Team1 - VLAN 10", "guid": "{...}",
//                                        "vlan": 10 } ] } ],
//                                                      NIC Teaming (sim::AddLbfoTeam); the
//                                                      team interfaces' own adapters are
//                                                      listed under "adapters"
//     "classes": [ { "namespace": "root\\wmi", "class": "EFX_Port",
//                    "delivery_delay_ms": 0,           declares a class (maybe empty) and
//                    "delivery_delay_until_ms": 0 } ], how long Next takes per object
//                                                      (until then: a provider slow at boot)
//     "namespaces": [ { "namespace": "root\\StandardCimv2",
//                       "missing_until_ms": 120000 } ], ConnectServer answers
//                                                      WBEM_E_INVALID_NAMESPACE until then
//     "objects": [ { "namespace": "root\\wmi", "class": "Name",
//                    "properties": { "P": { "type": "bstr", "value": "text" } } } ]
//   }
//
// Property types: "empty", "null", "bool", "i1", "ui1", "i2", "ui2", "i4", "ui4", "i8",
// "ui8", "bstr", and arrays of the integer kinds as "ui1[]", "i4[]" ... with a list of
// numbers as value (or a hexadecimal byte text for "ui1[]") and an optional "lower_bound".
#pragma once

#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/scenario/scenario_json.h"

namespace sim {

void LoadWmi(Machine& machine, const nlohmann::json& node, const std::string& where);

}  // namespace sim
