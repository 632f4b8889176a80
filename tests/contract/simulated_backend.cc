// The simulated server as a contract backend.
#include <gtest/gtest.h>

#include "contract/contract_backend.h"
#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace crvcontract {
namespace {

class SimulatedBackend : public ContractBackend {
 public:
  SimulatedBackend() {
    machine_.Install();
    sim::SimInterface loopback;
    loopback.row.dwIndex = 1;
    loopback.row.dwType = platform::kIfTypeSoftwareLoopback;
    loopback.adapterName = "{00000000-0000-0000-0000-000000000001}";
    loopback.ipv4.push_back({0x0100007Fu, 0x000000FFu});  // 127.0.0.1/8
    machine_.network().Add(loopback);
    crvtest::AddTestAdapter(machine_, 12);
    machine_.libraries().qlmapi().present = true;
    machine_.wmi().SetAvailable(true);
  }

  // Every check closes what it opened, as the agent must.
  ~SimulatedBackend() override {
    auto& open = machine_.openHandles();
    EXPECT_EQ(open.registry + open.services + open.kernel + open.devices, 0) << "handles left open";
    EXPECT_EQ(machine_.wmi().OutstandingReferences(), 0) << "COM objects not released";
  }

  bool IsWine() const override { return false; }
  std::u16string ScratchKey() const override { return u"SYSTEM\\CrvPlatformContract"; }
  std::u16string LoadableLibrary() const override { return u"qlmapia.dll"; }
  std::string EntryPoint() const override { return "QLmapiGet579XXFwInfo"; }

 private:
  sim::Machine machine_;
};

}  // namespace

std::unique_ptr<ContractBackend> MakeSimulatedBackend() {
  return std::make_unique<SimulatedBackend>();
}

}  // namespace crvcontract
