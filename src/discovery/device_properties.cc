#include "discovery/device_properties.h"

#include "common/alloc.h"
#include "common/owned_text.h"
#include "platform/os_access.h"

namespace crv {
namespace {
constexpr uint32_t kPropertyChars = kPropertyBufferBytes / sizeof(char16_t);
}  // namespace

char16_t* ReadTextProperty(platform::DevInst devInst, uint32_t property) {
  char16_t buffer[kPropertyChars] = {};
  uint32_t type = 0;
  uint32_t length = kPropertyBufferBytes;
  if (Cm().GetDevNodeRegistryProperty(devInst, property, &type, buffer, &length, 0) !=
      platform::kCrSuccess) {
    return nullptr;
  }
  // The copy stops at the buffer's end even when the property filled it without a terminator.
  return DuplicateTextBounded(buffer, kPropertyChars);
}

char16_t* ReadSizedTextProperty(platform::DevInst devInst, uint32_t property) {
  uint32_t type = 0;
  uint32_t length = 0;
  if (Cm().GetDevNodeRegistryProperty(devInst, property, &type, nullptr, &length, 0) !=
          platform::kCrBufferSmall ||
      length == 0) {
    return nullptr;
  }
  // Two characters more than the property, so that the text is always terminated.
  uint32_t size = length + 2 * sizeof(char16_t);
  auto* text = static_cast<char16_t*>(AllocateZeroed(size));
  if (text == nullptr) return nullptr;
  if (Cm().GetDevNodeRegistryProperty(devInst, property, &type, text, &length, 0) !=
      platform::kCrSuccess) {
    FreeBlock(text);
    return nullptr;
  }
  return text;
}

bool ReadDwordProperty(platform::DevInst devInst, uint32_t property, uint32_t* value) {
  uint32_t type = 0;
  uint32_t data = 0;
  uint32_t length = sizeof data;
  if (Cm().GetDevNodeRegistryProperty(devInst, property, &type, &data, &length, 0) !=
      platform::kCrSuccess) {
    return false;
  }
  *value = data;
  return true;
}

}  // namespace crv
