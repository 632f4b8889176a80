// The platform inventory: the machine's own record of its adapter slots, by PCI location.
// A collection reads the raw SMBIOS table through WMI (inventory/smbios_wmi.h), takes the
// system's product name from it, fills the lookup table from the table's slot and on-board
// device records (see inventory/slot_inventory.h), and walks the present network adapters
// into the adapter location table (inventory/adapter_walk.h). Until a table is read it holds
// no adapter, and every lookup answers "not found". Nothing is reported.
//
// One process-wide object, used by the data collection thread only: nothing here is locked.
// The caller initialises COM on the thread around each call that may collect.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

class AdapterLocationTable;

// Runs a collection: discards what the inventory holds and reads the machine's table; 1 when
// the table was read and names the system's product, 0 otherwise (a table without a
// system-information structure is kept; its slots still answer lookups).
uint32_t LoadPlatformInventory();
// Discards what the inventory holds and loads a raw SMBIOS block (8-byte header, then the
// structure table), which is copied: the product name is read from it and the lookup table
// filled; no adapter is walked. 1 when the block holds a system-information structure; 0
// otherwise (the block is kept, the product name is "Unknown") and when the copy cannot be
// allocated.
uint32_t LoadPlatformInventoryFromTable(const uint8_t* block, size_t blockBytes);
// The slot, first extended value and port position (preset to all ones) and the second
// extended value (left as the caller set it) of the adapter at that location; 1 when found.
// Collects first while no table is held.
uint32_t LookupAdapterLocation(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                               uint32_t fourth, uint32_t* slot, uint32_t* extended1,
                               uint32_t* portPosition, uint32_t* extended2);
// Whether the inventory's records carry the extended values (they never do). Collects first
// when no collection ran yet.
uint32_t HasExtendedFields();
// Back to an empty inventory that has not collected (module state is reset between runs).
void ResetPlatformInventory();
// The system's product name, "Unknown" until read; copied into out (outBytes bytes, always
// terminated when outBytes > 0). Collects first when no collection ran yet.
void GetSystemProductName(char* out, size_t outBytes);
// What the last collection's adapter walk filed.
const AdapterLocationTable& PlatformAdapterLocations();

}  // namespace crv
