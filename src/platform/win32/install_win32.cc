#include "platform/win32/backends.h"
#include "platform/win32/win32_platform.h"

namespace platform::win32 {

void InstallWin32Platform() {
  Platform set;
  set.registry = &RegistryBackend();
  set.services = &ServiceManagerBackend();
  set.kernel = &KernelBackend();
  set.console = &ConsoleBackend();
  set.memory = &MemoryBackend();
  set.diagnostics = &DiagnosticsBackend();
  set.ipHelper = &IpHelperBackend();
  set.codePage = &CodePageBackend();
  set.deviceIo = &DeviceIoBackend();
  set.configManager = &ConfigManagerBackend();
  set.libraries = &DynamicLibraryBackend();
  set.wmi = &ComWmiBackend();
  set.eventLog = &EventLogBackend();
  set.files = &FileSystemBackend();
  Install(set);
}

}  // namespace platform::win32
