// The host's library search restriction, with the real loader (under Wine in the tests): a
// probe library in the current directory is found before the restriction and not after it,
// while system libraries and libraries beside the program are still found by name.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

#include "library_search.h"

namespace {

int g_failures = 0;

void Expect(bool condition, const char* what) {
  std::printf("%s: %s\n", condition ? "ok" : "FAILED", what);
  if (!condition) ++g_failures;
}

std::wstring ProgramDirectory() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, length);
  return text.substr(0, text.find_last_of(L"\\/") + 1);
}

bool CanLoad(const wchar_t* name) {
  HMODULE module = LoadLibraryW(name);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

}  // namespace

// The probe library is built into probe\ below this program's directory, where no search
// looks.
int main() {
  std::wstring probe = ProgramDirectory() + L"probe\\crv_search_probe.dll";
  const wchar_t* probeName = L"crvsearchprobe.dll";
  // A directory of the test's own as the current directory, with the probe in it.
  std::wstring work = ProgramDirectory() + L"library-search-cwd";
  CreateDirectoryW(work.c_str(), nullptr);
  std::wstring planted = work + L"\\" + probeName;
  Expect(CopyFileW(probe.c_str(), planted.c_str(), FALSE) != 0, "probe copied into the directory");
  Expect(SetCurrentDirectoryW(work.c_str()) != 0, "current directory set");

  Expect(CanLoad(probeName), "before: the current directory's probe is found by name");
  bool restricted = RestrictLibrarySearch();
  Expect(restricted, "SetDefaultDllDirectories is in force");
  Expect(!CanLoad(probeName), "after: the current directory's probe is not found");
  Expect(GetLastError() == ERROR_MOD_NOT_FOUND, "after: the load fails with 126");
  Expect(CanLoad(L"version.dll"), "after: a system library is found by name");
  std::wstring beside = ProgramDirectory() + probeName;
  Expect(CopyFileW(probe.c_str(), beside.c_str(), FALSE) != 0, "probe copied beside the program");
  Expect(CanLoad(probeName), "after: a library beside the program is found by name");

  SetCurrentDirectoryW(ProgramDirectory().c_str());
  DeleteFileW(beside.c_str());
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(work.c_str());
  std::printf("%d failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
