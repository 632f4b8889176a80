// The set of operating-system interfaces the module runs on. It is installed once: by the
// Windows backend when the module loads, by a simulated machine on Linux and in tests.
#pragma once

#include "platform/code_page.h"
#include "platform/com_wmi.h"
#include "platform/config_manager.h"
#include "platform/console.h"
#include "platform/device_io.h"
#include "platform/diagnostics.h"
#include "platform/dynamic_library.h"
#include "platform/event_log.h"
#include "platform/file_system.h"
#include "platform/ip_helper.h"
#include "platform/kernel.h"
#include "platform/memory.h"
#include "platform/registry.h"
#include "platform/service_manager.h"

namespace platform {

struct Platform {
  Registry* registry = nullptr;
  ServiceManager* services = nullptr;
  Kernel* kernel = nullptr;
  Console* console = nullptr;
  Memory* memory = nullptr;
  Diagnostics* diagnostics = nullptr;
  IpHelper* ipHelper = nullptr;
  CodePage* codePage = nullptr;
  DeviceIo* deviceIo = nullptr;
  ConfigManager* configManager = nullptr;
  DynamicLibrary* libraries = nullptr;
  ComWmi* wmi = nullptr;
  EventLog* eventLog = nullptr;
  FileSystem* files = nullptr;
};

// The installed set. Every member is non-null once a set is installed.
const Platform& Os();
void Install(const Platform& platform);

}  // namespace platform
