// The two sources of a tree: a dump file written by the simulated server, and the registry
// read through the platform interface.
#include <string>
#include <unordered_map>
#include <vector>

#include "ascii_text.h"
#include "common/utf.h"
#include "tessar_decode.h"

namespace tessar {
namespace {

// --- Dump files ----------------------------------------------------------------------------

class LineReader {
 public:
  explicit LineReader(std::string_view line) : line_(line) {}

  bool AtEnd() const { return pos_ >= line_.size(); }
  void SkipSpaces() {
    while (!AtEnd() && (line_[pos_] == ' ' || line_[pos_] == '\t')) ++pos_;
  }
  std::string_view Word() {
    size_t start = pos_;
    while (!AtEnd() && line_[pos_] != ' ' && line_[pos_] != '\t') ++pos_;
    return line_.substr(start, pos_ - start);
  }
  // A double-quoted name with '\' escapes; false when it is not one.
  bool Quoted(std::string* out, std::string* error) {
    if (AtEnd() || line_[pos_] != '"') {
      *error = "expected a quoted name";
      return false;
    }
    ++pos_;
    out->clear();
    while (!AtEnd()) {
      char c = line_[pos_++];
      if (c == '"') return true;
      if (c == '\\') {
        if (AtEnd()) break;
        c = line_[pos_++];
      }
      out->push_back(c);
    }
    *error = "the quoted name has no closing '\"'";
    return false;
  }

 private:
  std::string_view line_;
  size_t pos_ = 0;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) return false;
  bytes->clear();
  bytes->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexValue(text[i]);
    int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return true;
}

bool ParseDecimal(std::string_view text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The tree while a dump is parsed: keys in a flat list, each with its subkeys and values
// indexed by name, so that a line costs the same however many siblings its key or value has.
// Names are indexed in lower case, as the registry compares them.
class TreeBuilder {
 public:
  // The root, with its whole path as its name.
  explicit TreeBuilder(RawKey root) { keys_.push_back(Pending{std::move(root), {}, {}, {}}); }

  // The key at parts below the root, created (with unknown volatility) where missing.
  size_t FindOrAdd(const std::vector<std::string>& parts) {
    size_t node = 0;
    for (const std::string& part : parts) {
      auto [found, added] = keys_[node].subkeyByName.try_emplace(Lower(part), keys_.size());
      size_t child = found->second;
      if (added) {
        keys_[node].subkeys.push_back(child);
        RawKey key;
        key.name = part;
        keys_.push_back(Pending{std::move(key), {}, {}, {}});  // moves keys_[node]
      }
      node = child;
    }
    return node;
  }

  RawKey& Key(size_t node) { return keys_[node].key; }

  // A value named again replaces the earlier one where it stood.
  void SetValue(size_t node, RawValue value) {
    Pending& key = keys_[node];
    auto [found, added] = key.valueByName.try_emplace(Lower(value.name), key.key.values.size());
    if (added) {
      key.key.values.push_back(std::move(value));
    } else {
      key.key.values[found->second] = std::move(value);
    }
  }

  RawKey Take() { return Assemble(0); }

 private:
  struct Pending {
    RawKey key;  // without its subkeys
    std::vector<size_t> subkeys;
    std::unordered_map<std::string, size_t> subkeyByName;
    std::unordered_map<std::string, size_t> valueByName;
  };

  static std::string Lower(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = LowerAscii(c);
    return out;
  }

  // Depth is bounded by kMaxKeyDepth.
  RawKey Assemble(size_t node) {
    RawKey key = std::move(keys_[node].key);
    key.subkeys.reserve(keys_[node].subkeys.size());
    for (size_t child : keys_[node].subkeys) key.subkeys.push_back(Assemble(child));
    return key;
  }

  std::vector<Pending> keys_;
};

}  // namespace

bool ParseDump(std::string_view text, std::optional<RawKey>* root, ParseError* error) {
  root->reset();
  std::optional<TreeBuilder> tree;
  std::string rootName;
  std::vector<std::string> rootParts;
  size_t currentKey = 0;  // the key the value lines belong to
  bool haveKey = false;
  size_t lineNumber = 0;
  size_t pos = 0;
  auto fail = [&](std::string message) {
    error->line = lineNumber;
    error->message = std::move(message);
    return false;
  };
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    LineReader reader(line);
    reader.SkipSpaces();
    if (reader.AtEnd()) continue;
    std::string_view word = reader.Word();
    reader.SkipSpaces();
    std::string name;
    std::string message;
    if (word == "key") {
      if (!reader.Quoted(&name, &message)) return fail(message);
      reader.SkipSpaces();
      std::optional<bool> isVolatile = false;
      if (!reader.AtEnd()) {
        std::string_view flag = reader.Word();
        if (flag != "volatile") {
          return fail("unexpected \"" + std::string(flag) + "\" after the key path");
        }
        isVolatile = true;
        reader.SkipSpaces();
        if (!reader.AtEnd()) return fail("unexpected text after \"volatile\"");
      }
      std::vector<std::string> parts = SplitPath(name);
      if (parts.empty()) return fail("empty key path");
      if (!tree) {
        rootParts = parts;
        rootName = name;
        RawKey top;
        top.name = name;
        top.isVolatile = isVolatile;
        tree.emplace(std::move(top));
        currentKey = 0;
        haveKey = true;
        continue;
      }
      bool inside = parts.size() > rootParts.size();
      for (size_t i = 0; inside && i < rootParts.size(); ++i) {
        inside = EqualsNoCase(parts[i], rootParts[i]);
      }
      if (!inside) {
        return fail("key \"" + name + "\" is not below the first key \"" + rootName + "\"");
      }
      if (parts.size() - rootParts.size() > kMaxKeyDepth) {
        return fail("key \"" + name + "\" is nested too deep");
      }
      parts.erase(parts.begin(), parts.begin() + static_cast<ptrdiff_t>(rootParts.size()));
      currentKey = tree->FindOrAdd(parts);
      tree->Key(currentKey).isVolatile = isVolatile;
      haveKey = true;
    } else if (word == "value") {
      if (!haveKey) return fail("value line before any key line");
      if (!reader.Quoted(&name, &message)) return fail(message);
      reader.SkipSpaces();
      RawValue value;
      value.name = name;
      std::string_view typeText = reader.Word();
      if (!ParseDecimal(typeText, &value.type)) {
        return fail("value \"" + name + "\": the type is not a decimal number");
      }
      reader.SkipSpaces();
      std::string_view hex = reader.Word();
      reader.SkipSpaces();
      if (!reader.AtEnd()) return fail("value \"" + name + "\": unexpected text after the data");
      if (!ParseHex(hex, &value.data)) {
        return fail("value \"" + name + "\": the data is not an even number of hex digits");
      }
      tree->SetValue(currentKey, std::move(value));
    } else {
      return fail("expected a line starting with \"key\" or \"value\"");
    }
  }
  if (tree) *root = tree->Take();
  return true;
}

// --- The registry --------------------------------------------------------------------------

namespace {

constexpr uint32_t kMaxValueNameChars = 16384;  // with the terminator
constexpr uint32_t kMaxKeyNameChars = platform::kMaxKeyNameLength + 1;

void ReadValues(platform::Registry& registry, platform::RegKey key, RawKey* out) {
  std::vector<char16_t> name(kMaxValueNameChars);
  for (uint32_t index = 0;; ++index) {
    RawValue value;
    uint32_t nameLength = kMaxValueNameChars;
    uint32_t size = 0;
    int32_t status =
        registry.EnumValue(key, index, name.data(), &nameLength, &value.type, nullptr, &size);
    if (status != 0) return;  // kErrorNoMoreItems at the end
    // The value may change between the size query and the read: read again at its new size.
    bool read = false;
    for (int attempt = 0; attempt < 4 && !read; ++attempt) {
      value.data.resize(size);
      nameLength = kMaxValueNameChars;
      status = registry.EnumValue(key, index, name.data(), &nameLength, &value.type,
                                  value.data.data(), &size);
      if (status == 0) {
        read = true;
      } else if (status != static_cast<int32_t>(platform::kErrorMoreData)) {
        return;
      }
    }
    if (!read) continue;
    value.data.resize(size);
    value.name = crv::Utf16ToUtf8(std::u16string_view(name.data(), nameLength));
    out->values.push_back(std::move(value));
  }
}

void ReadKey(platform::Registry& registry, platform::RegKey key, size_t depth, RawKey* out) {
  ReadValues(registry, key, out);
  if (depth >= kMaxKeyDepth) return;
  char16_t name[kMaxKeyNameChars];
  for (uint32_t index = 0;; ++index) {
    uint32_t nameLength = kMaxKeyNameChars;
    if (registry.EnumKeyEx(key, index, name, &nameLength, nullptr) != 0) break;
    platform::RegKey child = nullptr;
    if (registry.OpenKeyEx(key, name, 0, platform::kKeyRead, &child) != 0) continue;
    RawKey sub;
    sub.name = crv::Utf16ToUtf8(std::u16string_view(name, nameLength));
    ReadKey(registry, child, depth + 1, &sub);
    registry.CloseKey(child);
    out->subkeys.push_back(std::move(sub));
  }
}

}  // namespace

int32_t ReadRegistryTree(platform::Registry& registry, platform::RegKey base, const char16_t* path,
                         RawKey* root) {
  *root = RawKey{};
  root->name = crv::Utf16ToUtf8(path);
  platform::RegKey key = nullptr;
  int32_t status = registry.OpenKeyEx(base, path, 0, platform::kKeyRead, &key);
  if (status != 0) return status;
  ReadKey(registry, key, 0, root);
  registry.CloseKey(key);
  return 0;
}

}  // namespace tessar
