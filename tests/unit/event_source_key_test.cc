// The event source's registration by the installation words: a repeated "install" keeps its
// module path up to date, and a registry that refuses it costs one report and nothing else.
// Which words register and remove it is checked with their console lines in
// command_line_test.cc; its values as written, against a real registry, in
// tests/windows/install_words_test.cc.
#include "events/event_source_key.h"

#include <gtest/gtest.h>

#include <string>

#include "events/event_messages.h"
#include "support/record_bytes.h"
#include "support/sim_fixture.h"

namespace {

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

}  // namespace
