// The agent's model of the machine's network interfaces for one configuration: built from
// one snapshot of the interface table, published once per cycle, destroyed (with the
// published tree) when the interface table changes.
#pragma once

#include <cstdint>

#include "collect/if_table.h"
#include "common/list_index.h"
#include "common/slist.h"
#include "model/logical_adapter.h"
#include "publish/records.h"

namespace crv {

class CMiniportList;
class CTrap;
class CWin32NetAdapterList;

using LOGADAPTERNODE = ListNode<CLogicalAdapter>;

class CIFList {
 public:
  // Restarts the numbering of the published values.
  CIFList();
  CIFList(const CIFList&) = delete;
  CIFList& operator=(const CIFList&) = delete;
  // Restarts the numbering, destroys the model and deletes the published tree.
  virtual ~CIFList();

  // Builds the model and creates the published tree; 0 on success, otherwise an error
  // code (the caller then destroys the list).
  uint32_t Build(CTrap* trap);
  // A new node holding a new logical adapter, or null (reported).
  LOGADAPTERNODE* AllocateLogAdapterNode();
  // One cycle of refresh and publication.
  uint32_t PublishCycle();
  // 1 when the system's interface table no longer matches the one the list was built from.
  uint32_t HasInterfaceTableChanged() const;
  // True when the list was built without the teams' answer and the teams can be read now:
  // the model is then to be rebuilt. Asks WMI only while the teams are pending.
  bool TeamsBecameReadable() const;

  uint32_t Status() const { return status_; }
  uint32_t AdapterCount() const { return adapterCount_; }
  bool HasEthernet() const { return hasEthernet_ != 0; }
  const CIFTable* Table() const { return table_; }
  // The interface indexes of the team members' own rows (no TCP/IP is bound to them), as
  // the build found them.
  const uint32_t* TeamMemberRows() const { return memberRows_; }
  uint32_t TeamMemberRowCount() const { return memberRowCount_; }
  LOGADAPTERNODE* Head() const { return adapters_.Head(); }

 private:
  uint32_t CollectAdapters(CMiniportList& miniports);
  void GroupAdapters(const CMiniportList& miniports);
  // Joins a VLAN interface to the first earlier VLAN interface of its team (found through
  // the index of those grouped so far, or by walking the list before node).
  void GroupVlan(CLogicalAdapter& adapter, LOGADAPTERNODE* node, const ListIndex& vlansByTeam);
  void MapSlots(const CWin32NetAdapterList& pnpList);

  SinglyLinkedList<CLogicalAdapter> adapters_;
  uint32_t status_ = 0;
  uint32_t adapterCount_ = 0;
  MibStatsRecord mibHeader_{};
  SoftwareRevisionsRecord softwareRevisions_{};
  uint8_t overallCondition_ = 0;
  uint32_t hasEthernet_ = 0;
  bool teamsPending_ = false;  // built without the teams' answer, team interfaces withheld
  CTrap* trap_ = nullptr;      // not owned
  CIFTable* table_ = nullptr;
  uint32_t* memberRows_ = nullptr;  // null when it could not be allocated: no member is watched
  uint32_t memberRowCount_ = 0;
};

}  // namespace crv
