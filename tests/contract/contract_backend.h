// The platform implementations the contract suite runs against. A backend installs itself as
// platform::Os() for one test and gives the checks what they need from the machine behind it;
// everything else a check learns through the platform interfaces themselves.
#pragma once

#include <memory>
#include <string>

namespace crvcontract {

class ContractBackend {
 public:
  virtual ~ContractBackend() = default;

  // True for Wine's implementation behind the Win32 backend: the checks where Wine is known
  // to answer otherwise than Windows skip there, with the reason.
  virtual bool IsWine() const = 0;
  // A key under HKEY_LOCAL_MACHINE that does not exist yet; the check that creates it deletes it.
  virtual std::u16string ScratchKey() const = 0;
  // A library the process can load by its lower-case file name, and an entry point of it.
  virtual std::u16string LoadableLibrary() const = 0;
  virtual std::string EntryPoint() const = 0;
  // The full path of a library in a folder that only administrators can write, which the
  // process's search by name does not look in (the simulated server's), or does (Wine's).
  virtual std::u16string LibraryInFolder() const = 0;
  // A folder the process may create files in; the check that creates one removes it.
  virtual std::u16string ScratchFolder() const = 0;
};

// Builds a backend and installs it; the backend's destructor leaves no machine behind.
using BackendFactory = std::unique_ptr<ContractBackend> (*)();

// The simulated server: a fresh machine per test with a loopback interface, one Ethernet
// adapter with its miniport, a loadable vendor library and WMI.
std::unique_ptr<ContractBackend> MakeSimulatedBackend();
#ifdef _WIN32
// Wine's (or Windows') own implementation through the Win32 backend.
std::unique_ptr<ContractBackend> MakeWineBackend();
#endif

}  // namespace crvcontract
