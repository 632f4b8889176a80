// The service base class: the service's names, its registration with the service control
// manager for the installation words, and the start of the agent in the calling thread. The
// module never connects to the service control manager as a running service; whatever a
// service process owes it is the host's business.
#pragma once

#include <cstdint>

namespace crv {

class CNtService {
 public:
  // Both texts are static and not owned.
  CNtService(const char16_t* name, const char16_t* displayName);
  CNtService(const CNtService&) = delete;
  CNtService& operator=(const CNtService&) = delete;

  virtual ~CNtService();
  // Registers the service (own process, demand start, local system, this executable) unless
  // it is registered already. False after printing what failed.
  virtual bool Install();
  // Stops and deletes the registration when there is one; the stop is requested, not waited
  // for. False after printing what failed (a service that is not running cannot be stopped,
  // and then stays registered).
  virtual bool Uninstall();
  // Clears the run-as-service flag and runs the agent in the calling thread: returns 0 when
  // Initialize fails; otherwise RunAsExe comes back only when the agent must end (a stalled
  // collection pass), and then so does Start, with 0.
  virtual int32_t Start();
  virtual bool Initialize();
  virtual void RunAsExe() = 0;

  // Whether a service of this name is registered. False also when the service control
  // manager cannot be opened with full access (a caller that is not an administrator).
  bool IsInstalled();

  const char16_t* Name() const { return name_; }
  const char16_t* DisplayName() const { return displayName_; }
  uint32_t RunAsService() const { return runAsService_; }
  void ClearRunAsService() { runAsService_ = 0; }

 protected:
  const char16_t* name_;
  const char16_t* displayName_;
  uint32_t runAsService_;
};

}  // namespace crv
