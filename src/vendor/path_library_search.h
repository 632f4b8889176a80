// Vendor management libraries that their suite installs in a folder of its own and names in
// the system PATH. The host restricts the process's library search to the application folder
// and System32, so such a library is not found by its file name; it is looked for in the
// folders of the system PATH instead, and loaded by its full path from the first folder that
// holds it and that no one but administrators and the system can write.
#pragma once

#include <cstdint>

#include "platform/dynamic_library.h"

namespace crv {

// What the search has said already, so that each thing is reported once per process:
// folders passed over for their permissions (by a hash of the path) and libraries found
// nowhere (by name).
struct LibrarySearchReports {
  static constexpr uint32_t kFoldersKept = 32;
  uint64_t skippedFolders[kFoldersKept] = {};
  uint32_t skippedCount = 0;
  static constexpr uint32_t kNamesKept = 4;
  uint64_t notFound[kNamesKept] = {};
  uint32_t notFoundCount = 0;
};

// The library by file name through the process's search, else from a folder of the system
// PATH as above; null (last error as the search by name left it) when found nowhere, with
// one report per process naming the library.
platform::Module LoadVendorLibrary(const char16_t* fileName);

// The steps (exposed for tests).
// Whether a folder named in PATH is an absolute local path ("C:\..."): UNC paths, relative
// and drive-relative paths and names with unexpanded variables are not searched.
bool IsAbsoluteLocalFolder(const char16_t* folder);
// The system PATH (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment,
// "Path") with its variables expanded, in a block the caller frees with FreeBlock; null when
// it is missing, longer than 32767 characters, or cannot be expanded.
char16_t* ReadSystemPath();

}  // namespace crv
