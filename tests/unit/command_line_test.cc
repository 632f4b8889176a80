// The command words: what the host makes of the command lines Windows hands it (connecting as
// the service process or staying a console program), and what the agent does with each word:
// its console lines, the service's registration, and the event source's (a repeated "install"
// keeps its module path up to date; a registry that refuses it costs one report and nothing
// else). The words against a real service control manager and registry are
// tests/windows/install_words_test.cc's.
#include "service/command_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "events/event_messages.h"
#include "events/event_source_key.h"
#include "service/exports.h"
#include "service/recovery_actions.h"
#include "service_start.h"
#include "support/record_bytes.h"
#include "support/sim_fixture.h"

namespace {

// A service installed earlier and running, with its event source.
void Running(sim::Machine& machine) {
  sim::ServiceRecord record;
  record.name = u"CRVNicMgmt";
  record.running = true;
  machine.services().Add(record);
  machine.registry().SetDword(crv::kEventSourceKeyPath, crv::kTypesSupportedValue, 7);
}

using InstallationTest = crvtest::SimTest;

TEST_F(InstallationTest, InstallRegistersTheHostOnceThenSaysSo) {
  std::u16string path = u"C:\\Program Files\\" + std::u16string(600, u'p') + u"\\crvnichost.exe";
  machine.SetModuleFileName(path);
  EXPECT_EQ(RunAgent({"crvnichost.exe", "-install"}).result, 0);
  EXPECT_EQ(RunAgent({"crvnichost.exe", "/Install"}).result, 0);
  auto record = machine.services().Get(u"CRVNicMgmt");
  ASSERT_TRUE(record.has_value());
  // Cut to the path buffer, then quoted for its blank.
  EXPECT_EQ(record->binaryPath, u"\"" + path.substr(0, 511) + u"\"");
  EXPECT_TRUE(machine.Reports().empty()) << "installation words do not start the agent";
  // Restarted after a failure, a stop with an error counting as one.
  EXPECT_EQ(record->resetPeriodS, crv::kRecoveryResetPeriodS);
  ASSERT_EQ(record->failureActions.size(), std::size(crv::kRecoveryActions));
  for (size_t i = 0; i < std::size(crv::kRecoveryActions); ++i) {
    EXPECT_EQ(record->failureActions[i].type, platform::kScActionRestart);
    EXPECT_EQ(record->failureActions[i].delayMs, crv::kRecoveryActions[i].delayMs);
  }
  EXPECT_TRUE(record->failureActionsOnNonCrashFailures);
}

// Either recovery call failing is reported; the service is installed all the same, with the
// installation's own console line.
TEST_F(InstallationTest, RecoveryActionsThatCannotBeSetLeaveTheServiceInstalled) {
  // The actions fail first (call 1), then the flag (call 3: 2 sets the actions again).
  for (uint32_t occurrence : {1u, 3u}) {
    machine.services().Remove(u"CRVNicMgmt");
    machine.ClearReports();
    ASSERT_TRUE(machine.FailCall("ChangeServiceConfig2W", occurrence, 5));
    EXPECT_EQ(RunAgent({"crvnichost.exe", "-install"}).result, 0);
    EXPECT_TRUE(machine.services().Exists(u"CRVNicMgmt"));
    EXPECT_EQ(crvtest::ReportValues(machine,
                                    u"CNtService::Install: failure setting the recovery actions"),
              std::vector<uint32_t>{5});
  }
  EXPECT_EQ(machine.ConsoleOutput(), "CRVNicMgmt installed.\nCRVNicMgmt installed.\n");
}

// One installation word on a prepared machine: the exact console output, and whether the
// service is registered afterwards. The words on a machine without the service or with it
// stopped, and the registration's fields, run against a real service control manager in
// tests/windows/install_words_test.cc.
struct WordCase {
  const char* name;
  const char* word;
  std::function<void(sim::Machine&)> prepare;
  const char* output;
  bool registeredAfter;
};
void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class InstallationWordTest : public crvtest::SimTest,
                             public ::testing::WithParamInterface<WordCase> {};

TEST_P(InstallationWordTest, PrintsExactlyItsLines) {
  GetParam().prepare(machine);
  EXPECT_TRUE(RunAgent({"crvnichost.exe", GetParam().word}).returned);
  EXPECT_EQ(machine.ConsoleOutput(), GetParam().output);
  EXPECT_EQ(machine.services().Exists(u"CRVNicMgmt"), GetParam().registeredAfter);
  // The event source is registered exactly while the service is.
  EXPECT_EQ(machine.registry().KeyExists(crv::kEventSourceKeyPath), GetParam().registeredAfter);
}

void User(sim::Machine& machine) { machine.SetAdministrator(false); }
// Registered and running, and a call failing: the IsInstalled queries of the word and of
// Uninstall open the manager and the service first, hence the third occurrence.
std::function<void(sim::Machine&)> Failing(std::string call, uint32_t n, uint32_t status) {
  return [=](sim::Machine& machine) {
    Running(machine);
    EXPECT_TRUE(machine.FailCall(call, n, status));
  };
}

INSTANTIATE_TEST_SUITE_P(
    Words, InstallationWordTest,
    ::testing::Values(
        WordCase{"InstallAsUser", "/install", User,
                 "CRVNicMgmt: Couldn't open service manager\n"
                 "CRVNicMgmt failed to install, error: 5\n",
                 false},
        WordCase{"InstallNoPath", "/install",
                 [](sim::Machine& m) { EXPECT_TRUE(m.FailCall("GetModuleFileNameW", 1, 1234)); },
                 "CRVNicMgmt: Couldn't get module file name: 1234\n"
                 "CRVNicMgmt failed to install, error: 1234\n",
                 false},
        WordCase{
            "InstallCreateFails", "/install",
            [](sim::Machine& m) { EXPECT_TRUE(m.FailCall("CreateServiceW", 1, 1072)); },
            "CRVNicMgmt: Couldn't create service.\nCRVNicMgmt failed to install, error: 1072\n",
            false},
        WordCase{"UninstallAsUser", "-uninstall", [](sim::Machine& m) { Running(m), User(m); },
                 "CRVNicMgmt is not installed.\n", true},
        WordCase{"UninstallRunning", "-uninstall", Running, "CRVNicMgmt uninstalled.\n", false},
        WordCase{"UninstallNoManager", "-uninstall", Failing("OpenSCManagerW", 3, 1063),
                 "CRVNicMgmt: Couldn't open service manager: 1063\n"
                 "CRVNicMgmt failed to uninstall, error: 1063\n",
                 true},
        WordCase{"UninstallNoService", "-uninstall", Failing("OpenServiceW", 3, 5),
                 "CRVNicMgmt: Couldn't open service: 5\nCRVNicMgmt failed to uninstall, error: 5\n",
                 true},
        WordCase{"UninstallDeleteFails", "-uninstall", Failing("DeleteService", 1, 1072),
                 "CRVNicMgmt: Service could not be deleted: 1072\n"
                 "CRVNicMgmt failed to uninstall, error: 1072\n",
                 true},
        WordCase{"ReinstallRunning", "/REINSTALL", Running, "", false},
        WordCase{"ReinstallAsUser", "/reinstall", User,
                 "CRVNicMgmt: Couldn't open service manager\n"
                 "CRVNicMgmt failed to reinstall, error: 5\n",
                 false},
        WordCase{"EmptyWord", "-", Running, "", true}),
    [](const ::testing::TestParamInfo<WordCase>& info) { return info.param.name; });

// "runasexe", and a word that is not read as one, run the agent: the host's thread stays in it.
TEST_F(InstallationTest, RunAsExeAndUnreadWordsRunTheAgent) {
  for (std::vector<std::string> args : {std::vector<std::string>{"host", "/RunAsExe"},
                                        {"host", "install"},
                                        {"host", "/install", "extra"}})
    EXPECT_FALSE(RunAgent(args, 1000).returned) << args[1];
  EXPECT_EQ(machine.ConsoleOutput(), "");
  EXPECT_FALSE(machine.services().Exists(u"CRVNicMgmt"));
  EXPECT_EQ(crvtest::ReportTexts(machine, crv::kReportInformation)[0], "Debug logging is enabled.");
}

TEST_F(InstallationTest, EntryResetsModuleStateAndTakesTheStartTime) {
  crv::State().cycleCounter = 7;
  ASSERT_TRUE(crv::State().startupLinks.Set("port", 2));
  machine.SetStartFileTime(0x01DC7E0012345678ull);
  char program[] = "host", word[] = "-";
  char* argv[] = {program, word, nullptr};
  EXPECT_EQ(Win2KMain(2, argv), 0);
  EXPECT_EQ(crv::State().cycleCounter, 0u);
  EXPECT_EQ(crv::State().startupLinks.Count(), 0u);
  EXPECT_EQ(crv::State().agentStartTime, static_cast<uint32_t>(0x01DC7E0012345678ull / 100000));
}

using namespace std::string_literals;

class EventSourceKeyTest : public crvtest::SimTest {
 protected:
  // The module path as stored, its terminator included; "?" when it is no expandable text.
  std::u16string MessageFile() {
    auto value = machine.registry().GetValue(crv::kEventSourceKeyPath, crv::kEventMessageFileValue);
    return value && value->type == platform::kRegExpandSz ? crvtest::TextFrom(value->data) : u"?";
  }
};

TEST_F(EventSourceKeyTest, InstallAgainPointsTheSourceAtTheModulesNewPlace) {
  machine.SetAgentModuleFileName(u"C:\\Program Files\\Corvane NIC\\crvnicmgmt.dll");
  RunAgent({"crvnichost.exe", "-install"});
  EXPECT_EQ(u"C:\\Program Files\\Corvane NIC\\crvnicmgmt.dll\0"s, MessageFile());
  machine.SetAgentModuleFileName(u"D:\\Agents\\crvnicmgmt.dll");
  RunAgent({"crvnichost.exe", "-install"});
  EXPECT_EQ(u"D:\\Agents\\crvnicmgmt.dll\0"s, MessageFile());
}

// Each registry step failing in turn, and a module path that fills the buffer (it may have been
// cut, and would then name another file): the word's console line and the service's
// registration stay as without the source, and the failure is one report with its status.
struct Refusal {
  const char* call;  // null: the module path fills the buffer
  uint32_t occurrence;
  const char16_t* report;
  uint32_t status;
};

class EventSourceRefusedTest : public crvtest::SimTest,
                               public ::testing::WithParamInterface<Refusal> {};

TEST_P(EventSourceRefusedTest, CostsOneReportAndNothingElse) {
  const Refusal& refusal = GetParam();
  const bool removing = refusal.call != nullptr && std::string(refusal.call) == "RegDeleteKeyW";
  if (removing) {
    RunAgent({"crvnichost.exe", "-install"});
    machine.services().SetRunning(u"CRVNicMgmt", true);
  }
  std::string before = machine.ConsoleOutput();
  if (refusal.call == nullptr) {
    machine.SetAgentModuleFileName(u"C:\\" + std::u16string(494, u'd') + u"\\crvnicmgmt.dll");
  } else {
    EXPECT_TRUE(machine.FailCall(refusal.call, refusal.occurrence, platform::kErrorAccessDenied));
  }
  RunAgent({"crvnichost.exe", removing ? "-uninstall" : "-install"});
  EXPECT_EQ(removing ? "CRVNicMgmt uninstalled.\n" : "CRVNicMgmt installed.\n",
            machine.ConsoleOutput().substr(before.size()));
  ASSERT_EQ(1u, machine.Reports().size()) << crvtest::DescribeReports(machine);
  EXPECT_EQ(refusal.report, machine.Reports()[0].message);
  EXPECT_EQ(refusal.status, machine.Reports()[0].value);
}

constexpr char16_t kNotSet[] = u"Event log: failure to register the event source";
constexpr uint32_t kDenied = platform::kErrorAccessDenied;
INSTANTIATE_TEST_SUITE_P(
    Steps, EventSourceRefusedTest,
    ::testing::Values(
        Refusal{"RegCreateKeyExW", 0, kNotSet, kDenied},
        Refusal{"RegSetValueExW", 1, kNotSet, kDenied},
        Refusal{"RegSetValueExW", 2, kNotSet, kDenied},
        Refusal{"RegDeleteKeyW", 0, u"Event log: failure to remove the event source", kDenied},
        Refusal{nullptr, 0, u"Event log: failure to read the module path for the event source",
                platform::kErrorInsufficientBuffer}));

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
