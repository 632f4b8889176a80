#include "trap/trap.h"

#include "common/report.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "trap/trap_time.h"

namespace crv {
namespace {

bool SameIdentity(const ADAPTERCONDITION& record, const PortIdentity& port) {
  return record.slot == port.slot && record.locationSlot == port.locationSlot &&
         record.bus == port.bus && record.device == port.device && record.function == port.function;
}

void ReportAllocationFailure(const char16_t* message) {
  uint32_t error = platform::Os().kernel->GetLastError();
  Report(kReportAllocationFailed, nullptr, error);
  ReportInfo(message, error);
}

}  // namespace

void CTrap::BeginGeneration() {
  previous_.Clear();
  current_.MoveTo(previous_);
}

ADAPTERCONDITIONNODE* CTrap::AllocateConditionNode() {
  auto* record = static_cast<ADAPTERCONDITION*>(AllocateZeroed(sizeof(ADAPTERCONDITION)));
  if (record == nullptr) {
    ReportAllocationFailure(u"CTrap::AllocateConditionNode: failure to allocate ADAPTERCONDITION");
    return nullptr;
  }
  ADAPTERCONDITIONNODE* node = SinglyLinkedList<ADAPTERCONDITION>::NewNode(record);
  if (node == nullptr) {
    ReportAllocationFailure(
        u"CTrap::AllocateConditionNode: failure to allocate ADAPTERCONDITIONNODE");
    FreeBlock(record);
  }
  return node;
}

uint32_t CTrap::CarryCondition(const PortIdentity& port) {
  ADAPTERCONDITIONNODE* previous = nullptr;
  ADAPTERCONDITIONNODE* node = previous_.Head();
  while (node != nullptr && !SameIdentity(*node->element, port)) {
    previous = node;
    node = node->next;
  }
  if (node != nullptr) {
    previous_.Unlink(previous, node);
  } else {
    node = AllocateConditionNode();
    if (node == nullptr) return 1;
    ADAPTERCONDITION& record = *node->element;
    record.slot = port.slot;
    record.locationSlot = port.locationSlot;
    record.bus = port.bus;
    record.device = port.device;
    record.function = port.function;
    record.condition = 1;
  }
  current_.Append(node);
  return node->element->condition;
}

void CTrap::SetAdapterCondition(const PortIdentity& port, uint32_t condition) {
  for (ADAPTERCONDITIONNODE* node = current_.Head(); node != nullptr; node = node->next) {
    if (SameIdentity(*node->element, port)) {
      node->element->condition = condition;
      return;
    }
  }
  ReportInfo(u"CTrap::SetAdapterCondition: failed to find adapter.",
             port.device + port.slot * 65536u);
}

uint32_t CTrap::CurrentCount() const {
  uint32_t n = 0;
  current_.ForEach([&](const ADAPTERCONDITION&) { ++n; });
  return n;
}

uint32_t CTrap::PreviousCount() const {
  uint32_t n = 0;
  previous_.ForEach([&](const ADAPTERCONDITION&) { ++n; });
  return n;
}

void WriteTrapRecord(const TrapRecord& record) {
  const char16_t* trapKey = TrapKeyName(record.trapCode);
  if (trapKey == nullptr) return;
  CRegistryKey tree = RootKey().Open(kTreeKeyPath, platform::kKeyAllAccess, true);
  if (tree.LastError() != 0) return;
  {
    CRegistryKey created =
        tree.Create(trapKey, nullptr, platform::kRegOptionVolatile, platform::kKeyAllAccess);
  }
  CRegistryKey trap = tree.Open(trapKey, platform::kKeyAllAccess, true);
  if (trap.LastError() != 0) return;
  platform::FileTime now;
  platform::Os().kernel->GetSystemTimeAsFileTime(&now);
  char16_t name[kTrapValueNameChars];
  FormatTrapValueName(UniqueTrapFileTime(now), name, kTrapValueNameChars);
  trap.SetValue(name, platform::kRegBinary, &record, sizeof record);
}

}  // namespace crv
