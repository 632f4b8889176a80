// GetFileAttributesW and GetNamedSecurityInfoW on the simulated machine, over its folders
// (file_system_sim.h): a vendor library installed in a folder of its own is a file there.
//
// Fault names: "GetFileAttributesW", "GetNamedSecurityInfoW".
#include <algorithm>

#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/file_system_sim.h"
#include "platform/sim/state/library_sim.h"

namespace sim {
namespace {

constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kErrorPathNotFound = 3;

class FileSystemApi : public platform::FileSystem {
 public:
  explicit FileSystemApi(Machine& machine) : machine_(machine), internals_(machine) {}

  uint32_t GetFileAttributes(const char16_t* path) override {
    if (auto fault = internals_.CheckFault("GetFileAttributesW")) return Fail(*fault);
    if (path == nullptr) return Fail(platform::kErrorInvalidParameter);
    std::u16string_view name(path);
    if (machine_.files().FindFolder(name) != nullptr) return platform::kFileAttributeDirectory;
    if (machine_.files().HasFile(name) || IsInstalledLibrary(name)) return kFileAttributeArchive;
    size_t cut = name.rfind(u'\\');
    bool folderKnown =
        cut != std::u16string_view::npos && machine_.files().FindFolder(name.substr(0, cut));
    return Fail(folderKnown ? platform::kErrorFileNotFound : kErrorPathNotFound);
  }

  uint32_t GetNamedSecurityInfo(const char16_t* path, uint8_t* dacl, uint32_t size,
                                uint32_t* daclBytes, bool* nullDacl) override {
    if (auto fault = internals_.CheckFault("GetNamedSecurityInfoW")) return *fault;
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

 private:
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
};

}  // namespace

std::unique_ptr<platform::FileSystem> NewFileSystemApi(Machine& machine) {
  return std::make_unique<FileSystemApi>(machine);
}

}  // namespace sim
