// The device part of scenario files: network adapters described once (see SimAdapter in
// device_sim.h for what each field drives), low-level NDIS answers on top, and timeline
// actions for link changes and hot-plug.
//
//   "adapters": [ {
//       "guid": "{0E5B9C1A-....}",                      required
//       "mac": "00-1B-21-AA-BB-01",                      required; "permanent_mac" optional
//       "if_index": 12, "if_type": 6, "mtu": 1500,       if_index 0: no interface row
//       "description": "text", "friendly_name": "text", ("" for none; default description)
//       "kind": "pci",        pci b06bdrv ebdrv qebdrv mlx4 iba solarflare other
//       "bus_device": "CONNECTX-3PRO_ETH", "enumerator": "SFNBUS",
//       "pci": { "vendor": "0x8086", "device": "0x10D3", "subsystem": "0xA01F8086",
//                "revision": 0 },                        numbers or "0x" texts
//       "location": { "bus": 5, "device": 0, "function": 1, "slot": 3 },   slot optional
//       "location_text": "text",                         own location; "" for none
//       "ui_number": 3, "port": 1, "port_ui_number": true,
//       "instance_id": "PCI\\VEN_...",                   required for kind "other"
//       "service": "e1express", "medium": 0,
//       "link": true, "speed": 1000000000, "duplex": "full",   full half unknown
//       "private_device": true,                         default by service name
//       "firmware": "1.2.52",                            answered through the vendor's OID
//       "ipv4": [ { "address": "10.0.0.5", "mask": "255.255.255.0" } ],
//       "ipv6": [ "fe80::1%12" ], "dhcp": false, "connection_name": "Ethernet 2",
//       "keywords": { "*SpeedDuplex": "0" },             network class key texts
//       "ndis_interface": true,                          NDIS LAN device interface
//       "ip_binding": true,                              false: TCP/IP unbound (team member)
//       "filters": [ "QoS Packet Scheduler" ],           NDIS filters with rows of their own
//                                                        (indexes from 100001 on);
//       "filters_listed": "after",                       before or after the adapter's row
//       "open_error": 0,                                 CreateFileW of \\.\{GUID} fails
//       "oids": { "0x00010114": { "error": 50 }, "0x0001028C": { "dword": 2 },
//                 "0xFF0201D3": { "data": "01 02 ..." } },
//       "private_oids": { "0xFF0201EA": { "data": "02 00 00 00 00 00 00 00", "status": 0,
//                                         "error": 0 } } } ]
//   timeline: { "at_ms": T, "adapter_link": { "guid": "{...}", "up": false } }
//             { "at_ms": T, "adapter_speed": { "guid": "{...}", "speed": 100000000,
//                                              "duplex": "half" } }
//             { "at_ms": T, "adapter_add": { ...as above... } }
//             { "at_ms": T, "adapter_add": { ... }, "arrive_during": "device_id_list" }
//                 the adapter arrives at the next read of that list after T
//                 ("device_id_list" or "device_interface_list"), between the reader's size
//                 call and its read, which then answers CR_BUFFER_SMALL
//             { "at_ms": T, "adapter_remove": "{GUID}" }
//             { "at_ms": T, "adapter_oids": { "guid": "{...}", "oids": {...},
//                                             "private_oids": {...} } }
// "oids" and "private_oids" are applied after the derived answers and replace them; an OID
// answer is "data" (hexadecimal byte text or a list of numbers), "dword", or "error".
#pragma once

#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/scenario/scenario_json.h"
#include "platform/sim/state/device_sim.h"

namespace sim {

SimAdapter ParseAdapter(const nlohmann::json& node, const std::string& where);
// "ndis_filters": { "names": [ "WFP Native MAC Layer LightWeight Filter", ... ],
//                   "listed": "after" }: the filters of every adapter without "filters".
// Load it before the adapters.
void LoadDefaultFilters(Machine& machine, const nlohmann::json& node, const std::string& where);
std::vector<std::u16string> ParseFilterNames(const nlohmann::json& node, const std::string& where);
bool FiltersListedFirst(const nlohmann::json& node, const std::string& where);
// Adds an "adapters" entry to the machine: the adapter and its low-level overrides.
void LoadAdapter(Machine& machine, const nlohmann::json& node, const std::string& where);
// Schedules the entry when it is a device action; false when it is not one.
bool LoadDeviceAction(Machine& machine, uint64_t at, const nlohmann::json& entry,
                      const std::string& where);

}  // namespace sim
