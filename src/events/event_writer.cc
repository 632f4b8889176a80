#include "events/event_writer.h"

#include "common/bounded_text.h"
#include "common/report.h"
#include "events/event_messages.h"
#include "platform/platform.h"

namespace crv {
namespace {

uint32_t TrapEventId(uint32_t trapCode) {
  switch (trapCode) {
    case kTrapConnectivityLost:
      return kEventConnectivityLost;
    case kTrapConnectivityRegained:
      return kEventConnectivityRegained;
    case kTrapRedundancyIncreased:
      return kEventRedundancyIncreased;
    case kTrapRedundancyReduced:
      return kEventRedundancyReduced;
    default:
      return 0;
  }
}

}  // namespace

bool WriteEvent(uint32_t eventId, uint16_t count, const char16_t* const* strings) {
  const EventMessage* message = FindEventMessage(eventId);
  if (message == nullptr) return false;
  platform::Kernel& kernel = *platform::Os().kernel;
  platform::EventLog& log = *platform::Os().eventLog;
  const uint32_t callersLastError = kernel.GetLastError();
  bool written = false;
  platform::EventSource source = log.RegisterEventSource(kEventSourceName);
  if (source == nullptr) {
    ReportInfo(u"Event log: failure to register the event source", kernel.GetLastError());
  } else {
    written = log.ReportEvent(source, message->type, 0, eventId, count, strings);
    if (!written) ReportInfo(u"Event log: failure to report an event", kernel.GetLastError());
    log.DeregisterEventSource(source);
  }
  kernel.SetLastError(callersLastError);
  return written;
}

void WriteAgentStartedEvent(uint32_t pollIntervalMs) {
  BoundedText<12> seconds;
  seconds.Decimal(pollIntervalMs / 1000);
  const char16_t* strings[] = {seconds.Text()};
  WriteEvent(kEventAgentStarted, 1, strings);
}

void WriteCollectionStalledEvent(uint32_t seconds) {
  BoundedText<12> text;
  text.Decimal(seconds);
  const char16_t* strings[] = {text.Text()};
  WriteEvent(kEventCollectionStalled, 1, strings);
}

void WriteCollectionStoppedEvent(uint32_t status) {
  BoundedText<12> text;
  text.Hex8(status);
  const char16_t* strings[] = {text.Text()};
  WriteEvent(kEventCollectionStopped, 1, strings);
}

void WriteTrapEvent(const TrapRecord& trap, uint32_t pciFunction, const InterfaceMapRecord& iface) {
  uint32_t eventId = TrapEventId(trap.trapCode);
  if (eventId == 0) return;
  BoundedText<12> port, slot, withLink, ports;
  BoundedText<64> location;
  // Connection names and descriptions are at most 255 bytes each.
  BoundedText<2 * 256 + 4> interface;
  port.Decimal(trap.portInCard);
  slot.Decimal(trap.slotNumber);
  location.Add(u"bus ").Decimal(trap.pciBus).Add(u", device ").Decimal(trap.pciDevice);
  location.Add(u", function ").Decimal(pciFunction);
  // "Ethernet 2 (Intel(R) Ethernet Controller X710)", or whichever of the two is known.
  BoundedText<256> name, description;
  name.Ansi(iface.connectionName, sizeof iface.connectionName);
  description.Ansi(iface.description, sizeof iface.description);
  interface.Add(name.Text());
  if (name.Length() > 0 && description.Length() > 0) interface.Add(u" (");
  interface.Add(description.Text());
  if (name.Length() > 0 && description.Length() > 0) interface.Add(u")");
  if (interface.Length() == 0) interface.Add(u"#").Decimal(iface.interfaceMapNumber);
  withLink.Decimal(trap.teamPortsWithLink);
  ports.Decimal(iface.portCount);
  const char16_t* strings[] = {port.Text(),      slot.Text(),     location.Text(),
                               interface.Text(), withLink.Text(), ports.Text()};
  WriteEvent(eventId, FindEventMessage(eventId)->inserts, strings);
}

}  // namespace crv
