// LoadLibraryW, GetProcAddress, FreeLibrary and GetModuleFileNameW on the simulated machine.
//
// Fault names: "LoadLibraryW", "GetProcAddress", "FreeLibrary", "GetModuleFileNameW".
#include <algorithm>

#include "platform/sim/apis.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

using platform::Module;

// The agent's own module: a handle no library load hands out.
const Module kAgentModule = reinterpret_cast<Module>(uintptr_t{0x10000});

class DynamicLibraryApi : public platform::DynamicLibrary {
 public:
  explicit DynamicLibraryApi(Machine& machine) : machine_(machine) {}

  Module LoadLibrary(const char16_t* fileName) override {
    if (auto fault = machine_.CheckFault("LoadLibraryW")) {
      machine_.SetLastError(*fault);
      return nullptr;
    }
    machine_.SetLastError(fileName == nullptr ? platform::kErrorInvalidParameter
                                              : platform::kErrorModNotFound);
    return nullptr;
  }

  void* GetProcAddress(Module, const char*) override {
    if (auto fault = machine_.CheckFault("GetProcAddress")) {
      machine_.SetLastError(*fault);
      return nullptr;
    }
    machine_.SetLastError(platform::kErrorInvalidHandle);
    return nullptr;
  }

  bool FreeLibrary(Module) override {
    if (auto fault = machine_.CheckFault("FreeLibrary")) {
      machine_.SetLastError(*fault);
      return false;
    }
    machine_.SetLastError(platform::kErrorInvalidHandle);
    return false;
  }

  Module AgentModule() override { return kAgentModule; }

  uint32_t GetModuleFileName(Module module, char16_t* buffer, uint32_t size) override {
    if (auto fault = machine_.CheckFault("GetModuleFileNameW")) {
      machine_.SetLastError(*fault);
      return 0;
    }
    if (module != kAgentModule || buffer == nullptr) {
      machine_.SetLastError(platform::kErrorInvalidHandle);
      return 0;
    }
    return CopyPath(machine_.AgentModuleFileName(), buffer, size);
  }

 private:
  uint32_t CopyPath(const std::u16string& path, char16_t* buffer, uint32_t size) {
    if (size == 0) {
      machine_.SetLastError(platform::kErrorInsufficientBuffer);
      return 0;
    }
    uint32_t length = static_cast<uint32_t>(path.size());
    if (length < size) {
      std::copy(path.begin(), path.end(), buffer);
      buffer[length] = 0;
      machine_.SetLastError(0);
      return length;
    }
    std::copy(path.begin(), path.begin() + (size - 1), buffer);
    buffer[size - 1] = 0;
    machine_.SetLastError(platform::kErrorInsufficientBuffer);
    return size;
  }

  Machine& machine_;
};

}  // namespace

std::unique_ptr<platform::DynamicLibrary> NewDynamicLibraryApi(Machine& machine) {
  return std::make_unique<DynamicLibraryApi>(machine);
}

}  // namespace sim
