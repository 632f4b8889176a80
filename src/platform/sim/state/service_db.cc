#include "platform/sim/state/service_db.h"

namespace sim {

void ServiceDatabase::Add(ServiceRecord record) {
  std::u16string key = record.name;
  services_[key] = std::move(record);
}

std::optional<ServiceRecord> ServiceDatabase::Get(std::u16string_view name) const {
  auto it = services_.find(std::u16string(name));
  if (it == services_.end()) return std::nullopt;
  return it->second;
}

bool ServiceDatabase::Exists(std::u16string_view name) const {
  return services_.count(std::u16string(name)) != 0;
}

void ServiceDatabase::SetRunning(std::u16string_view name, bool running) {
  if (ServiceRecord* record = Find(name)) record->running = running;
}

ServiceRecord* ServiceDatabase::Find(std::u16string_view name) {
  auto it = services_.find(std::u16string(name));
  return it == services_.end() ? nullptr : &it->second;
}

void ServiceDatabase::Remove(std::u16string_view name) { services_.erase(std::u16string(name)); }

}  // namespace sim
