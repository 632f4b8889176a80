// The platform inventory: the machine's own record of its adapter slots, by PCI location.
// It holds the raw SMBIOS block it was last given, the system's product name from it, and a
// lookup table filled from the block's slot and on-board device records (see
// inventory/slot_inventory.h). Until a block is given it holds no adapter, and every lookup
// answers "not found". Data collection thread only: nothing here is locked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

// Runs a collection: discards what the inventory holds and reads the machine's table; 1 when
// that succeeded. The table has no source yet, so this leaves the inventory empty and
// answers 0.
uint32_t LoadPlatformInventory();
// Discards what the inventory holds and loads a raw SMBIOS block (8-byte header, then the
// structure table), which is copied: the product name is read from it and the lookup table
// filled. 1 when the block holds a system-information structure; 0 otherwise (the block is
// kept, the product name is "Unknown") and when the copy cannot be allocated.
uint32_t LoadPlatformInventoryFromTable(const uint8_t* block, size_t blockBytes);
// The slot, first extended value and port position (preset to all ones) and the second
// extended value (left as the caller set it) of the adapter at that location; 1 when found.
uint32_t LookupAdapterLocation(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                               uint32_t fourth, uint32_t* slot, uint32_t* extended1,
                               uint32_t* portPosition, uint32_t* extended2);
// Whether the inventory's records carry the extended values.
uint32_t HasExtendedFields();
// Back to an empty inventory (module state is reset between runs).
void ResetPlatformInventory();
// The system's product name, "Unknown" until read; copied into out (outBytes bytes, always
// terminated when outBytes > 0).
void GetSystemProductName(char* out, size_t outBytes);

}  // namespace crv
