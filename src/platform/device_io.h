// Device I/O calls (kernel32): opening a device by name and sending it control codes. The
// agent queries NDIS miniports this way, one OID per call, opening and closing the device
// around each query.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileAttributeReadonly = 0x1;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // CreateFileW without security attributes or template. kInvalidHandleValue on failure
  // (the reason in the thread's last error).
  virtual DeviceHandle CreateFile(const char16_t* name, uint32_t access, uint32_t share,
                                  uint32_t disposition, uint32_t flagsAndAttributes) = 0;
  // DeviceIoControl without overlapped I/O. input and output may be the same buffer.
  virtual bool DeviceIoControl(DeviceHandle device, uint32_t controlCode, const void* input,
                               uint32_t inputSize, void* output, uint32_t outputSize,
                               uint32_t* bytesReturned) = 0;
  // CloseHandle for a handle from CreateFile.
  virtual bool CloseDevice(DeviceHandle device) = 0;
};

}  // namespace platform
