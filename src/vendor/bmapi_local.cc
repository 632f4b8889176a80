#include "vendor/bmapi_local.h"

#include <cstring>

#include "common/alloc.h"
#include "common/ansi_text.h"
#include "common/device_lists.h"
#include "common/owned_text.h"
#include "common/text.h"
#include "platform/platform.h"
#include "vendor/vendor_libraries.h"

namespace crv {
namespace {

constexpr uint32_t kFailed = 2;
constexpr uint32_t kInitializeTries = 5;
constexpr uint32_t kInitializeSleepMs = 1000;
constexpr uint32_t kUnloadSleepMs = 100;
constexpr char16_t kLibraryName[] = u"\\bmapi.dll";
constexpr size_t kLibraryNameChars = sizeof kLibraryName / sizeof(char16_t) - 1;

// The devices bmapi.dll knows are listed by the configuration manager under this setup class.
constexpr char16_t kLibraryDeviceClass[] = u"{6d807884-7d21-11cf-801c-08002be10318}";
constexpr uint32_t kClassPresentFilter =
    platform::kCmGetIdListFilterClass | platform::kCmGetIdListFilterPresent;
constexpr uint32_t kLocationBytes = 2048;
constexpr size_t kLocationChars = kLocationBytes / sizeof(char16_t);

// The physical NIC info of bmapi.dll: version 16 at 0, kind at 8; NICs of kind 4 and 5 carry
// a PnP device id.
constexpr uint32_t kPhyNicInfoSize = 16;
constexpr uint32_t kPhyNicInfoVersion = 16;
constexpr size_t kPhyNicInfoKindOffset = 8;
constexpr uint32_t kPhyNicKindA = 4;
constexpr uint32_t kPhyNicKindB = 5;

BmapiLocalLibrary& Local() { return VendorLibraries().bmapiLocal; }
platform::DynamicLibrary& Libraries() { return *platform::Os().libraries; }
void Sleep(uint32_t milliseconds) { platform::Os().kernel->SleepEx(milliseconds, false); }

uint32_t ReadWord(const uint8_t* record, size_t offset) {
  uint32_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

// Forgets the module and every entry point (the buffer stays as it is).
void Forget(BmapiLocalLibrary& l) {
  l.module = nullptr;
  l.initializeEx = nullptr;
  l.uninitialize = nullptr;
  l.getBRCMNicInfoEx = nullptr;
  l.getHandleByServiceName = nullptr;
  l.getNumPhyNicEx = nullptr;
  l.getAllPhyNicHandles = nullptr;
  l.getPhyNic = nullptr;
  l.getPnpDevId = nullptr;
}

// Resolves the next entry point; false (and nothing more is resolved) when it is missing.
template <class Fn>
bool Resolve(platform::Module module, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(Libraries().GetProcAddress(module, name));
  return entry != nullptr;
}

bool ResolveAll(BmapiLocalLibrary& l) {
  return Resolve(l.module, "BmapiInitializeEx", l.initializeEx) &&
         Resolve(l.module, "BmapiUninitialize", l.uninitialize) &&
         Resolve(l.module, "BmapiGetBRCMNicInfoEx", l.getBRCMNicInfoEx) &&
         Resolve(l.module, "BmapiGetHandleByServiceName", l.getHandleByServiceName) &&
         Resolve(l.module, "BmapiGetNumPhyNicEx", l.getNumPhyNicEx) &&
         Resolve(l.module, "BmapiGetAllPhyNicHandles", l.getAllPhyNicHandles) &&
         Resolve(l.module, "BmapiGetPhyNic", l.getPhyNic) &&
         Resolve(l.module, "BmapiGetPnpDevId", l.getPnpDevId);
}

// "<directory of the agent's module>\bmapi.dll"; false when the module path has no
// directory (the library is never looked for anywhere else).
bool BuildLibraryPath(char16_t* path, size_t pathChars) {
  platform::DynamicLibrary& libraries = Libraries();
  char16_t module[platform::kMaxPath + 1] = {};
  uint32_t length =
      libraries.GetModuleFileName(libraries.AgentModule(), module, platform::kMaxPath);
  if (length > platform::kMaxPath) length = platform::kMaxPath;
  module[length] = 0;
  size_t cut = length;
  while (cut > 0 && module[cut - 1] != u'\\') --cut;
  if (cut == 0 || cut - 1 + kLibraryNameChars + 1 > pathChars) return false;
  std::memcpy(path, module, (cut - 1) * sizeof(char16_t));
  std::memcpy(path + cut - 1, kLibraryName, (kLibraryNameChars + 1) * sizeof(char16_t));
  return true;
}

// A device node's location text into text (kLocationChars); false when it has none.
bool ReadLocation(platform::DevInst node, char16_t* text) {
  uint32_t length = kLocationBytes;
  platform::ConfigRet status = platform::Os().configManager->GetDevNodeRegistryProperty(
      node, platform::kCmDrpLocationInformation, nullptr, text, &length, 0);
  if (status != platform::kCrSuccess) return false;
  size_t chars = length / sizeof(char16_t);
  text[chars < kLocationChars ? chars : kLocationChars - 1] = 0;
  return text[0] != 0;
}

// The PnP device id bmapi.dll reports for a NIC, compared with identifier. 0 equal, 1 not
// equal, 2 the id cannot be had.
uint32_t ComparePnpDevId(const BmapiLocalLibrary& l, uint32_t nic, const char16_t* identifier) {
  uint32_t length = 0;
  uint32_t unused1 = 0;
  uint32_t unused2 = 0;
  if (l.getPnpDevId(nic, nullptr, &length, &unused1, &unused2) != 0) return kFailed;
  // One more byte and character than the library asks for: the copies stay terminated.
  size_t bytes = size_t{length} + 1;
  auto* narrow = static_cast<char*>(AllocateZeroed(bytes));
  auto* wide = static_cast<char16_t*>(AllocateZeroed(bytes * sizeof(char16_t)));
  uint32_t result = kFailed;
  if (narrow != nullptr && wide != nullptr &&
      l.getPnpDevId(nic, narrow, &length, &unused1, &unused2) == 0) {
    FromAnsiField(narrow, bytes - 1, wide, bytes);
    result = EqualsText(wide, identifier) ? 0 : 1;
  }
  FreeBlock(wide);
  FreeBlock(narrow);
  return result;
}

}  // namespace

uint32_t LoadBmapiLocal() {
  BmapiLocalLibrary& l = Local();
  char16_t path[platform::kMaxPath + kLibraryNameChars + 1] = {};
  bool havePath = BuildLibraryPath(path, sizeof path / sizeof path[0]);
  if (l.module != nullptr) return 0;
  if (!havePath) return kFailed;
  l.module = Libraries().LoadLibrary(path);
  if (l.module == nullptr) return kFailed;
  if (!ResolveAll(l)) {
    Libraries().FreeLibrary(l.module);
    Forget(l);
    return kFailed;
  }
  // The library counts as loaded whether or not it could be initialised.
  for (uint32_t attempt = 0; attempt < kInitializeTries; ++attempt) {
    if (l.initializeEx(0) == 0) break;
    Sleep(kInitializeSleepMs);
  }
  return 0;
}

uint32_t UnloadBmapiLocal() {
  BmapiLocalLibrary& l = Local();
  uint32_t result = 0;
  if (l.uninitialize != nullptr) {
    // A library that refuses to uninitialise is left loaded.
    if (l.uninitialize() != 0) {
      result = kFailed;
    } else {
      Sleep(kUnloadSleepMs);
      if (!Libraries().FreeLibrary(l.module)) result = kFailed;
    }
  }
  Forget(l);
  return result;
}

uint32_t FindClassDeviceByLocation(platform::DevInst adapterNode, char16_t** identifier) {
  *identifier = nullptr;
  platform::ConfigManager& cm = *platform::Os().configManager;
  char16_t adapterLocation[kLocationChars];
  if (!ReadLocation(adapterNode, adapterLocation)) return 0;
  DeviceList ids = ReadDeviceIdList(kLibraryDeviceClass, kClassPresentFilter);
  char16_t* list = ids.texts;
  uint32_t listChars = ids.chars;
  if (list == nullptr) return 0;
  char16_t location[kLocationChars];
  for (size_t at = 0; at < listChars && list[at] != 0;) {
    const char16_t* id = list + at;
    size_t idChars = TextLengthBounded(id, listChars - at);
    at += idChars + 1;
    platform::DevInst node = 0;
    if (cm.LocateDevNode(&node, id, platform::kCmLocateDevNodeNormal) != platform::kCrSuccess ||
        !ReadLocation(node, location) || !EqualsNoCase(location, adapterLocation)) {
      continue;
    }
    *identifier = DuplicateTextBounded(id, idChars);
    break;
  }
  FreeBlock(list);
  return 0;
}

uint32_t FindBmapiNicByPnpId(const char16_t* identifier, uint32_t* physicalNic) {
  const BmapiLocalLibrary& l = Local();
  if (identifier == nullptr || l.getNumPhyNicEx == nullptr || l.getAllPhyNicHandles == nullptr ||
      l.getPhyNic == nullptr || l.getPnpDevId == nullptr) {
    return kFailed;
  }
  uint32_t count = 0;
  if (l.getNumPhyNicEx(&count) != 0 || count == 0) return kFailed;
  auto* handles = static_cast<uint32_t*>(AllocateZeroed(size_t{count} * sizeof(uint32_t)));
  if (handles == nullptr) return kFailed;
  uint32_t status = kFailed;
  if (l.getAllPhyNicHandles(handles, count) == 0) {
    for (uint32_t i = count; i-- > 0;) {
      uint8_t info[kPhyNicInfoSize] = {};
      std::memcpy(info, &kPhyNicInfoVersion, sizeof kPhyNicInfoVersion);
      if (l.getPhyNic(handles[i], info) != 0) continue;
      uint32_t kind = ReadWord(info, kPhyNicInfoKindOffset);
      if (kind != kPhyNicKindA && kind != kPhyNicKindB) continue;
      uint32_t compared = ComparePnpDevId(l, handles[i], identifier);
      if (compared == kFailed) break;
      if (compared == 0) {
        *physicalNic = handles[i];
        status = 0;
        break;
      }
    }
  }
  FreeBlock(handles);
  return status;
}

uint32_t QueryBmapiNicInfoEx(platform::DevInst adapterNode, uint32_t* value) {
  uint32_t status = kFailed;
  uint32_t found = 0;
  char16_t* identifier = nullptr;
  if (LoadBmapiLocal() == 0) {
    FindClassDeviceByLocation(adapterNode, &identifier);
    uint32_t nic = 0;
    BmapiLocalLibrary& l = Local();
    if (FindBmapiNicByPnpId(identifier, &nic) == 0 && l.getBRCMNicInfoEx != nullptr) {
      std::memset(l.nicInfoEx, 0, sizeof l.nicInfoEx);
      std::memcpy(l.nicInfoEx, &kBmapiNicInfoExVersion, sizeof kBmapiNicInfoExVersion);
      if (l.getBRCMNicInfoEx(nic, l.nicInfoEx) == 0) {
        found = ReadWord(l.nicInfoEx, kBmapiNicInfoExValueOffset);
        status = 0;
      }
    }
  }
  FreeBlock(identifier);
  if (UnloadBmapiLocal() != 0) status = kFailed;
  if (status == 0) *value = found;
  return status;
}

}  // namespace crv
