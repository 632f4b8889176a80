#include "pnp_registry.h"

#include <cwctype>

namespace testbed {
namespace {

constexpr wchar_t kEnum[] = L"SYSTEM\\CurrentControlSet\\Enum";
constexpr wchar_t kDeviceClasses[] = L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses";

class KeyCloser {
 public:
  explicit KeyCloser(HKEY key) : key_(key) {}
  ~KeyCloser() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  if (key == nullptr) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = ARRAYSIZE(name);
    LONG status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.emplace_back(name, length);
  }
  return names;
}

std::optional<RegistryValue> ReadValue(HKEY key, const wchar_t* name) {
  if (key == nullptr) return std::nullopt;
  RegistryValue value;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

std::optional<std::wstring> AsText(const std::optional<RegistryValue>& value) {
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
  std::wstring text(reinterpret_cast<const wchar_t*>(value->data.data()),
                    value->data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

bool KeyExists(const std::wstring& path) { return KeyCloser(OpenMachineKey(path, KEY_READ)).get(); }

// "##?#PCI#VEN_8086...#{class}" with reference subkey "#{guid}" is the path
// "\\?\PCI#VEN_8086...#{class}\{guid}".
std::wstring InterfacePath(const std::wstring& linkKey, const std::wstring& referenceKey) {
  std::wstring path = L"\\\\?\\" + (linkKey.size() > 4 ? linkKey.substr(4) : std::wstring());
  if (referenceKey.size() > 1) path += L"\\" + referenceKey.substr(1);
  return path;
}

bool Linked(const std::wstring& referenceKeyPath) {
  KeyCloser control(OpenMachineKey(referenceKeyPath + L"\\Control", KEY_READ));
  auto linked = ReadValue(control.get(), L"Linked");
  return linked && linked->type == REG_DWORD && linked->data.size() == sizeof(DWORD) &&
         *reinterpret_cast<const DWORD*>(linked->data.data()) == 1;
}

// A device ID has exactly three parts; a shorter path names an enumerator's key.
bool IsDeviceId(const std::wstring& id) {
  size_t separators = 0;
  for (wchar_t c : id) separators += c == L'\\';
  return separators == 2;
}

}  // namespace

bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

DevNodeTable& DevNodeTable::Instance() {
  static DevNodeTable table;
  return table;
}

DWORD DevNodeTable::HandleOf(const std::wstring& deviceId) {
  AcquireSRWLockExclusive(&lock_);
  size_t i = 0;
  while (i < ids_.size() && !EqualNoCase(ids_[i], deviceId)) ++i;
  if (i == ids_.size()) ids_.push_back(deviceId);
  ReleaseSRWLockExclusive(&lock_);
  return static_cast<DWORD>(i + 1);
}

std::optional<std::wstring> DevNodeTable::IdOf(DWORD handle) {
  std::optional<std::wstring> id;
  AcquireSRWLockShared(&lock_);
  if (handle >= 1 && handle <= ids_.size()) id = ids_[handle - 1];
  ReleaseSRWLockShared(&lock_);
  return id;
}

HKEY OpenMachineKey(const std::wstring& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

std::wstring EnumKeyPath(const std::wstring& deviceId) {
  return std::wstring(kEnum) + L"\\" + deviceId;
}

bool DeviceExists(const std::wstring& deviceId) {
  if (EqualNoCase(deviceId, kRootDeviceId)) return true;
  return IsDeviceId(deviceId) && KeyExists(EnumKeyPath(deviceId));
}

bool DevicePresent(const std::wstring& deviceId) {
  if (EqualNoCase(deviceId, kRootDeviceId)) return true;
  return IsDeviceId(deviceId) && KeyExists(EnumKeyPath(deviceId) + L"\\Control");
}

std::vector<std::wstring> AllDeviceIds() {
  std::vector<std::wstring> ids;
  KeyCloser root(OpenMachineKey(kEnum, KEY_READ));
  for (const std::wstring& enumerator : SubkeyNames(root.get())) {
    KeyCloser enumeratorKey(OpenMachineKey(std::wstring(kEnum) + L"\\" + enumerator, KEY_READ));
    for (const std::wstring& device : SubkeyNames(enumeratorKey.get())) {
      const std::wstring devicePath = enumerator + L"\\" + device;
      KeyCloser deviceKey(OpenMachineKey(EnumKeyPath(devicePath), KEY_READ));
      for (const std::wstring& instance : SubkeyNames(deviceKey.get())) {
        ids.push_back(devicePath + L"\\" + instance);
      }
    }
  }
  return ids;
}

std::optional<RegistryValue> DeviceValue(const std::wstring& deviceId, const wchar_t* name) {
  if (!IsDeviceId(deviceId) || EqualNoCase(deviceId, kRootDeviceId)) return std::nullopt;
  KeyCloser key(OpenMachineKey(EnumKeyPath(deviceId), KEY_READ));
  return ReadValue(key.get(), name);
}

std::optional<std::wstring> DeviceText(const std::wstring& deviceId, const wchar_t* name) {
  return AsText(DeviceValue(deviceId, name));
}

std::optional<std::wstring> ParentOf(const std::wstring& deviceId) {
  if (EqualNoCase(deviceId, kRootDeviceId)) return std::nullopt;
  const size_t instanceStart = deviceId.rfind(L'\\') + 1;
  const std::wstring instance = deviceId.substr(instanceStart);
  for (const std::wstring& candidate : AllDeviceIds()) {
    auto prefix = DeviceText(candidate, L"ParentIdPrefix");
    if (!prefix || prefix->empty() || instance.size() <= prefix->size()) continue;
    if (EqualNoCase(instance.substr(0, prefix->size()), *prefix) &&
        instance[prefix->size()] == L'&') {
      return candidate;
    }
  }
  return std::wstring(kRootDeviceId);
}

std::vector<std::wstring> InterfacePaths(const std::wstring& interfaceClass,
                                         const std::wstring& deviceId, bool presentOnly) {
  std::vector<std::wstring> paths;
  const std::wstring classPath = std::wstring(kDeviceClasses) + L"\\" + interfaceClass;
  KeyCloser classKey(OpenMachineKey(classPath, KEY_READ));
  for (const std::wstring& link : SubkeyNames(classKey.get())) {
    const std::wstring linkPath = classPath + L"\\" + link;
    KeyCloser linkKey(OpenMachineKey(linkPath, KEY_READ));
    auto owner = AsText(ReadValue(linkKey.get(), L"DeviceInstance"));
    if (!owner) continue;
    if (!deviceId.empty() && !EqualNoCase(*owner, deviceId)) continue;
    if (presentOnly && !DevicePresent(*owner)) continue;
    for (const std::wstring& reference : SubkeyNames(linkKey.get())) {
      if (reference.empty() || reference[0] != L'#') continue;
      if (presentOnly && !Linked(linkPath + L"\\" + reference)) continue;
      paths.push_back(InterfacePath(link, reference));
    }
  }
  return paths;
}

}  // namespace testbed
