// Readers of an interface's TCP/IP parameters in the registry, by its adapter name (the
// GUID in braces).
#pragma once

#include <cstdint>

namespace crv {

// The interface's configured or DHCP-assigned IPv4 address in network byte order; 0 when
// there is none or it cannot be read.
uint32_t GetInterfaceIPv4Address(const char16_t* interfaceName);
// 1 when DHCP is enabled for the interface, else 0.
uint32_t IsDhcpEnabled(const char16_t* interfaceName);

}  // namespace crv
