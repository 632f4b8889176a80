#include "model/physical_adapter.h"

#include <cstring>

#include "common/alloc.h"
#include "common/ansi_text.h"
#include "common/report.h"
#include "common/text.h"
#include "discovery/adapter_model_table.h"
#include "discovery/firmware_version.h"
#include "discovery/miniport.h"
#include "discovery/win32_net_adapter.h"
#include "model/logical_adapter.h"
#include "platform/platform.h"
#include "publish/published_tree.h"
#include "trap/trap.h"

namespace crv {

CPhysicalAdapter::CPhysicalAdapter() {
  record_.linkCondition = kConditionOther;
  record_.duplex = kDuplexUnknown;
  record_.conditionCopies[0] = kConditionOther;
  record_.conditionCopies[1] = kConditionOther;
  record_.fixedOne = 1;
  record_.teamRole = 1;
  record_.slotNumber = kAllOnes;
  record_.resourceValue = kAllOnes;
  record_.reserved31 = kAllOnes;
  record_.reserved406 = kAllOnes;
  record_.inventoryValue1 = kAllOnes;
  record_.inventoryValue2 = kAllOnes;
  record_.speedDuplexConfig = 1;
}

CPhysicalAdapter::~CPhysicalAdapter() { owner_ = nullptr; }

uint32_t CPhysicalAdapter::Init(const CMiniport& miniport, CLogicalAdapter* owner, uint32_t ifType,
                                CTrap* trap) {
  owner_ = owner;
  ifType_ = ifType;
  trap_ = trap;
  miniport_ = NewObject<CMiniport>();
  if (miniport_ == nullptr) {
    uint32_t error = platform::Os().kernel->GetLastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CPhysicalAdapter::Init:  failure to allocate new CMiniport", error);
    return error;
  }
  *miniport_ = miniport;
  record_.portNumber = NextPhysPortNumber();
  record_.interfaceIndex = owner->OwnInterfaceIndex();
  if (miniport_->TeamIndex() == CMiniport::kNoTeam) {
    record_.teamRole = kTeamRoleNone;
  } else if (owner->Grouping() == 9) {
    record_.teamRole = 4;
  } else {
    // The team ports as the miniport list states them: the port's own copy keeps none.
    record_.teamRole = miniport.TeamPortA() != miniport.TeamPortB() ? 3 : 2;
  }
  physAddrLength_ = miniport_->CurrentAddressLength();
  miniport_->GetCurrentAddress(record_.macAddress, sizeof record_.macAddress);
  return 0;
}

PortIdentity CPhysicalAdapter::Identity() const {
  return PortIdentity{record_.slotNumber, slot_, bus_, device_, function_, miniport_->Guid()};
}

void CPhysicalAdapter::CarryCondition() {
  // Without a trap sink no condition is carried: the port starts unknown.
  record_.linkCondition = kConditionOther;
  if (trap_ == nullptr) return;
  carriedAs_ = Identity();
  carried_ = true;
  record_.linkCondition = static_cast<uint8_t>(trap_->CarryCondition(carriedAs_));
}

bool CPhysicalAdapter::InitLocation(const CWin32NetAdapterList& pnpList,
                                    const CMiniport& miniport) {
  PciInfo info{};
  if (!pnpList.GetPciInfo(*miniport_, &info)) {
    // Not located (its class key gone, its PnP record unreadable) but still the adapter it
    // was: it keeps its condition, so that a link that held raises nothing.
    CarryCondition();
    linkFromConnectState_ = record_.linkCondition != kConditionOther;
    return false;
  }
  linkFromConnectState_ = false;
  record_.ioBase = info.ioBase;
  record_.resourceValue = info.resourceValue;
  record_.memoryBase = info.memoryBase;
  record_.slotNumber = info.uiNumber == kAllOnes ? 0 : info.uiNumber;
  slot_ = info.slot;
  bus_ = static_cast<uint8_t>(info.bus);
  device_ = info.device;
  function_ = info.function;
  port_ = info.port;
  miniport_->SetPciId(info.pciId);
  miniport_->SetSubsystemId(info.subsystemId);
  CopyBounded(displayName_, kDisplayNameChars, info.displayName);

  CarryCondition();

  FreeBlock(description_);
  description_ = nullptr;
  bool named = pnpList.GetServiceName(*miniport_, &description_);
  if (named) ClassifyDriver(*miniport_, description_);

  uint8_t permanent[CMiniport::kAddressBytes] = {};
  miniport.GetPermanentAddress(permanent, sizeof permanent);
  std::memcpy(record_.macAddress, permanent, sizeof record_.macAddress);
  ToAnsiField(miniport_->PartNumber(), record_.partNumber, sizeof record_.partNumber);
  ToAnsiField(displayName_, record_.deviceDescription, sizeof record_.deviceDescription);
  GetFirmwareVersion(*miniport_, record_.firmwareVersion, sizeof record_.firmwareVersion);
  return named;
}

uint32_t CPhysicalAdapter::Publish() {
  return WriteNumberedValue(kPhysInterfaceKeyPath, kPhysAdapterPrefix, record_.portNumber, &record_,
                            sizeof record_);
}

}  // namespace crv
