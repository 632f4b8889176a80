// The event source's registration by the installation words: its values, kept up to date by
// a repeated "install", and a registry that refuses it costing one report and nothing else.
// Which words register and remove it is checked with their console lines in
// command_line_test.cc.
#include "events/event_source_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "events/event_messages.h"
#include "support/sim_fixture.h"

namespace {

class EventSourceKeyTest : public crvtest::SimTest {
 protected:
  std::u16string MessageFile() {
    auto value = machine.registry().GetValue(crv::kEventSourceKeyPath, crv::kEventMessageFileValue);
    if (!value || value->type != platform::kRegExpandSz || value->data.size() % 2 != 0) return u"?";
    std::u16string text(value->data.size() / 2, u'\0');
    std::memcpy(text.data(), value->data.data(), value->data.size());
    EXPECT_EQ(u'\0', text.back()) << "the text is stored with its terminator";
    return text.substr(0, text.find(u'\0'));
  }
};

TEST_F(EventSourceKeyTest, InstallNamesTheModuleAndTheThreeLevelsAndAgainUpdatesThePath) {
  machine.SetAgentModuleFileName(u"C:\\Program Files\\Corvane NIC\\crvnicmgmt.dll");
  RunAgent({"crvnichost.exe", "-install"});
  EXPECT_EQ(u"C:\\Program Files\\Corvane NIC\\crvnicmgmt.dll", MessageFile());
  auto types = machine.registry().GetValue(crv::kEventSourceKeyPath, crv::kTypesSupportedValue);
  ASSERT_TRUE(types.has_value());
  EXPECT_EQ(platform::kRegDword, types->type);
  EXPECT_EQ((std::vector<uint8_t>{7, 0, 0, 0}), types->data);

  // The files moved: "install" again says so and points the source at the new place.
  machine.SetAgentModuleFileName(u"D:\\Agents\\crvnicmgmt.dll");
  RunAgent({"crvnichost.exe", "-install"});
  EXPECT_EQ(u"D:\\Agents\\crvnicmgmt.dll", MessageFile());
  EXPECT_EQ("CRVNicMgmt installed.\nCRVNicMgmt is already installed.\n", machine.ConsoleOutput());

  // "reinstall" of the running service removes both registrations (the installation words'
  // table shows the source gone), and the next one registers both again.
  machine.services().SetRunning(u"CRVNicMgmt", true);
  RunAgent({"crvnichost.exe", "-reinstall"});
  RunAgent({"crvnichost.exe", "-reinstall"});
  EXPECT_EQ(u"D:\\Agents\\crvnicmgmt.dll", MessageFile());
  EXPECT_TRUE(machine.Reports().empty()) << crvtest::DescribeReports(machine);
}

// A module path that does not fit the buffer would name another file: nothing is registered.
TEST_F(EventSourceKeyTest, ACutModulePathRegistersNothing) {
  machine.SetAgentModuleFileName(u"C:\\" + std::u16string(600, u'd') + u"\\crvnicmgmt.dll");
  RunAgent({"crvnichost.exe", "-install"});
  EXPECT_EQ("CRVNicMgmt installed.\n", machine.ConsoleOutput());
  EXPECT_FALSE(machine.registry().KeyExists(crv::kEventSourceKeyPath));
  EXPECT_EQ(1u, machine.Reports().size()) << crvtest::DescribeReports(machine);
}

// Each registry step failing in turn: the word's console line and the service's registration
// stay as without the source, and the failure is one report with the registry's status.
struct Refusal {
  const char* call;
  uint32_t occurrence;
};

class EventSourceRefusedTest : public crvtest::SimTest,
                               public ::testing::WithParamInterface<Refusal> {};

TEST_P(EventSourceRefusedTest, CostsOneReportAndNothingElse) {
  const bool removing = std::string(GetParam().call) == "RegDeleteKeyW";
  if (removing) {
    RunAgent({"crvnichost.exe", "-install"});
    machine.services().SetRunning(u"CRVNicMgmt", true);
  }
  std::string before = machine.ConsoleOutput();
  machine.FailCall(GetParam().call, GetParam().occurrence, platform::kErrorAccessDenied);
  RunAgent({"crvnichost.exe", removing ? "-uninstall" : "-install"});
  EXPECT_EQ(removing ? "CRVNicMgmt uninstalled.\n" : "CRVNicMgmt installed.\n",
            machine.ConsoleOutput().substr(before.size()));
  ASSERT_EQ(1u, machine.Reports().size()) << crvtest::DescribeReports(machine);
  EXPECT_EQ(removing ? u"Event log: failure to remove the event source"
                     : u"Event log: failure to register the event source",
            machine.Reports()[0].message);
  EXPECT_EQ(platform::kErrorAccessDenied, machine.Reports()[0].value);
  EXPECT_EQ(0, machine.openHandles().registry);
}

INSTANTIATE_TEST_SUITE_P(Steps, EventSourceRefusedTest,
                         ::testing::Values(Refusal{"RegCreateKeyExW", 0},
                                           Refusal{"RegSetValueExW", 1},
                                           Refusal{"RegSetValueExW", 2},
                                           Refusal{"RegDeleteKeyW", 0}));

}  // namespace
