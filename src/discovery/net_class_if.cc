#include "discovery/net_class_if.h"

#include <cstddef>
#include <cstring>

#include "common/alloc.h"
#include "common/device_lists.h"
#include "common/report.h"
#include "common/text.h"
#include "platform/os_access.h"

namespace crv {
namespace {

constexpr char16_t kTeamMultiplexorPathPart[] = u"\\\\?\\compositebus#ms_implat_mp";

// Texts that mark a managed adapter's interface path, tried in this order. All but the last
// begin with "\\?\", which occurs only at the start of a device path; the Solarflare NDIS bus
// device is accepted wherever its text occurs.
constexpr const char16_t* kManagedPathParts[] = {
    u"\\\\?\\pci#ven",
    u"\\\\?\\root#cv_crvteammp",
    kTeamMultiplexorPathPart,
    u"\\\\?\\root#net#",
    u"\\\\?\\root#vmware#",
    u"\\\\?\\root#msloop",
    u"\\\\?\\ebdrv#l2nd",
    u"\\\\?\\b06bdrv#l2nd",
    u"\\\\?\\mlx4#connectx_eth",
    u"\\\\?\\mlx4#connectx-3_eth",
    u"\\\\?\\mlx4#connectx-3pro_eth",
    u"\\\\?\\iba#ipoib",
    u"\\\\?\\iba#connectx-3_ipoib",
    u"\\\\?\\iba#connectx-3pro_ipoib",
    u"\\\\?\\qebdrv#l2nd",
    u"#ndis&ven_1924&dev_0903",
};

void ReportAllocationFailure(const char16_t* message) {
  uint32_t error = platform::Os().kernel->GetLastError();
  Report(kReportAllocationFailed, nullptr, error);
  ReportInfo(message, error);
}

// A detail record holding path, or null.
DeviceInterfaceDetail* NewDetailRecord(const char16_t* path) {
  size_t chars = TextLength(path);
  size_t size = offsetof(DeviceInterfaceDetail, devicePath) + (chars + 1) * sizeof(char16_t);
  auto* detail = static_cast<DeviceInterfaceDetail*>(AllocateZeroed(size));
  if (detail == nullptr) return nullptr;
  detail->cbSize = kDeviceInterfaceDetailCbSize;
  std::memcpy(detail->devicePath, path, (chars + 1) * sizeof(char16_t));
  return detail;
}

}  // namespace

bool IsManagedInterfacePath(const char16_t* lowerCasePath) {
  for (const char16_t* part : kManagedPathParts) {
    if (ContainsText(lowerCasePath, part)) return true;
  }
  return false;
}

bool IsTeamMultiplexorPath(const char16_t* lowerCasePath) {
  return ContainsText(lowerCasePath, kTeamMultiplexorPathPart);
}

CNetClassIf::CNetClassIf(DeviceInterfaceDetail* detail) : detail_(detail) {
  const char16_t* path = detail_->devicePath;
  const char16_t* lastBackslash = nullptr;
  for (const char16_t* c = path; *c != 0; ++c) {
    if (*c == u'\\') lastBackslash = c;
  }
  size_t pathChars = TextLength(path);
  if (lastBackslash == nullptr) {
    ReportInfo(u"CNetClassIf::CNetClassIf: failure to find device name: ", 0);
    guidText_ = path + pathChars;  // no GUID: an empty text
  } else {
    guidText_ = lastBackslash + 1;
  }
  pathSize_ = 2 * pathChars + 2;
  deviceNameSize_ = 2 * TextLength(guidText_) + 12;
}

CNetClassIf::~CNetClassIf() { FreeBlock(detail_); }

uint32_t CNetClassIf::CopyDeviceName(char16_t* buffer) const {
  if (buffer == nullptr) return kReportAllocationFailed;
  size_t chars = deviceNameSize_ / sizeof(char16_t);
  CopyBounded(buffer, chars, u"\\\\.\\");
  CopyBounded(buffer + 4, chars - 4, guidText_);
  return 0;
}

uint32_t CNetClassIf::CopyPath(char16_t* buffer) const {
  if (buffer == nullptr) return kReportAllocationFailed;
  std::memcpy(buffer, detail_->devicePath, pathSize_);
  return 0;
}

NETCLASSIFNODE* CNetClassIfList::AllocateCNetClassNode(DeviceInterfaceDetail* detail) {
  CNetClassIf* netClassIf = NewObject<CNetClassIf>(detail);
  if (netClassIf == nullptr) {
    ReportAllocationFailure(
        u"CNetClassIfList::AllocateCNetClassNode: failure to allocate CNetClassIF");
    FreeBlock(detail);
    return nullptr;
  }
  NETCLASSIFNODE* node = SinglyLinkedList<CNetClassIf>::NewNode(netClassIf);
  if (node == nullptr) {
    ReportAllocationFailure(
        u"CNetClassIfList::AllocateCNetClassNode: failure to allocate NETCLASSIFNODE");
    DeleteObject(netClassIf);
  }
  return node;
}

uint32_t CNetClassIfList::Enumerate() {
  uint32_t flags = platform::kCmGetIdListFilterClass | platform::kCmGetIdListFilterPresent;
  DeviceList ids = ReadDeviceIdList(kNetClassFilter, flags);
  if (ids.texts == nullptr) return ids.status;
  uint32_t status = ids.status;
  for (const char16_t* id = ids.texts; *id != 0; id += TextLength(id) + 1) status = AddDevice(id);
  FreeBlock(ids.texts);
  return status;
}

uint32_t CNetClassIfList::AddDevice(const char16_t* deviceId) {
  platform::DevInst devInst = 0;
  uint32_t status = Cm().LocateDevNode(&devInst, deviceId, platform::kCmLocateDevNodeNormal);
  if (status != platform::kCrSuccess) return status;
  DeviceList paths = ReadDeviceInterfaceList(platform::kGuidNdisLanClass, deviceId,
                                             platform::kCmGetDeviceInterfaceListPresent);
  status = paths.status;
  if (status == platform::kCrSuccess) {
    // Only the first path counts.
    DeviceInterfaceDetail* detail = NewDetailRecord(paths.texts);
    if (detail != nullptr) {
      LowerCaseInPlace(detail->devicePath);
      if (IsManagedInterfacePath(detail->devicePath)) {
        NETCLASSIFNODE* node = AllocateCNetClassNode(detail);
        if (node != nullptr) {
          list_.Append(node);
          ++count_;
        }
      } else {
        FreeBlock(detail);
        status = platform::kErrorInvalidData;
      }
    }
  }
  FreeBlock(paths.texts);
  return status;
}

}  // namespace crv
