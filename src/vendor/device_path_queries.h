// Three vendor-defined NDIS queries sent through an adapter's NDIS LAN device interface path
// (not its \\.\{GUID} name): the platform inventory asks them of some adapters' drivers. Each
// opens the path for the one query and closes it again, always answers 0, and writes *out
// only when the query succeeded, so the caller's preset value stands for "no answer".
#pragma once

#include <cstdint>

namespace crv {

uint32_t QueryPathOidByte(uint32_t* out, const char16_t* devicePath);    // OID 0xFFA0C921
uint32_t QueryPathOidDword(uint32_t* out, const char16_t* devicePath);   // OID 0xFF02029A
uint32_t QueryPathOidSigned(uint32_t* out, const char16_t* devicePath);  // OID 0xFF010144

}  // namespace crv
