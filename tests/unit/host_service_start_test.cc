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
  bool connects;
};

const HostLine kLines[] = {
    // The service control manager passes the registered image path as it is. An earlier
    // installation registered it unquoted, so it arrives split at its blanks.
    {R"(C:\Program Files\Corvane NIC\crvnichost.exe)",
     {R"(C:\Program)", R"(Files\Corvane)", R"(NIC\crvnichost.exe)"},
     true},
    {R"(C:\Corvane NIC\crvnichost.exe)", {R"(C:\Corvane)", R"(NIC\crvnichost.exe)"}, true},
    {R"("C:\Program Files\Corvane NIC\crvnichost.exe")",
     {R"(C:\Program Files\Corvane NIC\crvnichost.exe)"},
     true},
    {R"(C:\Tools\crvnichost.exe)", {R"(C:\Tools\crvnichost.exe)"}, true},
    // From a console: the four words alone keep the host a console program.
    {R"("C:\Program Files\Corvane NIC\crvnichost.exe" -install)",
     {R"(C:\Program Files\Corvane NIC\crvnichost.exe)", "-install"},
     false},
    {"crvnichost.exe /UnInstall", {"crvnichost.exe", "/UnInstall"}, false},
    {"crvnichost.exe -REINSTALL", {"crvnichost.exe", "-REINSTALL"}, false},
    {"crvnichost.exe /runasexe", {"crvnichost.exe", "/runasexe"}, false},
    // Anything else is offered to the service control manager first; from a console that
    // fails and the agent's own reading of the line decides, as it always did.
    {"crvnichost.exe -install now", {"crvnichost.exe", "-install", "now"}, true},
    {"crvnichost.exe install", {"crvnichost.exe", "install"}, true},
    {"crvnichost.exe -installs", {"crvnichost.exe", "-installs"}, true},
    {"crvnichost.exe -", {"crvnichost.exe", "-"}, true},
    {R"(C:\x -install\crvnichost.exe)", {R"(C:\x)", R"(-install\crvnichost.exe)"}, true},
};

bool Connects(const HostLine& line) {
  std::vector<const char*> argv;
  for (const std::string& argument : line.argv) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  return crvhost::ConnectsAsService(static_cast<int>(line.argv.size()), argv.data());
}

TEST(HostServiceStart, DecidedByTheWordsNotByTheArgumentCount) {
  for (const HostLine& line : kLines) {
    EXPECT_EQ(Connects(line), line.connects) << line.commandLine;
  }
}

// The host stays a console program exactly when the agent will carry out a word or run in
// the console on the word's account, so the two readings of a command line never disagree.
TEST(HostServiceStart, StaysAConsoleProgramForTheAgentsOwnWords) {
  for (const HostLine& line : kLines) {
    std::vector<std::string> copy = line.argv;
    std::vector<char*> argv;
    for (std::string& argument : copy) argv.push_back(argument.data());
    crv::CommandWord word = crv::ReadCommandWord(static_cast<int32_t>(argv.size()), argv.data());
    const bool consoleWord = word != crv::CommandWord::kNone && word != crv::CommandWord::kUnknown;
    EXPECT_EQ(Connects(line), !consoleWord) << line.commandLine;
  }
}

}  // namespace
