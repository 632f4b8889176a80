// RegOpenKeyExW and friends on the simulated registry: handles, access rights, Windows'
// statuses, and the faults a scenario asks for.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

using platform::RegKey;

using SubkeyMap = decltype(RegKeyNode::subkeys);

struct OpenKey {
  std::shared_ptr<RegKeyNode> node;
  uint32_t access;
  uint32_t thread = 0;  // the simulated thread that opened it (0: outside a process)
  // Where the last RegEnumKeyExW on this handle stopped, so that enumerating in index order
  // does not walk the subkeys from the first at every call; valid while no subkey is added
  // or removed.
  struct Cursor {
    uint64_t edits;
    uint32_t index;
    SubkeyMap::const_iterator at;
  };
  mutable std::optional<Cursor> cursor;
};

class RegistryApi : public platform::Registry {
 public:
  explicit RegistryApi(Machine& machine) : machine_(machine), internals_(machine) {}

  int32_t OpenKeyEx(RegKey key, const char16_t* subKey, uint32_t, uint32_t access,
                    RegKey* result) override {
    *result = nullptr;
    if (auto fault = internals_.CheckFault(FaultCall::kRegOpenKeyExW)) return Fail(*fault);
    const OpenKey* parent = Resolve(key);
    if (parent == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (parent->node->deleted) return Fail(platform::kErrorKeyDeleted);
    auto node = SimRegistry::Find(parent->node, subKey ? subKey : u"");
    if (!node) return Fail(platform::kErrorFileNotFound);
    *result = NewHandle(node, access);
    return 0;
  }

  int32_t CreateKeyEx(RegKey key, const char16_t* subKey, const char16_t*, uint32_t options,
                      uint32_t access, RegKey* result, uint32_t* disposition) override {
    *result = nullptr;
    if (auto fault = internals_.CheckFault(FaultCall::kRegCreateKeyExW)) return Fail(*fault);
    const OpenKey* parent = Resolve(key);
    if (parent == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (parent->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if (subKey == nullptr) return Fail(platform::kErrorInvalidParameter);
    bool makeVolatile = (options & platform::kRegOptionVolatile) != 0;
    auto parts = SplitKeyPath(subKey);
    // Check the whole path before creating anything, as the registry does.
    std::shared_ptr<RegKeyNode> node = parent->node;
    size_t existing = 0;
    for (; existing < parts.size(); ++existing) {
      auto it = node->subkeys.find(parts[existing]);
      if (it == node->subkeys.end()) break;
      node = it->second;
    }
    bool creates = existing < parts.size();
    std::vector<std::u16string> missing(parts.begin() + static_cast<ptrdiff_t>(existing),
                                        parts.end());
    if (!WithinKeyLimits(node->depth, missing)) return Fail(kRegistryLimitError);
    if (creates) {
      if ((parent->access & platform::kKeyCreateSubKey) == 0) {
        return Fail(platform::kErrorAccessDenied);
      }
      if (node->isVolatile && !makeVolatile) return Fail(platform::kErrorChildMustBeVolatile);
    }
    for (size_t i = existing; i < parts.size(); ++i) {
      auto child = std::make_shared<RegKeyNode>();
      child->name = parts[i];
      child->depth = node->depth + 1;
      child->isVolatile = makeVolatile;
      child->lastWriteTime = machine_.registry().Now();
      node->subkeys[parts[i]] = child;
      ++node->subkeyEdits;
      node = child;
    }
    if (disposition != nullptr) {
      *disposition = creates ? platform::kRegCreatedNewKey : platform::kRegOpenedExistingKey;
    }
    *result = NewHandle(node, access);
    return 0;
  }

  int32_t DeleteKey(RegKey key, const char16_t* subKey) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegDeleteKeyW)) return Fail(*fault);
    const OpenKey* parent = Resolve(key);
    if (parent == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (parent->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if (subKey == nullptr || *subKey == 0) return Fail(platform::kErrorInvalidParameter);
    auto parts = SplitKeyPath(subKey);
    std::u16string last = parts.back();
    parts.pop_back();
    std::shared_ptr<RegKeyNode> owner = parent->node;
    for (const auto& part : parts) {
      auto it = owner->subkeys.find(part);
      if (it == owner->subkeys.end()) return Fail(platform::kErrorFileNotFound);
      owner = it->second;
    }
    auto it = owner->subkeys.find(last);
    if (it == owner->subkeys.end()) return Fail(platform::kErrorFileNotFound);
    if (!it->second->subkeys.empty()) return Fail(platform::kErrorAccessDenied);
    it->second->deleted = true;
    owner->subkeys.erase(it);
    ++owner->subkeyEdits;
    return 0;
  }

  int32_t DeleteValue(RegKey key, const char16_t* valueName) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegDeleteValueW)) return Fail(*fault);
    const OpenKey* open = Resolve(key);
    if (open == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (open->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if ((open->access & platform::kKeySetValue) == 0) return Fail(platform::kErrorAccessDenied);
    RegKeyNode& node = *open->node;
    std::u16string name = valueName ? valueName : u"";
    if (node.values.erase(name) == 0) return Fail(platform::kErrorFileNotFound);
    EraseValueName(node, name);
    node.lastWriteTime = machine_.registry().Now();
    return 0;
  }

  int32_t SetValueEx(RegKey key, const char16_t* valueName, uint32_t type, const uint8_t* data,
                     uint32_t size) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegSetValueExW)) return Fail(*fault);
    const OpenKey* open = Resolve(key);
    if (open == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (open->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if ((open->access & platform::kKeySetValue) == 0) return Fail(platform::kErrorAccessDenied);
    if (data == nullptr && size != 0) return Fail(platform::kErrorInvalidParameter);
    std::u16string name = valueName ? valueName : u"";
    if (!ValueNameLimitBreach(name).empty()) return Fail(kRegistryLimitError);
    RegKeyNode& node = *open->node;
    if (node.values.find(name) == node.values.end()) node.valueOrder.push_back(name);
    node.values[name] = RegValue{type, std::vector<uint8_t>(data, data + size)};
    node.lastWriteTime = machine_.registry().Now();
    MachineInternals(machine_).NoteRegistryWrite(node.name, valueName, type, data, size);
    return 0;
  }

  int32_t QueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                       uint32_t* size) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegQueryValueExW)) return Fail(*fault);
    const OpenKey* open = Resolve(key);
    if (open == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (open->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if ((open->access & platform::kKeyQueryValue) == 0) return Fail(platform::kErrorAccessDenied);
    if (data != nullptr && size == nullptr) return Fail(platform::kErrorInvalidParameter);
    auto it = open->node->values.find(valueName ? valueName : u"");
    if (it == open->node->values.end()) return Fail(platform::kErrorFileNotFound);
    const RegValue& value = it->second;
    auto length = static_cast<uint32_t>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data != nullptr) {
      if (*size < length) {
        *size = length;
        return Fail(platform::kErrorMoreData);
      }
      if (length != 0) std::memcpy(data, value.data.data(), length);
    }
    if (size != nullptr) *size = length;
    return 0;
  }

  int32_t EnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                    platform::FileTime* lastWriteTime) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegEnumKeyExW)) return Fail(*fault);
    const OpenKey* open = Resolve(key);
    if (open == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (open->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if ((open->access & platform::kKeyEnumerateSubKeys) == 0) {
      return Fail(platform::kErrorAccessDenied);
    }
    if (name == nullptr || nameLength == nullptr) return Fail(platform::kErrorInvalidParameter);
    const auto& subkeys = open->node->subkeys;
    if (index >= subkeys.size()) return Fail(platform::kErrorNoMoreItems);
    const auto& cursor = open->cursor;
    SubkeyMap::const_iterator it;
    if (cursor && cursor->edits == open->node->subkeyEdits && cursor->index + 1 == index) {
      it = std::next(cursor->at);
    } else {
      it = std::next(subkeys.begin(), index);
    }
    open->cursor = OpenKey::Cursor{open->node->subkeyEdits, index, it};
    const std::u16string& found = it->second->name;
    if (*nameLength <= found.size()) return Fail(platform::kErrorMoreData);
    std::memcpy(name, found.c_str(), (found.size() + 1) * sizeof(char16_t));
    *nameLength = static_cast<uint32_t>(found.size());
    if (lastWriteTime != nullptr) {
      lastWriteTime->low = static_cast<uint32_t>(it->second->lastWriteTime);
      lastWriteTime->high = static_cast<uint32_t>(it->second->lastWriteTime >> 32);
    }
    return 0;
  }

  int32_t EnumValue(RegKey key, uint32_t index, char16_t* name, uint32_t* nameLength,
                    uint32_t* type, uint8_t* data, uint32_t* dataSize) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegEnumValueW)) return Fail(*fault);
    const OpenKey* open = Resolve(key);
    if (open == nullptr) return Fail(platform::kErrorInvalidHandle);
    if (open->node->deleted) return Fail(platform::kErrorKeyDeleted);
    if ((open->access & platform::kKeyQueryValue) == 0) return Fail(platform::kErrorAccessDenied);
    if (name == nullptr || nameLength == nullptr) return Fail(platform::kErrorInvalidParameter);
    if (data != nullptr && dataSize == nullptr) return Fail(platform::kErrorInvalidParameter);
    const auto& order = open->node->valueOrder;
    if (index >= order.size()) return Fail(platform::kErrorNoMoreItems);
    const std::u16string& found = order[index];
    const RegValue& value = open->node->values.at(found);
    auto length = static_cast<uint32_t>(value.data.size());
    if (*nameLength <= found.size()) return Fail(platform::kErrorMoreData);
    std::memcpy(name, found.c_str(), (found.size() + 1) * sizeof(char16_t));
    *nameLength = static_cast<uint32_t>(found.size());
    if (type != nullptr) *type = value.type;
    if (data != nullptr) {
      if (*dataSize < length) {
        *dataSize = length;
        return Fail(platform::kErrorMoreData);
      }
      if (length != 0) std::memcpy(data, value.data.data(), length);
    }
    if (dataSize != nullptr) *dataSize = length;
    return 0;
  }

  RegKey OpenHandle(std::shared_ptr<RegKeyNode> node, uint32_t access) {
    return NewHandle(std::move(node), access);
  }

  int32_t CloseKey(RegKey key) override {
    if (auto fault = internals_.CheckFault(FaultCall::kRegCloseKey)) return Fail(*fault);
    if (key == platform::kHkeyLocalMachine) return 0;
    if (handles_.erase(key) == 0) return Fail(platform::kErrorInvalidHandle);
    --machine_.openHandles().registry;
    return 0;
  }

 private:
  int32_t Fail(uint32_t status) { return static_cast<int32_t>(status); }

  const OpenKey* Resolve(RegKey key) {
    if (key == platform::kHkeyLocalMachine) {
      root_ = OpenKey{machine_.registry().root(), platform::kKeyAllAccess};
      return &root_;
    }
    auto it = handles_.find(key);
    return it == handles_.end() ? nullptr : &it->second;
  }

  RegKey NewHandle(std::shared_ptr<RegKeyNode> node, uint32_t access) {
    nextHandle_ += 4;
    auto handle = reinterpret_cast<RegKey>(nextHandle_);
    SimThread* thread = internals_.scheduler().Current();
    handles_[handle] = OpenKey{std::move(node), access, thread != nullptr ? thread->id : 0};
    ++machine_.openHandles().registry;
    return handle;
  }

  Machine& machine_;
  MachineInternals internals_;
  OpenKey root_;

 public:
  // The keys a thread held when its process ended inside a blocked call are closed with the
  // process. Others stay counted, so that a key the agent forgets to close is still seen.
  void CloseKeysOf(const std::vector<uint32_t>& threads) {
    for (auto it = handles_.begin(); it != handles_.end();) {
      bool abandoned = it->second.thread != 0 && std::find(threads.begin(), threads.end(),
                                                           it->second.thread) != threads.end();
      if (abandoned) {
        it = handles_.erase(it);
        --machine_.openHandles().registry;
      } else {
        ++it;
      }
    }
  }

 private:
  std::map<RegKey, OpenKey> handles_;
  uintptr_t nextHandle_ = 0x2000;
};

}  // namespace

std::unique_ptr<platform::Registry> NewRegistryApi(Machine& machine) {
  return std::make_unique<RegistryApi>(machine);
}

platform::RegKey NewRegistryKeyHandle(platform::Registry& api, std::shared_ptr<RegKeyNode> node,
                                      uint32_t access) {
  return static_cast<RegistryApi&>(api).OpenHandle(std::move(node), access);
}

void CloseRegistryKeysOf(platform::Registry& api, const std::vector<uint32_t>& threads) {
  static_cast<RegistryApi&>(api).CloseKeysOf(threads);
}

}  // namespace sim
