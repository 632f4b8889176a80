// A fault names a call from the fault table; a name no call checks is refused where it is
// given, not left as a fault that never fires.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/scenario/scenario.h"
#include "support/sim_fixture.h"

namespace {

using SimFaultTableTest = crvtest::SimTest;

TEST_F(SimFaultTableTest, AFaultOnACallNotInTheTableIsRefused) {
  EXPECT_FALSE(machine.FailCall("RegOpenKeyEx", 1, 5));  // the name without its W
  EXPECT_FALSE(machine.FailCall("CloseHandle(event)", 0, 6));
  EXPECT_TRUE(machine.FailCall("CloseHandle(device)", 0, 6));
  EXPECT_TRUE(machine.FailCall("bmapi.dll!BmapiGetPnpDevId", 2, 1));

  sim::Scenario scenario;
  std::string error;
  EXPECT_FALSE(sim::LoadScenario(R"({"faults": [
      {"call": "CreateEventW", "status": 5},
      {"call": "QLmapiGetFirmwareInfo", "occurrence": 1, "status": 14}]})",
                                 machine, &scenario, &error));
  EXPECT_NE(error.find("faults[1].call"), std::string::npos) << error;
  EXPECT_NE(error.find("\"QLmapiGetFirmwareInfo\""), std::string::npos) << error;
}

}  // namespace
