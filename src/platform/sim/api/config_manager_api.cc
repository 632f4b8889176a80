// The configuration manager calls (CM_*) on the simulated PnP tree, with Windows' CONFIGRET
// answers and size protocols. Fault names are the calls' own ("CM_Get_Device_ID_ListW", ...);
// the fault's status is returned as the CONFIGRET.
#include <cstring>

#include "common/text.h"
#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

using namespace platform;

constexpr uint32_t kCmDrpMax = 0x25;
constexpr uint32_t kLocateFlags = 0x7;  // phantom, cancel remove, no validation
constexpr uint32_t kIdListFlags = kCmGetIdListFilterEnumerator | kCmGetIdListFilterService |
                                  kCmGetIdListFilterPresent | kCmGetIdListFilterClass;
constexpr uint32_t kRegistryFlags = kCmRegistrySoftware | 0x100 | 0x200;  // user, config

bool IsGuidText(std::u16string_view text) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    char16_t c = text[i];
    bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (dash ? c != u'-' : !hex) return false;
  }
  return true;
}

bool SameGuid(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A multi-text list: each text terminated, then an empty text.
std::u16string MultiText(const std::vector<std::u16string>& texts) {
  std::u16string out;
  for (const auto& t : texts) {
    out += t;
    out.push_back(0);
  }
  out.push_back(0);
  return out;
}

class ConfigManagerApi : public ConfigManager {
 public:
  explicit ConfigManagerApi(Machine& machine) : machine_(machine), internals_(machine) {}

  ConfigRet GetDeviceIdListSize(uint32_t* length, const char16_t* filter, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetDeviceIDListSizeW)) return *fault;
    if (length == nullptr) return kCrInvalidPointer;
    *length = 0;
    std::u16string list;
    if (ConfigRet status = DeviceIdList(filter, flags, &list); status != kCrSuccess) return status;
    *length = static_cast<uint32_t>(list.size());
    return kCrSuccess;
  }

  ConfigRet GetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t length,
                            uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetDeviceIDListW)) return *fault;
    if (buffer == nullptr || length == 0) return kCrInvalidPointer;
    Arrive(SimDevices::ListRead::kDeviceIds);
    std::u16string list;
    if (ConfigRet status = DeviceIdList(filter, flags, &list); status != kCrSuccess) return status;
    if (list.size() > length) return kCrBufferSmall;
    std::memcpy(buffer, list.data(), list.size() * sizeof(char16_t));
    return kCrSuccess;
  }

  ConfigRet LocateDevNode(DevInst* devInst, const char16_t* deviceId, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMLocateDevNodeW)) return *fault;
    if (devInst == nullptr) return kCrInvalidPointer;
    *devInst = 0;
    if ((flags & ~kLocateFlags) != 0) return kCrInvalidFlag;
    const SimDevices& devices = Devices();
    if (deviceId == nullptr || *deviceId == 0) {
      *devInst = devices.Root().devInst;
      return kCrSuccess;
    }
    const DevNode* node = devices.FindNode(deviceId);
    if (node == nullptr) return kCrNoSuchDevNode;
    if (!node->present && (flags & kCmLocateDevNodePhantom) == 0) return kCrNoSuchDevNode;
    *devInst = node->devInst;
    return kCrSuccess;
  }

  ConfigRet GetParent(DevInst* parent, DevInst devInst, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetParent)) return *fault;
    if (parent == nullptr) return kCrInvalidPointer;
    *parent = 0;
    if (flags != 0) return kCrInvalidFlag;
    const SimDevices& devices = Devices();
    const DevNode* node = devices.NodeByDevInst(devInst);
    if (node == nullptr) return kCrInvalidDevNode;
    if (node == &devices.Root()) return kCrNoSuchDevNode;
    const DevNode* found =
        node->parentId.empty() ? &devices.Root() : devices.FindNode(node->parentId);
    if (found == nullptr) return kCrNoSuchDevNode;
    *parent = found->devInst;
    return kCrSuccess;
  }

  // Windows' rule: a buffer that holds the ID exactly gets it without a terminator and the
  // call succeeds; a shorter one gets what fits and CR_BUFFER_SMALL.
  ConfigRet GetDeviceId(DevInst devInst, char16_t* buffer, uint32_t length,
                        uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetDeviceIDW)) return *fault;
    if (buffer == nullptr || length == 0) return kCrInvalidPointer;
    *buffer = 0;
    if (flags != 0) return kCrInvalidFlag;
    const DevNode* node = Devices().NodeByDevInst(devInst);
    if (node == nullptr) return kCrInvalidDevNode;
    const std::u16string& id = node->instanceId;
    size_t n = std::min<size_t>(id.size(), length);
    std::memcpy(buffer, id.data(), n * sizeof(char16_t));
    if (length < id.size()) return kCrBufferSmall;
    if (length > id.size()) buffer[id.size()] = 0;
    return kCrSuccess;
  }

  ConfigRet GetDevNodeRegistryProperty(DevInst devInst, uint32_t property, uint32_t* type,
                                       void* buffer, uint32_t* length, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetDevNodeRegistryPropertyW))
      return *fault;
    if (length == nullptr) return kCrInvalidPointer;
    if (buffer == nullptr && *length != 0) return kCrInvalidPointer;
    if (flags != 0) return kCrInvalidFlag;
    if (property == 0 || property > kCmDrpMax) return kCrInvalidProperty;
    const DevNode* node = Devices().NodeByDevInst(devInst);
    if (node == nullptr) return kCrInvalidDevNode;
    auto it = node->properties.find(property);
    if (it == node->properties.end()) {
      *length = 0;
      return kCrNoSuchValue;
    }
    const DevProperty& value = it->second;
    auto size = static_cast<uint32_t>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (*length < size) {
      *length = size;
      return kCrBufferSmall;
    }
    if (size != 0) std::memcpy(buffer, value.data.data(), size);
    *length = size;
    return kCrSuccess;
  }

  ConfigRet OpenDevNodeKey(DevInst devInst, uint32_t access, uint32_t, uint32_t disposition,
                           RegKey* key, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMOpenDevNodeKey)) return *fault;
    if (key == nullptr) return kCrInvalidPointer;
    *key = nullptr;
    if ((flags & ~kRegistryFlags) != 0) return kCrInvalidFlag;
    if (disposition != kRegDispositionOpenAlways && disposition != kRegDispositionOpenExisting) {
      return kCrInvalidData;
    }
    const DevNode* node = Devices().NodeByDevInst(devInst);
    if (node == nullptr) return kCrInvalidDevNode;
    const std::u16string& path =
        (flags & kCmRegistrySoftware) != 0 ? node->driverKey : node->hardwareKey;
    if (path.empty()) return kCrNoSuchRegistryKey;
    if (!machine_.registry().KeyExists(path)) {
      if (disposition == kRegDispositionOpenExisting) return kCrNoSuchRegistryKey;
      machine_.registry().CreateKey(path);
    }
    auto found = SimRegistry::Find(machine_.registry().root(), path);
    *key = NewRegistryKeyHandle(*machine_.platform().registry, found, access);
    return kCrSuccess;
  }

  ConfigRet GetDeviceInterfaceListSize(uint32_t* length, const Guid& interfaceClass,
                                       const char16_t* deviceId, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetDeviceInterfaceListSizeW))
      return *fault;
    if (length == nullptr) return kCrInvalidPointer;
    *length = 0;
    std::u16string list;
    ConfigRet status = InterfaceList(interfaceClass, deviceId, flags, &list);
    if (status != kCrSuccess) return status;
    *length = static_cast<uint32_t>(list.size());
    return kCrSuccess;
  }

  ConfigRet GetDeviceInterfaceList(const Guid& interfaceClass, const char16_t* deviceId,
                                   char16_t* buffer, uint32_t length, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCMGetDeviceInterfaceListW)) return *fault;
    if (buffer == nullptr || length == 0) return kCrInvalidPointer;
    Arrive(SimDevices::ListRead::kDeviceInterfaces);
    std::u16string list;
    ConfigRet status = InterfaceList(interfaceClass, deviceId, flags, &list);
    if (status != kCrSuccess) return status;
    if (list.size() > length) return kCrBufferSmall;
    std::memcpy(buffer, list.data(), list.size() * sizeof(char16_t));
    return kCrSuccess;
  }

 private:
  // Lookups only: a const machine's devices are not handed out for editing.
  const SimDevices& Devices() const { return machine_.devices(); }

  // Devices that arrive between the caller's size call and this read.
  void Arrive(SimDevices::ListRead list) {
    for (auto& arrival : machine_.devices().TakeArrivals(list)) arrival();
  }

  ConfigRet DeviceIdList(const char16_t* filter, uint32_t flags, std::u16string* list) {
    if ((flags & ~kIdListFlags) != 0) return kCrInvalidFlag;
    bool byClass = (flags & kCmGetIdListFilterClass) != 0;
    bool byService = (flags & kCmGetIdListFilterService) != 0;
    bool byEnumerator = (flags & kCmGetIdListFilterEnumerator) != 0;
    bool presentOnly = (flags & kCmGetIdListFilterPresent) != 0;
    std::u16string_view text = filter != nullptr ? filter : u"";
    if ((byClass || byService || byEnumerator) && filter == nullptr) return kCrInvalidPointer;
    if (byClass && !IsGuidText(text)) return kCrInvalidData;
    bool filtered = byClass || byService || byEnumerator || presentOnly;
    std::vector<std::u16string> ids;
    const SimDevices& devices = Devices();
    for (const auto& node : devices.nodes()) {
      if (node.get() == &devices.Root() && filtered) continue;
      if (presentOnly && !node->present) continue;
      if (byClass && !SameNoCase(node->classGuid, text)) continue;
      if (byService && !SameNoCase(node->Text(kCmDrpService).value_or(u""), text)) continue;
      if (byEnumerator && !SameNoCase(node->instanceId, text) &&
          !StartsWithNoCase(node->instanceId, std::u16string(text) + u"\\")) {
        continue;
      }
      ids.push_back(node->instanceId);
    }
    *list = MultiText(ids);
    return kCrSuccess;
  }

  ConfigRet InterfaceList(const Guid& interfaceClass, const char16_t* deviceId, uint32_t flags,
                          std::u16string* list) {
    if ((flags & ~kCmGetDeviceInterfaceListAllDevices) != 0) return kCrInvalidFlag;
    bool allDevices = (flags & kCmGetDeviceInterfaceListAllDevices) != 0;
    std::vector<std::u16string> paths;
    const SimDevices& devices = Devices();
    if (deviceId != nullptr && *deviceId != 0) {
      const DevNode* node = devices.FindNode(deviceId);
      if (node == nullptr) return kCrNoSuchDevNode;
    }
    if (SameGuid(interfaceClass, kGuidNdisLanClass)) {
      auto add = [&](const DevNode& node) {
        if (!node.present && !allDevices) return;
        paths.insert(paths.end(), node.ndisLanInterfaces.begin(), node.ndisLanInterfaces.end());
      };
      if (deviceId != nullptr && *deviceId != 0) {
        for (const DevNode* node : devices.NodesWithId(deviceId)) add(*node);
      } else {
        for (const auto& node : devices.nodes()) add(*node);
      }
    }
    *list = MultiText(paths);
    return kCrSuccess;
  }

  Machine& machine_;
  MachineInternals internals_;
};

}  // namespace

std::unique_ptr<platform::ConfigManager> NewConfigManagerApi(Machine& machine) {
  return std::make_unique<ConfigManagerApi>(machine);
}

}  // namespace sim
