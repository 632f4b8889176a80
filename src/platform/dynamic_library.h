// Dynamic loading (kernel32): the vendors' management libraries are found by name at run
// time, their entry points resolved by name, and they are freed again after each query.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

struct ModuleTag;
using Module = ModuleTag*;  // HMODULE

constexpr uint32_t kMaxPath = 260;
// LoadLibraryExW flags.
constexpr uint32_t kLoadWithAlteredSearchPath = 0x00000008;    // LOAD_WITH_ALTERED_SEARCH_PATH
constexpr uint32_t kLoadLibrarySearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr uint32_t kLoadLibrarySearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

class DynamicLibrary {
 public:
  virtual ~DynamicLibrary() = default;

  // LoadLibraryW: a bare file name goes through the process's library search, a path is
  // loaded from there. Null on failure (the reason in the thread's last error). Each
  // successful load counts one reference, given back by FreeLibrary.
  virtual Module LoadLibrary(const char16_t* fileName) = 0;
  // LoadLibraryExW without a file handle: a full path with the search flags above, so that
  // the library's own dependencies are looked for beside it and in System32 only. Null on
  // failure (last error set; 87 for flags the system does not know).
  virtual Module LoadLibraryEx(const char16_t* fileName, uint32_t flags) = 0;
  // GetProcAddress by name: the entry point, or null when the module has none by that name.
  // The result is cast by the caller to the entry point's own function type.
  virtual void* GetProcAddress(Module module, const char* name) = 0;
  // FreeLibrary: false when the module is not loaded (last error set).
  virtual bool FreeLibrary(Module module) = 0;
  // The module holding the agent's own code (the agent library; in a test, the test program).
  virtual Module AgentModule() = 0;
  // GetModuleFileNameW for a module, or for the process's executable when module is null.
  // Returns the characters copied; a path that does not fit is cut to size - 1 characters and
  // size is returned (last error 122); 0 on failure.
  virtual uint32_t GetModuleFileName(Module module, char16_t* buffer, uint32_t size) = 0;
};

}  // namespace platform
