// The Win32 implementations of the platform interfaces, one object each for the life of the
// process. Only install_win32.cc gathers them; nothing else in the backend needs this header.
#pragma once

#include "platform/platform.h"

namespace platform::win32 {

Registry& RegistryBackend();
ServiceManager& ServiceManagerBackend();
Kernel& KernelBackend();
Console& ConsoleBackend();
Memory& MemoryBackend();
Diagnostics& DiagnosticsBackend();
IpHelper& IpHelperBackend();
CodePage& CodePageBackend();
DeviceIo& DeviceIoBackend();
ConfigManager& ConfigManagerBackend();
DynamicLibrary& DynamicLibraryBackend();
ComWmi& ComWmiBackend();
EventLog& EventLogBackend();
FileSystem& FileSystemBackend();

}  // namespace platform::win32
