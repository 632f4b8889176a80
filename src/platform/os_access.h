// The agent's short names for the installed interfaces it calls most often: the configuration
// manager, device I/O and the registry, each the installed set's member (see platform.h), and
// the calling thread's last error.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace crv {

inline platform::ConfigManager& Cm() { return *platform::Os().configManager; }
inline platform::DeviceIo& Io() { return *platform::Os().deviceIo; }
inline platform::Registry& Reg() { return *platform::Os().registry; }
inline uint32_t LastError() { return platform::Os().kernel->GetLastError(); }

}  // namespace crv
