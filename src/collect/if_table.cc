#include "collect/if_table.h"

#include <cstring>
#include <iterator>

#include "collect/filter_rows.h"
#include "common/alloc.h"
#include "common/ansi_text.h"
#include "common/process_state.h"
#include "common/report.h"
#include "common/text.h"
#include "platform/platform.h"

namespace crv {
namespace {

// Descriptions of rows that are never managed interfaces.
constexpr const char16_t* kExcludedDescriptionParts[] = {u"WAN Miniport",
                                                         u"Microsoft Hyper-V",
                                                         u"WFP LightWeightFilter",
                                                         u"WFP Native MAC Layer",
                                                         u"Microsoft Virtual Network Switch",
                                                         u"QoS Packet Scheduler"};

// The key of the address index: the length and the bytes FindIndexByAddress compares.
uint64_t HashPhysAddr(const platform::MibIfRow& row) {
  uint32_t length = row.dwPhysAddrLen;
  if (length > platform::kMaxPhysAddrLength) length = platform::kMaxPhysAddrLength;
  return HashBytes(row.bPhysAddr, length, row.dwPhysAddrLen);
}

}  // namespace

CIFTable::~CIFTable() {
  FreeBlock(filterRows_);
  FreeBlock(table_);
  FreeBlock(addressTable_);
}

uint32_t MyGetIfTable(platform::MibIfTable* table, uint32_t* size, bool sorted) {
  uint32_t status = platform::Os().ipHelper->GetIfTable(table, size, sorted);
  if (status != 0 && status != platform::kErrorInsufficientBuffer) {
    ReportInfo(u"::MyGetIfTable: GetIfTable failed", status);
  }
  return status;
}

uint32_t MyGetIpAddrTable(platform::MibIpAddrTable** table) {
  platform::IpHelper& ipHelper = *platform::Os().ipHelper;
  uint32_t size = 0;
  uint32_t status = ipHelper.GetIpAddrTable(nullptr, &size, false);
  if (status != platform::kErrorInsufficientBuffer) {
    ReportInfo(u"::GetIpAddrTable failed", status);
    return status;
  }
  *table = static_cast<platform::MibIpAddrTable*>(AllocateZeroed(size));
  if (*table == nullptr) {
    uint32_t error = platform::Os().kernel->GetLastError();
    ReportInfo(u"::GetIpAddrTable: malloc failed", error);
    return error;
  }
  status = ipHelper.GetIpAddrTable(*table, &size, false);
  if (status != 0) {
    ReportInfo(u"::GetIpAddrTable failed", status);
    FreeBlock(*table);
    *table = nullptr;
    return status;
  }
  return 0;
}

uint32_t CIFTable::Init() {
  table_ = nullptr;
  uint32_t size = 0;
  uint32_t status = MyGetIfTable(nullptr, &size, true);
  if (status == platform::kErrorInsufficientBuffer) {
    table_ = static_cast<platform::MibIfTable*>(AllocateZeroed(size));
    if (table_ == nullptr) {
      status = platform::Os().kernel->GetLastError();
      Report(kReportAllocationFailed, nullptr, status);
      ReportInfo(u"CIFTable::Init: malloc of IFTable failed", status);
    } else {
      status = MyGetIfTable(table_, &size, true);
      if (status == 0) {
        rowCount_ = table_->dwNumEntries;
        MarkFilterRows();
      } else {
        // Also when the table grew between the two calls: no second attempt.
        FreeBlock(table_);
        table_ = nullptr;
      }
    }
  } else {
    ReportInfo(u"CIFTable::Init: unexpected error in getiftable", status);
  }
  addressTable_ = nullptr;
  if (MyGetIpAddrTable(&addressTable_) != 0) {
    ReportInfo(u"GetIPAddressTable Failed. VLAN ip address assignment could be incorrect", status);
  }
  return status;
}

void CIFTable::MarkFilterRows() {
  filterRows_ = static_cast<uint8_t*>(AllocateZeroed(rowCount_ != 0 ? rowCount_ : 1));
  if (filterRows_ == nullptr) return;  // IsFilterRow then reads the descriptions each time
  platform::IpHelper& ipHelper = *platform::Os().ipHelper;
  for (uint32_t i = 0; i < rowCount_; ++i) {
    platform::IfRow2Flags flags;
    flags.interfaceIndex = GetRow(i).dwIndex;
    uint32_t status = ipHelper.GetIfEntry2(&flags);
    if (status == 0) {
      filterRows_[i] = flags.filterInterface ? 1 : 0;
      continue;
    }
    filterRows_[i] = NamedAsFilterRow(i) ? 1 : 0;
    // An interface gone since the table was read says nothing about the call itself.
    if (status != platform::kErrorFileNotFound && !State().filterFlagsFailureReported) {
      State().filterFlagsFailureReported = true;
      ReportInfo(u"CIFTable: GetIfEntry2 failed, filter rows told by their descriptions", status);
    }
  }
}

bool CIFTable::NamedAsFilterRow(uint32_t i) const {
  for (uint32_t j = 0; j < rowCount_; ++j) {
    if (j != i && DescribesFilterOf(GetRow(i), GetRow(j))) return true;
  }
  return false;
}

bool CIFTable::IsFilterRow(uint32_t i) const {
  return filterRows_ != nullptr ? filterRows_[i] != 0 : NamedAsFilterRow(i);
}

bool CIFTable::IsManagedInterface(uint32_t i) const {
  if (IsFilterRow(i)) return false;
  const platform::MibIfRow& row = GetRow(i);
  if (row.dwType != platform::kIfTypeEthernetCsmacd &&
      row.dwType != platform::kIfTypeSoftwareLoopback) {
    return false;
  }
  char16_t description[platform::kMaxIfDescrLength + 1];
  FromAnsiField(reinterpret_cast<const char*>(row.bDescr), sizeof row.bDescr, description,
                std::size(description));
  for (const char16_t* part : kExcludedDescriptionParts) {
    if (ContainsText(description, part)) return false;
  }
  // Only the exact text: the multiplexor's own team interfaces carry longer descriptions.
  if (EqualsText(description, u"Microsoft Network Adapter Multiplexor")) return false;
  if (row.dwMtu == 0 && !ContainsText(description, u"Software Loopback Interface 1")) {
    return false;
  }
  if (ContainsText(description, u"Microsoft Kernel Debug Network Adapter") ||
      ContainsText(description, u"Virtual")) {
    return false;
  }
  return true;
}

void CIFTable::IndexRows() {
  loopbackIndex_ = FindLoopbackIndex();
  loopbackKnown_ = State().useListIndexes;
  byAddress_.Start();
  // Filter rows carry their adapter's address but are never the interface an earlier row
  // denotes: left out, they cannot be taken for their adapter whatever their order.
  for (uint32_t i = 0; i < rowCount_; ++i) {
    platform::MibIfRow& row = GetRow(i);
    if (row.dwPhysAddrLen == 0 || IsFilterRow(i)) continue;
    if (!byAddress_.Add(HashPhysAddr(row), &row)) return;
  }
}

uint32_t CIFTable::FindLoopbackIndex() const {
  if (loopbackKnown_) return loopbackIndex_;
  uint32_t index = 0;
  for (uint32_t i = 0; i < rowCount_; ++i) {
    if (GetRow(i).dwType == platform::kIfTypeSoftwareLoopback) index = GetRow(i).dwIndex;
  }
  return index;
}

uint32_t CIFTable::FindIndexByAddress(const platform::MibIfRow& earlier) {
  uint32_t length = earlier.dwPhysAddrLen;
  if (length > platform::kMaxPhysAddrLength) length = platform::kMaxPhysAddrLength;
  auto matches = [&](const platform::MibIfRow& row) {
    return row.dwPhysAddrLen == earlier.dwPhysAddrLen && row.dwPhysAddrLen != 0 &&
           std::memcmp(row.bPhysAddr, earlier.bPhysAddr, length) == 0;
  };
  if (byAddress_.Usable()) {
    for (uint32_t e = byAddress_.First(HashPhysAddr(earlier)); e != ListIndex::kNone;
         e = byAddress_.Next(e)) {
      auto& row = *static_cast<platform::MibIfRow*>(byAddress_.Value(e));
      if (!matches(row)) continue;
      row.dwPhysAddrLen = 0;  // claimed, as below
      byAddress_.Remove(e);
      return row.dwIndex;
    }
    return 0;
  }
  for (uint32_t i = 0; i < rowCount_; ++i) {
    platform::MibIfRow& row = GetRow(i);
    if (matches(row) && !IsFilterRow(i)) {
      row.dwPhysAddrLen = 0;  // claimed: the next search for this address finds the next row
      return row.dwIndex;
    }
  }
  return 0;
}

bool CIFTable::MatchesRow(const platform::MibIfRow& earlier) {
  if (earlier.dwType == platform::kIfTypeSoftwareLoopback) {
    return FindLoopbackIndex() == earlier.dwIndex;
  }
  return FindIndexByAddress(earlier) == earlier.dwIndex;
}

bool HasTableChangedSince(const CIFTable& kept) {
  CIFTable* fresh = NewObject<CIFTable>();
  if (fresh == nullptr) return false;
  bool changed = false;
  if (fresh->Init() == 0) {
    if (fresh->GetRowCount() != kept.GetRowCount()) {
      changed = true;
    } else {
      fresh->IndexRows();
      for (uint32_t i = 0; i < fresh->GetRowCount() && !changed; ++i) {
        if (fresh->IsManagedInterface(i) && !fresh->MatchesRow(kept.GetRow(i))) changed = true;
      }
    }
  }
  DeleteObject(fresh);
  return changed;
}

}  // namespace crv
