// Reading device registry properties of PnP nodes (CM_Get_DevNode_Registry_PropertyW).
#pragma once

#include <cstdint>

#include "platform/config_manager.h"

namespace crv {

// Text properties are read into a buffer of this many bytes, unless sized first.
constexpr uint32_t kPropertyBufferBytes = 2048;

// A text property read into a buffer of kPropertyBufferBytes, as a new copy that the caller
// frees with FreeBlock; null when it cannot be read (or copied).
char16_t* ReadTextProperty(platform::DevInst devInst, uint32_t property);
// A text property read after asking for its size (which must answer CR_BUFFER_SMALL), as a
// new block the caller frees with FreeBlock; null when it cannot be read. A REG_MULTI_SZ
// property gives its first text at the start of the block.
char16_t* ReadSizedTextProperty(platform::DevInst devInst, uint32_t property);
// A REG_DWORD property; false when it cannot be read.
bool ReadDwordProperty(platform::DevInst devInst, uint32_t property, uint32_t* value);

}  // namespace crv
