// kernel32's LoadLibraryW, LoadLibraryExW, GetProcAddress, FreeLibrary and GetModuleFileNameW.
// Modules pass through as the SDK's HMODULEs; the agent frees what it loads.
#include "platform/win32/backends.h"
#include "platform/win32/handles.h"

namespace platform::win32 {
namespace {

HMODULE ToSdk(Module module) { return reinterpret_cast<HMODULE>(module); }
Module FromSdk(HMODULE module) { return reinterpret_cast<Module>(module); }

class Win32DynamicLibrary final : public DynamicLibrary {
 public:
  Module LoadLibrary(const char16_t* fileName) override {
    return FromSdk(LoadLibraryW(Wide(fileName)));
  }

  Module LoadLibraryEx(const char16_t* fileName, uint32_t flags) override {
    return FromSdk(LoadLibraryExW(Wide(fileName), nullptr, flags));
  }

  void* GetProcAddress(Module module, const char* name) override {
    return reinterpret_cast<void*>(::GetProcAddress(ToSdk(module), name));
  }

  bool FreeLibrary(Module module) override { return ::FreeLibrary(ToSdk(module)) != FALSE; }

  // The module whose image holds this function: the agent library in production, the test
  // program when a test links the backend itself. No reference is taken: the module lives as
  // long as this code does.
  Module AgentModule() override {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&AgentModuleAnchor), &module)) {
      return nullptr;
    }
    return FromSdk(module);
  }

  // A path that does not fit comes back cut to size - 1 characters and terminated, with
  // ERROR_INSUFFICIENT_BUFFER, as Windows since Vista does it; Wine (like Windows XP) fills the
  // whole buffer without a terminator, which is brought to the same result.
  uint32_t GetModuleFileName(Module module, char16_t* buffer, uint32_t size) override {
    DWORD length = GetModuleFileNameW(ToSdk(module), Wide(buffer), size);
    if (size > 0 && length == size) {
      buffer[size - 1] = u'\0';
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    }
    return length;
  }

 private:
  // Any address inside this image will do; a function of our own is one.
  static void AgentModuleAnchor() {}
};

}  // namespace

DynamicLibrary& DynamicLibraryBackend() {
  static Win32DynamicLibrary backend;
  return backend;
}

}  // namespace platform::win32
