#include "platform/sim/state/registry_sim.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "common/utf.h"

namespace sim {

std::vector<std::u16string> SplitKeyPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

SimRegistry::SimRegistry() : root_(std::make_shared<RegKeyNode>()) {
  root_->name = u"HKEY_LOCAL_MACHINE";
  for (const char16_t* top : {u"HARDWARE", u"SAM", u"SECURITY", u"SOFTWARE", u"SYSTEM"}) {
    CreateKey(top);
  }
}

std::shared_ptr<RegKeyNode> SimRegistry::Find(const std::shared_ptr<RegKeyNode>& from,
                                              std::u16string_view path) {
  std::shared_ptr<RegKeyNode> node = from;
  for (const auto& part : SplitKeyPath(path)) {
    auto it = node->subkeys.find(part);
    if (it == node->subkeys.end()) return nullptr;
    node = it->second;
  }
  return node;
}

RegKeyNode::~RegKeyNode() {
  // A child whose last owner is this key gives up its own children before it goes, so each
  // destructor below finds no subkeys left to destroy.
  std::vector<std::shared_ptr<RegKeyNode>> pending;
  auto takeChildren = [&pending](RegKeyNode& node) {
    for (auto& [name, child] : node.subkeys) pending.push_back(std::move(child));
    node.subkeys.clear();
  };
  takeChildren(*this);
  while (!pending.empty()) {
    std::shared_ptr<RegKeyNode> node = std::move(pending.back());
    pending.pop_back();
    if (node.use_count() == 1) takeChildren(*node);
  }
}

std::string KeyLimitBreach(uint32_t parentDepth, const std::vector<std::u16string>& parts) {
  if (parts.size() > kMaxKeyDepth - std::min(parentDepth, kMaxKeyDepth)) {
    return std::to_string(parentDepth + parts.size()) + " levels deep, beyond " +
           std::to_string(kMaxKeyDepth);
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].size() > kMaxKeyNameChars) {
      return "a key name of " + std::to_string(parts[i].size()) + " characters at level " +
             std::to_string(parentDepth + i + 1) + ", beyond " + std::to_string(kMaxKeyNameChars);
    }
  }
  return {};
}

std::string ValueNameLimitBreach(std::u16string_view name) {
  if (name.size() <= kMaxValueNameChars) return {};
  return "a value name of " + std::to_string(name.size()) + " characters, beyond " +
         std::to_string(kMaxValueNameChars);
}

bool SimRegistry::CreateKey(std::u16string_view path, bool isVolatile) {
  std::vector<std::u16string> parts = SplitKeyPath(path);
  if (!WithinKeyLimits(0, parts)) return false;
  std::shared_ptr<RegKeyNode> node = root_;
  for (const auto& part : parts) {
    auto& child = node->subkeys[part];
    if (!child) {
      child = std::make_shared<RegKeyNode>();
      child->name = part;
      child->depth = node->depth + 1;
      child->isVolatile = isVolatile;
      child->lastWriteTime = Now();
      ++node->subkeyEdits;
    }
    node = child;
  }
  return true;
}

bool SimRegistry::KeyExists(std::u16string_view path) const { return Find(root_, path) != nullptr; }

bool SimRegistry::IsVolatile(std::u16string_view path) const {
  auto node = Find(root_, path);
  return node && node->isVolatile;
}

bool SimRegistry::SetValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                           std::vector<uint8_t> data) {
  if (!ValueNameLimitBreach(name).empty() || !CreateKey(path)) return false;
  auto node = Find(root_, path);
  std::u16string key(name);
  if (node->values.find(key) == node->values.end()) node->valueOrder.push_back(key);
  node->values[key] = RegValue{type, std::move(data)};
  node->lastWriteTime = Now();
  return true;
}

void SimRegistry::SetDword(std::u16string_view path, std::u16string_view name, uint32_t value) {
  std::vector<uint8_t> bytes(4);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  SetValue(path, name, platform::kRegDword, std::move(bytes));
}

void SimRegistry::SetString(std::u16string_view path, std::u16string_view name,
                            std::u16string_view text, uint32_t type) {
  std::vector<uint8_t> bytes;
  bytes.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  SetValue(path, name, type, std::move(bytes));
}

bool SimRegistry::DeleteValue(std::u16string_view path, std::u16string_view name) {
  auto node = Find(root_, path);
  if (!node) return false;
  std::u16string key(name);
  if (node->values.erase(key) == 0) return false;
  EraseValueName(*node, key);
  return true;
}

void EraseValueName(RegKeyNode& node, std::u16string_view name) {
  // Names are unique: the first match is the only one (the oldest value is found at once).
  auto it = std::find_if(node.valueOrder.begin(), node.valueOrder.end(),
                         [&](const std::u16string& n) { return SameNoCase(n, name); });
  if (it != node.valueOrder.end()) node.valueOrder.erase(it);
}

namespace {
void MarkDeleted(RegKeyNode& top) {
  std::vector<RegKeyNode*> pending{&top};
  while (!pending.empty()) {
    RegKeyNode* node = pending.back();
    pending.pop_back();
    node->deleted = true;
    for (auto& [name, child] : node->subkeys) pending.push_back(child.get());
  }
}
}  // namespace

bool SimRegistry::DeleteTree(std::u16string_view path) {
  auto parts = SplitKeyPath(path);
  if (parts.empty()) return false;
  std::u16string last = parts.back();
  parts.pop_back();
  std::shared_ptr<RegKeyNode> parent = root_;
  for (const auto& part : parts) {
    auto it = parent->subkeys.find(part);
    if (it == parent->subkeys.end()) return false;
    parent = it->second;
  }
  auto it = parent->subkeys.find(last);
  if (it == parent->subkeys.end()) return false;
  MarkDeleted(*it->second);
  parent->subkeys.erase(it);
  ++parent->subkeyEdits;
  return true;
}

std::optional<RegValue> SimRegistry::GetValue(std::u16string_view path,
                                              std::u16string_view name) const {
  auto node = Find(root_, path);
  if (!node) return std::nullopt;
  auto it = node->values.find(std::u16string(name));
  if (it == node->values.end()) return std::nullopt;
  return it->second;
}

std::vector<std::u16string> SimRegistry::SubKeyNames(std::u16string_view path) const {
  std::vector<std::u16string> names;
  if (auto node = Find(root_, path)) {
    for (const auto& [name, child] : node->subkeys) names.push_back(child->name);
  }
  return names;
}

std::vector<std::u16string> SimRegistry::ValueNames(std::u16string_view path) const {
  auto node = Find(root_, path);
  return node ? node->valueOrder : std::vector<std::u16string>{};
}

namespace {
void DropVolatile(RegKeyNode& node) {
  for (auto it = node.subkeys.begin(); it != node.subkeys.end();) {
    if (it->second->isVolatile) {
      MarkDeleted(*it->second);
      it = node.subkeys.erase(it);
      ++node.subkeyEdits;
    } else {
      DropVolatile(*it->second);
      ++it;
    }
  }
}

std::string Quote(const std::u16string& text) {
  std::string out = "\"";
  for (char c : crv::Utf16ToUtf8(text)) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

void DumpNode(const RegKeyNode& node, const std::string& path, std::string& out) {
  out += "key " + Quote(crv::Utf8ToUtf16(path)) + (node.isVolatile ? " volatile\n" : "\n");
  for (const auto& name : node.valueOrder) {
    const RegValue& value = node.values.at(name);
    char head[32];
    std::snprintf(head, sizeof head, " %u ", value.type);
    out += "value " + Quote(name) + head;
    for (uint8_t b : value.data) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", b);
      out += hex;
    }
    out += "\n";
  }
  for (const auto& [name, child] : node.subkeys) {
    DumpNode(*child, path + "\\" + crv::Utf16ToUtf8(child->name), out);
  }
}
}  // namespace

void SimRegistry::DropVolatileKeys() { DropVolatile(*root_); }

std::string SimRegistry::Dump(std::u16string_view path) const {
  auto node = Find(root_, path);
  if (!node) return {};
  std::string out;
  std::string prefix;
  for (const auto& part : SplitKeyPath(path)) {
    if (!prefix.empty()) prefix += "\\";
    prefix += crv::Utf16ToUtf8(part);
  }
  DumpNode(*node, prefix, out);
  return out;
}

}  // namespace sim
