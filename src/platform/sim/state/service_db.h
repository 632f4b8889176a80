// The simulated service control manager's database.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/sim/state/registry_sim.h"

namespace sim {

struct ServiceRecord {
  std::u16string name;
  std::u16string displayName;
  uint32_t serviceType = 0;
  uint32_t startType = 0;
  uint32_t errorControl = 0;
  std::u16string binaryPath;
  std::u16string account;  // empty: LocalSystem
  bool running = false;
  bool markedForDelete = false;
};

class ServiceDatabase {
 public:
  // Without administrator rights, opening the manager with more than connect and
  // enumerate/query rights fails with kErrorAccessDenied.
  void SetAdministrator(bool administrator) { administrator_ = administrator; }
  bool administrator() const { return administrator_; }

  // For scenarios and tests.
  void Add(ServiceRecord record);
  std::optional<ServiceRecord> Get(std::u16string_view name) const;
  bool Exists(std::u16string_view name) const;
  void SetRunning(std::u16string_view name, bool running);

  // For the ServiceManager interface.
  ServiceRecord* Find(std::u16string_view name);
  void Remove(std::u16string_view name);

 private:
  bool administrator_ = true;
  std::map<std::u16string, ServiceRecord, NoCaseLess> services_;
};

}  // namespace sim
