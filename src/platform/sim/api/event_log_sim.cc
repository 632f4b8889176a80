#include "platform/sim/api/event_log_sim.h"
#include "platform/sim/api/machine_internals.h"

#include <algorithm>
#include <cstdio>

#include "common/utf.h"
#include "events/event_messages.h"
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

std::u16string FormatEventMessage(const EventRecord& event) {
  const crv::EventMessage* message = crv::FindEventMessage(event.eventId);
  if (message == nullptr) {
    std::u16string line = u"The description for Event ID " +
                          crv::Utf8ToUtf16(std::to_string(event.eventId)) + u" from source " +
                          event.source + u" cannot be found.";
    for (const std::u16string& text : event.strings) line += u" " + text;
    return line;
  }
  // %n followed by digits is the n-th insert; an insert that was not given stays as it is.
  std::u16string out;
  const std::string text = message->text;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      size_t end = i + 1;
      size_t number = 0;
      while (end < text.size() && end < i + 3 && text[end] >= '0' && text[end] <= '9') {
        number = number * 10 + static_cast<size_t>(text[end] - '0');
        ++end;
      }
      if (number <= event.strings.size()) {
        out += event.strings[number - 1];
      } else {
        out += crv::Utf8ToUtf16(text.substr(i, end - i));
      }
      i = end - 1;
    } else {
      out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
    }
  }
  return out;
}

std::string FormatEventLine(const EventRecord& event, uint64_t startFileTime) {
  platform::SystemTime t = FileTimeToSystemTime(startFileTime + event.timeMs * 10000);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.milliseconds);
  char head[160];
  std::snprintf(head, sizeof head, "%s  %-11s  %4u  %s  ", stamp,
                EventLevelName(event.type).c_str(), event.eventId,
                crv::Utf16ToUtf8(event.source).c_str());
  return head + crv::Utf16ToUtf8(FormatEventMessage(event));
}

}  // namespace sim
