// The simulated machine's implementations of the platform interfaces.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

class Machine;
struct RegKeyNode;

std::unique_ptr<platform::Registry> NewRegistryApi(Machine& machine);
std::unique_ptr<platform::ServiceManager> NewServiceManagerApi(Machine& machine);
std::unique_ptr<platform::Kernel> NewKernelApi(Machine& machine);
std::unique_ptr<platform::IpHelper> NewIpHelperApi(Machine& machine);
std::unique_ptr<platform::CodePage> NewCodePageApi(Machine& machine);
std::unique_ptr<platform::DeviceIo> NewDeviceIoApi(Machine& machine);
std::unique_ptr<platform::ConfigManager> NewConfigManagerApi(Machine& machine);
std::unique_ptr<platform::DynamicLibrary> NewDynamicLibraryApi(Machine& machine);
std::unique_ptr<platform::ComWmi> NewComWmiApi(Machine& machine);
std::unique_ptr<platform::FileSystem> NewFileSystemApi(Machine& machine);

// A handle of the registry API (made by NewRegistryApi) to a key, as if opened with access;
// closed with Registry::CloseKey. For calls of other APIs that hand out registry keys.
platform::RegKey NewRegistryKeyHandle(platform::Registry& api, std::shared_ptr<RegKeyNode> node,
                                      uint32_t access);
// Closes the device handles opened inside a simulated process (its end closes them).
void CloseProcessDeviceHandles(platform::DeviceIo& api);
// Closes the registry keys these simulated threads opened (left inside a blocked call when
// their process ended).
void CloseRegistryKeysOf(platform::Registry& api, const std::vector<uint32_t>& threads);

// Text in the simulated machine's ANSI code page (Windows-1252), '?' where it has no byte.
std::string ToAnsiCodePage(const std::u16string& text);

}  // namespace sim
