// CMiniport's NDIS queries: the plain OID query, the driver's private query channel and the
// counter batch, with the once-per-miniport failure report.
#include <cstring>

#include "common/alloc.h"
#include "common/report.h"
#include "common/saturating.h"
#include "discovery/miniport.h"
#include "platform/device_io.h"
#include "platform/ndis.h"
#include "platform/os_access.h"
#include "platform/scoped.h"

namespace crv {
namespace {

constexpr char16_t kDevicePrefix[] = u"\\\\.\\";
constexpr size_t kDevicePrefixChars = 4;
// The private device's name is answered behind the prefix, into the rest of a 256-byte
// path buffer.
constexpr size_t kPrivatePathBytes = 256;
constexpr size_t kPrivatePathChars = kPrivatePathBytes / sizeof(char16_t);

// The private request: OID, status, reserved, then the caller's data.
struct PrivateRequestHeader {
  uint32_t oid;
  uint32_t status;
  uint32_t reserved;
};
static_assert(sizeof(PrivateRequestHeader) == kPrivateRequestHeaderSize);

}  // namespace

platform::DeviceHandle CMiniport::OpenDevice() const {
  return Io().CreateFile(deviceName_, 0, platform::kFileShareRead | platform::kFileShareWrite,
                         platform::kOpenExisting, 0);
}

uint32_t CMiniport::Control(platform::DeviceHandle device, uint32_t controlCode, const void* input,
                            uint32_t inputSize, void* output, uint32_t outputSize,
                            uint32_t* bytesReturned) {
  if (Io().DeviceIoControl(device, controlCode, input, inputSize, output, outputSize,
                           bytesReturned)) {
    return 0;
  }
  uint32_t error = LastError();
  // A failed call always answers an error, even when the driver left none.
  return error != 0 ? error : platform::kErrorGenFailure;
}

uint32_t CMiniport::QueryDirect(uint32_t oid, void* buffer, uint32_t size, uint32_t* bytesReturned,
                                bool* controlFailed) {
  *controlFailed = false;
  platform::ScopedDeviceHandle device(OpenDevice());
  if (!device.Holds()) return platform::kErrorGenFailure;
  uint32_t status = Control(device.Get(), platform::kIoctlNdisQueryGlobalStats, &oid, sizeof oid,
                            buffer, size, bytesReturned);
  *controlFailed = status != 0;
  return status;
}

void CMiniport::NoteQueryFailure(uint32_t oid, uint32_t error) {
  if (queryFailureSeen_ != 0) return;
  queryFailureSeen_ = 1;
  if ((oid & kOidMandatoryBit) != 0) Report(kReportNdisQueryFailed, deviceName_, error);
}

uint32_t CMiniport::QueryInformation(uint32_t oid, void* buffer, uint32_t size,
                                     uint32_t* bytesReturned) {
  bool controlFailed = false;
  uint32_t status = QueryDirect(oid, buffer, size, bytesReturned, &controlFailed);
  // A device that cannot be opened is answered with 31 and never reported.
  if (controlFailed) NoteQueryFailure(oid, status);
  return status;
}

uint32_t CMiniport::QueryCounters(const CounterQuery* entries, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value = 0;
    uint32_t returned = 0;
    if (QueryInformation(entries[i].oid, &value, sizeof value, &returned) == 0) {
      *entries[i].destination = value;
    }
  }
  return 0;
}

uint32_t CMiniport::QueryPrivateInformation(uint32_t oid, void* data, uint32_t size,
                                            uint32_t* bytesReturned) {
  platform::ScopedDeviceHandle device(OpenDevice());
  if (!device.Holds()) return platform::kErrorGenFailure;

  // The name of the private query device, answered behind the prefix; the last character
  // stays a terminator whatever the driver writes.
  char16_t path[kPrivatePathChars + 1] = {};
  std::memcpy(path, kDevicePrefix, kDevicePrefixChars * sizeof(char16_t));
  uint32_t nameOid = kOidPrivateDeviceName;
  uint32_t returned = 0;
  uint32_t status = Control(device.Get(), platform::kIoctlNdisQueryGlobalStats, &nameOid,
                            sizeof nameOid, path + kDevicePrefixChars,
                            (kPrivatePathChars - kDevicePrefixChars) * sizeof(char16_t), &returned);
  if (status == 0) {
    status = QueryThroughPrivateDevice(path, oid, data, size, bytesReturned);
  } else if (oid == kOidPrivateDirectAnswer) {
    // Drivers without a private device answer this identifier on the miniport itself.
    uint8_t answer[kPrivateDirectAnswerSize] = {};
    status = Control(device.Get(), platform::kIoctlNdisQueryGlobalStats, &oid, sizeof oid, answer,
                     sizeof answer, &returned);
    if (status == 0 && size >= kPrivateDirectAnswerSize) {
      std::memcpy(data, answer, kPrivateDirectAnswerSize);
      if (bytesReturned != nullptr) *bytesReturned = kPrivateDirectAnswerSize;
    }
  }
  if (status != 0) NoteQueryFailure(oid, status);
  return status;
}

uint32_t CMiniport::QueryThroughPrivateDevice(const char16_t* privateName, uint32_t oid, void* data,
                                              uint32_t size, uint32_t* bytesReturned) {
  platform::ScopedDeviceHandle device(Io().CreateFile(privateName, 0, platform::kFileShareRead,
                                                      platform::kOpenExisting,
                                                      platform::kFileAttributeReadonly));
  if (!device.Holds()) return platform::kErrorGenFailure;

  uint32_t requestSize = size + kPrivateRequestHeaderSize;
  auto* request = static_cast<uint8_t*>(AllocateZeroed(requestSize));
  uint32_t status = platform::kErrorNotEnoughMemory;
  if (request != nullptr) {
    PrivateRequestHeader header{oid, 0, 0};
    std::memcpy(request, &header, sizeof header);
    if (size != 0) std::memcpy(request + sizeof header, data, size);
    uint32_t returned = 0;
    status = Control(device.Get(), kIoctlPrivateQuery, request, requestSize, request, requestSize,
                     &returned);
    if (status == 0) {
      std::memcpy(&header, request, sizeof header);
      status = header.status;
      if (status == 0) {
        if (size != 0) std::memcpy(data, request + sizeof header, size);
        if (bytesReturned != nullptr) {
          *bytesReturned = SubtractOrZero(returned, kPrivateRequestHeaderSize);
        }
      }
    }
    FreeBlock(request);
  }
  return status;
}

}  // namespace crv
