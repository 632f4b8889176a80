// The simulated vendor libraries: what a scenario file installs, and the loader's rules the
// agent's leak checks rely on.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/device_sim.h"
#include "platform/sim/library_sim.h"
#include "platform/sim/scenario.h"
#include "support/sim_fixture.h"
#include "vendor/bmapi_local.h"

namespace {

using LibrarySimTest = crvtest::SimTest;

TEST_F(LibrarySimTest, ScenarioInstallsTheLibrariesAndTheClassDeviceOfAnAdapter) {
  const char* json = R"({
    "adapters": [ { "guid": "{11111111-2222-3333-4444-555555555555}", "mac": "00-10-18-01-02-03",
                    "if_index": 4, "pci": { "vendor": "0x14E4", "device": "0x1657" },
                    "location": { "bus": 3, "device": 0, "function": 1 } } ],
    "vendorLibraries": {
      "bmapia.dll": { "initialize_statuses": [ 5 ],
                      "adapters": [ { "guid": "{11111111-2222-3333-4444-555555555555}",
                                      "handle": 9, "firmware": { "word": "0x0207" } } ] },
      "bmapi.dll": { "nics": [ { "handle": 1, "kind": 5, "pnp_device_id": "X\\Y", "value": 6 } ],
                     "class_devices": [ { "instance_id": "X\\Y",
                                          "adapter": "{11111111-2222-3333-4444-555555555555}" } ] }
    } })";
  sim::Scenario scenario;
  std::string error;
  ASSERT_TRUE(sim::LoadScenario(json, machine, &scenario, &error)) << error;
  const sim::SimVendorLibrary& bmapi = machine.libraries().bmapi();
  EXPECT_TRUE(bmapi.present);
  EXPECT_FALSE(machine.libraries().qlmapi().present);
  EXPECT_EQ(std::vector<uint32_t>{5}, bmapi.initializeStatuses);
  EXPECT_EQ(0x0207, bmapi.adapters.at(u"{11111111-2222-3333-4444-555555555555}").firmwareWord);
  // The class device sits at the adapter's location, so the whole bmapi.dll sequence answers.
  const auto* adapter = machine.devices().FindAdapter(u"{11111111-2222-3333-4444-555555555555}");
  uint32_t value = 0;
  EXPECT_EQ(0u, crv::QueryBmapiNicInfoEx(machine.devices().FindNode(adapter->instanceId)->devInst,
                                         &value));
  EXPECT_EQ(6u, value);

  sim::Machine other;
  EXPECT_FALSE(
      sim::LoadScenario(R"({"vendorLibraries": {"bmapi32.dll": {}}})", other, &scenario, &error));
  EXPECT_EQ("vendorLibraries.bmapi32.dll: unknown library", error);
}

TEST_F(LibrarySimTest, ModulesAreCountedAndOnlyLoadedOnesAnswer) {
  platform::DynamicLibrary& libraries = *machine.platform().libraries;
  machine.libraries().qlmapi().present = true;
  machine.libraries().bmapiLocal().present = true;
  EXPECT_EQ(nullptr, libraries.LoadLibrary(u"bmapi.dll"));  // not on the library search
  platform::Module a = libraries.LoadLibrary(u"QLMAPIA.DLL");
  platform::Module b = libraries.LoadLibrary(u"qlmapia.dll");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, b);
  EXPECT_EQ(2, machine.libraries().LoadedReferences());
  EXPECT_NE(nullptr, libraries.GetProcAddress(a, "QLmapiGet579XXFwInfo"));
  EXPECT_EQ(nullptr, libraries.GetProcAddress(a, "qlmapiget579xxfwinfo"));
  EXPECT_TRUE(libraries.FreeLibrary(a));
  EXPECT_TRUE(libraries.FreeLibrary(a));
  EXPECT_FALSE(libraries.FreeLibrary(a));
  EXPECT_EQ(nullptr, libraries.GetProcAddress(a, "QLmapiGet579XXFwInfo"));
  EXPECT_EQ(0, machine.libraries().LoadedReferences());
}

}  // namespace
