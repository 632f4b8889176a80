// The per-cycle part of a port: link, duplex and speed from the driver, octets from the
// interface table, Ethernet counters, the start-up link rule and the trap-pending rule.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "common/ansi_text.h"
#include "common/process_state.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "model/logical_adapter.h"
#include "model/physical_adapter.h"
#include "platform/ndis.h"
#include "platform/platform.h"
#include "trap/trap.h"

namespace crv {
namespace {

// Driver counters and where each goes in the port record. The record is packed, so its
// fields are reached by offset and copied, never through a pointer to a misaligned member.
struct CounterField {
  uint32_t oid;
  size_t offset;
};

constexpr CounterField kEthernetCounters[] = {
    {platform::kOidGenXmitOk, offsetof(PhysAdapterRecord, framesTransmittedOk)},
    {platform::kOidGenRcvOk, offsetof(PhysAdapterRecord, framesReceivedOk)},
    {platform::kOid8023RcvErrorAlignment, offsetof(PhysAdapterRecord, alignmentErrors)},
    {platform::kOidGenRcvCrcError, offsetof(PhysAdapterRecord, fcsErrors)},
    {platform::kOid8023XmitOneCollision, offsetof(PhysAdapterRecord, singleCollisionFrames)},
    {platform::kOid8023XmitMoreCollisions, offsetof(PhysAdapterRecord, multipleCollisionFrames)},
    {platform::kOid8023XmitDeferred, offsetof(PhysAdapterRecord, deferredTransmissions)},
    {platform::kOid8023XmitLateCollisions, offsetof(PhysAdapterRecord, lateCollisions)},
    {platform::kOid8023XmitMaxCollisions, offsetof(PhysAdapterRecord, excessiveCollisions)},
    {platform::kOid8023XmitUnderrun, offsetof(PhysAdapterRecord, internalMacTransmitErrors)},
    {platform::kOid8023XmitTimesCrsLost, offsetof(PhysAdapterRecord, carrierSenseErrors)},
    {platform::kOid8023RcvOverrun, offsetof(PhysAdapterRecord, internalMacReceiveErrors)},
};

// A sum only when every part is non-zero.
uint32_t SumWhenAllSet(std::initializer_list<uint32_t> parts) {
  uint32_t sum = 0;
  for (uint32_t part : parts) {
    if (part == 0) return 0;
    sum += part;
  }
  return sum;
}

}  // namespace

void CPhysicalAdapter::GetEthernetStats() {
  record_.frameTooLongs = 0;
  CounterQuery queries[std::size(kEthernetCounters)];
  uint32_t values[std::size(kEthernetCounters)];
  for (size_t i = 0; i < std::size(kEthernetCounters); ++i) {
    // Counters keep their last value when a query fails: packed fields are read and written
    // through aligned copies.
    std::memcpy(&values[i],
                reinterpret_cast<const uint8_t*>(&record_) + kEthernetCounters[i].offset,
                sizeof values[i]);
    queries[i] = CounterQuery{kEthernetCounters[i].oid, &values[i]};
  }
  miniport_->QueryCounters(queries, static_cast<uint32_t>(std::size(queries)));
  for (size_t i = 0; i < std::size(kEthernetCounters); ++i) {
    std::memcpy(reinterpret_cast<uint8_t*>(&record_) + kEthernetCounters[i].offset, &values[i],
                sizeof values[i]);
  }
  record_.transmitErrorSum =
      SumWhenAllSet({record_.deferredTransmissions, record_.excessiveCollisions,
                     record_.internalMacTransmitErrors, record_.carrierSenseErrors});
  record_.receiveErrorSum =
      SumWhenAllSet({record_.fcsErrors, record_.lateCollisions, record_.internalMacReceiveErrors,
                     record_.alignmentErrors});
}

void CPhysicalAdapter::UpdateStartupLinkTable() {
  StartupLinkTable& table = State().startupLinks;
  uint8_t stored = 0;
  bool found = table.Find(record_.deviceDescription, &stored);
  // A team member first published once the teams could be read was there from the start.
  bool lateTeamMember =
      !found && cycle_ == State().teamsReadCycle && miniport_->TeamIndex() != CMiniport::kNoTeam;
  if (cycle_ <= 1 || lateTeamMember) {
    table.Set(record_.deviceDescription, record_.linkCondition);
    return;
  }
  if (!found) {
    miniport_->ClearLinkNeverSeen();
  } else if (stored != record_.linkCondition && record_.linkCondition != kConditionOther) {
    miniport_->ClearLinkNeverSeen();
    table.Remove(record_.deviceDescription);
  }
}

uint32_t CPhysicalAdapter::Refresh(uint32_t* speed, CycleSnapshot* cycle) {
  uint32_t counter = State().cycleCounter;
  if (cycle_ == counter) {  // shared port list: refreshed once per cycle
    *speed = record_.linkSpeed;
    return 0;
  }
  cycle_ = counter;
  std::snprintf(record_.pciIdentity, sizeof record_.pciIdentity, "PCIID0x%.8X,SUBSYSID0x%.8X",
                miniport_->PciId(), miniport_->SubsystemId());
  uint8_t previous = record_.linkCondition;
  record_.speedDuplexConfig = GetSpeedDuplexConfig(miniport_->Guid(), cycle);

  LinkInformation link{};
  uint32_t result = miniport_->GetDynamicData(&link);
  // A port that could no longer be located has no driver family whose procedure would answer:
  // its link is the connect state every miniport answers (the one the team rule asks), so
  // that it keeps the condition it carried until that link changes.
  if (result == 0 && linkFromConnectState_ && link.linkStatus == kLinkUnknown) {
    miniport_->GetLinkStatus(&link.linkStatus);
  }
  if (result != 0) {
    record_.linkCondition = kConditionOther;
    record_.duplex = kDuplexUnknown;
    record_.linkSpeed = 0;
    *speed = 0;
  } else {
    record_.linkCondition = static_cast<uint8_t>(link.linkStatus);
    record_.duplex = static_cast<uint8_t>(link.duplex);
    bool down = link.linkStatus == kLinkUnknown || link.linkStatus == kLinkFailure;
    record_.linkSpeed = down ? 0 : link.speed;
    *speed = record_.linkSpeed;
    // A version that could not be read is asked for again while the port answers.
    if (record_.firmwareVersion[0] == 0) {
      GetFirmwareVersion(*miniport_, record_.firmwareVersion, sizeof record_.firmwareVersion);
    }
  }
  uint8_t condition = record_.linkCondition;
  if (condition == kConditionOther || condition == kConditionOk || condition == kConditionFailed) {
    record_.conditionCopies[0] = condition;
    record_.conditionCopies[1] = condition;
  }
  UpdateStartupLinkTable();
  if (miniport_->LinkNeverSeen()) {
    // Until the link has been seen, anything but a working link reads as unknown.
    for (uint8_t* value :
         {&record_.linkCondition, &record_.conditionCopies[0], &record_.conditionCopies[1]}) {
      if (*value != kConditionOk) *value = kConditionOther;
    }
  }
  if (miniport_->TeamIndex() == CMiniport::kNoTeam) record_.teamRole = kTeamRoleNone;

  platform::MibIfRow row{};
  row.dwIndex = record_.interfaceIndex;
  if (platform::Os().ipHelper->GetIfEntry(&row) == 0) {
    record_.receivedOctets = row.dwInOctets;
    record_.sentOctets = row.dwOutOctets;
  }
  if (miniport_->Medium() == platform::kNdisMedium802_3) GetEthernetStats();
  std::snprintf(record_.pciLocation, sizeof record_.pciLocation, "0000:%.2X:%.2X.%.1X", bus_,
                device_, function_);
  result = Publish();
  ApplyTrapRule(previous);
  return result;
}

void CPhysicalAdapter::ApplyTrapRule(uint8_t previous) {
  uint8_t current = record_.linkCondition;
  bool neverSeen = miniport_->LinkNeverSeen();
  trapPending_ = 0;
  if (record_.teamRole == kTeamRoleNone) {
    if (current == previous) return;
    bool quiet = (current == kConditionOther && previous == kConditionOk) || neverSeen;
    trapPending_ = quiet ? 0 : 1;
    if (trap_ != nullptr) trap_->SetAdapterCondition(TrapIdentity(), current);
    return;
  }
  // In a team the link is asked once more; a failed question raises nothing.
  uint32_t now = kLinkUnknown;
  bool answered = miniport_->GetLinkStatus(&now) == 0;
  if (answered && now != previous) {
    bool quiet = (now == kConditionOther && previous == kConditionOk) ||
                 (neverSeen && (now == kConditionOther || now == kConditionOk)) ||
                 (neverSeen && (now == 3 || now == kConditionFailed) && cycle_ > 1);
    trapPending_ = quiet ? 0 : 1;
  }
  if (trap_ != nullptr) trap_->SetAdapterCondition(TrapIdentity(), current);
}

}  // namespace crv
