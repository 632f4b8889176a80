// A snapshot of the system's interface table with the IPv4 address table taken at the same
// moment; the interface filter; and the row matching behind the change test.
#pragma once

#include <cstdint>

#include "common/list_index.h"
#include "platform/ip_helper.h"

namespace crv {

class CIFTable {
 public:
  CIFTable() = default;
  CIFTable(const CIFTable&) = delete;
  CIFTable& operator=(const CIFTable&) = delete;
  virtual ~CIFTable();

  // Takes the snapshot; the status of the interface-table part (0 for success). A missing
  // address table does not fail it.
  uint32_t Init();

  uint32_t GetRowCount() const { return rowCount_; }
  // Row i, for i below the row count (not checked).
  platform::MibIfRow& GetRow(uint32_t i) { return table_->table[i]; }
  const platform::MibIfRow& GetRow(uint32_t i) const { return table_->table[i]; }
  // The IPv4 address table of the snapshot, or null when it could not be read.
  const platform::MibIpAddrTable* GetIpAddrTableRef() const { return addressTable_; }

  // The interface filter: whether row i is an interface the agent manages.
  bool IsManagedInterface(uint32_t i) const;
  // Whether row i is the interface of an NDIS filter bound to an adapter rather than an
  // adapter's own: such a row carries its adapter's address and is never managed.
  bool IsFilterRow(uint32_t i) const;
  // Whether a row of an earlier snapshot still denotes the same interface in this one.
  // Claims the row it matches by address, so call it on a fresh snapshot only.
  bool MatchesRow(const platform::MibIfRow& earlier);
  // The index of the last software loopback row, 0 when there is none.
  uint32_t FindLoopbackIndex() const;
  // The index of the first unclaimed row with the earlier row's physical address (0 when
  // none); that row is claimed.
  uint32_t FindIndexByAddress(const platform::MibIfRow& earlier);
  // Files the rows by physical address and notes the loopback index, so that the two
  // searches above need no walk of the table. The rows must not change afterwards, except
  // by the claims of FindIndexByAddress.
  void IndexRows();

 private:
  // Notes which rows are filter rows, from the system's own flags where it gives them.
  void MarkFilterRows();
  // The fallback: whether row i's description names it a filter of another row.
  bool NamedAsFilterRow(uint32_t i) const;

  platform::MibIfTable* table_ = nullptr;
  uint32_t rowCount_ = 0;
  uint8_t* filterRows_ = nullptr;  // one byte a row, 1 for a filter row; null: none marked
  platform::MibIpAddrTable* addressTable_ = nullptr;
  ListIndex byAddress_;
  bool loopbackKnown_ = false;
  uint32_t loopbackIndex_ = 0;
};

// GetIfTable, reporting any answer other than success and "buffer too small".
uint32_t MyGetIfTable(platform::MibIfTable* table, uint32_t* size, bool sorted);
// GetIpAddrTable into a new block the caller frees with FreeBlock.
uint32_t MyGetIpAddrTable(platform::MibIpAddrTable** table);

// Whether the system's interface table differs from a kept snapshot: the row count, or a
// managed row of the fresh table that no longer matches the kept row at its position. An
// unreadable table is never a change.
bool HasTableChangedSince(const CIFTable& kept);

}  // namespace crv
