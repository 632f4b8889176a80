// The operating system's announcement of interface changes, turned into an event the
// collection thread waits on beside its two wake events.
//
// The agent registers with NotifyIpInterfaceChange for both address families. Its callback
// fires for every IP interface that appears, goes, or changes a parameter, and the row it
// carries includes the interface's Connected state, so a cable pull or plug arrives as soon
// as the stack sees the media change, on every adapter bound to TCP/IP, with no COM or WMI
// in the path. (The NDIS media connect and disconnect events of WMI's root\wmi namespace say
// the same per adapter, but need an event query and a COM sink kept alive on another
// apartment thread, and they reach the agent only through the WMI service.) The callback only
// sets the watch's own unnamed event; the collection thread does all the work.
//
// Notifications are not available when the registration fails, or when it succeeds without
// giving a handle to cancel it with: Wine answers NotifyIpInterfaceChange that way and never
// calls back. In both cases the event is null, the thread polls as it always has, and one
// report says so. The REG_DWORD value ImmediateUpdates = 0 under the agent's parameters key
// switches the watch off (no registration at all) for a management service that expects the
// poll rhythm alone.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace crv {

inline constexpr char16_t kImmediateUpdatesValueName[] = u"ImmediateUpdates";

// On unless the parameters key holds ImmediateUpdates as the REG_DWORD 0.
bool ImmediateUpdatesOn();

class CInterfaceChangeWatch {
 public:
  // Creates the event and registers unless switched off. Reports once when notifications are
  // switched off or not available.
  void Start(bool on);
  // The event a notification sets; null when none will come.
  platform::Handle Event() const { return event_; }
  // Cancels the registration and closes the event.
  void Stop();

 private:
  platform::Handle event_ = nullptr;
  platform::Handle registration_ = nullptr;
};

}  // namespace crv
