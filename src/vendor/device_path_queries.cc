#include "vendor/device_path_queries.h"

#include <cstring>

#include "platform/device_io.h"
#include "platform/ndis.h"
#include "platform/os_access.h"
#include "platform/scoped.h"

namespace crv {
namespace {

constexpr uint32_t kOidPathByte = 0xFFA0C921;
constexpr uint32_t kOidPathDword = 0xFF02029A;
constexpr uint32_t kOidPathSigned = 0xFF010144;

// The signed request carries its signature in the first word of the answer buffer; the
// driver's value comes back at byte 8.
constexpr uint32_t kSignedRequestSignature = 0xD1C27B15;
constexpr uint32_t kSignedRequestSize = 20;
constexpr size_t kSignedValueOffset = 8;

// The interface path is opened as the drivers expect it: read and write, exclusive,
// disposition 2. The handle is a synchronous one: the control request below carries no
// OVERLAPPED, so a driver that pends it completes it before DeviceIoControl returns, never
// into the buffers of a caller that has already moved on.
constexpr uint32_t kGenericReadWrite = 0xC0000000;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kSynchronousHandle = 0;

// One query of oid on the path into answer; true when the driver answered.
bool QueryPath(const char16_t* devicePath, uint32_t oid, void* answer, uint32_t answerSize) {
  if (devicePath == nullptr) return false;
  platform::ScopedDeviceHandle device(
      Io().CreateFile(devicePath, kGenericReadWrite, 0, kCreateAlways, kSynchronousHandle));
  if (!device.Holds()) return false;
  uint32_t returned = 0;
  return Io().DeviceIoControl(device.Get(), platform::kIoctlNdisQueryGlobalStats, &oid, sizeof oid,
                              answer, answerSize, &returned);
}

}  // namespace

uint32_t QueryPathOidByte(uint32_t* out, const char16_t* devicePath) {
  uint8_t answer = 0;
  if (QueryPath(devicePath, kOidPathByte, &answer, sizeof answer)) *out = answer;
  return 0;
}

uint32_t QueryPathOidDword(uint32_t* out, const char16_t* devicePath) {
  uint32_t answer = 0;
  if (QueryPath(devicePath, kOidPathDword, &answer, sizeof answer)) *out = answer;
  return 0;
}

uint32_t QueryPathOidSigned(uint32_t* out, const char16_t* devicePath) {
  uint8_t answer[kSignedRequestSize] = {};
  std::memcpy(answer, &kSignedRequestSignature, sizeof kSignedRequestSignature);
  if (QueryPath(devicePath, kOidPathSigned, answer, sizeof answer)) {
    std::memcpy(out, answer + kSignedValueOffset, sizeof *out);
  }
  return 0;
}

}  // namespace crv
