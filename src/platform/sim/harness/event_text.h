// The agent's events as the Event Viewer shows them: the message file the agent registers for
// its source is its own message table, so the text belongs with the harness, not with the
// simulated event log, which keeps only what was reported.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sim/api/event_log_sim.h"

namespace sim {

// The event's sentence with its inserts put in (%1 .. %99), as FormatMessage does from the
// agent's message table; an id the table does not hold gives the Event Viewer's line for a
// missing description, with the inserts.
std::u16string FormatEventMessage(const EventRecord& event);
// One line: the time (UTC, to the millisecond), level, id, source and sentence.
std::string FormatEventLine(const EventRecord& event, uint64_t startFileTime);

}  // namespace sim
