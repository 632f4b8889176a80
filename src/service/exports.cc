#include "service/exports.h"

#include <cstring>
#include <new>

#include "common/process_state.h"
#include "platform/platform.h"
#include "service/collection_watchdog.h"
#include "service/command_line.h"
#include "service/nic_service.h"
#include "vendor/vendor_libraries.h"

namespace crv {
namespace {

// The agent start time: the current UTC time as a file time in 10 ms units, cut to 32 bits.
uint32_t TakeAgentStartTime() {
  platform::Kernel& kernel = *platform::Os().kernel;
  platform::SystemTime now;
  platform::FileTime fileTime;
  kernel.GetSystemTime(&now);
  kernel.SystemTimeToFileTime(&now, &fileTime);
  uint64_t ticks = (static_cast<uint64_t>(fileTime.high) << 32) | fileTime.low;
  return static_cast<uint32_t>(ticks / 100000);
}

}  // namespace
}  // namespace crv

extern "C" int32_t Win2KMain(int32_t argc, char** argv) {
  crv::ProcessState& state = crv::State();
  state.cycleCounter = 0;
  state.startupLinks.Clear();
  state.agentStartTime = crv::TakeAgentStartTime();

  // The service object lives in this frame, in storage zero-filled before construction.
  alignas(crv::CMNicService) unsigned char storage[sizeof(crv::CMNicService)];
  std::memset(storage, 0, sizeof(storage));
  auto* service = new (storage) crv::CMNicService();

  switch (crv::CommandWord word = crv::ReadCommandWord(argc, argv)) {
    case crv::CommandWord::kInstall:
    case crv::CommandWord::kUninstall:
    case crv::CommandWord::kReinstall:
      crv::CarryOutInstallationWord(*service, word);
      break;
    case crv::CommandWord::kRunAsExe:
      service->ClearRunAsService();
      service->KeepRunningOnStall();
      service->Start();
      break;
    case crv::CommandWord::kNone:
      service->Start();
      break;
    case crv::CommandWord::kUnknown:
      break;
  }
  // A stalled collection pass: the collection thread is still inside a call (perhaps a vendor
  // library's) and keeps the shared structure, so nothing is released. The host ends the
  // process with this code, as the service's exit code.
  if (service->CollectionStalled()) return crv::kExitCollectionStalled;
  // Reached after an installation word, an unknown word or a failed start-up: bmapia.dll
  // goes if it is still initialised.
  crv::UnInitializeBMAPI(0);

  service->~CMNicService();
  return 0;
}

extern "C" int32_t CrvNicMgmtReportError(uint32_t code, const char16_t* message, uint32_t value) {
  const platform::Platform& os = platform::Os();
  if (os.diagnostics != nullptr) os.diagnostics->Report(code, message, value);
  return 1;
}
