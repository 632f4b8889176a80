// The agent's short names for the installed interfaces it calls most often: the configuration
// manager, device I/O and the registry. Each is the installed set's member (see platform.h).
#pragma once

#include "platform/platform.h"

namespace crv {

inline platform::ConfigManager& Cm() { return *platform::Os().configManager; }
inline platform::DeviceIo& Io() { return *platform::Os().deviceIo; }
inline platform::Registry& Reg() { return *platform::Os().registry; }

}  // namespace crv
