#include "platform/sim/api/interface_notify_sim.h"

#include <initializer_list>

#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr uint32_t kOperStatusConnected = 4;  // IF_OPER_STATUS_CONNECTED; 5 is operational

}  // namespace

uint32_t SimInterfaceNotifier::Register(uint16_t family,
                                        platform::IpInterfaceChangeCallback callback, void* context,
                                        bool initialNotification, platform::Handle* notification) {
  if (auto fault = MachineInternals(machine_).CheckFault(FaultCall::kNotifyIpInterfaceChange))
    return *fault;
  if (notification == nullptr || callback == nullptr) return platform::kErrorInvalidParameter;
  *notification = nullptr;
  if (family != platform::kAfUnspec && family != platform::kAfInet &&
      family != platform::kAfInet6) {
    return platform::kErrorInvalidParameter;
  }
  if (mode_ == NotifyMode::kFail) return kErrorNotSupported;
  if (mode_ == NotifyMode::kSilent) return 0;
  if (registrations_.empty()) seen_ = Snapshot();
  uintptr_t id = nextId_ += 4;
  registrations_.push_back(Registration{id, family, callback, context});
  *notification = reinterpret_cast<platform::Handle>(id);
  if (initialNotification) machine_.At(machine_.NowMs(), [this, id] { Deliver(id, nullptr); });
  return 0;
}

uint32_t SimInterfaceNotifier::Cancel(platform::Handle notification) {
  if (auto fault = MachineInternals(machine_).CheckFault(FaultCall::kCancelMibChangeNotify2))
    return *fault;
  auto id = reinterpret_cast<uintptr_t>(notification);
  for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
    if (it->id == id) {
      registrations_.erase(it);
      return 0;
    }
  }
  return platform::kErrorInvalidHandle;
}

std::map<uint32_t, SimInterfaceNotifier::Seen> SimInterfaceNotifier::Snapshot() const {
  std::map<uint32_t, Seen> rows;
  for (const auto& i : machine_.network().interfaces()) {
    // Only IP interfaces are watched: a team member or a filter row never notifies, whatever
    // its interface row does.
    if (!i.ipBinding) continue;
    rows[i.row.dwIndex] = Seen{i.row.dwOperStatus, i.row.dwAdminStatus, i.row.dwMtu};
  }
  return rows;
}

void SimInterfaceNotifier::Check() {
  if (registrations_.empty()) return;
  std::map<uint32_t, Seen> now = Snapshot();
  std::vector<platform::IpInterfaceChange> changes;
  auto add = [&](uint32_t index, uint32_t type, bool connected) {
    platform::IpInterfaceChange change;
    change.interfaceIndex = index;
    change.notificationType = type;
    change.connected = connected;
    changes.push_back(change);
  };
  for (const auto& [index, row] : now) {
    auto it = seen_.find(index);
    if (it == seen_.end()) {
      add(index, platform::kMibAddInstance, row.operStatus >= kOperStatusConnected);
    } else if (!(it->second == row)) {
      add(index, platform::kMibParameterNotification, row.operStatus >= kOperStatusConnected);
    }
  }
  for (const auto& [index, row] : seen_) {
    if (now.find(index) == now.end()) add(index, platform::kMibDeleteInstance, false);
  }
  seen_ = std::move(now);
  const uint64_t at = machine_.NowMs() + delayMs_;
  for (const auto& change : changes) {
    for (const auto& r : registrations_) {
      for (uint16_t family : {platform::kAfInet, platform::kAfInet6}) {
        if (r.family != platform::kAfUnspec && r.family != family) continue;
        platform::IpInterfaceChange one = change;
        one.family = family;
        uintptr_t id = r.id;
        machine_.At(at, [this, id, one] { Deliver(id, &one); });
      }
    }
  }
}

void SimInterfaceNotifier::Deliver(uintptr_t id, const platform::IpInterfaceChange* change) {
  for (const auto& r : registrations_) {
    if (r.id != id) continue;
    ++delivered_;
    r.callback(r.context, change);
    return;
  }
}

}  // namespace sim
