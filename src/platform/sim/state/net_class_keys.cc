#include "platform/sim/state/net_class_keys.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/sim_bytes.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

// The subkey's NetCfgInstanceId text, up to its terminator.
std::optional<std::u16string> InstanceIdOf(const RegKeyNode& subkey) {
  auto value = subkey.values.find(u"NetCfgInstanceId");
  if (value == subkey.values.end() || value->second.data.size() < 2) return std::nullopt;
  const auto& data = value->second.data;
  std::u16string text(data.size() / 2, u'\0');
  std::memcpy(text.data(), data.data(), text.size() * 2);
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return text;
}

// The number of a four-digit subkey name, or -1.
int FourDigitNumber(std::u16string_view name) {
  if (name.size() != 4 ||
      !std::all_of(name.begin(), name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    return -1;
  }
  int n = 0;
  for (char16_t c : name) n = n * 10 + (c - u'0');
  return n;
}

std::u16string SubkeyPath(std::u16string_view name) {
  return std::u16string(kNetClassKeyPath) + u"\\" + std::u16string(name);
}

}  // namespace

std::shared_ptr<RegKeyNode> NetClassKeys::Current(SimRegistry& registry) {
  std::shared_ptr<RegKeyNode> classKey = SimRegistry::Find(registry.root(), kNetClassKeyPath);
  if (classKey != classKey_.lock() || classKey->subkeyEdits != seenEdits_) Take(*classKey);
  classKey_ = classKey;
  return classKey;
}

void NetClassKeys::Take(const RegKeyNode& classKey) {
  byGuid_.clear();
  highest_ = -1;
  for (const auto& [key, subkey] : classKey.subkeys) {
    if (auto guid = InstanceIdOf(*subkey)) File(subkey->name, *guid);
    highest_ = std::max(highest_, FourDigitNumber(subkey->name));
  }
  seenEdits_ = classKey.subkeyEdits;
}

void NetClassKeys::File(std::u16string_view subkeyName, std::u16string_view guid) {
  auto& names = byGuid_[std::u16string(guid)];
  auto at = std::lower_bound(names.begin(), names.end(), subkeyName, NoCaseLess{});
  if (at == names.end() || !SameNoCase(*at, subkeyName)) names.emplace(at, subkeyName);
}

std::u16string NetClassKeys::KeyFor(SimRegistry& registry, std::u16string_view guid) {
  std::shared_ptr<RegKeyNode> classKey = Current(registry);
  auto filed = byGuid_.find(std::u16string(guid));
  if (filed != byGuid_.end()) {
    for (const std::u16string& name : filed->second) {
      auto subkey = classKey->subkeys.find(name);
      if (subkey == classKey->subkeys.end()) continue;
      auto named = InstanceIdOf(*subkey->second);
      if (named && SameNoCase(*named, guid)) return SubkeyPath(subkey->second->name);
    }
  }
  return SubkeyPath(FormatText("%04d", highest_ + 1));
}

void NetClassKeys::Claimed(SimRegistry& registry, std::u16string_view keyPath,
                           std::u16string_view guid) {
  std::shared_ptr<RegKeyNode> classKey = SimRegistry::Find(registry.root(), kNetClassKeyPath);
  if (classKey != classKey_.lock()) return;  // retaken at the next KeyFor
  const std::u16string_view name = keyPath.substr(keyPath.rfind(u'\\') + 1);
  File(name, guid);
  highest_ = std::max(highest_, FourDigitNumber(name));
  seenEdits_ = classKey->subkeyEdits;
}

}  // namespace sim
