// Configuration manager calls (cfgmgr32, CM_*): the PnP device tree, its properties and
// device interfaces. Results are CONFIGRET values; texts are sized first where the agent
// depends on the size protocol (CR_BUFFER_SMALL).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

using DevInst = uint32_t;
using ConfigRet = uint32_t;

constexpr ConfigRet kCrSuccess = 0x00;
constexpr ConfigRet kCrInvalidPointer = 0x03;
constexpr ConfigRet kCrInvalidFlag = 0x04;
constexpr ConfigRet kCrInvalidDevNode = 0x05;
constexpr ConfigRet kCrNoSuchDevNode = 0x0D;
constexpr ConfigRet kCrFailure = 0x13;
constexpr ConfigRet kCrBufferSmall = 0x1A;
constexpr ConfigRet kCrRegistryError = 0x1D;
constexpr ConfigRet kCrInvalidDeviceId = 0x1E;
constexpr ConfigRet kCrInvalidData = 0x1F;
constexpr ConfigRet kCrNoSuchValue = 0x25;
constexpr ConfigRet kCrNoSuchRegistryKey = 0x2E;
constexpr ConfigRet kCrInvalidProperty = 0x35;

// The buffer CM_Get_Device_IDW is given for a device instance id (MAX_DEVICE_ID_LEN): an id
// that fills it comes back without a terminator.
constexpr uint32_t kMaxDeviceIdLen = 200;

constexpr uint32_t kCmGetIdListFilterNone = 0;
constexpr uint32_t kCmGetIdListFilterEnumerator = 0x1;
constexpr uint32_t kCmGetIdListFilterService = 0x2;
constexpr uint32_t kCmGetIdListFilterPresent = 0x100;
constexpr uint32_t kCmGetIdListFilterClass = 0x200;
constexpr uint32_t kCmLocateDevNodeNormal = 0;
constexpr uint32_t kCmLocateDevNodePhantom = 0x1;
constexpr uint32_t kCmGetDeviceInterfaceListPresent = 0;
constexpr uint32_t kCmGetDeviceInterfaceListAllDevices = 0x1;
constexpr uint32_t kCmRegistryHardware = 0;
constexpr uint32_t kCmRegistrySoftware = 1;
constexpr uint32_t kRegDispositionOpenAlways = 0;
constexpr uint32_t kRegDispositionOpenExisting = 1;

// Device registry properties (CM_DRP_*).
constexpr uint32_t kCmDrpDeviceDesc = 1;
constexpr uint32_t kCmDrpHardwareId = 2;
constexpr uint32_t kCmDrpService = 5;
constexpr uint32_t kCmDrpFriendlyName = 13;
constexpr uint32_t kCmDrpLocationInformation = 14;
constexpr uint32_t kCmDrpUiNumber = 17;

// GUID as Windows lays it out.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

// GUID_NDIS_LAN_CLASS {ad498944-762f-11d0-8dcb-00c04fc3358c}.
constexpr Guid kGuidNdisLanClass = {
    0xad498944, 0x762f, 0x11d0, {0x8d, 0xcb, 0x00, 0xc0, 0x4f, 0xc3, 0x35, 0x8c}};

class ConfigManager {
 public:
  virtual ~ConfigManager() = default;

  // CM_Get_Device_ID_List_SizeW / CM_Get_Device_ID_ListW: lengths in characters; the list is
  // a sequence of terminated texts ended by an empty one.
  virtual ConfigRet GetDeviceIdListSize(uint32_t* length, const char16_t* filter,
                                        uint32_t flags) = 0;
  virtual ConfigRet GetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t length,
                                    uint32_t flags) = 0;
  virtual ConfigRet LocateDevNode(DevInst* devInst, const char16_t* deviceId, uint32_t flags) = 0;
  virtual ConfigRet GetParent(DevInst* parent, DevInst devInst, uint32_t flags) = 0;
  virtual ConfigRet GetDeviceId(DevInst devInst, char16_t* buffer, uint32_t length,
                                uint32_t flags) = 0;
  // CM_Get_DevNode_Registry_PropertyW: length in bytes, in and out; a buffer too small (or
  // null) answers kCrBufferSmall with the size needed.
  virtual ConfigRet GetDevNodeRegistryProperty(DevInst devInst, uint32_t property, uint32_t* type,
                                               void* buffer, uint32_t* length, uint32_t flags) = 0;
  // CM_Open_DevNode_Key: the key is closed with Registry::CloseKey.
  virtual ConfigRet OpenDevNodeKey(DevInst devInst, uint32_t access, uint32_t profile,
                                   uint32_t disposition, RegKey* key, uint32_t flags) = 0;
  // CM_Get_Device_Interface_List_SizeW / CM_Get_Device_Interface_ListW: lengths in
  // characters; a multi-text list of interface paths.
  virtual ConfigRet GetDeviceInterfaceListSize(uint32_t* length, const Guid& interfaceClass,
                                               const char16_t* deviceId, uint32_t flags) = 0;
  virtual ConfigRet GetDeviceInterfaceList(const Guid& interfaceClass, const char16_t* deviceId,
                                           char16_t* buffer, uint32_t length, uint32_t flags) = 0;
};

}  // namespace platform
