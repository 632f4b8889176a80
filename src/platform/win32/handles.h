// Conversions between the platform's opaque handles and the SDK's, and small owners that close
// a Win32 handle when they go out of scope (for the host and the tests; the platform
// interfaces themselves hand raw handles to the agent, which closes them through the seam).
// Include it after any other SDK header.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The SDK's ANSI/Unicode macros that share a name with a platform method would rename the
// method; code that includes this header calls the W functions by their own names.
#undef CreateEvent
#undef CreateFile
#undef CreateService
#undef ExpandEnvironmentStrings
#undef GetFileAttributes
#undef GetModuleFileName
#undef GetNamedSecurityInfo
#undef InetPton
#undef LoadLibrary
#undef LoadLibraryEx
#undef OpenSCManager
#undef OpenService
#undef RegisterEventSource
#undef ReportEvent
#undef WSAAddressToString

#include <utility>

#include "platform/types.h"

namespace platform::win32 {

inline HKEY ToSdk(RegKey key) { return reinterpret_cast<HKEY>(key); }
inline SC_HANDLE ToSdk(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
inline HANDLE ToSdk(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
inline HANDLE ToSdk(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline RegKey FromSdk(HKEY key) { return reinterpret_cast<RegKey>(key); }
inline ScHandle FromSdk(SC_HANDLE handle) { return reinterpret_cast<ScHandle>(handle); }
inline Handle FromSdk(HANDLE handle) { return reinterpret_cast<Handle>(handle); }
// A file handle (of a device) keeps INVALID_HANDLE_VALUE as its failure value.
inline DeviceHandle DeviceFromSdk(HANDLE handle) { return reinterpret_cast<DeviceHandle>(handle); }

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// Owns one handle of type T (null when empty) and releases it with Close.
template <class T, auto Close>
class Owner {
 public:
  Owner() = default;
  explicit Owner(T handle) : handle_(handle) {}
  Owner(Owner&& other) noexcept : handle_(std::exchange(other.handle_, T{})) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, T{}));
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  ~Owner() { reset(); }

  T get() const { return handle_; }
  explicit operator bool() const { return handle_ != T{}; }
  // For functions that return the handle through an out parameter.
  T* receive() {
    reset();
    return &handle_;
  }
  T release() { return std::exchange(handle_, T{}); }
  void reset(T handle = T{}) {
    if (handle_ != T{}) Close(handle_);
    handle_ = handle;
  }

 private:
  T handle_{};
};

using UniqueRegKey = Owner<HKEY, &RegCloseKey>;
using UniqueScHandle = Owner<SC_HANDLE, &CloseServiceHandle>;
// Kernel objects whose failure value is null (events, processes, threads; not files).
using UniqueHandle = Owner<HANDLE, &CloseHandle>;
using UniqueModule = Owner<HMODULE, &FreeLibrary>;

}  // namespace platform::win32
