#include "collect/filter_rows.h"

#include <cstring>

namespace crv {
namespace {

// "-NNNN" closes every filter row's description: the filter module's instance number.
constexpr size_t kInstanceSuffixLength = 5;

size_t DescriptionLength(const platform::MibIfRow& row) {
  return strnlen(reinterpret_cast<const char*>(row.bDescr), sizeof row.bDescr);
}

bool IsHexDigit(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool SamePhysicalAddress(const platform::MibIfRow& a, const platform::MibIfRow& b) {
  return a.dwPhysAddrLen != 0 && a.dwPhysAddrLen <= platform::kMaxPhysAddrLength &&
         a.dwPhysAddrLen == b.dwPhysAddrLen &&
         std::memcmp(a.bPhysAddr, b.bPhysAddr, a.dwPhysAddrLen) == 0;
}

}  // namespace

bool DescribesFilterOf(const platform::MibIfRow& row, const platform::MibIfRow& adapter) {
  if (!SamePhysicalAddress(row, adapter)) return false;
  const size_t length = DescriptionLength(row);
  const size_t adapterLength = DescriptionLength(adapter);
  // The adapter's text, "-", a filter name of at least one character, "-NNNN".
  if (adapterLength == 0 || length < adapterLength + 2 + kInstanceSuffixLength) return false;
  if (std::memcmp(row.bDescr, adapter.bDescr, adapterLength) != 0) return false;
  if (row.bDescr[adapterLength] != '-') return false;
  const uint8_t* suffix = row.bDescr + length - kInstanceSuffixLength;
  if (suffix[0] != '-') return false;
  for (size_t k = 1; k < kInstanceSuffixLength; ++k) {
    if (!IsHexDigit(suffix[k])) return false;
  }
  return true;
}

}  // namespace crv
