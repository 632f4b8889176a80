// GetFileAttributesW and GetNamedSecurityInfoW on the simulated machine, over its folders
// (file_system_sim.h): a vendor library installed in a folder of its own is a file there.
// CreateFileW, WriteFile, CloseHandle, MoveFileExW and DeleteFileW over the files' contents,
// with symbolic links: CREATE_ALWAYS follows one unless FILE_FLAG_OPEN_REPARSE_POINT is
// given, a rename or delete takes the link itself, and a file still open cannot be renamed
// (no handle here shares delete access). A fault on CloseHandle closes the handle all the
// same, as a delayed write that fails at the close does.
//
// Fault names: "GetFileAttributesW", "GetNamedSecurityInfoW", "CreateFileW(file)",
// "WriteFile", "CloseHandle(file)", "MoveFileExW", "DeleteFileW".
#include <algorithm>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/file_system_sim.h"
#include "platform/sim/state/library_sim.h"

namespace sim {
namespace {

constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kErrorSharingViolation = 32;
using platform::FileHandle;
using platform::kErrorPathNotFound;

class FileSystemApi : public platform::FileSystem {
 public:
  explicit FileSystemApi(Machine& machine) : machine_(machine), internals_(machine) {}

  uint32_t GetFileAttributes(const char16_t* path) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetFileAttributesW)) return Fail(*fault);
    if (path == nullptr) return Fail(platform::kErrorInvalidParameter);
    std::u16string_view name(path);
    if (machine_.files().FindFolder(name) != nullptr) return platform::kFileAttributeDirectory;
    if (const SimFileData* data = machine_.files().FileData(name)) {
      return data->linkTarget.empty()
                 ? kFileAttributeArchive
                 : kFileAttributeArchive | platform::kFileAttributeReparsePoint;
    }
    if (machine_.files().HasFile(name) || IsInstalledLibrary(name)) return kFileAttributeArchive;
    size_t cut = name.rfind(u'\\');
    bool folderKnown =
        cut != std::u16string_view::npos && machine_.files().FindFolder(name.substr(0, cut));
    return Fail(folderKnown ? platform::kErrorFileNotFound : kErrorPathNotFound);
  }

  uint32_t GetNamedSecurityInfo(const char16_t* path, uint8_t* dacl, uint32_t size,
                                uint32_t* daclBytes, bool* nullDacl) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetNamedSecurityInfoW)) return *fault;
    if (path == nullptr || daclBytes == nullptr || nullDacl == nullptr) {
      return platform::kErrorInvalidParameter;
    }
    const SimFolder* folder = machine_.files().FindFolder(path);
    if (folder == nullptr) return platform::kErrorFileNotFound;
    *nullDacl = folder->nullDacl;
    *daclBytes = 0;
    if (folder->nullDacl) return 0;
    std::vector<uint8_t> acl = SimFileSystem::AclBytes(folder->dacl);
    *daclBytes = static_cast<uint32_t>(acl.size());
    if (dacl != nullptr) std::copy_n(acl.begin(), std::min<size_t>(acl.size(), size), dacl);
    return 0;
  }

  FileHandle CreateFile(const char16_t* path, uint32_t access, uint32_t disposition,
                        uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kCreateFileWFile)) return FailOpen(*fault);
    if (path == nullptr || (access & platform::kGenericWrite) == 0 ||
        (disposition != platform::kCreateNew && disposition != platform::kCreateAlways)) {
      return FailOpen(platform::kErrorInvalidParameter);
    }
    SimFileSystem& files = machine_.files();
    std::u16string name(path);
    if (files.linkRace.count > 0 && StartsWithNoCase(name, files.linkRace.prefix)) {
      --files.linkRace.count;
      files.PlantLink(name, files.linkRace.target);
    }
    SimFileData* data = files.FileData(name);
    if (data != nullptr && disposition == platform::kCreateNew) {
      return FailOpen(platform::kErrorFileExists);
    }
    if (data != nullptr && !data->linkTarget.empty() &&
        (flags & platform::kFileFlagOpenReparsePoint) == 0) {
      name = data->linkTarget;  // followed, one level
    }
    if (files.FindFolder(name) != nullptr) return FailOpen(platform::kErrorAccessDenied);
    data = files.FileData(name, true);
    if (data == nullptr) return FailOpen(kErrorPathNotFound);
    data->bytes.clear();
    uintptr_t handle = nextHandle_;
    nextHandle_ += 4;
    files.openFiles[handle] = name;
    return reinterpret_cast<FileHandle>(handle);
  }

  bool WriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* written) override {
    if (written != nullptr) *written = 0;
    if (auto fault = internals_.CheckFault(FaultCall::kWriteFile)) return FailCall(*fault);
    SimFileSystem& files = machine_.files();
    auto open = files.openFiles.find(reinterpret_cast<uintptr_t>(file));
    if (open == files.openFiles.end()) return FailCall(platform::kErrorInvalidHandle);
    SimFileData* contents = files.FileData(open->second);
    if (contents == nullptr) return FailCall(platform::kErrorInvalidHandle);
    contents->bytes.append(static_cast<const char*>(data), size);
    if (written != nullptr) *written = size;
    return true;
  }

  bool CloseFile(FileHandle file) override {
    auto fault = internals_.CheckFault(FaultCall::kCloseHandleFile);
    if (machine_.files().openFiles.erase(reinterpret_cast<uintptr_t>(file)) == 0) {
      return FailCall(platform::kErrorInvalidHandle);
    }
    return fault ? FailCall(*fault) : true;
  }

  bool MoveFileEx(const char16_t* from, const char16_t* to, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kMoveFileExW)) return FailCall(*fault);
    if (from == nullptr || to == nullptr) return FailCall(platform::kErrorInvalidParameter);
    SimFileSystem& files = machine_.files();
    SimFileData* source = files.FileData(from);
    if (source == nullptr) return FailCall(platform::kErrorFileNotFound);
    for (const auto& [handle, path] : files.openFiles) {
      if (SameNoCase(path, from) || SameNoCase(path, to)) return FailCall(kErrorSharingViolation);
    }
    if (files.FindFolder(to) != nullptr) return FailCall(platform::kErrorAccessDenied);
    if (files.FileData(to) != nullptr && (flags & platform::kMoveFileReplaceExisting) == 0) {
      return FailCall(platform::kErrorAlreadyExists);
    }
    SimFileData moved = *source;
    SimFileData* target = files.FileData(to, true);
    if (target == nullptr) return FailCall(kErrorPathNotFound);
    *target = std::move(moved);
    if (!SameNoCase(from, to)) files.RemoveFile(from);
    return true;
  }

  bool DeleteFile(const char16_t* path) override {
    if (auto fault = internals_.CheckFault(FaultCall::kDeleteFileW)) return FailCall(*fault);
    if (path == nullptr) return FailCall(platform::kErrorInvalidParameter);
    SimFileSystem& files = machine_.files();
    for (const auto& [handle, open] : files.openFiles) {
      if (SameNoCase(open, path)) return FailCall(kErrorSharingViolation);
    }
    return files.RemoveFile(path) ? true : FailCall(platform::kErrorFileNotFound);
  }

 private:
  FileHandle FailOpen(uint32_t error) {
    internals_.SetLastError(error);
    return platform::kInvalidFileHandle;
  }

  bool FailCall(uint32_t error) {
    internals_.SetLastError(error);
    return false;
  }

  uint32_t Fail(uint32_t error) {
    internals_.SetLastError(error);
    return platform::kInvalidFileAttributes;
  }

  bool IsInstalledLibrary(std::u16string_view path) const {
    for (VendorLibraryId id : {VendorLibraryId::kQlmapi, VendorLibraryId::kBmapi}) {
      const SimVendorLibrary& library = machine_.libraries().Library(id);
      std::u16string file = id == VendorLibraryId::kQlmapi ? kQlmapiFileName : kBmapiFileName;
      if (library.present && !library.folder.empty() &&
          SameNoCase(path, library.folder + u"\\" + file)) {
        return true;
      }
    }
    return false;
  }

  Machine& machine_;
  MachineInternals internals_;
  uintptr_t nextHandle_ = 0x4000;
};

}  // namespace

std::unique_ptr<platform::FileSystem> NewFileSystemApi(Machine& machine) {
  return std::make_unique<FileSystemApi>(machine);
}

}  // namespace sim
