#include "inventory/platform_inventory.h"

namespace crv {

uint32_t LoadPlatformInventory() { return 0; }

uint32_t LookupAdapterLocation(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t* slot,
                               uint32_t* extended1, uint32_t* portPosition, uint32_t*) {
  *slot = 0xFFFFFFFFu;
  *extended1 = 0xFFFFFFFFu;
  *portPosition = 0xFFFFFFFFu;
  return 0;
}

uint32_t HasExtendedFields() { return 0; }

}  // namespace crv
