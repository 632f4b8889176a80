// A fresh simulated machine per test, installed as the platform, with the module's
// process-wide state reset around it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "common/process_state.h"
#include "common/utf.h"
#include "discovery/miniport.h"
#include "platform/sim/harness/agent_process.h"
#include "platform/sim/machine.h"

namespace crvtest {

class SimTest : public ::testing::Test {
 protected:
  SimTest() {
    crv::ResetProcessState();
    machine.Install();
  }
  ~SimTest() override {
    EXPECT_EQ(machine.devices().SynchronousRequestsOnOverlappedHandles(), 0u)
        << "a device opened for overlapped I/O was sent a request without an OVERLAPPED";
    crv::ResetProcessState();
    EXPECT_EQ(machine.LiveAllocations(), 0u) << "blocks of the agent's heap left unfreed";
    const sim::OpenHandleCounts& open = machine.openHandles();
    // Each kind on its own: a handle closed twice must not hide one never closed.
    EXPECT_EQ((std::array<int64_t, 4>{open.registry, open.services, open.kernel, open.devices}),
              (std::array<int64_t, 4>{}))
        << "handles left open: registry, services, kernel, devices";
    EXPECT_TRUE(machine.files().openFiles.empty()) << "files left open";
  }

  // Runs Win2KMain as a host process would, for at most durationMs of virtual time.
  sim::AgentRun RunAgent(const std::vector<std::string>& commandLine, uint64_t durationMs = 60000) {
    return sim::RunAgentProcess(machine, commandLine, durationMs);
  }

  sim::Machine machine;
};

// A PCI Ethernet adapter with its miniport and interface row (MAC 00-1B-21-00-00-<index>,
// GUID {00000000-0000-0000-0000-0000000000<index>}): a model can only be built when at least
// one miniport answers.
void AddTestAdapter(sim::Machine& machine, uint8_t ifIndex);
// An interface row without an adapter behind it: its MAC is 00-1B-21-00-00-<macLast> (none
// when macLast is 0).
sim::SimInterface InterfaceRow(uint32_t index, uint32_t type, const char* description,
                               uint8_t macLast = 0, uint32_t mtu = 1500);

// Init of a miniport on the device the adapter with this GUID answers on.
uint32_t InitMiniport(crv::CMiniport& miniport, std::u16string_view guid);

// Texts of the reports with this code, in order.
std::vector<std::string> ReportTexts(const sim::Machine& machine, uint32_t code);
// Virtual times, and values, of the reports with this message, in order.
std::vector<uint64_t> ReportTimes(const sim::Machine& machine, std::u16string_view message);
std::vector<uint32_t> ReportValues(const sim::Machine& machine, std::u16string_view message);
// "0xCODE message value" for every report, for readable failure output.
std::string DescribeReports(const sim::Machine& machine);

}  // namespace crvtest
