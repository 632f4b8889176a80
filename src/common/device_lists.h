// The configuration manager's multi-text lists (device instance ids of a class, device
// interface paths of a device) read whole. A list is sized, then read; a device that
// arrives in between makes the read answer CR_BUFFER_SMALL, and the list is then sized and
// read again, a bounded number of times.
#pragma once

#include <cstdint>

#include "platform/config_manager.h"

namespace crv {

// Tries of one list read before its CR_BUFFER_SMALL is given up as the answer.
constexpr uint32_t kDeviceListReadTries = 4;

// A list read: a new zeroed block (freed with FreeBlock) holding the list and one more
// terminator, with its length in characters, or null with the configuration manager's last
// answer (kCrFailure when the block could not be had); readFailed tells a failed read of a
// sized list from a failed size call or allocation.
struct DeviceList {
  char16_t* texts = nullptr;
  uint32_t chars = 0;
  platform::ConfigRet status = platform::kCrSuccess;
  bool readFailed = false;
};

// CM_Get_Device_ID_List_SizeW / CM_Get_Device_ID_ListW.
DeviceList ReadDeviceIdList(const char16_t* filter, uint32_t flags);
// CM_Get_Device_Interface_List_SizeW / CM_Get_Device_Interface_ListW.
DeviceList ReadDeviceInterfaceList(const platform::Guid& interfaceClass, const char16_t* deviceId,
                                   uint32_t flags);

}  // namespace crv
