// The registry calls the agent makes (advapi32 Reg*W). Statuses are Win32 errors.
#pragma once

#include "platform/types.h"

namespace platform {

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExW. *result is null on failure.
  virtual int32_t OpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options, uint32_t access,
                            RegKey* result) = 0;
  // RegCreateKeyExW with null security attributes. disposition may be null.
  virtual int32_t CreateKeyEx(RegKey key, const char16_t* subKey, const char16_t* keyClass,
                              uint32_t options, uint32_t access, RegKey* result,
                              uint32_t* disposition) = 0;
  // RegDeleteKeyW: fails when the key still has subkeys.
  virtual int32_t DeleteKey(RegKey key, const char16_t* subKey) = 0;
  // RegDeleteValueW: kErrorFileNotFound when the key holds no value of that name.
  virtual int32_t DeleteValue(RegKey key, const char16_t* valueName) = 0;
  // RegSetValueExW.
  virtual int32_t SetValueEx(RegKey key, const char16_t* valueName, uint32_t type,
                             const uint8_t* data, uint32_t size) = 0;
  // RegQueryValueExW: type and data may be null; with a null data buffer only the size is
  // returned; a buffer too small answers kErrorMoreData with the needed size.
  virtual int32_t QueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                               uint32_t* size) = 0;
  // RegEnumKeyExW without class. nameLength is in characters, in and out (without the
  // terminator on the way out). lastWriteTime may be null.
  virtual int32_t EnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                            FileTime* lastWriteTime) = 0;
  // RegEnumValueW. nameLength is in characters, in and out (without the terminator on the
  // way out); a name buffer too small answers kErrorMoreData. type, data and dataSize may be
  // null; with a null data buffer only the size is returned; a data buffer too small answers
  // kErrorMoreData with the needed size. Values are listed in the order they were created.
  virtual int32_t EnumValue(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                            uint32_t* type, uint8_t* data, uint32_t* dataSize) = 0;
  // RegCloseKey.
  virtual int32_t CloseKey(RegKey key) = 0;
};

}  // namespace platform
