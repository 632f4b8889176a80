// LoadLibraryW, LoadLibraryExW, GetProcAddress, FreeLibrary and GetModuleFileNameW on the
// simulated machine, over the vendor libraries of library_sim.h: qlmapia.dll and bmapia.dll by
// file name, or by full path when installed in a folder of their own; bmapi.dll by its full
// path beside the agent's module; each load counts a reference.
//
// Fault names: "LoadLibraryW", "LoadLibraryExW", "GetProcAddress", "FreeLibrary",
// "GetModuleFileNameW".
#include <algorithm>

#include "common/text.h"
#include "platform/sim/api/apis.h"
#include "platform/sim/api/machine_internals.h"
#include "platform/sim/machine.h"
#include "platform/sim/state/library_sim.h"
#include "platform/sim/state/sim_text.h"

namespace sim {
namespace {

using platform::Module;

// The agent's own module: a handle no library load hands out.
const Module kAgentModule = reinterpret_cast<Module>(uintptr_t{0x10000});
// Each library's module handle: the base plus its number times the step.
constexpr uintptr_t kLibraryModuleBase = 0x7FF800000000;
constexpr uintptr_t kLibraryModuleStep = 0x100000;
constexpr VendorLibraryId kLibraryIds[] = {VendorLibraryId::kQlmapi, VendorLibraryId::kBmapi,
                                           VendorLibraryId::kBmapiLocal};
constexpr size_t kMaxNameChars = 32767;

Module ModuleOf(VendorLibraryId id) {
  return reinterpret_cast<Module>(kLibraryModuleBase +
                                  kLibraryModuleStep * static_cast<uintptr_t>(id));
}

class DynamicLibraryApi : public platform::DynamicLibrary {
 public:
  explicit DynamicLibraryApi(Machine& machine) : machine_(machine), internals_(machine) {}
  ~DynamicLibraryApi() override {
    if (CurrentLibraryMachine() == &machine_) SetCurrentLibraryMachine(nullptr);
  }

  Module LoadLibrary(const char16_t* fileName) override {
    if (auto fault = internals_.CheckFault(FaultCall::kLoadLibraryW)) return FailLoad(*fault);
    return Load(fileName);
  }

  // The search flags need a full path; other flags are not modelled.
  Module LoadLibraryEx(const char16_t* fileName, uint32_t flags) override {
    if (auto fault = internals_.CheckFault(FaultCall::kLoadLibraryExW)) return FailLoad(*fault);
    constexpr uint32_t kKnown = platform::kLoadWithAlteredSearchPath |
                                platform::kLoadLibrarySearchDllLoadDir |
                                platform::kLoadLibrarySearchSystem32;
    if ((flags & ~kKnown) != 0) return FailLoad(platform::kErrorInvalidParameter);
    bool searchFlags = (flags & ~platform::kLoadWithAlteredSearchPath) != 0;
    if (searchFlags && (flags & platform::kLoadWithAlteredSearchPath) != 0) {
      return FailLoad(platform::kErrorInvalidParameter);
    }
    if (fileName == nullptr) return FailLoad(platform::kErrorInvalidParameter);
    std::u16string_view name(fileName);
    bool fullPath = name.size() > 3 && name[1] == u':' && name[2] == u'\\';
    if ((flags & platform::kLoadLibrarySearchDllLoadDir) != 0 && !fullPath) {
      return FailLoad(platform::kErrorInvalidParameter);
    }
    return Load(fileName);
  }

  void* GetProcAddress(Module module, const char* name) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetProcAddress)) return FailProc(*fault);
    auto id = Loaded(module);
    if (!id) return FailProc(platform::kErrorInvalidHandle);
    if (name == nullptr) return FailProc(platform::kErrorProcNotFound);
    const SimVendorLibrary& library = machine_.libraries().Library(*id);
    if (library.missingEntryPoints.count(name) != 0) return FailProc(platform::kErrorProcNotFound);
    void* entry = VendorEntryPoint(*id, name);
    if (entry == nullptr) return FailProc(platform::kErrorProcNotFound);
    return entry;
  }

  bool FreeLibrary(Module module) override {
    if (auto fault = internals_.CheckFault(FaultCall::kFreeLibrary)) {
      internals_.SetLastError(*fault);
      return false;
    }
    auto id = Loaded(module);
    if (!id) {
      internals_.SetLastError(platform::kErrorInvalidHandle);
      return false;
    }
    --machine_.libraries().Library(*id).references;
    return true;
  }

  Module AgentModule() override { return kAgentModule; }

  uint32_t GetModuleFileName(Module module, char16_t* buffer, uint32_t size) override {
    if (auto fault = internals_.CheckFault(FaultCall::kGetModuleFileNameW)) {
      internals_.SetLastError(*fault);
      return 0;
    }
    if ((module != nullptr && module != kAgentModule) || buffer == nullptr) {
      internals_.SetLastError(platform::kErrorInvalidHandle);
      return 0;
    }
    return CopyPath(
        module == nullptr ? internals_.ModuleFileName() : machine_.AgentModuleFileName(), buffer,
        size);
  }

 private:
  Module Load(const char16_t* fileName) {
    if (fileName == nullptr) return FailLoad(platform::kErrorInvalidParameter);
    size_t length = 0;
    while (length < kMaxNameChars && fileName[length] != 0) ++length;
    auto id = Find(std::u16string_view(fileName, length));
    if (!id) return FailLoad(platform::kErrorModNotFound);
    SimVendorLibrary& library = machine_.libraries().Library(*id);
    if (!library.present) return FailLoad(platform::kErrorModNotFound);
    ++library.references;
    ++library.loads;
    SetCurrentLibraryMachine(&machine_);
    return ModuleOf(*id);
  }

  // The library a name loads: the two searched for by file name (by full path when their
  // suite installed them in a folder of its own), bmapi.dll by its full path in the directory
  // of the agent's module only.
  std::optional<VendorLibraryId> Find(std::u16string_view name) const {
    for (VendorLibraryId id : {VendorLibraryId::kQlmapi, VendorLibraryId::kBmapi}) {
      const SimVendorLibrary& library = machine_.libraries().Library(id);
      std::u16string_view file = id == VendorLibraryId::kQlmapi ? kQlmapiFileName : kBmapiFileName;
      if (library.folder.empty()
              ? SameNoCase(name, file)
              : SameNoCase(name, library.folder + u"\\" + std::u16string(file))) {
        return id;
      }
    }
    const std::u16string& agent = machine_.AgentModuleFileName();
    size_t cut = agent.rfind(u'\\');
    if (cut != std::u16string::npos &&
        SameNoCase(name, agent.substr(0, cut + 1) + kBmapiLocalFileName)) {
      return VendorLibraryId::kBmapiLocal;
    }
    return std::nullopt;
  }

  // The library of a module handle that is loaded.
  std::optional<VendorLibraryId> Loaded(Module module) const {
    for (VendorLibraryId id : kLibraryIds) {
      if (module == ModuleOf(id) && machine_.libraries().Library(id).references > 0) return id;
    }
    return std::nullopt;
  }

  Module FailLoad(uint32_t error) {
    internals_.SetLastError(error);
    return nullptr;
  }

  void* FailProc(uint32_t error) {
    internals_.SetLastError(error);
    return nullptr;
  }

  uint32_t CopyPath(const std::u16string& path, char16_t* buffer, uint32_t size) {
    if (size == 0) {
      internals_.SetLastError(platform::kErrorInsufficientBuffer);
      return 0;
    }
    uint32_t length = static_cast<uint32_t>(path.size());
    if (length < size) {
      std::copy(path.begin(), path.end(), buffer);
      buffer[length] = 0;
      internals_.SetLastError(0);
      return length;
    }
    std::copy(path.begin(), path.begin() + (size - 1), buffer);
    buffer[size - 1] = 0;
    internals_.SetLastError(platform::kErrorInsufficientBuffer);
    return size;
  }

  Machine& machine_;
  MachineInternals internals_;
};

}  // namespace

std::unique_ptr<platform::DynamicLibrary> NewDynamicLibraryApi(Machine& machine) {
  return std::make_unique<DynamicLibraryApi>(machine);
}

}  // namespace sim
