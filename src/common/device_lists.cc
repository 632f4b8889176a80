#include "common/device_lists.h"

#include <cstddef>

#include "common/alloc.h"
#include "common/report.h"
#include "platform/os_access.h"

namespace crv {
namespace {

// size(&chars) asks the length, read(block, chars) reads into a block of that length.
template <class Size, class Read>
DeviceList ReadList(Size size, Read read) {
  DeviceList list;
  for (uint32_t tries = 0; tries < kDeviceListReadTries; ++tries) {
    uint32_t chars = 0;
    list.readFailed = false;
    list.status = size(&chars);
    if (list.status != platform::kCrSuccess) return list;
    auto* texts = static_cast<char16_t*>(AllocateZeroed((size_t{chars} + 1) * sizeof(char16_t)));
    if (texts == nullptr) {
      list.status = platform::kCrFailure;
      return list;
    }
    // An empty list is not read: the read takes no buffer of no characters.
    list.status = chars == 0 ? platform::kCrSuccess : read(texts, chars);
    if (list.status == platform::kCrSuccess) {
      list.texts = texts;
      list.chars = chars;
      return list;
    }
    FreeBlock(texts);
    list.readFailed = true;
    if (list.status != platform::kCrBufferSmall) return list;
  }
  ReportInfo(u"Device list: it kept growing while it was read", list.status);
  return list;
}

}  // namespace

DeviceList ReadDeviceIdList(const char16_t* filter, uint32_t flags) {
  return ReadList([&](uint32_t* chars) { return Cm().GetDeviceIdListSize(chars, filter, flags); },
                  [&](char16_t* texts, uint32_t chars) {
                    return Cm().GetDeviceIdList(filter, texts, chars, flags);
                  });
}

DeviceList ReadDeviceInterfaceList(const platform::Guid& interfaceClass, const char16_t* deviceId,
                                   uint32_t flags) {
  return ReadList(
      [&](uint32_t* chars) {
        return Cm().GetDeviceInterfaceListSize(chars, interfaceClass, deviceId, flags);
      },
      [&](char16_t* texts, uint32_t chars) {
        return Cm().GetDeviceInterfaceList(interfaceClass, deviceId, texts, chars, flags);
      });
}

}  // namespace crv
