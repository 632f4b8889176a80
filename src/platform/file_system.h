// Files and folders (kernel32, advapi32): whether a file is there, and who may write into a
// folder, for the libraries the agent loads from a folder by full path.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;  // INVALID_FILE_ATTRIBUTES
constexpr uint32_t kFileAttributeDirectory = 0x10;        // FILE_ATTRIBUTE_DIRECTORY
// The largest ACL Windows lays out (its size field has 16 bits).
constexpr uint32_t kMaxAclBytes = 65535;

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // GetFileAttributesW: the attributes, or kInvalidFileAttributes with the last error set
  // (2 no such file, 3 no such folder).
  virtual uint32_t GetFileAttributes(const char16_t* path) = 0;
  // GetNamedSecurityInfoW for a file or folder (SE_FILE_OBJECT, DACL_SECURITY_INFORMATION):
  // 0 or the Win32 error. On 0, *nullDacl tells a null DACL (every right to everyone);
  // otherwise the DACL as Windows lays it out (ACL header, then its entries) is copied into
  // dacl, at most size bytes, and *daclBytes is its whole size.
  virtual uint32_t GetNamedSecurityInfo(const char16_t* path, uint8_t* dacl, uint32_t size,
                                        uint32_t* daclBytes, bool* nullDacl) = 0;
};

}  // namespace platform
