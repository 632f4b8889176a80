// The simulated registry: keys with Windows' semantics (case-insensitive names, subkeys
// enumerated in name order, volatile keys, typed values, a key with subkeys cannot be
// deleted, handles to a deleted key answer kErrorKeyDeleted).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/state/sim_text.h"
#include "platform/types.h"

namespace sim {

struct RegValue {
  uint32_t type = platform::kRegNone;
  std::vector<uint8_t> data;
};

// Windows' limits on the registry's shape: a key name (one level) of 255 characters, a value
// name of 16,383, a tree 512 levels deep. The registry refuses what breaks them with
// ERROR_INVALID_PARAMETER (kRegistryLimitError). Every key being at most kMaxKeyDepth below
// the root also bounds the recursion of the walks over a subtree.
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;
inline constexpr uint32_t kMaxKeyDepth = 512;
inline constexpr uint32_t kRegistryLimitError = platform::kErrorInvalidParameter;

struct RegKeyNode {
  std::u16string name;
  uint32_t depth = 0;  // levels below HKEY_LOCAL_MACHINE
  bool isVolatile = false;
  bool deleted = false;
  uint64_t lastWriteTime = 0;  // file time
  std::map<std::u16string, std::shared_ptr<RegKeyNode>, NoCaseLess> subkeys;
  uint64_t subkeyEdits = 0;  // bumped whenever a subkey is added or removed
  std::map<std::u16string, RegValue, NoCaseLess> values;
  std::vector<std::u16string> valueOrder;  // creation order, as RegEnumValue would list

  RegKeyNode() = default;
  RegKeyNode(const RegKeyNode&) = delete;
  RegKeyNode& operator=(const RegKeyNode&) = delete;
  // Takes the subtree apart level by level: its destruction never recurses.
  ~RegKeyNode();
};

class SimRegistry {
 public:
  SimRegistry();

  // Paths are relative to HKEY_LOCAL_MACHINE, separated by backslashes ("SYSTEM\\Foo").
  // These helpers are for scenarios and tests; they bypass access checks and faults.
  // False (and nothing created) when the path breaks the limits above.
  bool CreateKey(std::u16string_view path, bool isVolatile = false);
  bool KeyExists(std::u16string_view path) const;
  bool IsVolatile(std::u16string_view path) const;
  // False (and nothing written) when the key or the value name breaks the limits above.
  bool SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                std::vector<uint8_t> data);
  void SetDword(std::u16string_view path, std::u16string_view name, uint32_t value);
  // REG_SZ (or another string type) with its terminator.
  void SetString(std::u16string_view path, std::u16string_view name, std::u16string_view text,
                 uint32_t type = platform::kRegSz);
  bool DeleteValue(std::u16string_view path, std::u16string_view name);
  // Removes a key and everything below it.
  bool DeleteTree(std::u16string_view path);
  std::optional<RegValue> GetValue(std::u16string_view path, std::u16string_view name) const;
  std::vector<std::u16string> SubKeyNames(std::u16string_view path) const;
  std::vector<std::u16string> ValueNames(std::u16string_view path) const;
  // A system restart: every volatile key disappears.
  void DropVolatileKeys();

  // The subtree at path as text (see registry_dump.h for the format); empty when absent.
  std::string Dump(std::u16string_view path) const;

  // --- Win32 semantics, for the Registry interface ---
  std::shared_ptr<RegKeyNode> root() const { return root_; }
  // Walks a relative path from a key; null when a part is missing.
  static std::shared_ptr<RegKeyNode> Find(const std::shared_ptr<RegKeyNode>& from,
                                          std::u16string_view path);
  void set_clock(const uint64_t* fileTimeNow) { now_ = fileTimeNow; }
  uint64_t Now() const { return now_ ? *now_ : 0; }

 private:
  std::shared_ptr<RegKeyNode> root_;
  const uint64_t* now_ = nullptr;
};

// What in keys named by these parts, made below a key of the given depth, breaks the limits
// above ("513 levels deep, beyond 512"); empty when nothing does.
std::string KeyLimitBreach(uint32_t parentDepth, const std::vector<std::u16string>& parts);
inline bool WithinKeyLimits(uint32_t parentDepth, const std::vector<std::u16string>& parts) {
  return KeyLimitBreach(parentDepth, parts).empty();
}
// The same for a value's name.
std::string ValueNameLimitBreach(std::u16string_view name);

// Removes a value's name from the key's creation order.
void EraseValueName(RegKeyNode& node, std::u16string_view name);

// Splits "A\\B\\C" into its parts, ignoring empty parts.
std::vector<std::u16string> SplitKeyPath(std::u16string_view path);

}  // namespace sim
