// The test machine's device tree, read from the registry as Windows' PnP manager leaves it for
// PCI network adapters (docs/testbed.md has the layout):
//
//   SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>   one key per device
//       values DeviceDesc, HardwareID, Service, Driver, ClassGUID, LocationInformation, ...
//       \Control            volatile, exists while the device is started: "present"
//       \Device Parameters  the hardware key
//   SYSTEM\CurrentControlSet\Control\Class\<Driver value>            the software key
//   SYSTEM\CurrentControlSet\Control\DeviceClasses\{class}\##?#<path>#{class}
//       value DeviceInstance; subkey #<reference> with Control\Linked = 1 while enabled
//
// Windows keeps parent links in memory only; here a device's parent is the device whose
// ParentIdPrefix value begins the device's instance part, as Windows names children, and the
// root otherwise. Nothing is cached: every answer reads the registry as it is at that moment,
// so a machine seeded while the agent runs is seen at once.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace testbed {

inline constexpr wchar_t kRootDeviceId[] = L"HTREE\\ROOT\\0";

bool EqualNoCase(const std::wstring& a, const std::wstring& b);

// Device instance handles (DEVINST): small numbers standing for device IDs, stable for the
// process.
class DevNodeTable {
 public:
  static DevNodeTable& Instance();
  DWORD HandleOf(const std::wstring& deviceId);
  std::optional<std::wstring> IdOf(DWORD handle);

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<std::wstring> ids_;
};

// Whether the device has a key under Enum; the root always has.
bool DeviceExists(const std::wstring& deviceId);
// Whether the device is started (its volatile Control key exists); the root always is.
bool DevicePresent(const std::wstring& deviceId);
// Every device ID under Enum, in the registry's order.
std::vector<std::wstring> AllDeviceIds();

// A value of the device's Enum key: type and bytes, or nothing when absent.
struct RegistryValue {
  DWORD type = 0;
  std::vector<BYTE> data;
};
std::optional<RegistryValue> DeviceValue(const std::wstring& deviceId, const wchar_t* name);
std::optional<std::wstring> DeviceText(const std::wstring& deviceId, const wchar_t* name);

// The parent's device ID; nothing for the root.
std::optional<std::wstring> ParentOf(const std::wstring& deviceId);

// The device interface paths of interfaceClass ("{...}"), of deviceId or of every device when
// it is empty; only enabled interfaces of present devices when presentOnly.
std::vector<std::wstring> InterfacePaths(const std::wstring& interfaceClass,
                                         const std::wstring& deviceId, bool presentOnly);

// Opens a key under HKLM; null when it cannot.
HKEY OpenMachineKey(const std::wstring& path, REGSAM access);

std::wstring EnumKeyPath(const std::wstring& deviceId);

}  // namespace testbed
