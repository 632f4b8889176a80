// One managed interface of the interface table: a single adapter, a team, a VLAN interface
// or the loopback. It owns its ports (a secondary VLAN interface borrows its primary's),
// keeps the interface, VLAN and statistics records it publishes, refreshes them once per
// cycle and writes a trap record for every port whose link change is trap-pending.
#pragma once

#include <cstdint>

#include "common/slist.h"
#include "discovery/miniport.h"
#include "model/adapter.h"
#include "model/physical_adapter.h"
#include "platform/ip_helper.h"
#include "publish/records.h"

namespace crv {

class CMiniportList;
class CTrap;
class CycleSnapshot;
class IpAddressIndex;

using PHYSADAPTERNODE = ListNode<CPhysicalAdapter>;

class CLogicalAdapter : public CAdapter {
 public:
  static constexpr uint32_t kNoTeam = 0xFFFFFFFFu;
  static constexpr uint32_t kMaxPorts = 16;

  CLogicalAdapter();
  // Destroys the ports unless the list is borrowed, and the statistics record.
  ~CLogicalAdapter() override;

  virtual const uint8_t* GetPhysAddr() const { return record_.macAddress; }
  // Writes InterfaceMap (unless a secondary VLAN interface), VlanMap (a VLAN interface) and
  // Statistics (an Ethernet interface).
  virtual void PublishInterface(bool sharesPortList);

  // Fills the adapter from an interface row and pairs it with its miniport: 0,
  // kErrorFileNotFound when no miniport matches (the caller drops the adapter), or a system
  // error. An index of the address table spares the walk of the table.
  uint32_t Init(const platform::MibIfRow& row, CTrap* trap, CMiniportList& miniports,
                const platform::MibIpAddrTable* addresses,
                const IpAddressIndex* addressIndex = nullptr);
  // Creates the ports from the adapter's own miniport, or a team's members from the list.
  uint32_t BuildPortList(const CMiniportList& miniports);
  PHYSADAPTERNODE* AllocatePhysAdapterNode();
  void AddMemberIndex(uint32_t interfaceIndex);
  void AddVlanNumber(uint32_t vlanMapNumber);
  // One cycle for this interface; cycle is what the cycle read once for all interfaces, or
  // null to ask the system.
  void Refresh(bool sharesPortList, CycleSnapshot* cycle);
  // The connection name and first IPv6 address of the adapter with this name (its GUID),
  // searched in the cycle's list when there is one; 1 when either was found.
  uint32_t GetConnectionInfo(const char16_t* adapterName, char* ipv6Text, char* connectionName,
                             CycleSnapshot* cycle);

  uint32_t OwnInterfaceIndex() const { return record_.memberIndexes[0]; }
  uint32_t TeamNumber() const { return teamNumber_; }
  uint32_t VlanIndicator() const { return vlan_.vlanIndicator; }
  // A team's own interface that carries no VLAN id (NIC Teaming's default team interface).
  bool IsUntaggedTeamInterface() const {
    return teamNumber_ != kNoTeam && (teamFlags_ & kTeamFlagTeamInterface) != 0 &&
           vlan_.vlanIndicator == 0;
  }
  uint8_t Grouping() const { return record_.grouping; }
  uint8_t Condition() const { return record_.condition; }
  uint32_t InterfaceMapNumber() const { return record_.interfaceMapNumber; }
  void SetInterfaceMapNumber(uint32_t number) { record_.interfaceMapNumber = number; }
  uint32_t VlanMapNumber() const { return vlan_.vlanMapNumber; }
  uint8_t VlanCount() const { return record_.vlanCount; }
  void SetVlanCount(uint8_t count) { record_.vlanCount = count; }
  VlanMapRecord& Vlan() { return vlan_; }
  const InterfaceMapRecord& Record() const { return record_; }
  const StatisticsRecord* Statistics() const { return statistics_; }
  PHYSADAPTERNODE* PortListHead() const { return sharesPortList_ ? borrowedPorts_ : ports_.Head(); }
  // A secondary VLAN interface takes its primary's ports without owning them.
  void BorrowPortList(PHYSADAPTERNODE* head) {
    borrowedPorts_ = head;
    sharesPortList_ = 1;
  }
  bool SharesPortList() const { return sharesPortList_ != 0; }
  const TrapRecord& LastTrap() const { return trapRecord_; }

 private:
  void RefreshFromPort(const CPhysicalAdapter& port, uint32_t portSpeed);
  void RefreshTeam();
  void RaiseTrap(const CPhysicalAdapter& port);
  void AddPortCounters(const PhysAdapterRecord& port);
  void SetLastChange(uint32_t lastChange);

  SinglyLinkedList<CPhysicalAdapter> ports_;
  PHYSADAPTERNODE* borrowedPorts_ = nullptr;
  uint32_t sharesPortList_ = 0;
  uint32_t teamNumber_ = kNoTeam;
  uint32_t teamFlags_ = 0;
  InterfaceMapRecord record_{};
  VlanMapRecord vlan_{};
  StatisticsRecord* statistics_ = nullptr;  // owned; Ethernet interfaces only
  TrapRecord trapRecord_{};
  CTrap* trap_ = nullptr;  // not owned
};

}  // namespace crv
