// Scenario files set up the machine they describe, registry values in the bytes Windows
// stores for their type.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/sim/scenario/scenario.h"
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

}  // namespace
