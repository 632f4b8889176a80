#include "platform/sim/scenario/scenario_notifications.h"

#include "platform/sim/api/interface_notify_sim.h"

namespace sim {

using namespace scenario_json;

void LoadInterfaceNotifications(Machine& machine, const nlohmann::json& spec,
                                const std::string& where) {
  if (!spec.is_object()) Bad(where, "expected an object");
  SimInterfaceNotifier& notifier = machine.interfaceNotifier();
  if (spec.contains("mode")) {
    std::string mode = Text(spec["mode"], where + ".mode");
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
  if (spec.contains("delay_ms")) notifier.SetDelayMs(Number(spec["delay_ms"], where + ".delay_ms"));
}

}  // namespace sim
