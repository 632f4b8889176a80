#include "trap/trap.h"

#include "common/alloc.h"
#include "common/report.h"
#include "common/text.h"
#include "platform/platform.h"

namespace crv {
namespace {

bool SameIdentity(const ADAPTERCONDITION& record, const PortIdentity& port) {
  return record.slot == port.slot && record.locationSlot == port.locationSlot &&
         record.bus == port.bus && record.device == port.device && record.function == port.function;
}

bool SameGuid(const ADAPTERCONDITION& record, const char16_t* guid) {
  return guid != nullptr && record.guid[0] != 0 && EqualsNoCase(record.guid, guid);
}

// Within one generation a place may hold several ports that could not be located: the GUID
// tells them apart.
bool SamePort(const ADAPTERCONDITION& record, const PortIdentity& port) {
  return SameIdentity(record, port) &&
         (port.guid == nullptr || record.guid[0] == 0 || SameGuid(record, port.guid));
}

uint64_t HashIdentity(uint32_t slot, uint32_t locationSlot, uint32_t bus, uint32_t device,
                      uint32_t function) {
  const uint32_t words[] = {slot, locationSlot, bus, device, function};
  return HashWords(words, 5);
}

uint64_t HashIdentity(const PortIdentity& p) {
  return HashIdentity(p.slot, p.locationSlot, p.bus, p.device, p.function);
}

uint64_t HashIdentity(const ADAPTERCONDITION& r) {
  return HashIdentity(r.slot, r.locationSlot, r.bus, r.device, r.function);
}

void ReportAllocationFailure(const char16_t* message) {
  uint32_t error = platform::Os().kernel->GetLastError();
  Report(kReportAllocationFailed, nullptr, error);
  ReportInfo(message, error);
}

}  // namespace

CTrap::CTrap() { currentByIdentity_.Start(); }

CTrap::~CTrap() {
  FreeBlock(previousBefore_);
  FreeBlock(previousAfter_);
}

void CTrap::BeginGeneration() {
  previous_.Clear();
  current_.MoveTo(previous_);
  currentByIdentity_.Start();
  IndexPrevious();
}

void CTrap::IndexPrevious() {
  previousByIdentity_.Start();
  FreeBlock(previousBefore_);
  FreeBlock(previousAfter_);
  previousBefore_ = previousAfter_ = nullptr;
  if (!previousByIdentity_.Usable()) return;
  uint32_t count = PreviousCount();
  platform::Kernel& kernel = *platform::Os().kernel;
  uint32_t lastError = kernel.GetLastError();
  size_t bytes = sizeof(uint32_t) * (count != 0 ? count : 1);
  previousBefore_ = static_cast<uint32_t*>(AllocateZeroed(bytes));
  previousAfter_ = static_cast<uint32_t*>(AllocateZeroed(bytes));
  bool filed = previousBefore_ != nullptr && previousAfter_ != nullptr;
  uint32_t position = 0;
  for (ADAPTERCONDITIONNODE* node = previous_.Head(); filed && node != nullptr;
       node = node->next, ++position) {
    filed = previousByIdentity_.Add(HashIdentity(*node->element), node);
    if (filed) {
      previousBefore_[position] = position == 0 ? ListIndex::kNone : position - 1;
      previousAfter_[position] = position + 1 == count ? ListIndex::kNone : position + 1;
    }
  }
  if (!filed) {
    kernel.SetLastError(lastError);
    previousByIdentity_.Release();
  }
}

ADAPTERCONDITIONNODE* CTrap::TakePrevious(const PortIdentity& port) {
  if (previousByIdentity_.Usable()) {
    for (uint32_t e = previousByIdentity_.First(HashIdentity(port)); e != ListIndex::kNone;
         e = previousByIdentity_.Next(e)) {
      auto* node = static_cast<ADAPTERCONDITIONNODE*>(previousByIdentity_.Value(e));
      if (!SameIdentity(*node->element, port)) continue;
      uint32_t before = previousBefore_[e], after = previousAfter_[e];
      auto* predecessor =
          before == ListIndex::kNone
              ? nullptr
              : static_cast<ADAPTERCONDITIONNODE*>(previousByIdentity_.Value(before));
      previous_.Unlink(predecessor, node);
      if (before != ListIndex::kNone) previousAfter_[before] = after;
      if (after != ListIndex::kNone) previousBefore_[after] = before;
      previousByIdentity_.Remove(e);
      return node;
    }
    return nullptr;
  }
  ADAPTERCONDITIONNODE* predecessor = nullptr;
  ADAPTERCONDITIONNODE* node = previous_.Head();
  while (node != nullptr && !SameIdentity(*node->element, port)) {
    predecessor = node;
    node = node->next;
  }
  if (node != nullptr) previous_.Unlink(predecessor, node);
  return node;
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

uint32_t CTrap::PreviousConditionOf(const char16_t* guid) const {
  for (const ADAPTERCONDITIONNODE* node = previous_.Head(); node != nullptr; node = node->next) {
    if (SameGuid(*node->element, guid)) return node->element->condition;
  }
  return 0;
}

uint32_t CTrap::CarryCondition(const PortIdentity& port) {
  ADAPTERCONDITIONNODE* node = TakePrevious(port);
  if (node == nullptr) {
    // Read before the new record joins any list: a port that lost its place (its class key
    // gone, its PnP record unreadable after a rebuild) is still the adapter it was, and
    // starting it unknown would raise a trap for a link that did not change.
    uint32_t carried = port.guid != nullptr ? PreviousConditionOf(port.guid) : 0;
    node = AllocateConditionNode();
    if (node == nullptr) return 1;
    ADAPTERCONDITION& record = *node->element;
    record.slot = port.slot;
    record.locationSlot = port.locationSlot;
    record.bus = port.bus;
    record.device = port.device;
    record.function = port.function;
    record.condition = carried != 0 ? carried : 1;
  }
  node->element->guid[0] = 0;
  if (port.guid != nullptr) CopyBounded(node->element->guid, kConditionGuidChars, port.guid);
  current_.Append(node);
  currentByIdentity_.Add(HashIdentity(*node->element), node);
  return node->element->condition;
}

void CTrap::SetAdapterCondition(const PortIdentity& port, uint32_t condition) {
  auto same = [&port](const ADAPTERCONDITIONNODE& node) { return SamePort(*node.element, port); };
  ADAPTERCONDITIONNODE* found = nullptr;
  if (currentByIdentity_.Usable()) {
    found = currentByIdentity_.FindFirst<ADAPTERCONDITIONNODE>(HashIdentity(port), same);
  } else {
    for (found = current_.Head(); found != nullptr && !same(*found); found = found->next) {
    }
  }
  if (found != nullptr) {
    found->element->condition = condition;
    return;
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

}  // namespace crv
