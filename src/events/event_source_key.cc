#include "events/event_source_key.h"

#include "common/report.h"
#include "common/text.h"
#include "events/event_messages.h"
#include "platform/platform.h"

namespace crv {
namespace {
constexpr uint32_t kModulePathChars = 512;
}  // namespace

void RegisterEventSourceKey() {
  const platform::Platform& os = platform::Os();
  char16_t modulePath[kModulePathChars];
  uint32_t length =
      os.libraries->GetModuleFileName(os.libraries->AgentModule(), modulePath, kModulePathChars);
  // A cut path would name another file: the source is then not registered at all.
  if (length == 0 || length >= kModulePathChars) {
    ReportInfo(u"Event log: failure to read the module path for the event source",
               os.kernel->GetLastError());
    return;
  }
  modulePath[length] = 0;

  platform::RegKey key = nullptr;
  int32_t status = os.registry->CreateKeyEx(platform::kHkeyLocalMachine, kEventSourceKeyPath,
                                            nullptr, platform::kRegOptionNonVolatile,
                                            platform::kKeySetValue, &key, nullptr);
  if (status == 0) {
    const uint32_t types = kEventTypesSupported;
    status = os.registry->SetValueEx(key, kEventMessageFileValue, platform::kRegExpandSz,
                                     reinterpret_cast<const uint8_t*>(modulePath),
                                     (length + 1) * sizeof(char16_t));
    if (status == 0) {
      status = os.registry->SetValueEx(key, kTypesSupportedValue, platform::kRegDword,
                                       reinterpret_cast<const uint8_t*>(&types), sizeof types);
    }
    os.registry->CloseKey(key);
  }
  if (status != 0) {
    ReportInfo(u"Event log: failure to register the event source", static_cast<uint32_t>(status));
  }
}

void RemoveEventSourceKey() {
  int32_t status =
      platform::Os().registry->DeleteKey(platform::kHkeyLocalMachine, kEventSourceKeyPath);
  if (status != 0 && status != static_cast<int32_t>(platform::kErrorFileNotFound)) {
    ReportInfo(u"Event log: failure to remove the event source", static_cast<uint32_t>(status));
  }
}

}  // namespace crv
