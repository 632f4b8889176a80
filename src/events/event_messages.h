// The events the agent writes to the Application log as source CRVNicMgmt: one id per kind,
// its level and the sentence the Event Viewer shows, %1, %2 ... standing for the inserted
// texts. The message table compiled into the module (crvnicmgmt_events.mc) holds the same
// ids and sentences; a test keeps the two equal, and the simulated server formats the
// events it records from this table.
#pragma once

#include <cstdint>

#include "platform/event_log.h"

namespace crv {

// The source name: the key under the Application log and the name passed to
// RegisterEventSourceW.
inline constexpr char16_t kEventSourceName[] = u"CRVNicMgmt";
// Its registration under HKEY_LOCAL_MACHINE: EventMessageFile (REG_EXPAND_SZ, the module
// holding the message table) and TypesSupported (REG_DWORD).
inline constexpr char16_t kEventSourceKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CRVNicMgmt";
inline constexpr char16_t kEventMessageFileValue[] = u"EventMessageFile";
inline constexpr char16_t kTypesSupportedValue[] = u"TypesSupported";

constexpr uint32_t kEventAgentStarted = 1000;
constexpr uint32_t kEventConnectivityLost = 1011;
constexpr uint32_t kEventConnectivityRegained = 1012;
constexpr uint32_t kEventRedundancyIncreased = 1013;
constexpr uint32_t kEventRedundancyReduced = 1014;
constexpr uint32_t kEventCollectionStopped = 1020;
constexpr uint32_t kEventCollectionStalled = 1021;

// The levels the source declares (TypesSupported): error, warning, information.
constexpr uint32_t kEventTypesSupported = platform::kEventLogErrorType |
                                          platform::kEventLogWarningType |
                                          platform::kEventLogInformationType;

struct EventMessage {
  uint32_t id;
  uint16_t type;           // platform::kEventLog*Type
  uint16_t inserts;        // how many texts the sentence takes (%1 .. %inserts)
  const char* symbolName;  // the message table's symbolic name
  const char* text;        // one line, no '!' or line break
};

// The inserts of the four link events: %1 the port within its card, %2 its slot, %3 its PCI
// location, %4 the interface; the redundancy events add %5 the team's ports with link and
// %6 its ports.
inline constexpr EventMessage kEventMessages[] = {
    {kEventAgentStarted, platform::kEventLogInformationType, 1, "MSG_AGENT_STARTED",
     "The Corvane NIC Management Agents started. The network adapters are read and "
     "published every %1 seconds."},
    {kEventConnectivityLost, platform::kEventLogWarningType, 4, "MSG_CONNECTIVITY_LOST",
     "Network connectivity lost on interface %4: port %1 in slot %2 (PCI %3) has no link. "
     "Check the cable and the switch port it is connected to."},
    {kEventConnectivityRegained, platform::kEventLogInformationType, 4, "MSG_CONNECTIVITY_REGAINED",
     "Network connectivity regained on interface %4: port %1 in slot %2 (PCI %3) has link "
     "again."},
    {kEventRedundancyIncreased, platform::kEventLogInformationType, 6, "MSG_REDUNDANCY_INCREASED",
     "Team redundancy increased on interface %4: port %1 in slot %2 (PCI %3) has link again. "
     "%5 of the team's %6 ports now have link."},
    {kEventRedundancyReduced, platform::kEventLogWarningType, 6, "MSG_REDUNDANCY_REDUCED",
     "Team redundancy reduced on interface %4: port %1 in slot %2 (PCI %3) lost its link. "
     "%5 of the team's %6 ports still have link; the team carries on with less redundancy "
     "until the link is back."},
    {kEventCollectionStopped, platform::kEventLogErrorType, 1, "MSG_COLLECTION_STOPPED",
     "The Corvane NIC Management Agents stopped collecting network adapter data: the list of "
     "network interfaces could not be built (last status %1) and no retry is left. The "
     "published adapter data is no longer updated; restart the CRVNicMgmt service to try "
     "again."},
    {kEventCollectionStalled, platform::kEventLogWarningType, 1, "MSG_COLLECTION_STALLED",
     "The Corvane NIC Management Agents found network adapter data collection stuck: a pass "
     "has run for %1 seconds without finishing, held by a call that does not return. The "
     "published adapter data is no longer updated; run as a service, the agent now ends with "
     "an error so that the service control manager restarts it."},
};

// The entry of an id, or null.
constexpr const EventMessage* FindEventMessage(uint32_t id) {
  for (const EventMessage& message : kEventMessages) {
    if (message.id == id) return &message;
  }
  return nullptr;
}

}  // namespace crv
