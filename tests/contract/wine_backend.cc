// The Win32 backend on the system the program runs on (Wine in this project's runs).
#include "contract/contract_backend.h"
#include "platform/win32/win32_platform.h"

namespace crvcontract {
namespace {

class WineBackend : public ContractBackend {
 public:
  WineBackend() { platform::win32::InstallWin32Platform(); }

  bool IsWine() const override { return true; }
  std::u16string ScratchKey() const override { return u"SYSTEM\\CrvPlatformContract"; }
  std::u16string LoadableLibrary() const override { return u"kernel32.dll"; }
  std::string EntryPoint() const override { return "GetLastError"; }
  std::u16string LibraryInFolder() const override { return u"C:\\windows\\system32\\version.dll"; }
  std::u16string ScratchFolder() const override { return u"C:\\windows\\temp"; }
};

}  // namespace

std::unique_ptr<ContractBackend> MakeWineBackend() { return std::make_unique<WineBackend>(); }

}  // namespace crvcontract
