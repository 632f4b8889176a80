#include "service/nic_service.h"

#include "collect/data_collection_thread.h"
#include "common/alloc.h"
#include "common/report.h"
#include "events/event_writer.h"
#include "platform/platform.h"
#include "publish/registry_key.h"
#include "service/collection_watchdog.h"

namespace crv {
namespace {
platform::Kernel& Kernel() { return *platform::Os().kernel; }

// The configured poll interval: Timeout when it can be read (a value of another type reads
// as 0), brought into the poll interval's range; the default without the key or value.
uint32_t ReadPollInterval() {
  uint32_t timeout = 0;
  if (!ReadParameterDword(kTimeoutValueName, &timeout, true)) return kDefaultPollInterval;
  if (timeout < kMinimumPollInterval) return kMinimumPollInterval;
  return timeout > kMaximumPollInterval ? kMaximumPollInterval : timeout;
}

// Automatic reset, initially not signalled. An event of that name that exists already (a
// second agent, or another process) is opened, which counts as success.
platform::Handle CreateNamedEvent(const char16_t* name) {
  return Kernel().CreateEvent(false, false, name);
}
}  // namespace

bool ReadParameterDword(const char16_t* valueName, uint32_t* value, bool report) {
  CRegistryKey parameters = RootKey().Open(kParametersKeyPath, platform::kKeyRead, report);
  if (parameters.LastError() != 0) return false;
  return parameters.QueryDword(valueName, value, report).LastError() == 0;
}

CMNicService::CMNicService() : CNtService(kServiceName, kServiceDisplayName) {}

CMNicService::~CMNicService() {
  if (scmEvent_ != nullptr) Kernel().CloseHandle(scmEvent_);
  if (initEvent_ != nullptr) Kernel().CloseHandle(initEvent_);
  if (commandDoneEvent_ != nullptr) Kernel().CloseHandle(commandDoneEvent_);
  DeleteObject(queue_);
  FreeBlock(shared_);
}

bool CMNicService::Initialize() {
  ReportInfo(u"Debug logging is enabled.", 0);
  queue_ = NewObject<CMsgQueue>();
  if (queue_ == nullptr) return false;
  if (!CreateDCStruct(&shared_)) return false;
  if (Kernel().BeginThread(&DataCollectionThread, 0, shared_) == platform::kBeginThreadFailed) {
    Report(kReportThreadNotStarted, nullptr, Kernel().GetLastError());
    ReportInfo(u"CMNicService::Initialize: failure starting DC Thread.", 0);
    return false;
  }
  WriteAgentStartedEvent(shared_->pollInterval);
  return true;
}

bool CMNicService::CreateDCStruct(DCStruct** shared) {
  uint32_t pollInterval = ReadPollInterval();

  auto* dc = static_cast<DCStruct*>(AllocateZeroed(sizeof(DCStruct)));
  *shared = dc;
  if (dc == nullptr) {
    uint32_t error = Kernel().GetLastError();
    Report(kReportAllocationFailed, nullptr, error);
    ReportInfo(u"CMNicService::CreateDCStruct: failure to malloc dcstruct", error);
    return false;
  }
  dc->runAsService = runAsService_;
  dc->pollInterval = pollInterval;

  // Each handle is kept by the service as soon as it exists, so that a later failure leaves
  // it to the destructor.
  scmEvent_ = CreateNamedEvent(kScmEventName);
  dc->wakeEvents[0] = scmEvent_;
  if (scmEvent_ == nullptr) {
    ReportInfo(u"CMNicService::CreateDCStruct: creation of SCM Event failed",
               Kernel().GetLastError());
    return false;
  }
  initEvent_ = CreateNamedEvent(kInitEventName);
  dc->wakeEvents[1] = initEvent_;
  if (initEvent_ == nullptr) {
    ReportInfo(u"CMNicService::CreateDCStruct: creation of Command Event failed",
               Kernel().GetLastError());
    return false;
  }
  commandDoneEvent_ = CreateNamedEvent(kCommandDoneEventName);
  dc->commandDoneEvent = commandDoneEvent_;
  if (commandDoneEvent_ == nullptr) {
    ReportInfo(u"CMNicService::CreateDCStruct: creation of CommandDone Event failed",
               Kernel().GetLastError());
    return false;
  }

  dc->command = &command_;
  dc->queue = queue_;
  return true;
}

void CMNicService::RunAsExe() {
  platform::Os().console->GetChar();
  uint64_t reportedPass = 0;  // the start of the stalled pass last reported
  for (;;) {
    Kernel().SleepEx(kWatchdogCheckMs, false);
    const uint64_t now = Kernel().GetTickCount64();
    const uint64_t stalledPass = StalledPassStart(*shared_, now);
    if (stalledPass == 0 || stalledPass == reportedPass) continue;
    reportedPass = stalledPass;
    ReportStalledPass(now - stalledPass);
    if (!keepRunningOnStall_) {
      stalled_ = true;
      return;
    }
  }
}

}  // namespace crv
