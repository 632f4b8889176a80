// Traffic on the simulated server: a port's counters grow by the same amount at every step
// within its window and stand still while its cable is out.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/sim/scenario/scenario.h"
#include "platform/sim/state/device_sim.h"
#include "platform/sim/state/network_sim.h"
#include "support/sim_fixture.h"

namespace {

constexpr char16_t kGuid[] = u"{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}";

class SimTrafficTest : public crvtest::SimTest {
 protected:
  bool Load(const std::string& traffic) {
    std::string text = R"({
      "adapters": [{"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "mac": "00-1B-21-AA-BB-01",
                    "if_index": 12, "pci": {"vendor": "0x8086", "device": "0x1572"},
                    "location": {"bus": 5, "device": 0, "function": 0}}],
      "timeline": [
        {"at_ms": 25000, "adapter_link": {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "up": false}},
        {"at_ms": 45000, "adapter_link": {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}", "up": true}}],
      "traffic": )" + traffic +
                       "}";
    return sim::LoadScenario(text, machine, &scenario, &error);
  }
  uint32_t Oid(uint32_t oid) {
    const sim::OidAnswer& answer = machine.devices().FindNdis(kGuid)->oids.at(oid);
    uint32_t value = 0;
    std::memcpy(&value, answer.data.data(), 4);
    return value;
  }
  const platform::MibIfRow& Row() { return machine.network().Find(12)->row; }

  sim::Scenario scenario;
  std::string error;
};

TEST_F(SimTrafficTest, CountersGrowPerStepInTheirWindowAndNotWhileTheLinkIsDown) {
  ASSERT_TRUE(Load(R"({"every_ms": 10000, "ports": [
      {"guid": "{0E5B9C1A-4F7D-4C1B-9A8E-3D2C1B0A9F01}",
       "add": {"frames_sent": 100, "frames_received": 200, "octets_sent": 64000,
               "octets_received": 128000}},
      {"guid": "{0e5b9c1a-4f7d-4c1b-9a8e-3d2c1b0a9f01}", "from_ms": 10000, "until_ms": 30000,
       "add": {"fcs_errors": 2}}]})"))
      << error;
  machine.AdvanceTo(9999);
  EXPECT_EQ(0u, Oid(0x00020101));
  machine.AdvanceTo(20000);  // steps at 10 s and 20 s
  EXPECT_EQ(200u, Oid(0x00020101));
  EXPECT_EQ(400u, Oid(0x00020102));
  EXPECT_EQ(128000u, Row().dwOutOctets);
  EXPECT_EQ(256000u, Row().dwInOctets);
  EXPECT_EQ(400u, Row().dwInUcastPkts);
  EXPECT_EQ(4u, Oid(0x0002020D));
  machine.AdvanceTo(40000);  // the cable is out from 25 s to 45 s: 30 s and 40 s carry nothing
  EXPECT_EQ(200u, Oid(0x00020101));
  EXPECT_EQ(4u, Oid(0x0002020D));
  machine.AdvanceTo(60000);  // 50 s and 60 s; the error window closed at 30 s
  EXPECT_EQ(400u, Oid(0x00020101));
  EXPECT_EQ(4u, Oid(0x0002020D));
  EXPECT_EQ(0u, Oid(0x01020101)) << "a counter not named stays";
}

}  // namespace
