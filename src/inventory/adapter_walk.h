// The inventory's adapter walk: every present network-class device of the PnP tree is filed,
// with its description, under its operating-system slot number, the slot its location text
// names, its PCI bus, device and function, and its port; and the adapter's vendor is asked,
// through the driver or the vendor's management library, about the adapter (an answer the
// inventory keeps beside the entry).
//
// Readings the walk settles for itself:
// - A user-interface number is the property's 32-bit value, for the device and its parent.
// - Ports of the Mellanox and Solarflare bus drivers take their parent's location text, which
//   is read (in a buffer as large as the configuration manager asks) but not parsed, so
//   their slot, bus, device and function stay unknown.
// - Descriptions are cut to 255 characters.
#pragma once

#include <cstdint>

#include "common/slist.h"
#include "inventory/slot_inventory.h"

namespace crv {

// Keys of an adapter location: operating-system slot number, location slot, bus, device,
// function, port.
constexpr size_t kAdapterLocationKeys = 6;

struct AdapterLocationEntry {
  uint32_t keys[kAdapterLocationKeys];
  LocationRecord record;   // the description; the four words are not used
  uint32_t vendorFeature;  // the vendor adapter query's answer: 1 true, 0 false
};

class AdapterLocationTable {
 public:
  // Files the description under the keys, replacing what an earlier device filed there;
  // false when the entry cannot be allocated.
  bool Store(const uint32_t (&keys)[kAdapterLocationKeys], const char16_t* description,
             uint32_t vendorFeature);
  const AdapterLocationEntry* Find(const uint32_t (&keys)[kAdapterLocationKeys]) const;
  template <class Visit>
  void ForEach(Visit visit) const {
    entries_.ForEach(visit);
  }
  void Clear() { entries_.Clear(); }

 private:
  SinglyLinkedList<AdapterLocationEntry> entries_;
};

// Walks the present network-class devices into table; productName selects the product
// rules of the slot numbers. Always 0: a device whose details cannot be read is filed with
// what is known, and a device list that cannot be had ends the walk with nothing filed.
uint32_t WalkNetworkAdapters(const char* productName, AdapterLocationTable* table);

}  // namespace crv
