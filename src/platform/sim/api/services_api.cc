// OpenSCManagerW and friends on the simulated service database, with Windows' answers: a
// duplicate create fails, stopping a stopped service answers 1062, a deleted service is
// gone once its last handle closes.
#include <map>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

using platform::ScHandle;

constexpr uint32_t kScManagerCreateService = 0x0002;
constexpr uint32_t kScManagerEnumerateService = 0x0004;
constexpr uint32_t kErrorInvalidServiceControl = 1052;
// Rights a caller without administrator rights gets on the manager.
constexpr uint32_t kUserManagerRights =
    platform::kScManagerConnect | kScManagerEnumerateService | 0x0010 /*query lock status*/;

struct OpenObject {
  bool isManager = false;
  std::u16string service;  // for service handles
  uint32_t access = 0;
};

class ServiceManagerApi : public platform::ServiceManager {
 public:
  explicit ServiceManagerApi(Machine& machine) : machine_(machine), internals_(machine) {}

  ScHandle OpenSCManager(const char16_t*, const char16_t*, uint32_t access) override {
    if (auto fault = internals_.CheckFault(FaultCall::kOpenSCManagerW)) return Fail(*fault);
    if (!db().administrator() && (access & ~kUserManagerRights) != 0) {
      return Fail(platform::kErrorAccessDenied);
    }
    return NewHandle(OpenObject{true, {}, access});
  }

  ScHandle OpenService(ScHandle manager, const char16_t* name, uint32_t access) override {
    if (auto fault = internals_.CheckFault(FaultCall::kOpenServiceW)) return Fail(*fault);
    if (!IsManager(manager)) return Fail(platform::kErrorInvalidHandle);
    if (name == nullptr) return Fail(platform::kErrorInvalidParameter);
    ServiceRecord* record = db().Find(name);
    if (record == nullptr) return Fail(platform::kErrorServiceDoesNotExist);
    // A service marked for deletion still opens until its last handle closes.
    return NewHandle(OpenObject{false, record->name, access});
  }

  ScHandle CreateService(ScHandle manager, const char16_t* name, const char16_t* displayName,
                         uint32_t access, uint32_t serviceType, uint32_t startType,
                         uint32_t errorControl, const char16_t* binaryPath, const char16_t*,
                         const char16_t*, const char16_t* account, const char16_t*) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCreateServiceW)) return Fail(*fault);
    auto it = handles_.find(manager);
    if (it == handles_.end() || !it->second.isManager) return Fail(platform::kErrorInvalidHandle);
    if ((it->second.access & kScManagerCreateService) == 0) {
      return Fail(platform::kErrorAccessDenied);
    }
    if (name == nullptr || *name == 0 || binaryPath == nullptr) {
      return Fail(platform::kErrorInvalidParameter);
    }
    if (ServiceRecord* existing = db().Find(name)) {
      return Fail(existing->markedForDelete ? platform::kErrorServiceMarkedForDelete
                                            : platform::kErrorServiceExists);
    }
    ServiceRecord record;
    record.name = name;
    record.displayName = displayName ? displayName : name;
    record.serviceType = serviceType;
    record.startType = startType;
    record.errorControl = errorControl;
    record.binaryPath = binaryPath;
    record.account = account ? account : u"";
    db().Add(record);
    return NewHandle(OpenObject{false, record.name, access});
  }

  bool ControlService(ScHandle service, uint32_t control,
                      platform::ServiceStatus* status) override {
    if (auto fault = internals_.CheckFault(FaultCall::kControlService)) return FailBool(*fault);
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) return FailBool(platform::kErrorInvalidHandle);
    if (control != platform::kServiceControlStop) return FailBool(kErrorInvalidServiceControl);
    if ((handles_[service].access & platform::kServiceStop) == 0) {
      return FailBool(platform::kErrorAccessDenied);
    }
    if (!record->running) return FailBool(platform::kErrorServiceNotActive);
    record->running = false;
    if (status != nullptr) {
      *status = platform::ServiceStatus{};
      status->serviceType = record->serviceType;
      status->currentState = platform::kServiceStopPending;
    }
    return true;
  }

  bool DeleteService(ScHandle service) override {
    if (auto fault = internals_.CheckFault(FaultCall::kDeleteService)) return FailBool(*fault);
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) return FailBool(platform::kErrorInvalidHandle);
    if ((handles_[service].access & platform::kDelete) == 0) {
      return FailBool(platform::kErrorAccessDenied);
    }
    if (record->markedForDelete) return FailBool(platform::kErrorServiceMarkedForDelete);
    record->markedForDelete = true;
    return true;
  }

  bool SetFailureActions(ScHandle service, uint32_t resetPeriodS, const platform::ScAction* actions,
                         uint32_t count) override {
    if (auto fault = internals_.CheckFault(FaultCall::kChangeServiceConfig2W))
      return FailBool(*fault);
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) return FailBool(platform::kErrorInvalidHandle);
    if (count != 0 && actions == nullptr) return FailBool(platform::kErrorInvalidParameter);
    bool restarts = false;
    for (uint32_t i = 0; i < count; ++i)
      restarts = restarts || actions[i].type == platform::kScActionRestart;
    const uint32_t access = handles_[service].access;
    if ((access & platform::kServiceChangeConfig) == 0 ||
        (restarts && (access & platform::kServiceStart) == 0)) {
      return FailBool(platform::kErrorAccessDenied);
    }
    if (record->markedForDelete) return FailBool(platform::kErrorServiceMarkedForDelete);
    record->resetPeriodS = resetPeriodS;
    record->failureActions.assign(actions, actions + count);
    return true;
  }

  bool SetFailureActionsOnNonCrashFailures(ScHandle service, bool on) override {
    if (auto fault = internals_.CheckFault(FaultCall::kChangeServiceConfig2W))
      return FailBool(*fault);
    ServiceRecord* record = ServiceOf(service);
    if (record == nullptr) return FailBool(platform::kErrorInvalidHandle);
    if ((handles_[service].access & platform::kServiceChangeConfig) == 0) {
      return FailBool(platform::kErrorAccessDenied);
    }
    if (record->markedForDelete) return FailBool(platform::kErrorServiceMarkedForDelete);
    record->failureActionsOnNonCrashFailures = on;
    return true;
  }

  bool QueryFailureActions(ScHandle service, uint32_t* resetPeriodS, platform::ScAction* actions,
                           uint32_t capacity, uint32_t* count) override {
    if (auto fault = internals_.CheckFault(FaultCall::kQueryServiceConfig2W))
      return FailBool(*fault);
    const ServiceRecord* record = QueryableService(service);
    if (record == nullptr) return false;
    *resetPeriodS = record->resetPeriodS;
    *count = static_cast<uint32_t>(record->failureActions.size());
    for (uint32_t i = 0; i < *count && i < capacity; ++i) actions[i] = record->failureActions[i];
    return true;
  }

  bool QueryFailureActionsOnNonCrashFailures(ScHandle service, bool* on) override {
    if (auto fault = internals_.CheckFault(FaultCall::kQueryServiceConfig2W))
      return FailBool(*fault);
    const ServiceRecord* record = QueryableService(service);
    if (record == nullptr) return false;
    *on = record->failureActionsOnNonCrashFailures;
    return true;
  }

  bool CloseServiceHandle(ScHandle handle) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCloseServiceHandle)) return FailBool(*fault);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return FailBool(platform::kErrorInvalidHandle);
    std::u16string service = it->second.service;
    handles_.erase(it);
    --machine_.openHandles().services;
    RemoveWhenUnreferenced(service);
    return true;
  }

 private:
  ServiceDatabase& db() { return machine_.services(); }

  ScHandle Fail(uint32_t error) {
    internals_.SetLastError(error);
    return nullptr;
  }
  bool FailBool(uint32_t error) {
    internals_.SetLastError(error);
    return false;
  }

  // The service of a handle opened with SERVICE_QUERY_CONFIG; null with the last error set.
  const ServiceRecord* QueryableService(ScHandle handle) {
    ServiceRecord* record = ServiceOf(handle);
    if (record == nullptr) {
      internals_.SetLastError(platform::kErrorInvalidHandle);
    } else if ((handles_[handle].access & platform::kServiceQueryConfig) == 0) {
      internals_.SetLastError(platform::kErrorAccessDenied);
      return nullptr;
    }
    return record;
  }

  bool IsManager(ScHandle handle) const {
    auto it = handles_.find(handle);
    return it != handles_.end() && it->second.isManager;
  }

  ServiceRecord* ServiceOf(ScHandle handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.isManager) return nullptr;
    return db().Find(it->second.service);
  }

  // A service marked for deletion disappears once it is stopped and no handle refers to it.
  void RemoveWhenUnreferenced(const std::u16string& service) {
    if (service.empty()) return;
    ServiceRecord* record = db().Find(service);
    if (record == nullptr || !record->markedForDelete || record->running) return;
    for (const auto& [handle, object] : handles_) {
      if (!object.isManager && object.service == service) return;
    }
    db().Remove(service);
  }

  ScHandle NewHandle(OpenObject object) {
    nextHandle_ += 8;
    auto handle = reinterpret_cast<ScHandle>(nextHandle_);
    handles_[handle] = std::move(object);
    ++machine_.openHandles().services;
    return handle;
  }

  Machine& machine_;
  MachineInternals internals_;
  std::map<ScHandle, OpenObject> handles_;
  uintptr_t nextHandle_ = 0x51000;
};

}  // namespace

std::unique_ptr<platform::ServiceManager> NewServiceManagerApi(Machine& machine) {
  return std::make_unique<ServiceManagerApi>(machine);
}

}  // namespace sim
