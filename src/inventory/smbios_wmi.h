// Reading the machine's raw SMBIOS table through WMI: the one "MSSmBios_RawSMBiosTables"
// object of root\wmi, made into the raw block the structure walk reads (8-byte header from
// the object's version properties and table length, then a copy of its SMBiosData bytes).
// COM must be initialised on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crv {

constexpr uint32_t kSmbiosReadFailed = 2;
constexpr int32_t kSmbiosReadTimeoutMs = 10000;

// 0 with *block (AllocateZeroed; free with FreeBlock) and *blockBytes (header and table
// bytes) set; kSmbiosReadFailed, with nothing allocated, when any WMI call fails or the
// object's SMBiosData is not a byte array. Every interface and variant is released on every
// path.
uint32_t ReadRawSmbiosBlock(uint8_t** block, size_t* blockBytes);

}  // namespace crv
