#include "vendor/path_library_search.h"

#include "common/alloc.h"
#include "common/bounded_text.h"
#include "common/report.h"
#include "common/text.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "vendor/folder_trust.h"
#include "vendor/vendor_libraries.h"

namespace crv {
namespace {

constexpr char16_t kEnvironmentKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
// The longest environment value Windows keeps, and so the longest PATH worth reading.
constexpr uint32_t kMaxPathChars = 32767;
constexpr size_t kReportChars = 400;

platform::DynamicLibrary& Libraries() { return *platform::Os().libraries; }

uint64_t HashNoCase(const char16_t* text) {
  uint64_t hash = 14695981039346656037ull;
  for (; *text != 0; ++text) hash = (hash ^ FoldCase(*text)) * 1099511628211ull;
  return hash;
}

// Adds hash to a kept list; false when it was there already (or the list is full: a process
// that met that many has said enough).
bool FirstTime(uint64_t* kept, uint32_t* count, uint32_t capacity, uint64_t hash) {
  for (uint32_t i = 0; i < *count; ++i) {
    if (kept[i] == hash) return false;
  }
  if (*count == capacity) return false;
  kept[(*count)++] = hash;
  return true;
}

// "<prefix><text>", cut to the report's buffer.
void ReportNamed(const char16_t* prefix, const char16_t* text, uint32_t value) {
  BoundedText<kReportChars> message;
  message.Add(prefix).Add(text);
  ReportInfo(message.Text(), value);
}

// Loads "<folder>\<fileName>" when the file is there and the folder can be trusted; the
// folder (a piece of PATH) is terminated in place by the caller.
platform::Module TryFolder(const char16_t* folder, const char16_t* fileName) {
  char16_t path[platform::kMaxPath] = {};
  size_t folderChars = TextLengthBounded(folder, platform::kMaxPath);
  while (folderChars > 0 && folder[folderChars - 1] == u'\\') --folderChars;
  size_t nameChars = TextLengthBounded(fileName, platform::kMaxPath);
  if (folderChars + 1 + nameChars >= platform::kMaxPath) return nullptr;
  for (size_t i = 0; i < folderChars; ++i) path[i] = folder[i];
  path[folderChars] = u'\\';
  CopyBounded(path + folderChars + 1, platform::kMaxPath - folderChars - 1, fileName);

  uint32_t attributes = platform::Os().files->GetFileAttributes(path);
  if (attributes == platform::kInvalidFileAttributes ||
      (attributes & platform::kFileAttributeDirectory) != 0) {
    return nullptr;
  }
  path[folderChars] = 0;
  uint32_t status = 0;
  FolderTrust trust = CheckFolderTrust(path, &status);
  if (trust != FolderTrust::kTrusted) {
    LibrarySearchReports& reports = VendorLibraries().searchReports;
    if (FirstTime(reports.skippedFolders, &reports.skippedCount, reports.kFoldersKept,
                  HashNoCase(path))) {
      ReportNamed(trust == FolderTrust::kWritableByOthers
                      ? u"Vendor library folder skipped, writable by non-administrators: "
                      : u"Vendor library folder skipped, its permissions cannot be read: ",
                  path, status);
    }
    return nullptr;
  }
  path[folderChars] = u'\\';
  // The library's own dependencies are looked for beside it and in System32 only; a system
  // without these flags (87) takes the older way to the same search.
  platform::Module module = Libraries().LoadLibraryEx(
      path, platform::kLoadLibrarySearchDllLoadDir | platform::kLoadLibrarySearchSystem32);
  if (module == nullptr &&
      platform::Os().kernel->GetLastError() == platform::kErrorInvalidParameter) {
    module = Libraries().LoadLibraryEx(path, platform::kLoadWithAlteredSearchPath);
  }
  return module;
}

}  // namespace

bool IsAbsoluteLocalFolder(const char16_t* folder) {
  char16_t drive = FoldCase(folder[0]);
  if (drive < u'a' || drive > u'z' || folder[1] != u':' || folder[2] != u'\\') return false;
  for (const char16_t* c = folder; *c != 0; ++c) {
    if (*c == u'%' || *c == u'/') return false;
  }
  return true;
}

char16_t* ReadSystemPath() {
  CRegistryKey key = RootKey().Open(kEnvironmentKey, platform::kKeyRead, false);
  if (key.LastError() != 0) return nullptr;
  uint32_t bytes = key.QueryValueSize(u"Path");
  if (bytes == 0 || bytes > (kMaxPathChars + 1) * sizeof(char16_t)) return nullptr;
  char16_t* written = key.QueryTerminatedText(u"Path");
  if (written == nullptr) return nullptr;
  platform::Kernel& kernel = *platform::Os().kernel;
  uint32_t needed = kernel.ExpandEnvironmentStrings(written, nullptr, 0);
  char16_t* expanded = nullptr;
  if (needed != 0 && needed <= kMaxPathChars + 1) {
    expanded = static_cast<char16_t*>(AllocateZeroed(needed * sizeof(char16_t)));
    // A variable that changed between the two calls leaves the text unexpanded.
    if (expanded != nullptr &&
        kernel.ExpandEnvironmentStrings(written, expanded, needed) > needed) {
      FreeBlock(expanded);
      expanded = nullptr;
    }
  }
  FreeBlock(written);
  return expanded;
}

platform::Module LoadVendorLibrary(const char16_t* fileName) {
  platform::Module module = Libraries().LoadLibrary(fileName);
  if (module != nullptr) return module;
  platform::Kernel& kernel = *platform::Os().kernel;
  uint32_t byName = kernel.GetLastError();
  char16_t* path = ReadSystemPath();
  for (char16_t* folder = path; folder != nullptr && module == nullptr && *folder != 0;) {
    char16_t* end = folder;
    while (*end != 0 && *end != u';') ++end;
    bool last = *end == 0;
    *end = 0;
    // Entries are sometimes written in quotes: "C:\Program Files\Vendor".
    if (*folder == u'"') {
      ++folder;
      if (end > folder && end[-1] == u'"') end[-1] = 0;
    }
    if (IsAbsoluteLocalFolder(folder)) module = TryFolder(folder, fileName);
    folder = last ? end : end + 1;
  }
  FreeBlock(path);
  if (module != nullptr) return module;
  LibrarySearchReports& reports = VendorLibraries().searchReports;
  if (FirstTime(reports.notFound, &reports.notFoundCount, reports.kNamesKept,
                HashNoCase(fileName))) {
    ReportNamed(u"Vendor library not found by name nor in the system PATH: ", fileName, byName);
  }
  kernel.SetLastError(byName);
  return nullptr;
}

}  // namespace crv
