#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/api/machine_internals.h"

#include <algorithm>
#include <cstdio>

#include "common/utf.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/file_time.h"

namespace sim {
namespace {

class EventLogApi : public platform::EventLog {
 public:
  EventLogApi(Machine& machine, SimEventLog& log)
      : machine_(machine), internals_(machine), log_(log) {}

  platform::EventSource RegisterEventSource(const char16_t* sourceName) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegisterEventSourceW)) {
      internals_.SetLastError(*fault);
      return nullptr;
    }
    if (sourceName == nullptr || *sourceName == 0) {
      internals_.SetLastError(platform::kErrorInvalidParameter);
      return nullptr;
    }
    return log_.Register(sourceName);
  }

  bool ReportEvent(platform::EventSource source, uint16_t type, uint16_t category, uint32_t eventId,
                   uint16_t count, const char16_t* const* strings) override {
    if (auto fault = internals_.CheckFault(FaultCall::kReportEventW)) return Fail(*fault);
    const std::u16string* name = log_.SourceOf(source);
    if (name == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (count > 0 && strings == nullptr) return Fail(platform::kErrorInvalidParameter);
    EventRecord record;
    record.timeMs = machine_.NowMs();
    record.source = *name;
    record.type = type;
    record.category = category;
    record.eventId = eventId;
    for (uint16_t i = 0; i < count; ++i) {
      if (strings[i] == nullptr) return Fail(platform::kErrorInvalidParameter);
      // Windows refuses an insert longer than 31839 characters.
      std::u16string text(strings[i]);
      if (text.size() > 31839) return Fail(platform::kErrorInvalidParameter);
      record.strings.push_back(std::move(text));
    }
    log_.Add(std::move(record));
    return true;
  }

  bool DeregisterEventSource(platform::EventSource source) override {
    if (auto fault = internals_.CheckFault(FaultCall::kDeregisterEventSource)) return Fail(*fault);
    if (!log_.Deregister(source)) return Fail(platform::kErrorInvalidHandle);
    return true;
  }

 private:
  bool Fail(uint32_t error) {
    internals_.SetLastError(error);
    return false;
  }

  Machine& machine_;
  MachineInternals internals_;
  SimEventLog& log_;
};

}  // namespace

SimEventLog::SimEventLog(Machine& machine) : api_(std::make_unique<EventLogApi>(machine, *this)) {}

SimEventLog::~SimEventLog() = default;

platform::EventSource SimEventLog::Register(const std::u16string& source) {
  uintptr_t handle = nextHandle_;
  nextHandle_ += 4;
  sources_.emplace_back(handle, source);
  ++openSources_;
  return reinterpret_cast<platform::EventSource>(handle);
}

const std::u16string* SimEventLog::SourceOf(platform::EventSource handle) const {
  auto key = reinterpret_cast<uintptr_t>(handle);
  for (const auto& [open, name] : sources_) {
    if (open == key) return &name;
  }
  return nullptr;
}

bool SimEventLog::Deregister(platform::EventSource handle) {
  auto key = reinterpret_cast<uintptr_t>(handle);
  auto it = std::find_if(sources_.begin(), sources_.end(),
                         [key](const auto& entry) { return entry.first == key; });
  if (it == sources_.end()) return false;
  sources_.erase(it);
  --openSources_;
  return true;
}

std::string EventLevelName(uint16_t type) {
  switch (type) {
    case platform::kEventLogErrorType:
      return "Error";
    case platform::kEventLogWarningType:
      return "Warning";
    case platform::kEventLogInformationType:
      return "Information";
    default:
      return "Type " + std::to_string(type);
  }
}

}  // namespace sim
