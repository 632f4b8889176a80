// Traffic on the simulated server's ports: counters that grow at a steady pace while the
// scenario runs, so that a running agent publishes what a working server shows.
//
//   "traffic": {
//     "every_ms": 10000,                         how often the counters grow (default 10 s)
//     "ports": [
//       { "guid": "{...}",                       an adapter of "adapters" or added later
//         "from_ms": 0, "until_ms": 90000,       the window in which it grows (default: always)
//         "add": { "frames_sent": 8000, "frames_received": 9500,
//                  "octets_sent": 6000000, "octets_received": 9000000,
//                  "fcs_errors": 1, "alignment_errors": 1 } } ]
//   }
//
// Each step adds "add" to the port's counters: frames and Ethernet errors to the 32-bit
// statistics its driver answers, octets (and frames, as unicast packets) to its interface
// row; every 32-bit count wraps as the real ones do, while the interface's 64-bit counts
// (GetIfEntry2) keep growing. An octet amount may be larger than 32 bits. A port whose link is
// down, or that is not present at that moment, carries nothing. Ethernet error names:
// alignment_errors, fcs_errors, single_collisions, multiple_collisions, deferred_transmissions,
// late_collisions, excessive_collisions, mac_transmit_errors, carrier_sense_errors,
// mac_receive_errors.
#pragma once

#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/scenario/scenario_json.h"

namespace sim {

void LoadTraffic(Machine& machine, const scenario_json::json& node, const std::string& where);

}  // namespace sim
