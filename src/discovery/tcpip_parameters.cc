#include "discovery/tcpip_parameters.h"

#include "common/alloc.h"
#include "platform/platform.h"
#include "publish/registry_key.h"

namespace crv {
namespace {

const char16_t kInterfacesPath[] =
    u"SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

// Opens the interface's parameters key quietly; the returned key has no handle on failure.
CRegistryKey OpenInterfaceKey(const char16_t* interfaceName) {
  CRegistryKey interfaces = RootKey().Open(kInterfacesPath, platform::kKeyRead, false);
  if (interfaces.LastError() != 0) return CRegistryKey(nullptr, interfaces.LastError());
  return interfaces.Open(interfaceName, platform::kKeyRead, false);
}

}  // namespace

uint32_t GetInterfaceIPv4Address(const char16_t* interfaceName) {
  CRegistryKey key = OpenInterfaceKey(interfaceName);
  if (key.LastError() != 0) return 0;
  uint32_t dhcp = 0;
  key.QueryDword(u"EnableDHCP", &dhcp, true);
  const char16_t* valueName = dhcp == 1 ? u"DhcpIPAddress" : u"IPAddress";
  uint32_t size = key.QueryValueSize(valueName);
  if (size == 0) return 0;
  // Twice the size, so that a text without its terminator still ends inside the buffer.
  uint32_t bufferBytes = size * 2;
  auto* text = static_cast<char16_t*>(AllocateZeroed(bufferBytes));
  if (text == nullptr) return 0;
  key.QueryString(valueName, text, bufferBytes, true);
  uint32_t address = 0;
  // A multi-string holds the first address first: the conversion stops at its terminator.
  platform::Os().ipHelper->InetPton(platform::kAfInet, text, &address);
  FreeBlock(text);
  return address;
}

uint32_t IsDhcpEnabled(const char16_t* interfaceName) {
  CRegistryKey key = OpenInterfaceKey(interfaceName);
  if (key.LastError() != 0) return 0;
  uint32_t dhcp = 0;
  key.QueryDword(u"EnableDHCP", &dhcp, true);
  return dhcp == 1 ? 1 : 0;
}

}  // namespace crv
