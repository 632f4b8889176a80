// The host's choice between connecting as the service process and staying a console program,
// for the command lines Windows hands it. The argument vectors are those the C runtime makes
// of each command line: split at blanks outside double quotes, the quotes removed.
#include "service_start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/command_line.h"

namespace {

struct HostLine {
  const char* commandLine;  // as the process receives it, for the failure message
  std::vector<std::string> argv;
  crv::CommandWord word;  // the agent's own reading of the line
};

using enum crv::CommandWord;

const HostLine kLines[] = {
    // The service control manager passes the registered image path as it is. An earlier
    // installation registered it unquoted, so it arrives split at its blanks.
    {R"(C:\Program Files\Corvane NIC\crvnichost.exe)",
     {R"(C:\Program)", R"(Files\Corvane)", R"(NIC\crvnichost.exe)"},
     kNone},
    {R"(C:\Corvane NIC\crvnichost.exe)", {R"(C:\Corvane)", R"(NIC\crvnichost.exe)"}, kNone},
    {R"("C:\Program Files\Corvane NIC\crvnichost.exe")",
     {R"(C:\Program Files\Corvane NIC\crvnichost.exe)"},
     kNone},
    {R"(C:\Tools\crvnichost.exe)", {R"(C:\Tools\crvnichost.exe)"}, kNone},
    // From a console: the four words alone keep the host a console program.
    {R"("C:\Program Files\Corvane NIC\crvnichost.exe" -install)",
     {R"(C:\Program Files\Corvane NIC\crvnichost.exe)", "-install"},
     kInstall},
    {"crvnichost.exe /UnInstall", {"crvnichost.exe", "/UnInstall"}, kUninstall},
    {"crvnichost.exe -REINSTALL", {"crvnichost.exe", "-REINSTALL"}, kReinstall},
    {"crvnichost.exe /runasexe", {"crvnichost.exe", "/runasexe"}, kRunAsExe},
    // Anything else is offered to the service control manager first; from a console that
    // fails and the agent's own reading of the line decides, as it always did.
    {"crvnichost.exe -install now", {"crvnichost.exe", "-install", "now"}, kNone},
    {"crvnichost.exe install", {"crvnichost.exe", "install"}, kNone},
    {"crvnichost.exe -installs", {"crvnichost.exe", "-installs"}, kUnknown},
    {"crvnichost.exe -", {"crvnichost.exe", "-"}, kUnknown},
    {R"(C:\x -install\crvnichost.exe)", {R"(C:\x)", R"(-install\crvnichost.exe)"}, kUnknown},
};

// The host stays a console program exactly when the agent will carry out a word or run in
// the console on the word's account, so the two readings of a command line never disagree;
// the decision goes by the words, not by the number of arguments.
TEST(HostServiceStart, ConnectsUnlessTheAgentReadsOneOfItsWords) {
  for (const HostLine& line : kLines) {
    std::vector<std::string> copy = line.argv;
    std::vector<char*> argv;
    for (std::string& argument : copy) argv.push_back(argument.data());
    EXPECT_EQ(crv::ReadCommandWord(static_cast<int32_t>(argv.size()), argv.data()), line.word)
        << line.commandLine;
    argv.push_back(nullptr);
    EXPECT_EQ(crvhost::ConnectsAsService(static_cast<int>(copy.size()), argv.data()),
              line.word == kNone || line.word == kUnknown)
        << line.commandLine;
  }
}

}  // namespace
