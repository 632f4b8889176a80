#include "events/event_writer.h"

#include "common/ansi_text.h"
#include "common/report.h"
#include "events/event_messages.h"
#include "platform/platform.h"

namespace crv {
namespace {

// Appends to a fixed UTF-16 buffer of kChars characters, cutting what does not fit; always
// terminated.
template <size_t kChars>
class InsertText {
 public:
  const char16_t* Text() const { return text_; }
  size_t Length() const { return length_; }

  InsertText& Add(const char16_t* text) {
    while (text != nullptr && *text != 0 && length_ + 1 < kChars) text_[length_++] = *text++;
    text_[length_] = 0;
    return *this;
  }
  InsertText& Decimal(uint32_t number) {
    char16_t digits[11];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char16_t>(u'0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (count > 0 && length_ + 1 < kChars) text_[length_++] = digits[--count];
    text_[length_] = 0;
    return *this;
  }
  InsertText& Hex8(uint32_t number) {
    Add(u"0x");
    for (int shift = 28; shift >= 0 && length_ + 1 < kChars; shift -= 4) {
      text_[length_++] = u"0123456789ABCDEF"[(number >> shift) & 0xF];
    }
    text_[length_] = 0;
    return *this;
  }
  // An 8-bit text of a published record (at most maxBytes bytes), widened.
  InsertText& Ansi(const char* bytes, size_t maxBytes) {
    char16_t wide[kChars];
    FromAnsiField(bytes, maxBytes, wide, kChars);
    return Add(wide);
  }

 private:
  char16_t text_[kChars] = {};
  size_t length_ = 0;
};

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
  InsertText<12> seconds;
  seconds.Decimal(pollIntervalMs / 1000);
  const char16_t* strings[] = {seconds.Text()};
  WriteEvent(kEventAgentStarted, 1, strings);
}

void WriteCollectionStalledEvent(uint32_t seconds) {
  InsertText<12> text;
  text.Decimal(seconds);
  const char16_t* strings[] = {text.Text()};
  WriteEvent(kEventCollectionStalled, 1, strings);
}

void WriteCollectionStoppedEvent(uint32_t status) {
  InsertText<12> text;
  text.Hex8(status);
  const char16_t* strings[] = {text.Text()};
  WriteEvent(kEventCollectionStopped, 1, strings);
}

void WriteTrapEvent(const TrapRecord& trap, uint32_t pciFunction, const InterfaceMapRecord& iface) {
  uint32_t eventId = TrapEventId(trap.trapCode);
  if (eventId == 0) return;
  InsertText<12> port, slot, withLink, ports;
  InsertText<64> location;
  // Connection names and descriptions are at most 255 bytes each.
  InsertText<2 * 256 + 4> interface;
  port.Decimal(trap.portInCard);
  slot.Decimal(trap.slotNumber);
  location.Add(u"bus ").Decimal(trap.pciBus).Add(u", device ").Decimal(trap.pciDevice);
  location.Add(u", function ").Decimal(pciFunction);
  // "Ethernet 2 (Intel(R) Ethernet Controller X710)", or whichever of the two is known.
  InsertText<256> name, description;
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
