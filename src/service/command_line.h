// The host's command line: at most one command word, after '/' or '-'.
#pragma once

#include <cstdint>

namespace crv {

class CNtService;

enum class CommandWord {
  kNone,  // no word: the agent runs
  kInstall,
  kUninstall,
  kReinstall,
  kRunAsExe,  // the agent runs
  kUnknown,   // a prefixed word that is none of the above, also an empty one: nothing runs
};

// A word is read only when there is exactly one argument after the program name and it
// begins with '/' or '-'; the rest of it is compared with each word ignoring case.
CommandWord ReadCommandWord(int32_t argc, char** argv);

// Carries out "install", "uninstall" or "reinstall" and prints the outcome on the console.
void CarryOutInstallationWord(CNtService& service, CommandWord word);

}  // namespace crv
