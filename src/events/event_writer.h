// Writing the agent's events to the Application log as source CRVNicMgmt. Each event
// registers the source, reports and deregisters it again, so no handle outlives a write and
// the two threads that write never share one. A source that cannot be registered, or an
// event it refuses, costs one report on the debugger output and nothing else: the caller's
// last error is kept and nothing it wrote is touched.
#pragma once

#include <cstdint>

#include "publish/records.h"

namespace crv {

// The event of id (its level from the message table) with count inserted texts. False when
// it could not be written (reported).
bool WriteEvent(uint32_t eventId, uint16_t count, const char16_t* const* strings);

// The agent started, with its poll interval.
void WriteAgentStartedEvent(uint32_t pollIntervalMs);
// The collection thread gives up after its last failed build, with the build's status.
void WriteCollectionStoppedEvent(uint32_t status);
// A collection pass is stuck, with how long it has run in seconds.
void WriteCollectionStalledEvent(uint32_t seconds);
// The link event of a trap record (the same moment and data): the port within its card, its
// slot, its PCI location (the record's bus and device, and the port's function), the
// interface by connection name and description, and for a redundancy trap the team's ports
// with link and its ports. A code that is no trap writes nothing.
void WriteTrapEvent(const TrapRecord& trap, uint32_t pciFunction, const InterfaceMapRecord& iface);

}  // namespace crv
