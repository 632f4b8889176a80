// The one object through which the agent reads and writes the registry: a thin owner of one
// open key that remembers the status of the last operation made through it, so that a caller
// can run a chain of operations and test the status once.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace crv {

class CRegistryKey {
 public:
  static constexpr uint32_t kEnumNameChars = 261;

  // Takes ownership of key (null for none); enumeration starts at the first subkey.
  explicit CRegistryKey(platform::RegKey key, int32_t status = 0);
  // The returned key objects of Open and Create move out to the caller with their handle.
  CRegistryKey(CRegistryKey&& other);
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;
  CRegistryKey& operator=(CRegistryKey&&) = delete;
  // Closes the key when there is one.
  virtual ~CRegistryKey();

  // Opens a subkey. The new object carries the status (and no handle on failure); so does
  // this object's lastError. A failure is reported (key not opened) only when report is set.
  CRegistryKey Open(const char16_t* subKey, uint32_t access, bool report);
  // Creates or opens a subkey with default security; the disposition is kept in this
  // object. A failure is always reported (key not created).
  CRegistryKey Create(const char16_t* subKey, const char16_t* keyClass, uint32_t options,
                      uint32_t access);
  // Fails, with the status in lastError, when the subkey still has subkeys.
  CRegistryKey& DeleteSubKey(const char16_t* subKey);
  // Returns the status; a failure is always reported (value not written).
  int32_t SetValue(const char16_t* valueName, uint32_t type, const void* data, uint32_t length);
  // The name, type and data size of the value at index (in the order the key lists them),
  // the name terminated in a buffer of nameChars characters; the status (kErrorMoreData for a
  // longer name, kErrorNoMoreItems past the end). Nothing is reported.
  int32_t EnumValueAt(uint32_t index, char16_t* name, uint32_t nameChars, uint32_t* type,
                      uint32_t* size);
  // Returns the status; nothing is reported (kErrorFileNotFound: no such value).
  int32_t DeleteValue(const char16_t* valueName);
  // Size of the value's data in bytes, 0 when it cannot be read.
  uint32_t QueryValueSize(const char16_t* valueName);
  // The value's data in a block the caller frees with FreeBlock, with its type and length;
  // null when the read fails (reported as value not read when report is set).
  uint8_t* QueryValue(const char16_t* valueName, uint32_t* type, uint32_t* length, bool report);
  // A text value in a block the caller frees with FreeBlock, one character longer than the
  // value so that the text always ends with a terminator, whatever the value's type; null
  // when the value is missing, empty or unreadable, or no block can be had. Nothing is
  // reported.
  char16_t* QueryTerminatedText(const char16_t* valueName);
  // The destination is set to 0 first and receives the data only when the value is a
  // REG_DWORD. A value of another type reads successfully (lastError 0) and gives 0.
  CRegistryKey& QueryDword(const char16_t* valueName, uint32_t* value, bool report);
  CRegistryKey& QueryDword(const char16_t* valueName, int32_t* value, bool report);
  // Copies a REG_SZ or REG_MULTI_SZ value byte for byte, terminator included, into the
  // caller's buffer of bufferBytes bytes. The copy is bounded by that size: a longer text is
  // cut and still ends with a terminator inside the buffer. A value of any other type, or a
  // failed read, leaves the buffer untouched.
  CRegistryKey& QueryString(const char16_t* valueName, char16_t* buffer, uint32_t bufferBytes,
                            bool report);
  // Fetches the next subkey's name into EnumName and advances the index, also past the end;
  // the walk is over when lastError is non-zero (kErrorNoMoreItems at the end).
  CRegistryKey& EnumNextSubKey();

  int32_t LastError() const { return lastError_; }
  uint32_t Disposition() const { return disposition_; }
  platform::RegKey Key() const { return key_; }
  const char16_t* EnumName() const { return enumName_; }
  uint32_t EnumIndex() const { return enumIndex_; }
  uint32_t EnumNameLength() const { return enumNameLength_; }
  platform::FileTime LastWriteTime() const { return lastWriteTime_; }

 private:
  uint32_t disposition_ = 0;
  int32_t lastError_ = 0;
  char16_t enumName_[kEnumNameChars] = {};
  platform::RegKey key_ = nullptr;
  uint32_t enumIndex_ = 0;
  uint32_t enumNameLength_ = 0;
  platform::FileTime lastWriteTime_;
};

// The process-wide key object on HKEY_LOCAL_MACHINE, relative to which the agent opens every
// path. It is never closed. Its lastError is rewritten by every Open and Create made through
// it, so a caller reads the status from the returned object.
CRegistryKey& RootKey();

}  // namespace crv
