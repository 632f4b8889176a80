#include "collect/if_list.h"

#include "common/alloc.h"
#include "common/process_state.h"
#include "platform/platform.h"
#include "publish/published_tree.h"

namespace crv {

CIFList::CIFList() { ResetNumbering(); }

CIFList::~CIFList() {
  ResetNumbering();
  DeleteObject(table_);
  table_ = nullptr;
  DeleteTree(hasEthernet_ != 0);
}

uint32_t CIFList::CollectAdapters() {
  table_ = NewObject<CIFTable>();
  if (table_ == nullptr) return 0;
  return table_->Init();
}

uint32_t CIFList::Build(CTrap* trap) {
  trap_ = trap;
  uint32_t result = CollectAdapters();
  if (result == 0) {
    mibHeader_.headerMark = kMibStatsHeaderMark;
    mibHeader_.overallCondition = kConditionOk;
    mibHeader_.pollIntervalSeconds = State().pollInterval / 1000;
    status_ = 1;
    softwareRevisions_.revisionMark = kSoftwareRevisionMark;
    softwareRevisions_.separator = kSoftwareRevisionSeparator;
    result = CreateTree(hasEthernet_ != 0);
    if (result == 0) PublishStatus(softwareRevisions_);
  }
  return result;
}

uint32_t CIFList::PublishCycle() {
  WriteDwordValue(kInterfaceKeyPath, kInterfaceDataReadyValue, 0);
  AdvanceCycleCounter();
  uint8_t overall = kConditionOther;
  WriteDwordValue(kInterfaceKeyPath, kInterfaceDataReadyValue, 1);
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
  return 0;
}

uint32_t CIFList::HasInterfaceTableChanged() const {
  CIFTable none;  // a list whose snapshot could not be made compares as an empty table
  return HasTableChangedSince(table_ != nullptr ? *table_ : none) ? 1 : 0;
}

}  // namespace crv
