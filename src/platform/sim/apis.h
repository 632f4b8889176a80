// The simulated machine's implementations of the platform interfaces.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace sim {

class Machine;

std::unique_ptr<platform::Registry> NewRegistryApi(Machine& machine);
std::unique_ptr<platform::ServiceManager> NewServiceManagerApi(Machine& machine);
std::unique_ptr<platform::Kernel> NewKernelApi(Machine& machine);
std::unique_ptr<platform::IpHelper> NewIpHelperApi(Machine& machine);
std::unique_ptr<platform::CodePage> NewCodePageApi(Machine& machine);

// Text in the simulated machine's ANSI code page (Windows-1252), '?' where it has no byte.
std::string ToAnsiCodePage(const std::u16string& text);

}  // namespace sim
