// The trap sink: each port's last link condition, carried across rebuilds of the interface
// list in two generations, and the writing of trap records into the published tree.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/list_index.h"
#include "common/slist.h"
#include "publish/records.h"
#include "trap/trap_record_writer.h"

namespace crv {

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and its terminator.
constexpr size_t kConditionGuidChars = 39;

// A port's identity (the first five fields), its last link condition, and the GUID of the
// adapter it was last seen as.
struct ADAPTERCONDITION {
  uint32_t slot;
  uint32_t locationSlot;
  uint32_t bus;
  uint32_t device;
  uint32_t function;
  uint32_t condition;  // 1 unknown, 2 ok, 4 link failure
  char16_t guid[kConditionGuidChars];
};
using ADAPTERCONDITIONNODE = ListNode<ADAPTERCONDITION>;

// Where a port sits, and the GUID of its adapter (borrowed; null: not known). Ports that
// cannot be located share one place; their GUIDs tell them apart.
struct PortIdentity {
  uint32_t slot;
  uint32_t locationSlot;
  uint32_t bus;
  uint32_t device;
  uint32_t function;
  const char16_t* guid = nullptr;
};

class CTrap {
 public:
  CTrap();
  CTrap(const CTrap&) = delete;
  CTrap& operator=(const CTrap&) = delete;
  virtual ~CTrap();

  // The current generation becomes the previous one (the old previous one is destroyed),
  // and an empty current generation starts.
  void BeginGeneration();
  // The port's condition from the previous generation, its record moved into the current
  // one; a new record with condition 1 when there is none. A port whose place has no record
  // (one that can no longer be located, or that moved) takes the condition of the record
  // with its GUID. 1 when nothing can be allocated.
  uint32_t CarryCondition(const PortIdentity& port);
  // Stores the condition in the port's record of the current generation (reported when the
  // port has none).
  void SetAdapterCondition(const PortIdentity& port, uint32_t condition);
  // A node holding a zeroed record, or null (reported).
  ADAPTERCONDITIONNODE* AllocateConditionNode();

  // Writes a trap record, keeping its key within the trap record limit.
  void WriteRecord(const TrapRecord& record) { writer_.Write(record); }
  void SetTrapRecordLimit(uint32_t limit) { writer_.SetLimit(limit); }
  const CTrapRecordWriter& Writer() const { return writer_; }

  // For tests and traces: the number of records in each generation.
  uint32_t CurrentCount() const;
  uint32_t PreviousCount() const;

 private:
  // Files the previous generation by identity, in list order, with the neighbours of each
  // record so that a record found through the index is unlinked without a walk.
  void IndexPrevious();
  // The first record of the previous generation with that identity, unlinked; null when none.
  ADAPTERCONDITIONNODE* TakePrevious(const PortIdentity& port);
  // The condition of the first record of the previous generation with that GUID, left in
  // place; 0 when none.
  uint32_t PreviousConditionOf(const char16_t* guid) const;

  SinglyLinkedList<ADAPTERCONDITION> current_;
  SinglyLinkedList<ADAPTERCONDITION> previous_;
  // Current generation by identity (records are only appended to it); previous generation
  // by identity, the entries numbered by list position, with the live neighbours of each
  // position (kNone at the ends).
  ListIndex currentByIdentity_;
  ListIndex previousByIdentity_;
  uint32_t* previousBefore_ = nullptr;
  uint32_t* previousAfter_ = nullptr;
  CTrapRecordWriter writer_{kDefaultTrapRecordLimit};
};

}  // namespace crv
