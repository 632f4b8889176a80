// Part of the module only: installs the Windows platform while the module loads, before the
// host can call any export.
#include "platform/win32/win32_platform.h"

namespace {

[[maybe_unused]] const bool g_platformInstalled = [] {
  platform::win32::InstallWin32Platform();
  return true;
}();

}  // namespace
