// The Windows event log calls the agent makes (advapi32 RegisterEventSourceW, ReportEventW,
// DeregisterEventSourceW). Errors are in the thread's last error, as Win32 leaves them.
#pragma once

#include <cstdint>

namespace platform {

struct EventSourceTag;
using EventSource = EventSourceTag*;  // the HANDLE of a registered event source

// Event types (the level the Event Viewer shows).
constexpr uint16_t kEventLogErrorType = 0x0001;
constexpr uint16_t kEventLogWarningType = 0x0002;
constexpr uint16_t kEventLogInformationType = 0x0004;

class EventLog {
 public:
  virtual ~EventLog() = default;

  // RegisterEventSourceW on the local machine (null server name). Null on failure.
  virtual EventSource RegisterEventSource(const char16_t* sourceName) = 0;
  // ReportEventW without a user SID and without binary data: type, category, the event id
  // (the message id in the source's message table) and count inserted texts.
  virtual bool ReportEvent(EventSource source, uint16_t type, uint16_t category, uint32_t eventId,
                           uint16_t count, const char16_t* const* strings) = 0;
  // DeregisterEventSource.
  virtual bool DeregisterEventSource(EventSource source) = 0;
};

}  // namespace platform
