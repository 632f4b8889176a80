#include "collect/link_state_watch.h"

#include "collect/if_list.h"
#include "common/alloc.h"
#include "common/report.h"
#include "platform/platform.h"

namespace crv {

void CLinkStateWatch::Arm(const CIFList& list, bool allPorts) {
  if (!on_) return;
  uint32_t capacity = list.TeamMemberRowCount();
  if (allPorts) capacity += list.AdapterCount();
  auto* rows = static_cast<Watched*>(AllocateZeroed(sizeof(Watched) * (capacity + 1)));
  if (rows == nullptr) {
    // Watching the old rows would look at interfaces the model no longer has; the next
    // build tries again.
    ReportInfo(u"Link state watch: no memory for the rows, polling until the next build", 0);
    FreeBlock(rows_);
    rows_ = nullptr;
    count_ = 0;
    return;
  }
  uint32_t count = 0;
  for (uint32_t i = 0; i < list.TeamMemberRowCount() && on_; ++i) {
    Add(rows, &count, list.TeamMemberRows()[i]);
  }
  for (LOGADAPTERNODE* node = list.Head(); allPorts && node != nullptr && on_; node = node->next) {
    const CLogicalAdapter& adapter = *node->element;
    // A team's interfaces follow their members, which are watched already.
    if (adapter.TeamNumber() != CLogicalAdapter::kNoTeam) continue;
    if (adapter.IfType() != platform::kIfTypeEthernetCsmacd) continue;
    if (count < capacity) Add(rows, &count, adapter.OwnInterfaceIndex());
  }
  if (!on_) {
    FreeBlock(rows);
    return;
  }
  // A system that knows no row's medium would never show a change (Wine 8.0 answers unknown
  // for every interface but the loopback).
  bool anyKnown = false;
  for (uint32_t i = 0; i < count; ++i) {
    anyKnown = anyKnown || rows[i].state != platform::kMediaConnectStateUnknown;
  }
  if (count != 0 && !anyKnown) {
    FreeBlock(rows);
    ReportInfo(u"Link state watch: no media state from GetIfEntry2, polling only", count);
    Stop();
    return;
  }
  FreeBlock(rows_);
  rows_ = rows;
  count_ = count;
}

void CLinkStateWatch::Add(Watched* rows, uint32_t* count, uint32_t interfaceIndex) {
  for (uint32_t i = 0; i < count_; ++i) {
    if (rows_[i].interfaceIndex == interfaceIndex) {
      rows[(*count)++] = rows_[i];
      return;
    }
  }
  uint32_t state = 0;
  if (Ask(interfaceIndex, &state)) rows[(*count)++] = Watched{interfaceIndex, state};
}

bool CLinkStateWatch::Changed() {
  bool changed = false;
  for (uint32_t i = 0; i < count_ && on_; ++i) {
    uint32_t state = 0;
    if (!Ask(rows_[i].interfaceIndex, &state)) return false;
    if (state != rows_[i].state) changed = true;
    rows_[i].state = state;
  }
  return changed;
}

bool CLinkStateWatch::Ask(uint32_t interfaceIndex, uint32_t* state) {
  platform::IfRow2Flags row;
  row.interfaceIndex = interfaceIndex;
  uint32_t status = platform::Os().ipHelper->GetIfEntry2(&row);
  if (status == 0) {
    *state = row.mediaConnectState;
    return true;
  }
  // A row that has gone is a change of the interface table, which the pass finds.
  if (status == platform::kErrorFileNotFound) {
    *state = kGone;
    return true;
  }
  ReportInfo(u"Link state watch: GetIfEntry2 failed, team members' links wait for the poll",
             status);
  Stop();
  return false;
}

void CLinkStateWatch::Stop() {
  on_ = false;
  FreeBlock(rows_);
  rows_ = nullptr;
  count_ = 0;
}

}  // namespace crv
