// The vendor library part of scenario files: which of the adapter vendors' management
// libraries the machine has and what their entry points answer (see library_sim.h), and the
// devices of bmapi.dll's setup class in the PnP tree. Libraries not named are absent.
//
//   "vendorLibraries": {
//     "system_path": "%SystemRoot%\\system32;C:\\Program Files\\QLogic",   the system
//                                                 environment's Path (REG_EXPAND_SZ)
//     "folders": [ { "path": "C:\\Program Files\\QLogic",
//                    "dacl": [ { "sid": "S-1-5-32-545", "mask": "0x1301BF",
//                                "type": 0, "flags": 3 } ],    allowed (0) or denied (1)
//                    "null_dacl": false, "files": [ "other.dll" ] } ],
//                                                 folders and their DACLs; unset: the DACL of
//                                                 a folder below Program Files
//     "qlmapia.dll": {
//       "present": true,                           default true
//       "folder": "C:\\Program Files\\QLogic",    installed there, found only by full path
//       "missing": [ "QLmapiGet5706FwInfo" ],      entry points the library does not export
//       "initialize_statuses": [ 5, 5 ],           InitializeEx answers in turn, then 0
//       "uninitialize_status": 0,
//       "num_phy_nic_status": 0, "all_phy_nic_status": 0,
//       "adapters": [ { "guid": "{...}",          the service name the agent asks by
//                       "handle": 7, "handle_status": 0,
//                       "firmware": { "status": 0, "word": "0x0207" },   BmapiGetFirmwareInfo
//                       "nic_info": { "status": 0, "duplex": 1 },        BmapiGetBRCMNicInfo
//                       "link_status": { "status": 0, "duplex": 1 } } ], QLmapiRetrieveLinkStatus
//       "phy_nics": [ { "handle": 100, "type": 6, "owner": 7, "enum_status": 0 } ],
//       "vbd_firmware": [ { "handle": 100,         a virtual bus driver (physical NIC) handle
//                           "fw5706": { "status": 0, "text": "7.10.4" },
//                           "fw57710": { "status": 14 }, "fw579xx": { ... } } ] },
//     "bmapia.dll": { ...the same fields... },
//     "bmapi.dll": {
//       "present", "missing", "initialize_statuses", "uninitialize_status",
//       "num_phy_nic_status", "all_phy_nic_status": as above,
//       "nics": [ { "handle": 1, "kind": 4, "pnp_device_id": "PCI\\VEN_14E4&...",
//                   "value": 3,                      BmapiGetBRCMNicInfoEx, at 196
//                   "phy_nic_status": 0, "pnp_dev_id_status": 0, "nic_info_ex_status": 0 } ],
//       "class_devices": [ { "instance_id": "PCI\\VEN_14E4&...", "location": "PCI bus 5, ..." },
//                          { "instance_id": "...", "adapter": "{GUID}" } ] }
//   }
//
// Numbers may be given as numbers or as texts ("0x0207", "12"). A class device takes either
// its own location text or that of an adapter described in "adapters" (which are added
// first); it is a present node of the setup class {6d807884-7d21-11cf-801c-08002be10318}.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "platform/sim/machine.h"

namespace sim {

// Applies a "vendorLibraries" section to the machine.
void LoadVendorLibraries(Machine& machine, const nlohmann::json& section, const std::string& where);

}  // namespace sim
