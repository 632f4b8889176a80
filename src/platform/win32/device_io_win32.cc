// kernel32's CreateFileW, DeviceIoControl and CloseHandle for device queries.
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

class Win32DeviceIo final : public DeviceIo {
 public:
  DeviceHandle CreateFile(const char16_t* name, uint32_t access, uint32_t share,
                          uint32_t disposition, uint32_t flagsAndAttributes) override {
    return DeviceFromSdk(
        CreateFileW(Wide(name), access, share, nullptr, disposition, flagsAndAttributes, nullptr));
  }

  bool DeviceIoControl(DeviceHandle device, uint32_t controlCode, const void* input,
                       uint32_t inputSize, void* output, uint32_t outputSize,
                       uint32_t* bytesReturned) override {
    DWORD returned = 0;
    BOOL ok = ::DeviceIoControl(ToSdk(device), controlCode, const_cast<void*>(input), inputSize,
                                output, outputSize, &returned, nullptr);
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok != FALSE;
  }

  bool CloseDevice(DeviceHandle device) override { return ::CloseHandle(ToSdk(device)) != FALSE; }
};

}  // namespace

DeviceIo& DeviceIoBackend() {
  static Win32DeviceIo backend;
  return backend;
}

}  // namespace platform::win32
