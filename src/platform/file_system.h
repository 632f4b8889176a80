// Files and folders (kernel32, advapi32): whether a file is there, and who may write into a
// folder, for the libraries the agent loads from a folder by full path; and a file written
// whole under a new name and renamed over another, for the metrics file.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;    // INVALID_FILE_ATTRIBUTES
constexpr uint32_t kFileAttributeDirectory = 0x10;          // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kFileAttributeReparsePoint = 0x400;      // FILE_ATTRIBUTE_REPARSE_POINT
constexpr uint32_t kFileAttributeNormal = 0x80;             // FILE_ATTRIBUTE_NORMAL
constexpr uint32_t kFileFlagOpenReparsePoint = 0x00200000;  // FILE_FLAG_OPEN_REPARSE_POINT
constexpr uint32_t kGenericWrite = 0x40000000;              // GENERIC_WRITE
constexpr uint32_t kCreateNew = 1;                          // CREATE_NEW
constexpr uint32_t kCreateAlways = 2;                       // CREATE_ALWAYS
constexpr uint32_t kMoveFileReplaceExisting = 0x1;          // MOVEFILE_REPLACE_EXISTING
constexpr uint32_t kMoveFileWriteThrough = 0x8;             // MOVEFILE_WRITE_THROUGH
constexpr uint32_t kErrorFileExists = 80;                   // ERROR_FILE_EXISTS
constexpr uint32_t kErrorPathNotFound = 3;                  // ERROR_PATH_NOT_FOUND
constexpr uint32_t kErrorDiskFull = 112;                    // ERROR_DISK_FULL
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

  // CreateFileW for a file, without sharing, security attributes or template:
  // kInvalidFileHandle on failure with the last error set. kCreateNew fails with
  // kErrorFileExists when anything has that name, a link included; kCreateAlways opens what
  // is there (following a link unless kFileFlagOpenReparsePoint is given) and empties it.
  virtual FileHandle CreateFile(const char16_t* path, uint32_t access, uint32_t disposition,
                                uint32_t flagsAndAttributes) = 0;
  // WriteFile without overlapped I/O; false with the last error set.
  virtual bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) = 0;
  // CloseHandle for a handle from CreateFile; false with the last error set.
  virtual bool CloseFile(FileHandle file) = 0;
  // MoveFileExW: with kMoveFileReplaceExisting an existing file at to is replaced, and a
  // link there is replaced itself, not what it points to.
  virtual bool MoveFileEx(const char16_t* from, const char16_t* to, uint32_t flags) = 0;
  // DeleteFileW: a link is removed itself.
  virtual bool DeleteFile(const char16_t* path) = 0;
};

}  // namespace platform
