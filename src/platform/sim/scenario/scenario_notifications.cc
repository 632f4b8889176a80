#include "platform/sim/scenario/scenario_notifications.h"

#include "platform/sim/api/interface_notify_sim.h"

namespace sim {

using namespace scenario_json;

void LoadInterfaceNotifications(Machine& machine, const nlohmann::json& node,
                                const std::string& where) {
  if (!node.is_object()) Bad(where, "expected an object");
  SimInterfaceNotifier& notifier = machine.interfaceNotifier();
  if (node.contains("mode")) {
    std::string mode = Text(node["mode"], where + ".mode");
    if (mode == "deliver") {
      notifier.SetMode(NotifyMode::kDeliver);
    } else if (mode == "fail") {
      notifier.SetMode(NotifyMode::kFail);
    } else if (mode == "silent") {
      notifier.SetMode(NotifyMode::kSilent);
    } else {
      Bad(where + ".mode", "expected \"deliver\", \"fail\" or \"silent\"");
    }
  }
  if (node.contains("delay_ms")) notifier.SetDelayMs(Number(node["delay_ms"], where + ".delay_ms"));
}

}  // namespace sim
