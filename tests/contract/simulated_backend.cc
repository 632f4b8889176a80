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
    loopback.row.dwOperStatus = 5;  // operational, as Windows lists its loopback
    loopback.adapterName = "{00000000-0000-0000-0000-000000000001}";
    loopback.ipv4.push_back({0x0100007Fu, 0x000000FFu});  // 127.0.0.1/8
    machine_.network().Add(loopback);
    crvtest::AddTestAdapter(machine_, 12);
    machine_.libraries().qlmapi().present = true;
    machine_.libraries().bmapi().present = true;
    machine_.libraries().bmapi().folder = u"C:\\Program Files\\Vendor";
    machine_.files().AddFolder(u"C:\\Program Files\\Vendor");
    machine_.files().AddFolder(u"C:\\ProgramData\\CrvContract");
    sim::SimWmi& wmi = machine_.wmi();
    wmi.SetAvailable(true);
    wmi.AddObject(u"root\\cimv2", u"Win32_OperatingSystem")
        .Set(u"Version", sim::WmiValue::Text(u"10.0.20348"))
        .Set(u"OSType", sim::WmiValue::Integer(platform::kVtI4, 18))
        .Set(u"Primary", sim::WmiValue::Bool(true))
        .Set(u"FreePhysicalMemory", sim::WmiValue::Text(u"8123456"));
    wmi.AddObject(u"root\\cimv2", u"Win32_SystemEnclosure")
        .Set(u"ChassisTypes", sim::WmiValue::Array(platform::kVtI4, {23}));
  }

  // Every check closes what it opened, as the agent must.
  ~SimulatedBackend() override {
    auto& open = machine_.openHandles();
    EXPECT_EQ(open.registry + open.services + open.kernel + open.devices, 0) << "handles left open";
    EXPECT_EQ(machine_.wmi().OutstandingReferences(), 0) << "COM objects not released";
    EXPECT_EQ(machine_.wmi().UnclearedVariants(), 0) << "variants not cleared";
    EXPECT_EQ(machine_.wmi().ArrayLocks(), 0) << "array data still accessed";
  }

  bool IsWine() const override { return false; }
  std::u16string ScratchKey() const override { return u"SYSTEM\\CrvPlatformContract"; }
  std::u16string LoadableLibrary() const override { return u"qlmapia.dll"; }
  std::string EntryPoint() const override { return "QLmapiGet579XXFwInfo"; }
  std::u16string ScratchFolder() const override { return u"C:\\ProgramData\\CrvContract"; }
  std::u16string LibraryInFolder() const override {
    return u"C:\\Program Files\\Vendor\\bmapia.dll";
  }

 private:
  sim::Machine machine_;
};

}  // namespace

std::unique_ptr<ContractBackend> MakeSimulatedBackend() {
  return std::make_unique<SimulatedBackend>();
}

}  // namespace crvcontract
