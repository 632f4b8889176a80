#include "inventory/smbios_wmi.h"

#include <cstring>

#include "common/alloc.h"
#include "inventory/smbios_table.h"
#include "platform/platform.h"
#include "platform/scoped.h"

namespace crv {
namespace {

using platform::ComObject;
using platform::ComWmi;
using platform::ScopedComObject;
using platform::Variant;

constexpr char16_t kNamespace[] = u"\\\\.\\root\\wmi";
constexpr char16_t kClass[] = u"MSSmBios_RawSMBiosTables";
// The allocation holds the header, the table, and three spare bytes.
constexpr size_t kBlockSpareBytes = 3;
// Firmware tables run to tens of kilobytes. Bounds claiming more are not a table: an empty
// array whose lower bound is the smallest 32-bit integer reports an upper bound 2^32 - 1
// elements above it, and the copy must not ask for gigabytes on such an answer.
constexpr int64_t kLargestTableBytes = 4 * 1024 * 1024;

// The integer a variant of an integer or boolean kind holds; 0 for every other kind (a null
// property counts as 0 rather than as a failed read).
int64_t IntegerOf(const Variant& v) { return platform::HoldsInteger(v) ? v.integer : 0; }

// Reads an integer property; false when the read fails.
bool ReadInteger(ComWmi& wmi, ComObject object, const char16_t* name, int64_t* value) {
  Variant v;
  bool read = wmi.Get(object, name, &v) == 0;
  if (read) *value = IntegerOf(v);
  wmi.VariantClear(&v);
  return read;
}

// Copies SMBiosData behind the header of a new block.
uint32_t CopyTableBytes(ComWmi& wmi, const Variant& data, uint8_t** block, size_t* blockBytes) {
  if (data.type != (platform::kVtArray | platform::kVtUi1) || data.array == nullptr) {
    return kSmbiosReadFailed;  // null (as some WMI implementations answer) or not bytes
  }
  int32_t upper = 0, lower = 0;
  if (wmi.SafeArrayGetUBound(data.array, 1, &upper) != 0 ||
      wmi.SafeArrayGetLBound(data.array, 1, &lower) != 0) {
    return kSmbiosReadFailed;
  }
  int64_t count = static_cast<int64_t>(upper) - lower + 1;
  if (count < 0 || count > kLargestTableBytes) return kSmbiosReadFailed;
  size_t tableBytes = static_cast<size_t>(count);
  auto* buffer =
      static_cast<uint8_t*>(AllocateZeroed(kSmbiosHeaderBytes + tableBytes + kBlockSpareBytes));
  if (buffer == nullptr) return kSmbiosReadFailed;
  void* elements = nullptr;
  if (wmi.SafeArrayAccessData(data.array, &elements) != 0) {
    FreeBlock(buffer);
    return kSmbiosReadFailed;
  }
  if (tableBytes != 0 && elements != nullptr) {
    std::memcpy(buffer + kSmbiosHeaderBytes, elements, tableBytes);
  }
  if (wmi.SafeArrayUnaccessData(data.array) != 0) {
    FreeBlock(buffer);
    return kSmbiosReadFailed;
  }
  *block = buffer;
  *blockBytes = kSmbiosHeaderBytes + tableBytes;
  return 0;
}

// The raw block of the first object.
uint32_t ReadBlock(ComWmi& wmi, ComObject object, uint8_t** block, size_t* blockBytes) {
  Variant data;
  uint32_t result = kSmbiosReadFailed;
  if (wmi.Get(object, u"SMBiosData", &data) == 0) {
    result = CopyTableBytes(wmi, data, block, blockBytes);
  }
  wmi.VariantClear(&data);
  if (result != 0) return result;

  // The header's fields in the order they are read; a block is kept only when all are.
  enum HeaderProperty { kSize, kUsed20, kMajor, kMinor, kDmi, kHeaderProperties };
  constexpr const char16_t* kHeaderPropertyNames[kHeaderProperties] = {
      u"Size", u"Used20CallingMethod", u"SmbiosMajorVersion", u"SmbiosMinorVersion",
      u"DmiRevision"};
  int64_t value[kHeaderProperties] = {};
  for (int i = 0; i < kHeaderProperties; ++i) {
    if (!ReadInteger(wmi, object, kHeaderPropertyNames[i], &value[i])) {
      FreeBlock(*block);
      *block = nullptr;
      *blockBytes = 0;
      return kSmbiosReadFailed;
    }
  }
  uint8_t* header = *block;
  header[0] = value[kUsed20] != 0 ? 1 : 0;
  header[1] = static_cast<uint8_t>(value[kMajor]);
  header[2] = static_cast<uint8_t>(value[kMinor]);
  header[3] = static_cast<uint8_t>(value[kDmi]);
  auto length = static_cast<uint32_t>(value[kSize]);
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  return 0;
}

}  // namespace

uint32_t ReadRawSmbiosBlock(uint8_t** block, size_t* blockBytes) {
  *block = nullptr;
  *blockBytes = 0;
  ComWmi& wmi = *platform::Os().wmi;
  ScopedComObject locator, services, enumerator, object;
  uint32_t result = kSmbiosReadFailed;
  auto blanket = [&wmi](ComObject proxy) {
    return wmi.SetProxyBlanket(proxy, platform::kRpcCAuthnDefault, platform::kRpcCAuthzNone,
                               platform::kRpcCAuthnLevelCall, platform::kRpcCImpLevelImpersonate,
                               platform::kEoacNone);
  };
  if (wmi.CreateWbemLocator(platform::kClsctxAll, locator.Receive()) == 0 &&
      wmi.ConnectServer(locator.Get(), kNamespace, services.Receive()) == 0 &&
      blanket(services.Get()) == 0 &&
      wmi.CreateInstanceEnum(services.Get(), kClass, platform::kWbemFlagShallow,
                             enumerator.Receive()) == 0 &&
      blanket(enumerator.Get()) == 0) {
    uint32_t returned = 0;
    if (wmi.Next(enumerator.Get(), kSmbiosReadTimeoutMs, object.Receive(), &returned) == 0 &&
        returned == 1 && object.Holds()) {
      result = ReadBlock(wmi, object.Get(), block, blockBytes);
    }
  }
  return result;
}

}  // namespace crv
