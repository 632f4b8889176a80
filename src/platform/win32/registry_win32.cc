// advapi32 Reg*W. Keys pass through unchanged (the predefined keys keep their SDK values);
// the agent closes what it opens.
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

class Win32Registry final : public Registry {
 public:
  int32_t OpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options, uint32_t access,
                    RegKey* result) override {
    HKEY opened = nullptr;
    LSTATUS status = RegOpenKeyExW(ToSdk(key), Wide(subKey), options, access, &opened);
    *result = status == ERROR_SUCCESS ? FromSdk(opened) : nullptr;
    return status;
  }

  int32_t CreateKeyEx(RegKey key, const char16_t* subKey, const char16_t* keyClass,
                      uint32_t options, uint32_t access, RegKey* result,
                      uint32_t* disposition) override {
    HKEY created = nullptr;
    DWORD how = 0;
    LSTATUS status =
        RegCreateKeyExW(ToSdk(key), Wide(subKey), 0, const_cast<wchar_t*>(Wide(keyClass)), options,
                        access, nullptr, &created, &how);
    *result = status == ERROR_SUCCESS ? FromSdk(created) : nullptr;
    if (status == ERROR_SUCCESS && disposition != nullptr) *disposition = how;
    return status;
  }

  int32_t DeleteKey(RegKey key, const char16_t* subKey) override {
    return RegDeleteKeyW(ToSdk(key), Wide(subKey));
  }

  int32_t DeleteValue(RegKey key, const char16_t* valueName) override {
    return RegDeleteValueW(ToSdk(key), Wide(valueName));
  }

  int32_t SetValueEx(RegKey key, const char16_t* valueName, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
    return RegSetValueExW(ToSdk(key), Wide(valueName), 0, type, data, size);
  }

  int32_t QueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
    DWORD valueType = 0;
    DWORD valueSize = size != nullptr ? *size : 0;
    LSTATUS status = RegQueryValueExW(ToSdk(key), Wide(valueName), nullptr,
                                      type != nullptr ? &valueType : nullptr, data,
                                      size != nullptr ? &valueSize : nullptr);
    if (type != nullptr) *type = valueType;
    if (size != nullptr) *size = valueSize;
    return status;
  }

  int32_t EnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                    FileTime* lastWriteTime) override {
    DWORD length = *nameLength;
    LSTATUS status = RegEnumKeyExW(ToSdk(key), index, Wide(name), &length, nullptr, nullptr,
                                   nullptr, reinterpret_cast<FILETIME*>(lastWriteTime));
    *nameLength = length;
    return status;
  }

  int32_t EnumValue(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                    uint32_t* type, uint8_t* data, uint32_t* dataSize) override {
    DWORD length = *nameLength;
    DWORD valueType = 0;
    DWORD valueSize = dataSize != nullptr ? *dataSize : 0;
    LSTATUS status = RegEnumValueW(ToSdk(key), index, Wide(name), &length, nullptr,
                                   type != nullptr ? &valueType : nullptr, data,
                                   dataSize != nullptr ? &valueSize : nullptr);
    *nameLength = length;
    if (type != nullptr) *type = valueType;
    if (dataSize != nullptr) *dataSize = valueSize;
    return status;
  }

  int32_t CloseKey(RegKey key) override { return RegCloseKey(ToSdk(key)); }
};

}  // namespace

Registry& RegistryBackend() {
  static Win32Registry registry;
  return registry;
}

}  // namespace platform::win32
