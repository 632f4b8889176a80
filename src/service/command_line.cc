#include "service/command_line.h"

#include "common/text.h"
#include "events/event_source_key.h"
#include "platform/os_access.h"
#include "platform/platform.h"
#include "service/console_line.h"
#include "service/nt_service.h"

namespace crv {
namespace {
struct WordEntry {
  const char* text;
  CommandWord word;
};

constexpr WordEntry kWords[] = {
    {"install", CommandWord::kInstall},
    {"uninstall", CommandWord::kUninstall},
    {"reinstall", CommandWord::kReinstall},
    {"runasexe", CommandWord::kRunAsExe},
};

// Whenever the service is registered at the end of a word, so is its event source (again
// when it was already, which brings the module path up to date); when a word removed the
// service, the source goes with it.
void InstallWord(CNtService& service) {
  if (service.IsInstalled()) {
    PrintServiceLine(service.Name(), " is already installed.");
    RegisterEventSourceKey();
  } else if (service.Install()) {
    PrintServiceLine(service.Name(), " installed.");
    RegisterEventSourceKey();
  } else {
    PrintServiceLine(service.Name(), " failed to install, error: ", LastError());
  }
}

void UninstallWord(CNtService& service) {
  if (!service.IsInstalled()) {
    PrintServiceLine(service.Name(), " is not installed.");
  } else if (service.Uninstall()) {
    PrintServiceLine(service.Name(), " uninstalled.");
    RemoveEventSourceKey();
  } else {
    PrintServiceLine(service.Name(), " failed to uninstall, error: ", LastError());
  }
}

// A registered service is only removed (silently when that works); the next "reinstall"
// registers it again.
void ReinstallWord(CNtService& service) {
  if (service.IsInstalled()) {
    if (service.Uninstall()) {
      RemoveEventSourceKey();
    } else {
      PrintServiceLine(service.Name(), " failed to uninstall, error: ", LastError());
    }
  } else if (service.Install()) {
    PrintServiceLine(service.Name(), " reinstalled.");
    RegisterEventSourceKey();
  } else {
    PrintServiceLine(service.Name(), " failed to reinstall, error: ", LastError());
  }
}
}  // namespace

CommandWord ReadCommandWord(int32_t argc, char** argv) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr) return CommandWord::kNone;
  const char* argument = argv[1];
  if (argument[0] != '/' && argument[0] != '-') return CommandWord::kNone;
  for (const WordEntry& entry : kWords) {
    if (CompareNoCase(argument + 1, entry.text) == 0) return entry.word;
  }
  return CommandWord::kUnknown;
}

void CarryOutInstallationWord(CNtService& service, CommandWord word) {
  switch (word) {
    case CommandWord::kInstall:
      InstallWord(service);
      break;
    case CommandWord::kUninstall:
      UninstallWord(service);
      break;
    case CommandWord::kReinstall:
      ReinstallWord(service);
      break;
    default:
      break;
  }
}

}  // namespace crv
