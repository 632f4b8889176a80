// The simulated machine's implementations of the platform interfaces.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace sim {

class Machine;

std::unique_ptr<platform::Registry> NewRegistryApi(Machine& machine);
std::unique_ptr<platform::ServiceManager> NewServiceManagerApi(Machine& machine);
std::unique_ptr<platform::Kernel> NewKernelApi(Machine& machine);

}  // namespace sim
