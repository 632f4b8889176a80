// The adapter model tables: the driver classification (driver service name to driver family,
// which selects the miniport's link procedure) and the part numbers by family and PCI
// identifiers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace crv {

class CMiniport;

// Sets the miniport's driver family from the driver's service name (ignoring case); any
// other driver of an 802.3 miniport is family 2, and a family already set is kept when no
// row matches. Then sets the part number.
void ClassifyDriver(CMiniport& miniport, const char16_t* serviceName);

// Sets the miniport's part number from the block of its driver family.
void SetPartNumber(CMiniport& miniport);

// The part number table, as data.
enum class PartNumberKey {
  kNone,         // no lookup: the block's text
  kPciId,        // the miniport's PCI identifier word
  kSubsystemId,  // the miniport's subsystem identifier word
};

struct PartNumberRow {
  uint32_t key;
  const char16_t* text;  // at most 11 characters
};

struct PartNumberBlock {
  PartNumberKey keyKind;
  std::span<const PartNumberRow> rows;
  const char16_t* noMatchText;
};

// The block of a driver family; null for the families without one.
const PartNumberBlock* PartNumberBlockOf(uint8_t family);
// The text of the row whose key is key, or the block's no-match text.
const char16_t* LookUpPartNumber(const PartNumberBlock& block, uint32_t key);

}  // namespace crv
