// Scenario files set up the machine they describe, registry values in the bytes Windows
// stores for their type, and traffic on its ports; a fault names a call from the fault table,
// and a name no call checks is refused where it is given, not left as a fault that never
// fires; and the simulated registry's own machinery
// (the answers of the registry calls are the platform contract's): volatile keys go with a
// restart of the machine, and open keys are counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "platform/sim/scenario/scenario.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/network_sim.h"
#include "platform/sim/state/registry_sim.h"
#include "support/sim_fixture.h"

namespace {

class SimScenarioTest : public crvtest::SimTest {
 protected:
  bool Load(const std::string& text) {
    error.clear();
    return sim::LoadScenario(text, machine, &scenario, &error);
  }
  sim::Scenario scenario;
  std::string error;
};

TEST_F(SimScenarioTest, DescribesRegistryServicesAndRun) {
  ASSERT_TRUE(Load(R"({
    "description": "d", "administrator": false,
    "registry": [{"key": "SYSTEM\\K", "volatile": true, "values": {
        "D": {"type": "REG_DWORD", "data": 30000},
        "S": {"type": "REG_SZ", "data": "ab"},
        "M": {"type": "REG_MULTI_SZ", "data": ["a", "b"]},
        "B": {"type": "REG_BINARY", "data": "01 2e ff"}}}],
    "services": [{"name": "Svc", "running": true}],
    "faults": [{"call": "CreateEventW", "occurrence": 2, "status": 5}],
    "timeline": [{"at_ms": 100, "registry_set": {"key": "SYSTEM\\K", "name": "D",
                  "type": "REG_DWORD", "data": 7}}]
  })"))
      << error;
  EXPECT_TRUE(machine.registry().IsVolatile(u"SYSTEM\\K"));
  EXPECT_EQ((std::vector<uint8_t>{0x30, 0x75, 0, 0}),
            machine.registry().GetValue(u"SYSTEM\\K", u"D")->data);
  EXPECT_EQ((std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0}),
            machine.registry().GetValue(u"SYSTEM\\K", u"S")->data);
  EXPECT_EQ(10u, machine.registry().GetValue(u"SYSTEM\\K", u"M")->data.size());
  EXPECT_EQ((std::vector<uint8_t>{1, 0x2e, 0xff}),
            machine.registry().GetValue(u"SYSTEM\\K", u"B")->data);
  EXPECT_TRUE(machine.services().Get(u"Svc")->running);
  EXPECT_FALSE(machine.services().administrator());
  machine.AdvanceTo(100);
  EXPECT_EQ(7, machine.registry().GetValue(u"SYSTEM\\K", u"D")->data[0]);
}

// A port's counters grow by the same amount at every step within its window and stand still
// while its cable is out.
TEST_F(SimScenarioTest, TrafficCountersGrowPerStepInTheirWindowAndNotWhileTheLinkIsDown) {
  ASSERT_TRUE(Load(R"({
      "adapters": [{"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "mac": "00-1B-21-AA-BB-01",
                    "if_index": 12, "pci": {"vendor": "0x8086", "device": "0x1572"},
                    "location": {"bus": 5, "device": 0, "function": 0}}],
      "timeline": [
        {"at_ms": 25000, "adapter_link": {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "up": false}},
        {"at_ms": 45000, "adapter_link": {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "up": true}}],
      "traffic": {"every_ms": 10000, "ports": [
        {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}",
         "add": {"frames_sent": 100, "frames_received": 200, "octets_sent": 64000,
                 "octets_received": 128000}},
        {"guid": "{0e5b9c1a-4f7d-4c1b-9a8e-3d2c1b0a9f01}", "from_ms": 10000, "until_ms": 30000,
         "add": {"fcs_errors": 2}}]}})"))
      << error;
  auto counter = [this](uint32_t oid) {
    const sim::OidAnswer& answer =
        machine.devices().FindNdis(u"{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}")->oids.at(oid);
    uint32_t value = 0;
    std::memcpy(&value, answer.data.data(), 4);
    return value;
  };
  auto row = [this] { return machine.network().Find(12)->row; };
  machine.AdvanceTo(9999);
  EXPECT_EQ(0u, counter(0x00020101));
  machine.AdvanceTo(20000);  // steps at 10 s and 20 s
  EXPECT_EQ(200u, counter(0x00020101));
  EXPECT_EQ(400u, counter(0x00020102));
  EXPECT_EQ(128000u, row().dwOutOctets);
  EXPECT_EQ(256000u, row().dwInOctets);
  EXPECT_EQ(400u, row().dwInUcastPkts);
  EXPECT_EQ(4u, counter(0x0002020D));
  machine.AdvanceTo(40000);  // the cable is out from 25 s to 45 s: 30 s and 40 s carry nothing
  EXPECT_EQ(200u, counter(0x00020101));
  EXPECT_EQ(4u, counter(0x0002020D));
  machine.AdvanceTo(60000);  // 50 s and 60 s; the error window closed at 30 s
  EXPECT_EQ(400u, counter(0x00020101));
  EXPECT_EQ(4u, counter(0x0002020D));
  EXPECT_EQ(0u, counter(0x01020101)) << "a counter not named stays";
}

TEST_F(SimScenarioTest, AFaultOnACallNotInTheTableIsRefused) {
  EXPECT_FALSE(machine.FailCall("RegOpenKeyEx", 1, 5));  // the name without its W
  EXPECT_FALSE(machine.FailCall("CloseHandle(event)", 0, 6));
  EXPECT_TRUE(machine.FailCall("CloseHandle(device)", 0, 6));
  EXPECT_TRUE(machine.FailCall("bmapi.dll!BmapiGetPnpDevId", 2, 1));
  EXPECT_FALSE(Load(R"({"faults": [
      {"call": "CreateEventW", "status": 5},
      {"call": "QLmapiGetFirmwareInfo", "occurrence": 1, "status": 14}]})"));
  EXPECT_NE(error.find("faults[1].call"), std::string::npos) << error;
  EXPECT_NE(error.find("\"QLmapiGetFirmwareInfo\""), std::string::npos) << error;
}

// A scenario that cannot be run is refused with one line that says where and what: the
// field's path (names clipped), the registry limit it breaks. (nicsim-hostile.sh has the
// JSON's line and column and the run's length.)
TEST_F(SimScenarioTest, BadScenariosAreRefusedWithTheFieldAndWhatIsWrong) {
  const std::string adapter = R"({"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F0N}",
      "mac": "00-1B-21-AA-BB-0N", "pci": {"vendor": "0x8086", "device": "0x1572"},
      "location": {"bus": 5, "device": 0, "function": N}})";
  auto numbered = [&adapter](char n, const std::string& more = "") {
    std::string text = adapter;
    std::replace(text.begin(), text.end(), 'N', n);
    return text.insert(text.size() - 1, more);
  };
  auto levels = [](size_t n) {
    std::string key = "SYSTEM";
    for (size_t i = 1; i < n; ++i) key += "\\\\k";
    return key;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"{\"adapters\": [" + numbered('1') + "," + numbered('2') + "," +
           numbered('3', R"(, "speed": "10G")") + "]}",
       "adapters[2].speed: expected a whole number of at least 0"},
      {R"({"wmi": {"lbfo_teams": [{"name": "t", "members": "x"}]}})",
       "wmi.lbfo_teams[0].members: expected a list"},
      {R"({"registry": [{"key": ")" + levels(512) + R"("}, {"key": ")" + levels(513) + R"("}]})",
       "registry[1].key: 513 levels deep, beyond 512 (the registry refuses it: "
       "ERROR_INVALID_PARAMETER)"},
      {R"({"timeline": [{"at_ms": 1, "registry_set": {"key": "SYSTEM\\)" + std::string(256, 'n') +
           R"(", "name": "v", "type": "REG_DWORD", "data": 1}}]})",
       "timeline[0].registry_set: a key name of 256 characters at level 2, beyond 255 (the "
       "registry refuses it: ERROR_INVALID_PARAMETER)"},
      {R"({"registry": [{"key": "SYSTEM", "values": {")" + std::string(16384, 'v') +
           R"(": {"type": "REG_DWORD", "data": 1}}}]})",
       "registry[0].values." + std::string(64, 'v') +
           "...(16320 bytes more): a value name of 16384 characters, beyond 16383 (the registry "
           "refuses it: ERROR_INVALID_PARAMETER)"},
      {"{\"adapters\": [" +
           numbered('1', R"(, "instance_id": "PCI\\)" + std::string(197, 'i') + "\"") + "]}",
       "adapters[0].instance_id: longer than 200 characters, the longest device instance ID "
       "Windows has"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(expected);
    sim::Machine fresh;
    std::string message;
    EXPECT_FALSE(sim::LoadScenario(text, fresh, &scenario, &message));
    EXPECT_EQ(expected, message);
  }
}

using SimRegistryTest = crvtest::SimTest;

TEST_F(SimRegistryTest, VolatileKeysGoWithARestartAndOpenKeysAreCounted) {
  platform::RegKey tree = nullptr;
  ASSERT_EQ(0, platform::Os().registry->CreateKeyEx(
                   platform::kHkeyLocalMachine, u"SYSTEM\\Tree\\Leaf", nullptr,
                   platform::kRegOptionVolatile, platform::kKeyAllAccess, &tree, nullptr));
  EXPECT_EQ(1, machine.openHandles().registry);
  EXPECT_EQ(0, platform::Os().registry->CloseKey(tree));
  EXPECT_EQ(0, machine.openHandles().registry);
  machine.registry().DropVolatileKeys();
  EXPECT_FALSE(machine.registry().KeyExists(u"SYSTEM\\Tree"));
  EXPECT_TRUE(machine.registry().KeyExists(u"SYSTEM"));
}

// Windows' depth limit through the calls the agent makes (the name limits are the platform
// contract's): a key one level deeper than 512 is refused with ERROR_INVALID_PARAMETER and
// nothing is made; a tree far deeper than the registry allows is destroyed without recursion.
TEST_F(SimRegistryTest, KeyLimitsAnswerWindowsErrorAndDeepTreesGoWithoutRecursion) {
  std::u16string deep = u"SYSTEM";
  for (int level = 2; level <= 500; ++level) deep += u"\\k";
  ASSERT_TRUE(machine.registry().CreateKey(deep));
  platform::Registry& reg = *platform::Os().registry;
  platform::RegKey base = nullptr, child = nullptr;
  ASSERT_EQ(0, reg.OpenKeyEx(platform::kHkeyLocalMachine, deep.c_str(), 0, platform::kKeyAllAccess,
                             &base));
  std::u16string thirteen = u"b\\b\\b\\b\\b\\b\\b\\b\\b\\b\\b\\b\\b";
  EXPECT_EQ(static_cast<int32_t>(platform::kErrorInvalidParameter),
            reg.CreateKeyEx(base, thirteen.c_str(), nullptr, 0, platform::kKeyAllAccess, &child,
                            nullptr));
  EXPECT_FALSE(machine.registry().KeyExists(deep + u"\\b"));
  ASSERT_EQ(0, reg.CreateKeyEx(base, thirteen.c_str() + 2, nullptr, 0, platform::kKeyAllAccess,
                               &child, nullptr));  // twelve levels: the 512th is made
  EXPECT_TRUE(reg.CloseKey(child) == 0 && reg.CloseKey(base) == 0);

  auto top = std::make_shared<sim::RegKeyNode>();
  sim::RegKeyNode* node = top.get();
  for (int level = 0; level < 300000; ++level) {
    auto& below = node->subkeys[u"k"];
    below = std::make_shared<sim::RegKeyNode>();
    node = below.get();
  }
  top.reset();  // a recursive teardown overflows the stack here
}

}  // namespace
