// The extended Broadcom management library, bmapi.dll, loaded from the directory of the
// agent's own module (never through the library search) for one question about one adapter:
// load, find the library's physical NIC at the adapter's PCI location, read one value of its
// extended NIC information, unload. Used by the platform inventory's vendor adapter query.
// Statuses: 0 success, 2 failure; nothing is reported.
#pragma once

#include <cstdint>

#include "platform/config_manager.h"

namespace crv {

// The whole sequence for the adapter's device node; *value is written only when it answers 0.
uint32_t QueryBmapiNicInfoEx(platform::DevInst adapterNode, uint32_t* value);

// Its steps (exposed for tests).
uint32_t LoadBmapiLocal();
uint32_t UnloadBmapiLocal();
// The identifier of the present device of the setup class {6d807884-7d21-11cf-801c-
// 08002be10318} whose location text equals the adapter's, newly allocated (free with
// FreeBlock), or null. Always 0.
uint32_t FindClassDeviceByLocation(platform::DevInst adapterNode, char16_t** identifier);
// The library's physical NIC whose PnP device id equals identifier.
uint32_t FindBmapiNicByPnpId(const char16_t* identifier, uint32_t* physicalNic);

}  // namespace crv
