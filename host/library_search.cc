#include "library_search.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

bool RestrictLibrarySearch() {
  // Looked up rather than imported, so that the host still starts on a system without it.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault =
      kernel == nullptr
          ? nullptr
          : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) return true;
  SetDllDirectoryW(L"");
  return false;
}
