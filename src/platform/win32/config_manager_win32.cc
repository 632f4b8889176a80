// cfgmgr32's CM_* calls. Under Wine the device lists are empty and
// CM_Get_Device_Interface_ListW is not implemented (calling it ends the process); the agent
// only asks for interfaces of IDs the lists gave it, so it never gets there.
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

#include <cfgmgr32.h>

namespace platform::win32 {
namespace {

// The SDK declares some input texts and GUIDs without const; the calls do not change them.
DEVINSTID_W DeviceId(const char16_t* id) { return const_cast<DEVINSTID_W>(Wide(id)); }
LPGUID SdkGuid(const Guid& guid) { return reinterpret_cast<LPGUID>(const_cast<Guid*>(&guid)); }

class Win32ConfigManager final : public ConfigManager {
 public:
  ConfigRet GetDeviceIdListSize(uint32_t* length, const char16_t* filter, uint32_t flags) override {
    ULONG n = 0;
    CONFIGRET status = CM_Get_Device_ID_List_SizeW(&n, Wide(filter), flags);
    if (length != nullptr) *length = n;
    return status;
  }

  ConfigRet GetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t length,
                            uint32_t flags) override {
    return CM_Get_Device_ID_ListW(Wide(filter), Wide(buffer), length, flags);
  }

  ConfigRet LocateDevNode(DevInst* devInst, const char16_t* deviceId, uint32_t flags) override {
    DEVINST found = 0;
    CONFIGRET status = CM_Locate_DevNodeW(&found, DeviceId(deviceId), flags);
    if (devInst != nullptr) *devInst = found;
    return status;
  }

  ConfigRet GetParent(DevInst* parent, DevInst devInst, uint32_t flags) override {
    DEVINST found = 0;
    CONFIGRET status = CM_Get_Parent(&found, devInst, flags);
    if (parent != nullptr) *parent = found;
    return status;
  }

  ConfigRet GetDeviceId(DevInst devInst, char16_t* buffer, uint32_t length,
                        uint32_t flags) override {
    return CM_Get_Device_IDW(devInst, Wide(buffer), length, flags);
  }

  ConfigRet GetDevNodeRegistryProperty(DevInst devInst, uint32_t property, uint32_t* type,
                                       void* buffer, uint32_t* length, uint32_t flags) override {
    ULONG sdkType = 0;
    ULONG bytes = length != nullptr ? *length : 0;
    CONFIGRET status =
        CM_Get_DevNode_Registry_PropertyW(devInst, property, type != nullptr ? &sdkType : nullptr,
                                          buffer, length != nullptr ? &bytes : nullptr, flags);
    if (type != nullptr) *type = sdkType;
    if (length != nullptr) *length = bytes;
    return status;
  }

  ConfigRet OpenDevNodeKey(DevInst devInst, uint32_t access, uint32_t profile, uint32_t disposition,
                           RegKey* key, uint32_t flags) override {
    HKEY opened = nullptr;
    CONFIGRET status = CM_Open_DevNode_Key(devInst, access, profile, disposition,
                                           key != nullptr ? &opened : nullptr, flags);
    if (key != nullptr) *key = status == CR_SUCCESS ? FromSdk(opened) : nullptr;
    return status;
  }

  ConfigRet GetDeviceInterfaceListSize(uint32_t* length, const Guid& interfaceClass,
                                       const char16_t* deviceId, uint32_t flags) override {
    ULONG n = 0;
    CONFIGRET status =
        CM_Get_Device_Interface_List_SizeW(&n, SdkGuid(interfaceClass), DeviceId(deviceId), flags);
    if (length != nullptr) *length = n;
    return status;
  }

  ConfigRet GetDeviceInterfaceList(const Guid& interfaceClass, const char16_t* deviceId,
                                   char16_t* buffer, uint32_t length, uint32_t flags) override {
    return CM_Get_Device_Interface_ListW(SdkGuid(interfaceClass), DeviceId(deviceId), Wide(buffer),
                                         length, flags);
  }
};

}  // namespace

ConfigManager& ConfigManagerBackend() {
  static Win32ConfigManager backend;
  return backend;
}

}  // namespace platform::win32
