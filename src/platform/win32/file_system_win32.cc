// kernel32's GetFileAttributesW and advapi32's GetNamedSecurityInfoW (file objects, DACL
// only). The descriptor Windows allocates is copied out and freed here.
#include <cstring>

#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

// After handles.h, which includes <windows.h> as the backend wants it; its macro would
// rename the platform method.
#include <aclapi.h>
#undef GetNamedSecurityInfo

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
};

}  // namespace

FileSystem& FileSystemBackend() {
  static Win32FileSystem backend;
  return backend;
}

}  // namespace platform::win32
