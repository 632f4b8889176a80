// The inventory's lookup table of adapter locations, and the pure rules around it: filling
// the table from the machine's SMBIOS slot and on-board device records, the PnP location
// text parse, and the product-specific slot number rules.
//
// How the lookup table is filled. The interface list asks for a port by five keys: the PCI
// segment (0 passed as 0xFFFFFFFF), bus, device, function and a fourth location value (the
// port number of a multi-port function, 0xFFFFFFFF for every other adapter). The first key
// is what the port's PnP location text gives as its slot, so it is 0xFFFFFFFF for a port
// whose text names no slot, and the slot number when it does ("PCI Slot 3 (PCI bus 5, ...)").
// The table is filled from the two SMBIOS structures that name a PCI location:
//
// - each "system slots" structure (type 9) whose segment, bus and device/function are given
//   (a structure of at least 0x11 bytes that does not say 0xFF/0xFF for "not applicable")
//   files the slot's device under every one of its eight functions, with the fourth key
//   0xFFFFFFFF: slot (w2) the structure's slot id, port position (w1) function + 1, the
//   description its slot designation. It is filed under its segment (0 as 0xFFFFFFFF), and
//   when its slot id is not 0 once more under the slot id in place of the segment, so that a
//   port whose location text names the same slot number finds it too;
// - each "onboard devices (extended)" structure (type 41) of at least 0x0B bytes files its
//   one function under its segment (0 as 0xFFFFFFFF), with the fourth key 0xFFFFFFFF: slot 0
//   (on the system board), port position the structure's device type instance, the
//   description its reference designation.
//
// The extended values (w0, w3) carry nothing: they are 0xFFFFFFFF and the inventory does
// not claim extended fields. When two structures name the same five keys the first in the
// table wins. A slot whose firmware gives the location of its upstream bridge rather than of
// the card finds no port; the port then keeps the numbering it has without the inventory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/slist.h"
#include "inventory/smbios_table.h"

namespace crv {

constexpr uint32_t kUnknownLocation = 0xFFFFFFFFu;
constexpr size_t kLocationDescriptionChars = 256;

// w0: first extended value, w1: port position, w2: slot, w3: second extended value.
struct LocationRecord {
  char16_t description[kLocationDescriptionChars];
  uint32_t w0;
  uint32_t w1;
  uint32_t w2;
  uint32_t w3;
};

struct LocationEntry {
  uint32_t keys[5];
  LocationRecord record;
};

class LocationLookupTable {
 public:
  // Files record under the keys unless they are taken (the first entry stays). False only
  // when the entry cannot be allocated.
  bool Insert(const uint32_t (&keys)[5], const LocationRecord& record);
  // The record filed under the keys, or null.
  const LocationRecord* Find(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                             uint32_t fourth) const;
  void Clear() { entries_.Clear(); }
  bool Empty() const { return entries_.Empty(); }

 private:
  SinglyLinkedList<LocationEntry> entries_;
};

// Fills table from the slot and on-board device structures as described above; false when
// an entry could not be allocated (the entries filed so far stay).
bool FillLookupTable(const SmbiosTable& smbios, LocationLookupTable* table);

// Slot, bus, device and function of a PnP location text, each 0xFFFFFFFF when not known.
struct InventoryLocation {
  uint32_t slot = kUnknownLocation;
  uint32_t bus = kUnknownLocation;
  uint32_t device = kUnknownLocation;
  uint32_t function = kUnknownLocation;
};

// Reads up to four decimal numbers from text (at most maxChars characters; it need not be
// terminated within them): four numbers are slot, bus, device and function, three are bus,
// device and function (slot unknown); with fewer nothing is known.
InventoryLocation ParseInventoryLocation(const char16_t* text, size_t maxChars);
// The decimal numbers of text (at most maxChars characters), in order, up to four; how many
// were found.
uint32_t ReadLocationNumbers(const char16_t* text, size_t maxChars, uint32_t (&numbers)[4]);

// The operating-system slot number as filed on a machine of that product name: the QD8 model
// numbers its slots 4 and 6 the other way round.
uint32_t ProductSlotNumber(const char* productName, uint32_t osSlot);

// The subsystem identifier (eight hex digits, subsystem device then subsystem vendor) of the
// Mellanox adapter fitted in the TW2 model, whose parent device has no user-interface number
// of its own; the rule numbers that adapter's slot 1. The vendor half is the server maker's
// and is to be filled in: until then the '?' placeholders match no hardware identifier.
constexpr char16_t kTw2MellanoxSubsystemId[] = u"1781????";
constexpr char kTw2ProductName[] = "Arvenis TW2 Node R7";
constexpr char kQd8ProductName[] = "Arvenis QD8 Node R7";

// Whether a parent's hardware identifier (at most maxChars characters) is the TW2 model's
// Mellanox adapter: "PCI\VEN_15B3&DEV_6746&SUBSYS_" and the subsystem id above, ignoring case.
bool IsTw2MellanoxHardwareId(const char16_t* hardwareId, size_t maxChars);

}  // namespace crv
