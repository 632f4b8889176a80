// advapi32 RegisterEventSourceW, ReportEventW and DeregisterEventSource on the local machine.
#include "events/event_messages.h"
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"
// The ids windmc gave the message table compiled into the module.
#include "crvnicmgmt_events.h"

namespace platform::win32 {
namespace {

static_assert(MSG_AGENT_STARTED == crv::kEventAgentStarted);
static_assert(MSG_CONNECTIVITY_LOST == crv::kEventConnectivityLost);
static_assert(MSG_CONNECTIVITY_REGAINED == crv::kEventConnectivityRegained);
static_assert(MSG_REDUNDANCY_INCREASED == crv::kEventRedundancyIncreased);
static_assert(MSG_REDUNDANCY_REDUCED == crv::kEventRedundancyReduced);
static_assert(MSG_COLLECTION_STOPPED == crv::kEventCollectionStopped);
static_assert(kEventLogErrorType == EVENTLOG_ERROR_TYPE);
static_assert(kEventLogWarningType == EVENTLOG_WARNING_TYPE);
static_assert(kEventLogInformationType == EVENTLOG_INFORMATION_TYPE);

class Win32EventLog final : public EventLog {
 public:
  EventSource RegisterEventSource(const char16_t* sourceName) override {
    return reinterpret_cast<EventSource>(RegisterEventSourceW(nullptr, Wide(sourceName)));
  }

  bool ReportEvent(EventSource source, uint16_t type, uint16_t category, uint32_t eventId,
                   uint16_t count, const char16_t* const* strings) override {
    return ReportEventW(reinterpret_cast<HANDLE>(source), type, category, eventId, nullptr, count,
                        0, reinterpret_cast<const wchar_t**>(const_cast<const char16_t**>(strings)),
                        nullptr) != FALSE;
  }

  bool DeregisterEventSource(EventSource source) override {
    return ::DeregisterEventSource(reinterpret_cast<HANDLE>(source)) != FALSE;
  }
};

}  // namespace

EventLog& EventLogBackend() {
  static Win32EventLog eventLog;
  return eventLog;
}

}  // namespace platform::win32
