// kernel32's GetFileAttributesW, CreateFileW, WriteFile, CloseHandle, MoveFileExW and
// DeleteFileW for files, and advapi32's GetNamedSecurityInfoW (file objects, DACL only). The
// descriptor Windows allocates is copied out and freed here.
#include <cstring>

#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

// After handles.h, which includes <windows.h> as the backend wants it; its macro would
// rename the platform method.
#include <aclapi.h>
#undef GetNamedSecurityInfo
#undef CreateFile
#undef MoveFileEx
#undef DeleteFile

namespace platform::win32 {
namespace {

class Win32FileSystem final : public FileSystem {
 public:
  uint32_t GetFileAttributes(const char16_t* path) override {
    return GetFileAttributesW(Wide(path));
  }

  uint32_t GetNamedSecurityInfo(const char16_t* path, uint8_t* dacl, uint32_t size,
                                uint32_t* daclBytes, bool* nullDacl) override {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // The name parameter is not const in the SDK; the call does not write through it.
    DWORD status = GetNamedSecurityInfoW(const_cast<wchar_t*>(Wide(path)), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                                         &descriptor);
    if (status != ERROR_SUCCESS) return status;
    *nullDacl = acl == nullptr;
    *daclBytes = acl == nullptr ? 0 : acl->AclSize;
    if (acl != nullptr) std::memcpy(dacl, acl, *daclBytes < size ? *daclBytes : size);
    LocalFree(descriptor);
    return ERROR_SUCCESS;
  }

  FileHandle CreateFile(const char16_t* path, uint32_t access, uint32_t disposition,
                        uint32_t flagsAndAttributes) override {
    return reinterpret_cast<FileHandle>(
        CreateFileW(Wide(path), access, 0, nullptr, disposition, flagsAndAttributes, nullptr));
  }

  bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) override {
    DWORD count = 0;
    BOOL ok = ::WriteFile(reinterpret_cast<HANDLE>(file), data, size, &count, nullptr);
    if (written != nullptr) *written = count;
    return ok != FALSE;
  }

  bool CloseFile(FileHandle file) override {
    return ::CloseHandle(reinterpret_cast<HANDLE>(file)) != FALSE;
  }

  bool MoveFileEx(const char16_t* from, const char16_t* to, uint32_t flags) override {
    return MoveFileExW(Wide(from), Wide(to), flags) != FALSE;
  }

  bool DeleteFile(const char16_t* path) override { return DeleteFileW(Wide(path)) != FALSE; }
};

}  // namespace

FileSystem& FileSystemBackend() {
  static Win32FileSystem backend;
  return backend;
}

}  // namespace platform::win32
