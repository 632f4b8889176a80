// The per-cycle part of a logical adapter: its ports refreshed, its condition, speed,
// addresses, connection name and statistics recomputed, traps raised, records published.
#include <cstring>
#include <iterator>

#include "common/alloc.h"
#include "common/ansi_text.h"
#include "common/process_state.h"
#include "common/text.h"
#include "discovery/cycle_snapshot.h"
#include "discovery/miniport.h"
#include "discovery/tcpip_parameters.h"
#include "events/event_writer.h"
#include "model/logical_adapter.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "trap/trap.h"

namespace crv {
namespace {

const char kNotAvailable[] = "N/A";
constexpr uint32_t kIpv6SockaddrLength = 28;
constexpr uint32_t kAddressTextChars = 256;
constexpr uint32_t kConnectionNameBytes = 2048;
const char16_t kNetworkControlKey[] =
    u"system\\currentcontrolset\\control\\network\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

// The interface record carries bits per second in 32 bits: faster links read as all ones,
// as the interface table gives them.
uint32_t BitsPerSecond(uint32_t megabitsPerSecond) {
  uint64_t bits = uint64_t{megabitsPerSecond} * 1000000u;
  return bits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bits);
}

}  // namespace

uint32_t CLogicalAdapter::GetConnectionInfo(const char16_t* adapterName, char* ipv6Text,
                                            char* connectionName, CycleSnapshot* cycle) {
  bool found = false;
  platform::IpHelper& ipHelper = *platform::Os().ipHelper;
  bool winsock = false;
  if (record_.condition == kConditionOk || record_.condition == 3) {
    if (ipHelper.WSAStartup(0x0202) != 0) return 0;
    winsock = true;
    auto take = [&](const platform::IpAdapterAddresses& a) {
      ToAnsiField(a.FriendlyName, connectionName, sizeof record_.connectionName);
      found = found || connectionName[0] != 0;
      const platform::SocketAddress& socket = a.FirstUnicastAddress->Address;
      if (socket.lpSockaddr != nullptr) {
        char16_t text[kAddressTextChars] = {};
        uint32_t length = kAddressTextChars;
        if (ipHelper.WSAAddressToString(socket.lpSockaddr, kIpv6SockaddrLength, text, &length) ==
            0) {
          text[kAddressTextChars - 1] = 0;
          ToAnsiField(text, ipv6Text, sizeof record_.ipv6Address);
          found = true;
        }
      }
    };
    // Within a publication cycle every interface looks in the same list, read once.
    if (cycle != nullptr) {
      cycle->ForEachAdapterNamed(adapterName, take);
    } else {
      platform::IpAdapterAddresses* addresses = ReadIpv6AdapterAddresses();
      for (auto* a = addresses; a != nullptr; a = a->Next) {
        if (AdapterNameEquals(a->AdapterName, adapterName) && a->FirstUnicastAddress != nullptr) {
          take(*a);
        }
      }
      FreeBlock(addresses);
    }
  }
  if (connectionName[0] == 0 && adapterName != nullptr) {
    CRegistryKey network = RootKey().Open(kNetworkControlKey, platform::kKeyRead, false);
    CRegistryKey adapter = network.Open(adapterName, platform::kKeyRead, false);
    CRegistryKey connection = adapter.Open(u"Connection", platform::kKeyRead, false);
    if (connection.LastError() == 0) {
      char16_t name[kConnectionNameBytes / 2] = {};
      connection.QueryString(u"Name", name, sizeof name, false);
      ToAnsiField(name, connectionName, sizeof record_.connectionName);
      found = found || connectionName[0] != 0;
    }
  }
  if (winsock) ipHelper.WSACleanup();
  return found ? 1 : 0;
}

// A team is up while any of its ports has link: its links-up count is the number of ports
// with working link (so that losing one of two raises "redundancy reduced", not "lost"), and
// its speed the sum of theirs.
void CLogicalAdapter::RefreshTeam() {
  uint8_t up = 0;
  bool anyKnown = false;
  uint64_t megabits = 0;
  for (PHYSADAPTERNODE* node = PortListHead(); node != nullptr; node = node->next) {
    const PhysAdapterRecord& port = node->element->Record();
    if (port.linkCondition == kConditionOk) {
      ++up;
      megabits += port.linkSpeed;
    }
    if (port.linkCondition != kConditionOther) anyKnown = true;
  }
  record_.portsWithLink = up;
  record_.condition = up > 0 ? kConditionOk : anyKnown ? kConditionFailed : kConditionOther;
  record_.status = up > 0     ? kInterfaceStatusLinkOk
                   : anyKnown ? kInterfaceStatusLinkFailure
                              : kInterfaceStatusOther;
  record_.speedBitsPerSecond =
      BitsPerSecond(megabits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(megabits));
}

void CLogicalAdapter::RefreshFromPort(const CPhysicalAdapter& port, uint32_t portSpeed) {
  if (teamNumber_ != kNoTeam) {
    RefreshTeam();
    return;
  }
  record_.lastChangeTime = 0;
  platform::MibIfRow row{};
  row.dwIndex = OwnInterfaceIndex();
  if (platform::Os().ipHelper->GetIfEntry(&row) == 0) SetLastChange(row.dwLastChange);
  record_.speedBitsPerSecond = BitsPerSecond(portSpeed);
  bool neverSeen = port.GetMiniport() != nullptr && port.GetMiniport()->LinkNeverSeen();
  switch (port.LinkCondition()) {
    case kConditionOk:
      record_.condition = kConditionOk;
      record_.status = kInterfaceStatusLinkOk;
      record_.portsWithLink = 1;
      break;
    case kConditionOther:
      record_.condition = kConditionOther;
      record_.status = kInterfaceStatusOther;
      record_.portsWithLink = neverSeen ? 1 : 0;
      break;
    default:
      record_.condition = neverSeen ? kConditionOther : kConditionFailed;
      record_.status = neverSeen ? kInterfaceStatusOther : kInterfaceStatusLinkFailure;
      record_.portsWithLink = neverSeen ? 1 : 0;
      break;
  }
}

void CLogicalAdapter::RaiseTrap(const CPhysicalAdapter& port) {
  const PhysAdapterRecord& p = port.Record();
  bool team = teamNumber_ != kNoTeam;
  TrapRecord& t = trapRecord_;
  t = TrapRecord{};
  if (p.linkCondition != kConditionOk) {
    t.trapCode =
        team && record_.portsWithLink != 0 ? kTrapRedundancyReduced : kTrapConnectivityLost;
  } else {
    t.trapCode =
        team && record_.portsWithLink > 1 ? kTrapRedundancyIncreased : kTrapConnectivityRegained;
  }
  if (t.trapCode == kTrapRedundancyReduced || t.trapCode == kTrapRedundancyIncreased) {
    t.teamInterfaceMapNumber = record_.interfaceMapNumber;
    t.teamPortsWithLink = record_.portsWithLink;
  }
  t.recordMark = kTrapRecordMark;
  t.portNumber = p.portNumber;
  t.slotNumber = p.slotNumber;
  t.portInCard = p.portInCard;
  t.portCondition = p.conditionCopies[1];
  CopyBounded(t.deviceDescription, sizeof t.deviceDescription, p.deviceDescription);
  CopyBounded(t.partNumber, sizeof t.partNumber, p.partNumber);  // a byte shorter than the port's
  t.ipv4Address = record_.ipv4Address;
  if (record_.ipv6Address[0] == 0) {
    std::memcpy(t.ipv6Address, kNotAvailable, sizeof kNotAvailable);
  } else {
    std::memcpy(t.ipv6Address, record_.ipv6Address, sizeof t.ipv6Address);
  }
  t.pciBus = port.Bus();
  t.pciDevice = port.Device();
  t.interfacePortsWithLink = record_.portsWithLink;
  std::memcpy(t.interfaceMacAddress, record_.macAddress, sizeof t.interfaceMacAddress);
  TrapRecord copy = t;
  trap_->WriteRecord(copy);
  WriteTrapEvent(copy, port.Function(), record_);
}

// An interface's statistics are the sums of its ports' counters: for a team, the frames
// in error over all its links.
void CLogicalAdapter::AddPortCounters(const PhysAdapterRecord& p) {
  StatisticsRecord& s = *statistics_;
  s.alignmentErrors += p.alignmentErrors;
  s.fcsErrors += p.fcsErrors;
  s.singleCollisionFrames += p.singleCollisionFrames;
  s.multipleCollisionFrames += p.multipleCollisionFrames;
  s.deferredTransmissions += p.deferredTransmissions;
  s.lateCollisions += p.lateCollisions;
  s.excessiveCollisions += p.excessiveCollisions;
  s.internalMacTransmitErrors += p.internalMacTransmitErrors;
  s.carrierSenseErrors += p.carrierSenseErrors;
  s.frameTooLongs += p.frameTooLongs;
  s.internalMacReceiveErrors += p.internalMacReceiveErrors;
}

void CLogicalAdapter::Refresh(bool sharesPortList, CycleSnapshot* cycle) {
  PHYSADAPTERNODE* head = PortListHead();
  if (head != nullptr && statistics_ != nullptr) {
    *statistics_ = StatisticsRecord{};
    statistics_->interfaceIndex = OwnInterfaceIndex();
  }
  const char16_t* adapterName = miniport_ != nullptr ? miniport_->Guid() : nullptr;
  for (PHYSADAPTERNODE* node = head; node != nullptr; node = node->next) {
    CPhysicalAdapter& port = *node->element;
    uint32_t portSpeed = 0;
    port.Refresh(&portSpeed, cycle);
    RefreshFromPort(port, portSpeed);
    GetConnectionInfo(adapterName, record_.ipv6Address, record_.connectionName, cycle);
    if (adapterName != nullptr) {
      record_.addressAssignment = IsDhcpEnabled(adapterName) == 1 ? kAddressDhcp : kAddressStatic;
      record_.ipv4Address = GetInterfaceIPv4Address(adapterName);
    }
    if (!sharesPortList && port.TrapPending() && trap_ != nullptr) RaiseTrap(port);
    if (ifType_ == platform::kIfTypeEthernetCsmacd && statistics_ != nullptr) {
      AddPortCounters(port.Record());
    }
  }
  bool noLink = record_.condition == kConditionFailed || record_.condition == kConditionOther ||
                record_.speedBitsPerSecond == 0;
  bool team = record_.grouping == kGroupingTeam;
  if (noLink && (!team || record_.portsWithLink == 0)) {
    std::memcpy(record_.ipv6Address, kNotAvailable, sizeof kNotAvailable);
    record_.speedBitsPerSecond = 0;
  }
  PublishInterface(sharesPortList);
}

}  // namespace crv
