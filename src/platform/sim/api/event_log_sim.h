// The simulated machine's event log: every event reported through the platform interface is
// recorded (virtual time, source, type, category, id, inserted texts) so that tests and the
// simulator program read them back, and an event is shown as the Event Viewer would show it,
// its sentence taken from the agent's message table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace sim {

class Machine;

struct EventRecord {
  uint64_t timeMs = 0;  // virtual milliseconds since the machine started
  std::u16string source;
  uint16_t type = 0;
  uint16_t category = 0;
  uint32_t eventId = 0;
  std::vector<std::u16string> strings;
};

class SimEventLog {
 public:
  explicit SimEventLog(Machine& machine);
  ~SimEventLog();
  SimEventLog(const SimEventLog&) = delete;
  SimEventLog& operator=(const SimEventLog&) = delete;

  const std::vector<EventRecord>& Events() const { return events_; }
  void Clear() { events_.clear(); }
  // Event sources registered and not yet deregistered (a leak check for tests).
  int64_t OpenSources() const { return openSources_; }

  // The platform interface over this log. Its calls count, and fail, by their Win32 names:
  // "RegisterEventSourceW", "ReportEventW", "DeregisterEventSource".
  platform::EventLog& Api() { return *api_; }

  // --- used by the interface ---
  platform::EventSource Register(const std::u16string& source);
  const std::u16string* SourceOf(platform::EventSource handle) const;
  void Add(EventRecord record) { events_.push_back(std::move(record)); }
  bool Deregister(platform::EventSource handle);

 private:
  std::unique_ptr<platform::EventLog> api_;
  std::vector<EventRecord> events_;
  std::vector<std::pair<uintptr_t, std::u16string>> sources_;
  uintptr_t nextHandle_ = 0x400;
  int64_t openSources_ = 0;
};

// "Information", "Warning" or "Error" (or the type's number).
std::string EventLevelName(uint16_t type);

}  // namespace sim
