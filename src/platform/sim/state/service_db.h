// The simulated service control manager's database.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

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
  // Recovery: SERVICE_CONFIG_FAILURE_ACTIONS and SERVICE_CONFIG_FAILURE_ACTIONS_FLAG.
  uint32_t resetPeriodS = 0;
  std::vector<platform::ScAction> failureActions;
  bool failureActionsOnNonCrashFailures = false;
  // The service process's history, kept by RunServiceProcess (harness/agent_process.h): how
  // often it was started, what its last stop reported, and the failures the actions count.
  uint32_t starts = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t failureCount = 0;
  uint64_t lastFailureMs = 0;
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
