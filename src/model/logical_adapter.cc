#include "model/logical_adapter.h"

#include <cstring>

#include "common/alloc.h"
#include "common/process_state.h"
#include "common/report.h"
#include "common/saturating.h"
#include "discovery/miniport.h"
#include "discovery/miniport_list.h"
#include "platform/os_access.h"
#include "platform/platform.h"
#include "publish/published_tree.h"

namespace crv {
namespace {

const char kNotAvailable[] = "N/A";

void ReportAllocationFailure(const char16_t* message, uint32_t error) {
  Report(kReportAllocationFailed, nullptr, error);
  ReportInfo(message, error);
}

}  // namespace

CLogicalAdapter::CLogicalAdapter() {
  record_.grouping = kGroupingUnknown;
  record_.fixedOne = 1;
  record_.condition = kConditionOther;
  record_.status = kInterfaceStatusOther;
  std::memcpy(record_.ipv6Address, kNotAvailable, sizeof kNotAvailable);
  vlan_.vlanMapNumber = kAllOnes;
  vlan_.interfaceIndex = kAllOnes;
  std::memcpy(vlan_.reservedText16, kNotAvailable, sizeof kNotAvailable);
  std::memcpy(vlan_.reservedText528, kNotAvailable, sizeof kNotAvailable);
  std::memcpy(vlan_.connectionName, kNotAvailable, sizeof kNotAvailable);
}

CLogicalAdapter::~CLogicalAdapter() {
  FreeBlock(statistics_);
  if (!sharesPortList_) ports_.Clear();
}

void CLogicalAdapter::SetLastChange(uint32_t lastChange) {
  record_.lastChangeTime = SubtractOrZero(lastChange, State().agentStartTime);
}

uint32_t CLogicalAdapter::Init(const platform::MibIfRow& row, CTrap* trap, CMiniportList& miniports,
                               const platform::MibIpAddrTable* addresses,
                               const IpAddressIndex* addressIndex) {
  trap_ = trap;
  ifType_ = row.dwType;
  record_.memberIndexes[0] = row.dwIndex;
  record_.memberCount = 1;
  record_.speedBitsPerSecond = row.dwSpeed;
  SetLastChange(row.dwLastChange);

  uint8_t address[platform::kMaxPhysAddrLength] = {};
  uint32_t addressLength = row.dwPhysAddrLen > platform::kMaxPhysAddrLength
                               ? platform::kMaxPhysAddrLength
                               : row.dwPhysAddrLen;
  if (ifType_ == platform::kIfTypeSoftwareLoopback || row.dwPhysAddrLen == 0) {
    record_.condition = kConditionOther;
    record_.status = kInterfaceStatusOther;
    if (row.dwPhysAddrLen == 0) ifType_ = 1;
    record_.addressAssignment = kAddressStatic;
    addressLength = platform::kMaxPhysAddrLength;  // eight zero bytes
  } else {
    CMiniport* miniport = miniports.AllocateMiniport(row, addresses, addressIndex);
    if (miniport == nullptr) {
      record_.condition = kConditionOther;
      record_.status = kInterfaceStatusOther;
      ifType_ = 1;
      ReportInfo(u"CLogicalAdapter::Init: search for miniport based on mac address failed!",
                 platform::kErrorFileNotFound);
      return platform::kErrorFileNotFound;
    }
    vlan_.vlanIndicator = miniport->TeamAttribute();
    teamNumber_ = miniport->TeamIndex();
    teamFlags_ = miniport->TeamFlags();
    if (teamNumber_ != kNoTeam) {
      record_.portCount = miniport->TeamMemberCount();
      record_.grouping = kGroupingTeam;
    } else {
      record_.portCount = 1;
      record_.grouping = kGroupingSingle;
    }
    std::memcpy(address, row.bPhysAddr, addressLength);
  }
  physAddrLength_ = addressLength;
  std::memcpy(record_.macAddress, address, sizeof record_.macAddress);
  // The description as the table states its length, kept terminated inside its field.
  size_t descriptionLength =
      row.dwDescrLen < sizeof record_.description ? row.dwDescrLen : sizeof record_.description - 1;
  size_t textLength = strnlen(reinterpret_cast<const char*>(row.bDescr), descriptionLength);
  std::memcpy(record_.description, row.bDescr, textLength);

  if (ifType_ == platform::kIfTypeEthernetCsmacd) {
    statistics_ = static_cast<StatisticsRecord*>(AllocateZeroed(sizeof(StatisticsRecord)));
    if (statistics_ == nullptr) {
      uint32_t error = LastError();
      ReportAllocationFailure(u"CLogicalAdapter::Init: malloc of Ethernet stats table failed",
                              error);
      return error;
    }
    statistics_->interfaceIndex = OwnInterfaceIndex();
  }
  return 0;
}

PHYSADAPTERNODE* CLogicalAdapter::AllocatePhysAdapterNode() {
  CPhysicalAdapter* port = NewObject<CPhysicalAdapter>();
  if (port == nullptr) {
    ReportAllocationFailure(
        u"CLogicalAdapter::AllocatePhysAdapterNode: failure to allocate CPhysicalAdapter",
        LastError());
    return nullptr;
  }
  PHYSADAPTERNODE* node = SinglyLinkedList<CPhysicalAdapter>::NewNode(port);
  if (node == nullptr) {
    ReportAllocationFailure(
        u"CLogicalAdapter::AllocatePhysAdapterNode: failure to allocate PHYSADAPTERNODE",
        LastError());
    DeleteObject(port);
  }
  return node;
}

uint32_t CLogicalAdapter::BuildPortList(const CMiniportList& miniports) {
  if (record_.portCount == 1 && teamNumber_ == kNoTeam) {
    // A single adapter's one port is its own miniport; without one there is no port.
    if (miniport_ == nullptr) return platform::kErrorInvalidData;
    PHYSADAPTERNODE* node = AllocatePhysAdapterNode();
    if (node == nullptr) return kReportAllocationFailed;
    uint32_t status = node->element->Init(*miniport_, this, ifType_, trap_);
    if (status != 0) {
      SinglyLinkedList<CPhysicalAdapter>::DestroyNode(node);
      return status;
    }
    record_.portNumbers[0] = static_cast<uint8_t>(node->element->PortNumber());
    ports_.Append(node);
    return 0;
  }
  uint32_t built = 0;
  uint32_t status = 0;
  miniports.ForEachTeamMember(teamNumber_, [&](const CMiniport& member) {
    if (built >= record_.portCount || built >= kMaxPorts) return false;
    PHYSADAPTERNODE* node = AllocatePhysAdapterNode();
    if (node == nullptr) {
      status = kReportAllocationFailed;
      return false;
    }
    status = node->element->Init(member, this, ifType_, trap_);
    if (status != 0) {
      SinglyLinkedList<CPhysicalAdapter>::DestroyNode(node);
      return false;
    }
    record_.portNumbers[built++] = static_cast<uint8_t>(node->element->PortNumber());
    ports_.Append(node);
    return true;
  });
  return status;
}

void CLogicalAdapter::AddMemberIndex(uint32_t interfaceIndex) {
  for (uint32_t& entry : record_.memberIndexes) {
    if (entry == 0) {
      entry = interfaceIndex;
      ++record_.memberCount;
      return;
    }
  }
}

void CLogicalAdapter::AddVlanNumber(uint32_t vlanMapNumber) {
  for (uint8_t& entry : record_.vlanMapNumbers) {
    if (entry == 0) {
      entry = static_cast<uint8_t>(vlanMapNumber);
      return;
    }
  }
}

void CLogicalAdapter::PublishInterface(bool sharesPortList) {
  if (!sharesPortList) {
    WriteNumberedValue(kLogInterfaceMapKeyPath, kInterfaceMapPrefix, record_.interfaceMapNumber,
                       &record_, sizeof record_);
  }
  if (vlan_.vlanIndicator != 0) {
    WriteNumberedValue(kVlanInterfaceKeyPath, kVlanMapPrefix, vlan_.vlanMapNumber, &vlan_,
                       sizeof vlan_);
  }
  if (ifType_ == platform::kIfTypeEthernetCsmacd && statistics_ != nullptr) {
    WriteNumberedValue(kEthernetStatisticsKeyPath, kStatisticsPrefix, statistics_->interfaceIndex,
                       statistics_, sizeof *statistics_);
  }
}

}  // namespace crv
