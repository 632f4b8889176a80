#include "collect/interface_change_watch.h"

#include "common/alloc.h"
#include "common/report.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "service/nic_service.h"

namespace crv {
namespace {

platform::Kernel& Kernel() { return *platform::Os().kernel; }

// Runs on a thread of the system's: it only wakes the collection thread.
void OnInterfaceChange(void* context, const platform::IpInterfaceChange*) {
  Kernel().SetEvent(static_cast<platform::Handle>(context));
}

}  // namespace

bool ImmediateUpdatesOn() {
  CRegistryKey parameters = RootKey().Open(kParametersKeyPath, platform::kKeyRead, false);
  if (parameters.LastError() != 0) return true;
  uint32_t type = 0;
  uint32_t length = 0;
  uint8_t* data = parameters.QueryValue(kImmediateUpdatesValueName, &type, &length, false);
  if (data == nullptr) return true;
  bool off = type == platform::kRegDword && length == 4 && data[0] == 0 && data[1] == 0 &&
             data[2] == 0 && data[3] == 0;
  FreeBlock(data);
  return !off;
}

void CInterfaceChangeWatch::Start(bool on) {
  if (!on) {
    ReportInfo(u"Interface change notification switched off, polling only", 0);
    return;
  }
  event_ = Kernel().CreateEvent(false, false, nullptr);
  if (event_ == nullptr) {
    ReportInfo(u"Interface change notification unavailable, polling only", Kernel().GetLastError());
    return;
  }
  uint32_t status = platform::Os().ipHelper->NotifyIpInterfaceChange(
      platform::kAfUnspec, &OnInterfaceChange, event_, false, &registration_);
  if (status == 0 && registration_ != nullptr) return;
  // Failed, or registered without a handle: nothing will be delivered.
  ReportInfo(u"Interface change notification unavailable, polling only", status);
  registration_ = nullptr;
  Kernel().CloseHandle(event_);
  event_ = nullptr;
}

void CInterfaceChangeWatch::Stop() {
  if (registration_ != nullptr) platform::Os().ipHelper->CancelMibChangeNotify2(registration_);
  registration_ = nullptr;
  if (event_ != nullptr) Kernel().CloseHandle(event_);
  event_ = nullptr;
}

}  // namespace crv
