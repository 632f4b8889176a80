#include "collect/if_list.h"

#include <iterator>

#include "common/alloc.h"
#include "common/ansi_text.h"
#include "common/process_state.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/cycle_snapshot.h"
#include "discovery/lbfo_teams.h"
#include "discovery/miniport.h"
#include "discovery/miniport_list.h"
#include "discovery/win32_net_adapter.h"
#include "inventory/platform_inventory.h"
#include "platform/os_access.h"
#include "platform/platform.h"
#include "publish/published_tree.h"
#include "publish/registry_key.h"

namespace crv {
namespace {

// COM for the collection thread around one inventory call. A failed initialisation is not
// balanced by an uninitialise, which would take away another user's reference.
class ComForThread {
 public:
  ComForThread() : result_(platform::Os().wmi->CoInitializeEx(platform::kCoinitMultithreaded)) {}
  ~ComForThread() {
    if (result_ >= 0) platform::Os().wmi->CoUninitialize();
  }
  ComForThread(const ComForThread&) = delete;
  ComForThread& operator=(const ComForThread&) = delete;

 private:
  platform::HResult result_;
};

// The bridge's interface index when the VLAN interface is the bridged connection.
void ApplyBridge(VlanMapRecord& vlan) {
  CRegistryKey tree = RootKey().Open(kTreeKeyPath, platform::kKeyRead, false);
  if (tree.LastError() != 0) return;
  CRegistryKey bridging = tree.Open(u"Interface\\BridgingInfo", platform::kKeyRead, true);
  if (bridging.LastError() != 0) return;
  char16_t bridgeName[128] = {};  // 256 bytes
  bridging.QueryString(kBridgeConnectionNameValue, bridgeName, sizeof bridgeName, true);
  char16_t vlanName[sizeof vlan.connectionName + 1];
  FromAnsiField(vlan.connectionName, sizeof vlan.connectionName, vlanName, std::size(vlanName));
  if (!EqualsNoCase(bridgeName, vlanName)) return;
  uint32_t index = vlan.interfaceIndex;
  bridging.QueryDword(kBridgeIfTableIndexValue, &index, true);
  vlan.interfaceIndex = index;
}

}  // namespace

CIFList::CIFList() { ResetNumbering(); }

CIFList::~CIFList() {
  ResetNumbering();
  adapters_.Clear();
  FreeBlock(memberRows_);
  DeleteObject(table_);
  DeleteTree(hasEthernet_ != 0);
}

LOGADAPTERNODE* CIFList::AllocateLogAdapterNode() {
  CLogicalAdapter* adapter = NewObject<CLogicalAdapter>();
  if (adapter == nullptr) {
    uint32_t error = LastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CIFList::AllocateLogAdapterNode: failure to allocate CLogicalAdapter", error);
    Report(kReportInformation, nullptr, error);
    return nullptr;
  }
  LOGADAPTERNODE* node = SinglyLinkedList<CLogicalAdapter>::NewNode(adapter);
  if (node == nullptr) {
    uint32_t error = LastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CIFList::AllocateLogAdapterNode: failure to allocate LOGADAPTERNODE", error);
    DeleteObject(adapter);
  }
  return node;
}

uint32_t CIFList::CollectAdapters(CMiniportList& miniports) {
  table_ = NewObject<CIFTable>();
  if (table_ == nullptr) return 0;
  uint32_t status = table_->Init();
  if (status != 0) return status;
  IpAddressIndex addressIndex(table_->GetIpAddrTableRef());
  FreeBlock(memberRows_);
  memberRowCount_ = 0;
  memberRows_ =
      static_cast<uint32_t*>(AllocateZeroed(sizeof(uint32_t) * table_->GetRowCount() + 1));
  for (uint32_t i = 0; i < table_->GetRowCount(); ++i) {
    if (!table_->IsManagedInterface(i)) continue;
    if (miniports.IsTeamMemberInterface(table_->GetRow(i))) {
      if (memberRows_ != nullptr) memberRows_[memberRowCount_++] = table_->GetRow(i).dwIndex;
      continue;
    }
    LOGADAPTERNODE* node = AllocateLogAdapterNode();
    if (node == nullptr) return kReportAllocationFailed;
    status = node->element->Init(table_->GetRow(i), trap_, miniports, table_->GetIpAddrTableRef(),
                                 &addressIndex);
    // No miniport: the interface is not managed after all.
    if (status == platform::kErrorFileNotFound) {
      SinglyLinkedList<CLogicalAdapter>::DestroyNode(node);
      continue;
    }
    if (status != 0) {
      SinglyLinkedList<CLogicalAdapter>::DestroyNode(node);
      return status;
    }
    if (node->element->IfType() == platform::kIfTypeEthernetCsmacd) hasEthernet_ = 1;
    adapters_.Append(node);
    ++adapterCount_;
  }
  return 0;
}

void CIFList::GroupVlan(CLogicalAdapter& adapter, LOGADAPTERNODE* node,
                        const ListIndex& vlansByTeam) {
  VlanMapRecord& vlan = adapter.Vlan();
  vlan.vlanMapNumber = NextVlanMapNumber();
  vlan.interfaceIndex = adapter.OwnInterfaceIndex();
  ApplyBridge(vlan);
  adapter.AddVlanNumber(vlan.vlanMapNumber);
  adapter.SetVlanCount(1);
  // The first VLAN interface of the same team, or the team's untagged interface when it came
  // first, is the primary; this one joins it. The team's ports then have one port list, so a
  // link change is counted and raised once, however many interfaces the team has.
  auto isPrimary = [&adapter](const CLogicalAdapter& earlier) {
    return (earlier.VlanIndicator() != 0 || earlier.IsUntaggedTeamInterface()) &&
           earlier.TeamNumber() == adapter.TeamNumber();
  };
  CLogicalAdapter* primary = nullptr;
  if (vlansByTeam.Usable()) {
    primary =
        vlansByTeam.FindFirst<CLogicalAdapter>(HashTeamIndex(adapter.TeamNumber()), isPrimary);
  } else {
    for (LOGADAPTERNODE* earlier = adapters_.Head(); earlier != node; earlier = earlier->next) {
      if (isPrimary(*earlier->element)) {
        primary = earlier->element;
        break;
      }
    }
  }
  if (primary == nullptr) return;
  primary->AddMemberIndex(adapter.OwnInterfaceIndex());
  primary->AddVlanNumber(vlan.vlanMapNumber);
  primary->SetVlanCount(static_cast<uint8_t>(primary->VlanCount() + 1));
  adapter.BorrowPortList(primary->PortListHead());
  vlan.interfaceMapNumber = primary->InterfaceMapNumber();
}

void CIFList::GroupAdapters(const CMiniportList& miniports) {
  // The VLAN interfaces grouped so far, by team: where a later VLAN finds its primary.
  ListIndex vlansByTeam;
  vlansByTeam.Start();
  for (LOGADAPTERNODE* node = adapters_.Head(); node != nullptr; node = node->next) {
    CLogicalAdapter& adapter = *node->element;
    const CMiniport* miniport = miniports.FindByInterface(
        adapter.OwnInterfaceIndex(), adapter.GetPhysAddr(), adapter.GetPhysAddrLength());
    if (miniport != nullptr) adapter.SetMiniport(*miniport);
    if (adapter.IfType() == platform::kIfTypeSoftwareLoopback) {
      adapter.SetInterfaceMapNumber(NextInterfaceMapNumber());
    } else {
      if (adapter.VlanIndicator() != 0) GroupVlan(adapter, node, vlansByTeam);
      if (!adapter.SharesPortList()) {
        adapter.SetInterfaceMapNumber(NextInterfaceMapNumber());
        adapter.BuildPortList(miniports);  // a port that cannot be built does not stop the build
        if (adapter.VlanIndicator() != 0)
          adapter.Vlan().interfaceMapNumber = adapter.InterfaceMapNumber();
      }
    }
    // Filed after its own search, so that a VLAN only finds the ones before it.
    if (adapter.VlanIndicator() != 0 || adapter.IsUntaggedTeamInterface())
      vlansByTeam.Add(HashTeamIndex(adapter.TeamNumber()), &adapter);
  }
}

void CIFList::MapSlots(const CWin32NetAdapterList& pnpList) {
  for (LOGADAPTERNODE* node = adapters_.Head(); node != nullptr; node = node->next) {
    if (node->element->SharesPortList()) continue;
    for (PHYSADAPTERNODE* p = node->element->PortListHead(); p != nullptr; p = p->next) {
      p->element->InitLocation(pnpList, *p->element->GetMiniport());
    }
  }
  {
    ComForThread com;
    LoadPlatformInventory();
  }
  for (LOGADAPTERNODE* node = adapters_.Head(); node != nullptr; node = node->next) {
    if (node->element->SharesPortList()) continue;
    for (PHYSADAPTERNODE* p = node->element->PortListHead(); p != nullptr; p = p->next) {
      CPhysicalAdapter& port = *p->element;
      uint32_t locationSlot = port.LocationSlot() & 0xFFFF;
      uint32_t slot = 0, extended1 = 0, position = 0, extended2 = 0xFFFFFFFFu;
      ComForThread com;
      uint32_t found = LookupAdapterLocation(
          locationSlot == 0 ? 0xFFFFFFFFu : locationSlot, port.Bus(), port.Device() & 0x1F,
          port.Function() & 0x7, port.Port(), &slot, &extended1, &position, &extended2);
      if (found != 0) {
        if (position != 0xFFFFFFFFu) port.SetPortInCard(static_cast<uint8_t>(port.Function() + 1));
        port.SetSlotNumber(slot);
        if (HasExtendedFields() != 0) port.SetInventoryValues(extended1, extended2);
      } else {
        port.SetPortInCard(static_cast<uint8_t>(port.Function() + 1));
      }
    }
  }
}

uint32_t CIFList::Build(CTrap* trap) {
  trap_ = trap;
  uint32_t result = 0;
  CWin32NetAdapterList* pnpList = nullptr;
  CMiniportList* miniports = NewObject<CMiniportList>();
  if (miniports == nullptr) {
    result = kReportAllocationFailed;
  } else {
    result = miniports->Init();
    teamsPending_ = miniports->TeamsPending();
    if (result == 0) result = CollectAdapters(*miniports);
    if (result == 0) {
      GroupAdapters(*miniports);
      pnpList = NewObject<CWin32NetAdapterList>();
      if (pnpList != nullptr && pnpList->Init()) {
        MapSlots(*pnpList);
      } else {
        result = 1;
      }
    }
    DeleteObject(miniports);
  }
  if (result == 0) {
    mibHeader_.headerMark = kMibStatsHeaderMark;
    mibHeader_.overallCondition = kConditionOk;
    mibHeader_.pollIntervalSeconds = State().pollInterval / 1000;
    status_ = 1;
    softwareRevisions_.revisionMark = kSoftwareRevisionMark;
    softwareRevisions_.separator = kSoftwareRevisionSeparator;
    result = CreateTree(hasEthernet_ != 0);
    if (result == 0) PublishStatus(status_, softwareRevisions_);
  }
  DeleteObject(pnpList);
  return result;
}

uint32_t CIFList::PublishCycle() {
  WriteDwordValue(kInterfaceKeyPath, kInterfaceDataReadyValue, 0);
  AdvanceCycleCounter();
  {
    // What every interface or port of this cycle asks the system alike, read once for all.
    CycleSnapshot* snapshot = State().useListIndexes ? NewObject<CycleSnapshot>() : nullptr;
    for (LOGADAPTERNODE* node = adapters_.Head(); node != nullptr; node = node->next) {
      node->element->Refresh(node->element->SharesPortList(), snapshot);
    }
    DeleteObject(snapshot);
  }
  WriteDwordValue(kInterfaceKeyPath, kInterfaceDataReadyValue, 1);
  uint8_t overall = kConditionOther;
  for (LOGADAPTERNODE* node = adapters_.Head(); node != nullptr; node = node->next) {
    if (node->element->Condition() > overall) overall = node->element->Condition();
  }
  overallCondition_ = overall;
  mibHeader_.overallCondition = overall;
  WriteValue(kInterfaceKeyPath, kIfTableInformationValue, platform::kRegBinary, &overallCondition_,
             sizeof overallCondition_);
  WriteValue(kInterfaceKeyPath, kMibStatsValue, platform::kRegBinary, &mibHeader_,
             sizeof mibHeader_);
  if (hasEthernet_ != 0) {
    WriteValue(kEthernetKeyPath, kMibStatsValue, platform::kRegBinary, &mibHeader_,
               sizeof mibHeader_);
  }
  WriteCycleTime();
  return 0;
}

uint32_t CIFList::HasInterfaceTableChanged() const {
  CIFTable none;  // a list whose snapshot could not be made compares as an empty table
  return HasTableChangedSince(table_ != nullptr ? *table_ : none) ? 1 : 0;
}

bool CIFList::TeamsBecameReadable() const { return teamsPending_ && LbfoTeamsReadable(); }

}  // namespace crv
