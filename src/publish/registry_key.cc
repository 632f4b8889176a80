#include "publish/registry_key.h"

#include <cstring>
#include <new>

#include "common/alloc.h"
#include "common/report.h"
#include "platform/os_access.h"

namespace crv {

CRegistryKey::CRegistryKey(platform::RegKey key, int32_t status) : lastError_(status), key_(key) {}

CRegistryKey::CRegistryKey(CRegistryKey&& other)
    : disposition_(other.disposition_),
      lastError_(other.lastError_),
      key_(other.key_),
      enumIndex_(other.enumIndex_),
      enumNameLength_(other.enumNameLength_),
      lastWriteTime_(other.lastWriteTime_) {
  std::memcpy(enumName_, other.enumName_, sizeof(enumName_));
  other.key_ = nullptr;
}

CRegistryKey::~CRegistryKey() {
  if (key_ != nullptr) Reg().CloseKey(key_);
}

CRegistryKey CRegistryKey::Open(const char16_t* subKey, uint32_t access, bool report) {
  platform::RegKey opened = nullptr;
  lastError_ = Reg().OpenKeyEx(key_, subKey, 0, access, &opened);
  if (lastError_ != 0) {
    opened = nullptr;
    if (report) Report(kReportKeyNotOpened, subKey, static_cast<uint32_t>(lastError_));
  }
  return CRegistryKey(opened, lastError_);
}

CRegistryKey CRegistryKey::Create(const char16_t* subKey, const char16_t* keyClass,
                                  uint32_t options, uint32_t access) {
  platform::RegKey created = nullptr;
  lastError_ = Reg().CreateKeyEx(key_, subKey, keyClass, options, access, &created, &disposition_);
  if (lastError_ != 0) {
    created = nullptr;
    Report(kReportKeyNotCreated, subKey, static_cast<uint32_t>(lastError_));
  }
  return CRegistryKey(created, lastError_);
}

CRegistryKey& CRegistryKey::DeleteSubKey(const char16_t* subKey) {
  lastError_ = Reg().DeleteKey(key_, subKey);
  return *this;
}

int32_t CRegistryKey::SetValue(const char16_t* valueName, uint32_t type, const void* data,
                               uint32_t length) {
  lastError_ = Reg().SetValueEx(key_, valueName, type, static_cast<const uint8_t*>(data), length);
  if (lastError_ != 0) {
    Report(kReportValueNotWritten, valueName, static_cast<uint32_t>(lastError_));
  }
  return lastError_;
}

int32_t CRegistryKey::EnumValueAt(uint32_t index, char16_t* name, uint32_t nameChars,
                                  uint32_t* type, uint32_t* size) {
  uint32_t length = nameChars;
  lastError_ = Reg().EnumValue(key_, index, name, &length, type, nullptr, size);
  return lastError_;
}

int32_t CRegistryKey::DeleteValue(const char16_t* valueName) {
  lastError_ = Reg().DeleteValue(key_, valueName);
  return lastError_;
}

uint32_t CRegistryKey::QueryValueSize(const char16_t* valueName) {
  uint32_t size = 0;
  lastError_ = Reg().QueryValueEx(key_, valueName, nullptr, nullptr, &size);
  return lastError_ == 0 ? size : 0;
}

uint8_t* CRegistryKey::QueryValue(const char16_t* valueName, uint32_t* type, uint32_t* length,
                                  bool report) {
  uint32_t size = QueryValueSize(valueName);
  auto* data = static_cast<uint8_t*>(AllocateZeroed(size));
  if (data == nullptr) {
    uint32_t error = platform::Os().kernel->GetLastError();
    lastError_ = static_cast<int32_t>(platform::kErrorNotEnoughMemory);
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CRegistryKey::QueryValue: failure to allocate value buffer", error);
    return nullptr;
  }
  uint32_t valueType = platform::kRegNone;
  lastError_ = Reg().QueryValueEx(key_, valueName, &valueType, data, &size);
  if (lastError_ != 0) {
    if (report) Report(kReportValueNotRead, valueName, static_cast<uint32_t>(lastError_));
    FreeBlock(data);
    return nullptr;
  }
  if (type != nullptr) *type = valueType;
  if (length != nullptr) *length = size;
  return data;
}

char16_t* CRegistryKey::QueryTerminatedText(const char16_t* valueName) {
  // A read into an empty buffer answers the value's size with ERROR_MORE_DATA.
  uint8_t probe[sizeof(char16_t)] = {};
  uint32_t type = platform::kRegNone;
  uint32_t size = 0;
  lastError_ = Reg().QueryValueEx(key_, valueName, &type, probe, &size);
  if (lastError_ != static_cast<int32_t>(platform::kErrorMoreData) || size == 0) return nullptr;
  auto* text = static_cast<char16_t*>(AllocateZeroed(size + sizeof(char16_t)));
  if (text == nullptr) {
    lastError_ = static_cast<int32_t>(platform::kErrorNotEnoughMemory);
    return nullptr;
  }
  lastError_ = Reg().QueryValueEx(key_, valueName, &type, reinterpret_cast<uint8_t*>(text), &size);
  if (lastError_ != 0) {
    FreeBlock(text);
    return nullptr;
  }
  return text;
}

CRegistryKey& CRegistryKey::QueryDword(const char16_t* valueName, uint32_t* value, bool report) {
  *value = 0;
  uint32_t type = platform::kRegNone;
  uint32_t length = 0;
  uint8_t* data = QueryValue(valueName, &type, &length, report);
  if (data != nullptr && type == platform::kRegDword && length >= sizeof(uint32_t)) {
    std::memcpy(value, data, sizeof(uint32_t));
  }
  FreeBlock(data);
  return *this;
}

CRegistryKey& CRegistryKey::QueryDword(const char16_t* valueName, int32_t* value, bool report) {
  uint32_t unsignedValue = 0;
  QueryDword(valueName, &unsignedValue, report);
  *value = static_cast<int32_t>(unsignedValue);
  return *this;
}

CRegistryKey& CRegistryKey::QueryString(const char16_t* valueName, char16_t* buffer,
                                        uint32_t bufferBytes, bool report) {
  uint32_t type = platform::kRegNone;
  uint32_t length = 0;
  uint8_t* data = QueryValue(valueName, &type, &length, report);
  uint32_t capacity = bufferBytes / sizeof(char16_t);
  if (data != nullptr && (type == platform::kRegSz || type == platform::kRegMultiSz) &&
      capacity > 0) {
    uint32_t chars = length / sizeof(char16_t);
    if (chars > capacity) chars = capacity;
    std::memcpy(buffer, data, chars * sizeof(char16_t));
    bool terminated = false;
    for (uint32_t i = 0; i < chars && !terminated; ++i) terminated = buffer[i] == 0;
    // A text cut to the buffer, or stored without its terminator, still ends inside it.
    if (!terminated) buffer[chars < capacity ? chars : capacity - 1] = 0;
  }
  FreeBlock(data);
  return *this;
}

CRegistryKey& CRegistryKey::EnumNextSubKey() {
  enumNameLength_ = kEnumNameChars;
  lastError_ = Reg().EnumKeyEx(key_, enumIndex_, enumName_, &enumNameLength_, &lastWriteTime_);
  ++enumIndex_;
  return *this;
}

CRegistryKey& RootKey() {
  // Built in place and never destroyed: the predefined key must not be closed, and the
  // object has to outlive every other user at process exit.
  alignas(CRegistryKey) static unsigned char storage[sizeof(CRegistryKey)];
  static CRegistryKey* root = new (storage) CRegistryKey(platform::kHkeyLocalMachine);
  return *root;
}

}  // namespace crv
