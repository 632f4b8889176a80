// The interface change notifications of a scenario file:
//
//   "interface_notifications": { "mode": "deliver", "delay_ms": 100 }
//
// mode: "deliver" (the default: callbacks after delay_ms of virtual time), "fail"
// (NotifyIpInterfaceChange fails with ERROR_NOT_SUPPORTED) or "silent" (it succeeds without a
// handle and never calls back).
#pragma once

#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/scenario/scenario_json.h"

namespace sim {

void LoadInterfaceNotifications(Machine& machine, const nlohmann::json& node,
                                const std::string& where);

}  // namespace sim
