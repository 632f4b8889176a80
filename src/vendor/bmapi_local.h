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
// Loads "<directory of the agent's module>\bmapi.dll" (2 when the module path has no
// directory, the library is absent or lacks an entry point) and tries five times, a second
// apart, to initialise it; a library that never answers 0 is used all the same.
uint32_t LoadBmapiLocal();
// Uninitialises and frees the library; one that refuses to uninitialise stays loaded (2).
// The handle is forgotten either way.
uint32_t UnloadBmapiLocal();
// The present device of the setup class {6d807884-7d21-11cf-801c-08002be10318} whose location
// text equals the adapter's (compared without regard to case, as device texts are): its device
// instance ID as the device list gives it, newly allocated (free with FreeBlock), or null.
// bmapi.dll reports that same instance ID as the PnP device id of its physical NIC, so
// FindBmapiNicByPnpId compares the two whole and with their case. Always answers 0.
uint32_t FindClassDeviceByLocation(platform::DevInst adapterNode, char16_t** identifier);
// The library's physical NIC whose PnP device id equals identifier.
uint32_t FindBmapiNicByPnpId(const char16_t* identifier, uint32_t* physicalNic);

}  // namespace crv
