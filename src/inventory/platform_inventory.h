// The platform inventory: the machine's own record of its adapter slots, by PCI location.
// Until the SMBIOS tables are read it holds no adapter, and every lookup answers "not found".
#pragma once

#include <cstdint>

namespace crv {

// 1 when a collection succeeded.
uint32_t LoadPlatformInventory();
// The slot, first extended value and port position (preset to all ones) and the second
// extended value (left as the caller set it) of the adapter at that location; 1 when found.
uint32_t LookupAdapterLocation(uint32_t segment, uint32_t bus, uint32_t device, uint32_t function,
                               uint32_t fourth, uint32_t* slot, uint32_t* extended1,
                               uint32_t* portPosition, uint32_t* extended2);
// Whether the inventory's records carry the extended values.
uint32_t HasExtendedFields();

}  // namespace crv
