#include "inventory/adapter_walk.h"

#include <cstring>
#include <iterator>

#include "common/alloc.h"
#include "common/device_lists.h"
#include "common/text.h"
#include "platform/platform.h"
#include "vendor/bmapi_local.h"
#include "vendor/device_path_queries.h"

namespace crv {
namespace {

using platform::ConfigManager;
using platform::DevInst;

constexpr char16_t kNetClassGuid[] = u"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr uint32_t kPresentDevicesOfClass =
    platform::kCmGetIdListFilterClass | platform::kCmGetIdListFilterPresent;
constexpr uint32_t kPropertyBufferBytes = 2048;
constexpr size_t kPropertyChars = kPropertyBufferBytes / sizeof(char16_t);
// Ports of these bus drivers are numbered by their own user-interface number, their slot by
// their parent's.
constexpr const char16_t* kParentSlotServices[] = {u"MLX4", u"xoib62", u"ipoib6x", u"SFCNDIS"};
// These take their parent's location text.
constexpr const char16_t* kParentLocationServices[] = {u"MLX4",      u"xoib62",  u"ipoib6x",
                                                       u"mlx4eth62", u"SFCNDIS", u"mlx4eth63"};
// The xoib62 port number is the fourth number of its location text after this prefix.
constexpr size_t kXoibLocationPrefixChars = 8;

bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
  for (size_t i = 0; prefix[i] != 0; ++i) {
    if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;  // text's 0 ends it too
  }
  return true;
}

template <size_t N>
bool StartsWithAny(const char16_t* text, const char16_t* const (&prefixes)[N]) {
  for (const char16_t* prefix : prefixes) {
    if (StartsWithNoCase(text, prefix)) return true;
  }
  return false;
}

// A text property in a kPropertyChars + 1 character buffer (terminated whatever the
// property holds); false, with the buffer empty, when it cannot be read.
bool ReadText(DevInst node, uint32_t property, char16_t (&buffer)[kPropertyChars + 1]) {
  std::memset(buffer, 0, sizeof(buffer));
  uint32_t type = 0;
  uint32_t length = kPropertyBufferBytes;
  if (platform::Os().configManager->GetDevNodeRegistryProperty(node, property, &type, buffer,
                                                               &length, 0) != 0) {
    std::memset(buffer, 0, sizeof(buffer));
    return false;
  }
  return true;
}

bool ReadUiNumber(DevInst node, uint32_t* number) {
  uint32_t value = 0, type = 0, length = sizeof(value);
  if (platform::Os().configManager->GetDevNodeRegistryProperty(node, platform::kCmDrpUiNumber,
                                                               &type, &value, &length, 0) != 0 ||
      length != sizeof(value)) {
    return false;
  }
  *number = value;
  return true;
}

// The parent's location text is read as the port's own would be, in a buffer grown to the
// size asked for. Nothing is parsed from it: it names the PCI function the ports share, and
// which port of it this device is cannot be told from the text.
void ReadParentLocation(DevInst node) {
  ConfigManager& cm = *platform::Os().configManager;
  DevInst parent = 0;
  if (cm.GetParent(&parent, node, 0) != 0) return;
  char16_t buffer[kPropertyChars + 1] = {};
  uint32_t type = 0, length = kPropertyBufferBytes;
  if (cm.GetDevNodeRegistryProperty(parent, platform::kCmDrpLocationInformation, &type, buffer,
                                    &length, 0) != platform::kCrBufferSmall) {
    return;
  }
  void* larger = AllocateZeroed(static_cast<size_t>(length) + sizeof(char16_t));
  if (larger == nullptr) return;
  cm.GetDevNodeRegistryProperty(parent, platform::kCmDrpLocationInformation, &type, larger, &length,
                                0);
  FreeBlock(larger);
}

struct DeviceFacts {
  DevInst node = 0;
  bool located = false;
  char16_t service[kPropertyChars + 1] = {};
  char16_t description[kPropertyChars + 1] = {};
  InventoryLocation location;
  uint32_t osSlot = 0;
  uint32_t port = kUnknownLocation;
};

void ParseLocation(DeviceFacts& d) {
  if (StartsWithAny(d.service, kParentLocationServices)) {
    ReadParentLocation(d.node);
    return;
  }
  char16_t text[kPropertyChars + 1];
  if (!ReadText(d.node, platform::kCmDrpLocationInformation, text)) return;
  d.location = ParseInventoryLocation(text, kPropertyChars);
}

// The operating-system slot number of a bus driver's port whose parent has no user-interface
// number: only the TW2 model's Mellanox adapter is known, in slot 1.
uint32_t ParentlessSlot(DevInst parent, const char* productName) {
  if (std::strcmp(productName, kTw2ProductName) != 0) return 0;
  char16_t id[platform::kMaxDeviceIdLen] = {};
  if (platform::Os().configManager->GetDeviceId(parent, id, std::size(id), 0) != 0) return 0;
  return IsTw2MellanoxHardwareId(id, std::size(id)) ? 1 : 0;
}

void NumberSlotAndPort(DeviceFacts& d, const char* productName) {
  if (!d.located) return;  // slot 0, port unknown
  uint32_t own = 0;
  bool hasOwn = ReadUiNumber(d.node, &own);
  if (!StartsWithAny(d.service, kParentSlotServices)) {
    d.osSlot = hasOwn ? own : 0;
  } else {
    if (StartsWithNoCase(d.service, u"xoib62")) {
      char16_t text[kPropertyChars + 1];
      uint32_t numbers[4];
      if (ReadText(d.node, platform::kCmDrpLocationInformation, text) &&
          TextLength(text) > kXoibLocationPrefixChars &&
          ReadLocationNumbers(text + kXoibLocationPrefixChars,
                              kPropertyChars - kXoibLocationPrefixChars, numbers) == 4) {
        d.port = numbers[3];
      }
    } else if (hasOwn) {
      d.port = own;
    }
    DevInst parent = 0;
    uint32_t parentNumber = 0;
    if (platform::Os().configManager->GetParent(&parent, d.node, 0) == 0) {
      d.osSlot =
          ReadUiNumber(parent, &parentNumber) ? parentNumber : ParentlessSlot(parent, productName);
    }
  }
  d.osSlot = ProductSlotNumber(productName, d.osSlot);
}

// The first NDIS LAN device interface path of the device, lower-cased, in a new block; null
// when it has none.
char16_t* ReadDevicePath(const char16_t* deviceId) {
  DeviceList paths = ReadDeviceInterfaceList(platform::kGuidNdisLanClass, deviceId,
                                             platform::kCmGetDeviceInterfaceListPresent);
  if (paths.texts != nullptr && paths.chars == 0) FreeBlock(paths.texts);
  if (paths.texts == nullptr || paths.chars == 0) return nullptr;
  char16_t* list = paths.texts;
  LowerCaseInPlace(list);  // the first path only: it ends at its terminator
  return list;
}

// Whether the adapter's vendor reports the feature the walk asks about, by the driver's
// exact service name; the answer starts as all ones and is read as a signed number.
uint32_t VendorFeature(const DeviceFacts& d, const char16_t* devicePath) {
  uint32_t answer = 0xFFFFFFFFu;
  const char16_t* s = d.service;
  if (EqualsText(s, u"mlx4eth6") || EqualsText(s, u"ipoib6x")) {
    QueryPathOidByte(&answer, devicePath);
    return static_cast<int32_t>(answer) > 1 ? 1 : 0;
  }
  if (EqualsText(s, u"be2net")) {
    QueryPathOidDword(&answer, devicePath);
    return static_cast<int32_t>(answer) > 0 ? 1 : 0;
  }
  if (EqualsText(s, u"NXND6Vq") || EqualsText(s, u"NXND5Vq") || EqualsText(s, u"QLNDNIC")) {
    QueryPathOidSigned(&answer, devicePath);
    return static_cast<int32_t>(answer) > 1 ? 1 : 0;
  }
  if (EqualsText(s, u"l2nd") || EqualsText(s, u"BXOIS")) {
    return QueryBmapiNicInfoEx(d.node, &answer) == 0 && answer != 0 ? 1 : 0;
  }
  return 0;
}

void FileDevice(const char16_t* deviceId, const char* productName, AdapterLocationTable* table) {
  // Some 4 KB of buffers: kept off the stack of the collection thread.
  DeviceFacts* d = NewObject<DeviceFacts>();
  if (d == nullptr) return;
  ConfigManager& cm = *platform::Os().configManager;
  d->located = cm.LocateDevNode(&d->node, deviceId, platform::kCmLocateDevNodeNormal) == 0;
  if (d->located) {
    ReadText(d->node, platform::kCmDrpService, d->service);
    ReadText(d->node, platform::kCmDrpDeviceDesc, d->description);
    ParseLocation(*d);
  }
  char16_t* devicePath = ReadDevicePath(deviceId);
  NumberSlotAndPort(*d, productName);
  uint32_t feature = VendorFeature(*d, devicePath != nullptr ? devicePath : u"");
  const uint32_t keys[kAdapterLocationKeys] = {
      d->osSlot,          d->location.slot,     d->location.bus,
      d->location.device, d->location.function, d->port};
  table->Store(keys, d->description, feature);  // an entry that cannot be had is left out
  FreeBlock(devicePath);
  DeleteObject(d);
}

}  // namespace

bool AdapterLocationTable::Store(const uint32_t (&keys)[kAdapterLocationKeys],
                                 const char16_t* description, uint32_t vendorFeature) {
  auto* entry = const_cast<AdapterLocationEntry*>(Find(keys));
  if (entry == nullptr) {
    entry = NewObject<AdapterLocationEntry>();
    if (entry == nullptr) return false;
    auto* node = SinglyLinkedList<AdapterLocationEntry>::NewNode(entry);
    if (node == nullptr) {
      DeleteObject(entry);
      return false;
    }
    for (size_t i = 0; i < kAdapterLocationKeys; ++i) entry->keys[i] = keys[i];
    entries_.Append(node);
  }
  CopyBounded(entry->record.description, kLocationDescriptionChars, description);
  entry->vendorFeature = vendorFeature;
  return true;
}

const AdapterLocationEntry* AdapterLocationTable::Find(
    const uint32_t (&keys)[kAdapterLocationKeys]) const {
  for (auto* node = entries_.Head(); node != nullptr; node = node->next) {
    if (std::memcmp(node->element->keys, keys, sizeof(keys)) == 0) return node->element;
  }
  return nullptr;
}

uint32_t WalkNetworkAdapters(const char* productName, AdapterLocationTable* table) {
  DeviceList ids = ReadDeviceIdList(kNetClassGuid, kPresentDevicesOfClass);
  if (ids.texts == nullptr) return 0;
  const char16_t* end = ids.texts + ids.chars;
  for (const char16_t* id = ids.texts; id < end && *id != 0;) {
    size_t idChars = TextLengthBounded(id, static_cast<size_t>(end - id));
    FileDevice(id, productName, table);
    id += idChars + 1;
  }
  FreeBlock(ids.texts);
  return 0;
}

}  // namespace crv
